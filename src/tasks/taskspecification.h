#pragma once

#include <QObject>
#include <QString>

// A unit of update work. A task is started once with execute(), reports progress, log lines
// and errors through signals, and ends in exactly one of three ways: finish(), errorCancel()
// or userCancel(). Progress is always reported already scaled by parentProgressRange, and the
// progress signal of finish() comes before finished(). Tasks live on the main thread.
//
// Lifetime: a task is owned by its parent object (a composed task, or the engine for the root)
// and is deleted with deleteLater() or with its parent, never from inside one of its own
// signals. Before a task's child tasks die, and before a task deleted through the event loop
// dies, every function that they still run on the thread pool has returned, so no function
// outlives the data it fills.
class TaskSpecification : public QObject
{
    Q_OBJECT
public:
    enum TaskState {
        TaskIdle = 0,
        TaskRunning = 1,
        TaskFinished = 2,
        TaskErrorCanceled = 3,
        TaskUserCanceled = 4
    };

    TaskSpecification(QObject* parent, double parentProgressRange);
    ~TaskSpecification() override;

    bool userCancelRequested = false;
    double parentProgressRange;
    double progress = 0.0;
    qint32 state = TaskIdle;

    virtual void execute() = 0;
    virtual void reset();
    // Download figures for the display; the base reports zeros and false.
    virtual void timeTick(
        quint64& bytesDone, quint64& bytesTotal, quint64& bytesSinceLastTick, bool& downloading);
    virtual void userCanceled();
    virtual void handleOtherTaskCancelled(TaskSpecification* other);
    // Blocks until no function started by this task or by a task below it runs any more.
    virtual void waitForFunctions();

    void setParentProgressRange(double range);
    void setProgress(double fraction);
    void finish();
    void errorCancel();
    void userCancel();

signals:
    void finished(TaskSpecification* task);
    void canceled(TaskSpecification* task);
    void error(QString errorMessage);
    void updateProgress(qreal doneFrac);
    void message(QString message);
    void otherTaskCancelled(TaskSpecification* task);

public slots:
    void onOtherTaskCancelled(TaskSpecification* other);

protected:
    bool event(QEvent* event) override;
};
