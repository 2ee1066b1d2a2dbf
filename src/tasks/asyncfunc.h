#pragma once

#include <QObject>
#include <QString>

// Work that runs on a worker thread of the global thread pool. run() may emit message, error
// and progress at any time; execute() emits runResult last, so every other signal reaches the
// main thread first. A function must never touch main-thread objects except through signals.
class ASyncFunc : public QObject
{
    Q_OBJECT
public:
    ASyncFunc();

    virtual bool run() = 0;
    void execute();

signals:
    void runResult(bool res);
    void message(QString message);
    void error(QString errorMessage);
    void progress(qreal progress);
};
