#include "asyncfunc.h"
#include "asynctaskspecification.h"

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

class TestASyncTaskSpecification : public QObject
{
    Q_OBJECT
private slots:
    void workerSignalsArriveBeforeTheResult_data();
    void workerSignalsArriveBeforeTheResult();
    void resetWaitsForEveryRunningFunction();
    void deletingARunningTaskWaitsForItsFunction();
    void resultAfterResetIsIgnored();
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
    connect(&task, &TaskSpecification::updateProgress, this,
        [&](qreal p) { log << QStringLiteral("progress %1").arg(p); });
    connect(&task, &TaskSpecification::error, this,
        [&](const QString& e) { log << QStringLiteral("error ") + e; });
    connect(&task, &TaskSpecification::finished, this, [&] { log << QStringLiteral("finished"); });
    connect(&task, &TaskSpecification::canceled, this,
        [&](TaskSpecification* t) { log << QStringLiteral("canceled %1").arg(t->state); });

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

void TestASyncTaskSpecification::resultAfterResetIsIgnored()
{
    LambdaTask task(1.0, [](LambdaFunc*) { return true; });
    QSignalSpy finished(&task, &TaskSpecification::finished);
    QSignalSpy canceled(&task, &TaskSpecification::canceled);

    task.execute();
    task.reset(); // the result is now queued for a task that is idle again
    QCoreApplication::processEvents();

    QCOMPARE(task.state, int(TaskSpecification::TaskIdle));
    QCOMPARE(finished.count(), 0);
    QCOMPARE(canceled.count(), 0);
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
