#include "asyncfunc.h"
#include "asynctaskspecification.h"
#include "testtasks.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>

#include <atomic>
#include <functional>
#include <thread>

// A function whose body the test supplies; it runs on a worker thread.
class LambdaFunc : public ASyncFunc
{
public:
    explicit LambdaFunc(std::function<bool(LambdaFunc*)> body)
        : body(std::move(body))
    {
    }
    bool run() override { return body(this); }
    void emitProgress(qreal p) { emit progress(p); }
    void emitError(const QString& text) { emit error(text); }

private:
    std::function<bool(LambdaFunc*)> body;
};

// Writes what the task reports, in order, to the log.
static void logSignals(TaskSpecification* task, QStringList* log)
{
    QObject::connect(task, &TaskSpecification::updateProgress, task,
        [log](qreal p) { log->append(QStringLiteral("progress %1").arg(p)); });
    QObject::connect(task, &TaskSpecification::error, task,
        [log](const QString& e) { log->append(QStringLiteral("error ") + e); });
    QObject::connect(task, &TaskSpecification::finished, task,
        [log] { log->append(QStringLiteral("finished")); });
    QObject::connect(task, &TaskSpecification::canceled, task,
        [log](TaskSpecification* t) { log->append(QStringLiteral("canceled %1").arg(t->state)); });
}

class LambdaTask : public ASyncTaskSpecification
{
public:
    LambdaTask(double range, std::function<bool(LambdaFunc*)> body)
        : ASyncTaskSpecification(nullptr, range)
        , body(std::move(body))
    {
    }
    ASyncFunc* createFunction() override { return new LambdaFunc(body); }

private:
    std::function<bool(LambdaFunc*)> body;
};

// Opens when someone waits for the task's function, at the latest when the member dies.
class OpensOnDestruction
{
public:
    ~OpensOnDestruction() { open(); }
    void open() { gate.release(); }
    void pass() { gate.acquire(); }

private:
    QSemaphore gate;
};

// A task whose function fills a member of the task, as the plan task does. The function starts
// filling only once the task is being deleted, so it writes while the task dies, or into freed
// memory when the task dies before its function has returned.
class FillingTask : public ASyncTaskSpecification
{
public:
    FillingTask(std::atomic<bool>* returned, QObject* parent)
        : ASyncTaskSpecification(parent, 1.0)
        , returned(returned)
    {
    }
    ASyncFunc* createFunction() override
    {
        return new LambdaFunc([this](LambdaFunc*) {
            gate.pass();
            for (int i = 0; i < 1000; ++i)
                filled.append(i);
            *returned = true;
            return true;
        });
    }
    void waitForFunctions() override
    {
        gate.open();
        ASyncTaskSpecification::waitForFunctions();
    }

private:
    std::atomic<bool>* returned;
    // Declared first, destroyed last: opens only after `filled` is gone.
    OpensOnDestruction gate;
    QList<int> filled;
};

class TestASyncTaskSpecification : public QObject
{
    Q_OBJECT
private slots:
    void workerSignalsArriveBeforeTheResult_data();
    void workerSignalsArriveBeforeTheResult();
    void resetWaitsForEveryRunningFunction();
    void deletingARunningTaskWaitsForItsFunction();
    void runningTaskDiesOnlyAfterItsFunction_data();
    void runningTaskDiesOnlyAfterItsFunction();
    void earlierRunIsIgnored_data();
    void earlierRunIsIgnored();
    void twoTasksRunAtTheSameTime();
};

void TestASyncTaskSpecification::workerSignalsArriveBeforeTheResult_data()
{
    QTest::addColumn<bool>("succeed");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("success") << true << QStringList { "progress 0.1", "progress 0.2", "finished" };
    QTest::newRow("failure") << false
                             << QStringList { "progress 0.1", "error no space left", "canceled 3" };
}

void TestASyncTaskSpecification::workerSignalsArriveBeforeTheResult()
{
    QFETCH(bool, succeed);
    QFETCH(QStringList, expected);

    LambdaTask task(0.2, [succeed](LambdaFunc* f) {
        f->emitProgress(0.5);
        if (!succeed)
            f->emitError(QStringLiteral("no space left"));
        return succeed;
    });
    QStringList log;
    logSignals(&task, &log);

    task.execute();
    QCOMPARE(task.state, int(TaskSpecification::TaskRunning));
    QTRY_COMPARE(log.size(), expected.size());
    QCOMPARE(log, expected);
}

