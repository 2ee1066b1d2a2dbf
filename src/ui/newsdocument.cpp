#include "newsdocument.h"

#include "weblink.h"

#include <QGuiApplication>
#include <QPalette>
#include <QTextBlock>
#include <QTextCursor>
#include <QUrl>

NewsDocument::NewsDocument(QObject* parent)
    : QTextDocument(parent)
{
    // Consulted when loadResource() finds nothing; without it, an application-wide default
    // provider would be asked.
    setResourceProvider([](const QUrl&) { return QVariant(); });
}

void NewsDocument::setNews(const QString& html)
{
    // Qt's parser resolves entities, comments and whitespace; its result is only read here. It
    // is a NewsDocument too, so that a style sheet linked from the news is not loaded either.
    NewsDocument parsed;
    parsed.setHtml(html);

    clear();
    QTextCursor cursor(this);
    const QTextCharFormat plain;
    QTextCharFormat link;
    link.setAnchor(true);
    link.setFontUnderline(true);
    link.setForeground(QGuiApplication::palette().link());

    for (QTextBlock block = parsed.begin(); block.isValid(); block = block.next()) {
        // Paragraphs, table cells and list items follow each other on the ticker's one line.
        bool separate = !cursor.atStart();
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QString text = fragment.text();
            // Images and other embedded objects, and the line breaks of <br>.
            text.remove(QChar::ObjectReplacementCharacter);
            text.replace(QChar::LineSeparator, QLatin1Char(' '));
            if (text.isEmpty())
                continue;
            if (separate)
                cursor.insertText(QStringLiteral(" "), plain);
            separate = false;
            const QString href = fragment.charFormat().anchorHref();
            if (fragment.charFormat().isAnchor() && WebLink::isWebUrl(QUrl(href))) {
                link.setAnchorHref(href);
                cursor.insertText(text, link);
            } else {
                cursor.insertText(text, plain);
            }
        }
    }
}

QVariant NewsDocument::loadResource(int, const QUrl&)
{
    return QVariant();
}
