#pragma once

#include "composedtaskspecification.h"
#include "taskspecification.h"

#include <QStringList>

// Writes "name:finished" or "name:canceledN" (N the state) to the log when the task ends.
inline void logEndings(TaskSpecification* task, const QString& name, QStringList* log)
{
    QObject::connect(task, &TaskSpecification::finished, task,
        [name, log] { log->append(name + QStringLiteral(":finished")); });
    QObject::connect(task, &TaskSpecification::canceled, task, [name, log](TaskSpecification* t) {
        log->append(name + QStringLiteral(":canceled%1").arg(t->state));
    });
}

// Leaf and composed tasks for the framework tests. Every call that matters is written to a
// shared log, so a test states the whole expected order of events in one list.
class LogLeafTask : public TaskSpecification
{
    Q_OBJECT
public:
    enum OtherReaction { Ignore, ErrorOnOther, UserCancelOnOther };

    LogLeafTask(const QString& name, QStringList* log, double range, QObject* parent = nullptr)
        : TaskSpecification(parent, range)
        , name(name)
        , log(log)
    {
        logEndings(this, name, log);
    }

    void execute() override
    {
        record(QStringLiteral("execute"));
        state = TaskRunning;
        if (finishInExecute)
            finish();
    }
    void userCanceled() override
    {
        TaskSpecification::userCanceled();
        record(QStringLiteral("userCanceled"));
        if (stopsOnUserRequest && state == TaskRunning)
            userCancel();
    }
    void handleOtherTaskCancelled(TaskSpecification*) override
    {
        record(QStringLiteral("other"));
        if (otherReaction == ErrorOnOther)
            errorCancel();
        else if (otherReaction == UserCancelOnOther)
            userCancel();
    }
    void timeTick(quint64& done, quint64& total, quint64& sinceLast, bool& downloading) override
    {
        done = tickDone;
        total = tickTotal;
        sinceLast = tickSinceLast;
        downloading = tickDownloading;
    }

    QString name;
    QStringList* log;
    bool finishInExecute = false;
    bool stopsOnUserRequest = false;
    OtherReaction otherReaction = Ignore;
    quint64 tickDone = 0, tickTotal = 0, tickSinceLast = 0;
    bool tickDownloading = false;

private:
    void record(const QString& what) { log->append(name + QLatin1Char(':') + what); }
};

class LogComposedTask : public ComposedTaskSpecification
{
    Q_OBJECT
public:
    LogComposedTask(const QString& name, QStringList* log, int maxParallel, double range = 1.0,
        QObject* parent = nullptr)
        : ComposedTaskSpecification(maxParallel, range, parent)
        , name(name)
        , log(log)
    {
        logEndings(this, name, log);
    }

    void execute() override
    {
        record(QStringLiteral("execute"));
        executeSubTasks();
    }
    void handleOtherTaskCancelled(TaskSpecification* other) override
    {
        record(QStringLiteral("other"));
        ComposedTaskSpecification::handleOtherTaskCancelled(other);
    }

    LogLeafTask* addLeaf(const QString& leafName, double range)
    {
        auto* leaf = new LogLeafTask(leafName, log, range, this);
        addSubTask(leaf);
        return leaf;
    }

    QString name;
    QStringList* log;

private:
    void record(const QString& what) { log->append(name + QLatin1Char(':') + what); }
};