void TestASyncTaskSpecification::resetWaitsForEveryRunningFunction()
{
    std::atomic<bool> aboutToReset { false };
    std::atomic<bool> otherReturned { false };
    QSemaphore started, release;
    LambdaTask other(1.0, [&](LambdaFunc*) {
        started.release();
        release.acquire();
        otherReturned = true;
        return true;
    });
    LambdaTask task(1.0, [](LambdaFunc*) { return true; });
    other.execute();
    started.acquire();

    std::thread releaser([&] {
        while (!aboutToReset)
            std::this_thread::yield();
        release.release();
    });
    aboutToReset = true;
    task.reset(); // the task itself never ran: only the other task's function keeps it waiting
    QVERIFY(otherReturned);
    releaser.join();
}

void TestASyncTaskSpecification::deletingARunningTaskWaitsForItsFunction()
{
    std::atomic<bool> aboutToDelete { false };
    std::atomic<bool> returned { false };
    QSemaphore started, release;
    auto* task = new LambdaTask(1.0, [&](LambdaFunc*) {
        started.release();
        release.acquire();
        returned = true;
        return true;
    });
    task->execute();
    started.acquire();

    std::thread releaser([&] {
        while (!aboutToDelete)
            std::this_thread::yield();
        release.release();
    });
    aboutToDelete = true;
    delete task;
    QVERIFY(returned);
    releaser.join();
}

void TestASyncTaskSpecification::runningTaskDiesOnlyAfterItsFunction_data()
{
    QTest::addColumn<QString>("how");

    QTest::newRow("with its parent") << "parent";
    QTest::newRow("with its parent, deleted later") << "parent later";
    QTest::newRow("deleted later") << "later";
}

void TestASyncTaskSpecification::runningTaskDiesOnlyAfterItsFunction()
{
    QFETCH(QString, how);

    std::atomic<bool> returned { false };
    QStringList log;
    const bool alone = how == QLatin1String("later");
    auto* parent = alone ? nullptr : new LogComposedTask(QStringLiteral("parent"), &log, 1);
    auto* task = new FillingTask(&returned, parent);
    if (parent)
        parent->addSubTask(task);
    task->execute();

    if (how == QLatin1String("parent")) {
        delete parent;
    } else {
        if (alone)
            task->deleteLater();
        else
            parent->deleteLater();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QVERIFY(returned);
}

// A function of an earlier run sends progress, an error and a failed result; whatever reaches
// the task after the reset belongs to no run of it any more.
void TestASyncTaskSpecification::earlierRunIsIgnored_data()
{
    QTest::addColumn<bool>("executeAgain");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("reset") << false << QStringList { "progress 0" };
    QTest::newRow("reset and execute")
        << true << QStringList { "progress 0", "progress 1", "finished" };
}

void TestASyncTaskSpecification::earlierRunIsIgnored()
{
    QFETCH(bool, executeAgain);
    QFETCH(QStringList, expected);

    QSemaphore release;
    std::atomic<int> runs { 0 };
    LambdaTask task(1.0, [&](LambdaFunc* f) {
        if (++runs == 1) {
            f->emitProgress(0.5);
            f->emitError(QStringLiteral("stale"));
            return false;
        }
        release.acquire();
        return true;
    });
    QStringList log;
    logSignals(&task, &log);

    task.execute();
    task.reset(); // the first run's signals are now queued
    if (executeAgain)
        task.execute();
    QCoreApplication::processEvents();
    QCOMPARE(task.state,
        int(executeAgain ? TaskSpecification::TaskRunning : TaskSpecification::TaskIdle));

    release.release();
    if (executeAgain)
        QTRY_COMPARE(task.state, int(TaskSpecification::TaskFinished));
    QCOMPARE(log, expected);
}

void TestASyncTaskSpecification::twoTasksRunAtTheSameTime()
{
    if (QThreadPool::globalInstance()->maxThreadCount() < 2)
        QSKIP("the thread pool has a single thread here");
    QSemaphore firstRunning, secondRunning;
    LambdaTask first(0.5, [&](LambdaFunc*) {
        firstRunning.release();
        return secondRunning.tryAcquire(1, 10000);
    });
    LambdaTask second(0.5, [&](LambdaFunc*) {
        secondRunning.release();
        return firstRunning.tryAcquire(1, 10000);
    });
    QSignalSpy firstDone(&first, &TaskSpecification::finished);
    QSignalSpy secondDone(&second, &TaskSpecification::finished);

    first.execute();
    second.execute();

    QTRY_COMPARE(firstDone.count(), 1);
    QTRY_COMPARE(secondDone.count(), 1);
}

QTEST_GUILESS_MAIN(TestASyncTaskSpecification)
#include "tst_asynctaskspecification.moc"
