#include "testtasks.h"

#include <QSignalSpy>
#include <QTest>

class TestTaskSpecification : public QObject
{
    Q_OBJECT
private slots:
    void endings_data();
    void endings();
    void otherTaskCancelledReachesOnlyRunningSiblings_data();
    void otherTaskCancelledReachesOnlyRunningSiblings();
    void resetMakesAFinishedTaskStartable();
    void baseTimeTickClearsEveryFigure();
};

// Progress is scaled by the range and the progress signal precedes the ending signal; the two
// cancellations keep the progress reached.
void TestTaskSpecification::endings_data()
{
    QTest::addColumn<int>("ending");
    QTest::addColumn<QList<qreal>>("expectedProgress");
    QTest::addColumn<int>("expectedState");
    QTest::addColumn<QStringList>("expectedSignals");

    QTest::newRow("finish") << int(TaskSpecification::TaskFinished) << QList<qreal> { 0.125, 0.25 }
                            << int(TaskSpecification::TaskFinished)
                            << QStringList { "progress", "progress", "finished" };
    QTest::newRow("error") << int(TaskSpecification::TaskErrorCanceled) << QList<qreal> { 0.125 }
                           << int(TaskSpecification::TaskErrorCanceled)
                           << QStringList { "progress", "canceled" };
    QTest::newRow("user") << int(TaskSpecification::TaskUserCanceled) << QList<qreal> { 0.125 }
                          << int(TaskSpecification::TaskUserCanceled)
                          << QStringList { "progress", "canceled" };
}

void TestTaskSpecification::endings()
{
    QFETCH(int, ending);
    QFETCH(QList<qreal>, expectedProgress);
    QFETCH(int, expectedState);
    QFETCH(QStringList, expectedSignals);

    QStringList log;
    LogLeafTask task(QStringLiteral("t"), &log, 0.25);
    QStringList order;
    QList<qreal> progress;
    connect(&task, &TaskSpecification::updateProgress, this, [&](qreal p) {
        progress << p;
        order << QStringLiteral("progress");
    });
    connect(
        &task, &TaskSpecification::finished, this, [&] { order << QStringLiteral("finished"); });
    connect(&task, &TaskSpecification::canceled, this, [&](TaskSpecification* t) {
        QCOMPARE(t, &task);
        QCOMPARE(t->state, expectedState); // the state is set before the signal
        order << QStringLiteral("canceled");
    });

    task.execute();
    task.setProgress(0.5);
    if (ending == TaskSpecification::TaskFinished)
        task.finish();
    else if (ending == TaskSpecification::TaskErrorCanceled)
        task.errorCancel();
    else
        task.userCancel();

    QCOMPARE(progress, expectedProgress);
    QCOMPARE(order, expectedSignals);
    QCOMPARE(task.state, expectedState);
    QCOMPARE(task.progress, expectedProgress.last());
}

void TestTaskSpecification::otherTaskCancelledReachesOnlyRunningSiblings_data()
{
    QTest::addColumn<bool>("started");
    QTest::addColumn<bool>("ended");
    QTest::addColumn<bool>("selfAsOther");
    QTest::addColumn<bool>("reacts");

    QTest::newRow("running, other task") << true << false << false << true;
    QTest::newRow("running, itself") << true << false << true << false;
    QTest::newRow("idle") << false << false << false << false;
    QTest::newRow("ended") << true << true << false << false;
}

void TestTaskSpecification::otherTaskCancelledReachesOnlyRunningSiblings()
{
    QFETCH(bool, started);
    QFETCH(bool, ended);
    QFETCH(bool, selfAsOther);
    QFETCH(bool, reacts);

    QStringList log;
    LogLeafTask task(QStringLiteral("t"), &log, 1.0);
    LogLeafTask sibling(QStringLiteral("s"), &log, 1.0);
    if (started)
        task.execute();
    if (ended)
        task.finish();
    log.clear();

    task.onOtherTaskCancelled(selfAsOther ? static_cast<TaskSpecification*>(&task) : &sibling);
    QCOMPARE(log.contains(QStringLiteral("t:other")), reacts);
}

void TestTaskSpecification::resetMakesAFinishedTaskStartable()
{
    QStringList log;
    LogLeafTask task(QStringLiteral("t"), &log, 0.5);
    task.execute();
    task.userCanceled();
    task.finish();
    QSignalSpy progress(&task, &TaskSpecification::updateProgress);

    task.reset();

    QCOMPARE(progress.count(), 1);
    QCOMPARE(progress.at(0).at(0).toReal(), 0.0);
    QCOMPARE(task.state, int(TaskSpecification::TaskIdle));
    QVERIFY(!task.userCancelRequested);
}

void TestTaskSpecification::baseTimeTickClearsEveryFigure()
{
    // A composed task adds to what it is given; the base behaviour of a plain subtask must
    // clear the values completely, or stale figures would leak into the sums.
    class PlainTask : public TaskSpecification
    {
    public:
        PlainTask()
            : TaskSpecification(nullptr, 1.0)
        {
        }
        void execute() override { }
    } plain;
    quint64 done = 7, total = 8, sinceLast = 9;
    bool downloading = true;
    plain.timeTick(done, total, sinceLast, downloading);
    QCOMPARE(done, 0u);
    QCOMPARE(total, 0u);
    QCOMPARE(sinceLast, 0u);
    QVERIFY(!downloading);
}

QTEST_GUILESS_MAIN(TestTaskSpecification)
#include "tst_taskspecification.moc"
