#include "newsbanner.h"

#include "newsdocument.h"
#include "weblink.h"

#include <QAbstractTextDocumentLayout>
#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QTimerEvent>

namespace {
constexpr int scrollIntervalMs = 10;
constexpr int pauseMs = 3000;
constexpr float stepPixels = 0.5f;
// A pass starts this far inside the right edge and ends this far past the left edge.
constexpr int edgeMargin = 10;
} // namespace

NewsBanner::NewsBanner(QWidget* parent)
    : QWidget(parent)
    , document(new NewsDocument(this))
{
    setObjectName(QStringLiteral("NewsBanner"));
    setMinimumHeight(16);
    setMaximumHeight(16);
}

void NewsBanner::setNews(const QString& news)
{
    linkUrl.clear();
    // Greedy on purpose: with several comments the group runs from the first to the last.
    static const QRegularExpression comment(QStringLiteral("<!--(.+)-->"));
    const QRegularExpressionMatch match = comment.match(news);
    if (match.hasMatch()) {
        const QString content = match.captured(1);
        const int equals = content.indexOf(QLatin1Char('='));
        if (equals >= 0 && content.left(equals) == QLatin1String("URL"))
            linkUrl = content.mid(equals + 1);
    }

    document->setNews(news);
    document->setDocumentMargin(0);
    paused = false;
    offset = float(width() - edgeMargin);
    const QSizeF size = document->documentLayout()->documentSize();
    textWidth = int(size.width());
    textHeight = int(size.height());
    setMinimumHeight(textHeight);
    setMaximumHeight(textHeight);
    scrollTimer.start(scrollIntervalMs, this);
}

QString NewsBanner::anchorAt(const QPoint& pos) const
{
    return document->documentLayout()->anchorAt(QPointF(int(pos.x() - offset), pos.y()));
}

void NewsBanner::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != scrollTimer.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    if (paused) {
        paused = false;
        scrollTimer.start(scrollIntervalMs, this);
    }
    offset -= stepPixels;
    update();
}

void NewsBanner::mousePressEvent(QMouseEvent* event)
{
    const QString anchor = anchorAt(event->position().toPoint());
    if (!anchor.isEmpty())
        WebLink::open(anchor);
    else if (!linkUrl.isEmpty())
        WebLink::open(linkUrl);
    event->accept();
}

void NewsBanner::paintEvent(QPaintEvent*)
{
    if (paused)
        return;
    // The widget may have been widened since the pass began (e.g. before it was first shown).
    if (int(offset) > width())
        offset = float(width() - edgeMargin);

    QPainter painter(this);
    painter.translate(offset, (height() - textHeight) * 0.5);
    document->drawContents(&painter);

    if (int(offset) + textWidth < -edgeMargin) {
        paused = true;
        offset = float(width() - edgeMargin);
        scrollTimer.start(pauseMs, this);
    }
    const Qt::CursorShape shape = anchorAt(mapFromGlobal(QCursor::pos())).isEmpty()
        ? Qt::ArrowCursor
        : Qt::PointingHandCursor;
    if (cursor().shape() != shape)
        setCursor(shape);
}
