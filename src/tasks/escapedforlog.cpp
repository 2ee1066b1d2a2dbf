#include "escapedforlog.h"

namespace {
bool isHidden(QChar c)
{
    switch (c.category()) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}
}

QString escapedForLog(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            escaped.append(c).append(text.at(++i));
            continue;
        }
        if (c == QLatin1Char('\\'))
            escaped.append(QStringLiteral("\\\\"));
        else if (c == QLatin1Char('\n'))
            escaped.append(QStringLiteral("\\n"));
        else if (c == QLatin1Char('\r'))
            escaped.append(QStringLiteral("\\r"));
        else if (c == QLatin1Char('\t'))
            escaped.append(QStringLiteral("\\t"));
        else if (isHidden(c) || c.isSurrogate())
            escaped.append(QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0')));
        else
            escaped.append(c);
    }
    return escaped;
}
