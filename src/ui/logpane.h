#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

class QTextEdit;

// Shows the run's log in a text edit, a batch of lines at a time. Laying out a line costs the
// text edit about a tenth of a millisecond, and a replacement logs one or two per file: line by
// line, the window would spend more on its log than the update on its files. Lines wait at most
// a fifth of a second; flush() shows them at once, before anything that a person may read
// together with the log (a box, the end of the run, the log being opened). The lines are plain
// text: a file name from a release is never taken for markup. Follows the end of the log while
// it is scrolled to the end.
class LogPane : public QObject
{
    Q_OBJECT
public:
    explicit LogPane(QTextEdit* view);

    void append(const QString& line);
    void flush();

private:
    QTextEdit* view;
    QStringList pending;
    QTimer flushTimer;
};
