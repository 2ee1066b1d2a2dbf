#include "logpane.h"

#include <QScrollBar>
#include <QTextCursor>
#include <QTextEdit>

namespace {
constexpr int flushDelayMs = 200;
}

LogPane::LogPane(QTextEdit* view)
    : QObject(view)
    , view(view)
{
    flushTimer.setSingleShot(true);
    flushTimer.setInterval(flushDelayMs);
    connect(&flushTimer, &QTimer::timeout, this, &LogPane::flush);
}

void LogPane::append(const QString& line)
{
    pending.append(line);
    if (!flushTimer.isActive())
        flushTimer.start();
}

void LogPane::flush()
{
    flushTimer.stop();
    if (pending.isEmpty())
        return;
    QScrollBar* bar = view->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    QTextCursor end(view->document());
    end.movePosition(QTextCursor::End);
    // Each line its own paragraph, as one after the other; the first one goes into the empty
    // paragraph an empty document has.
    const QString text = pending.join(QLatin1Char('\n'));
    end.insertText(view->document()->isEmpty() ? text : QLatin1Char('\n') + text);
    pending.clear();
    if (atEnd)
        bar->setValue(bar->maximum());
}
