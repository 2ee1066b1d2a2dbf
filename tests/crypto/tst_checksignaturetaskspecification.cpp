#include "checksignaturetaskspecification.h"
#include "crypt.h"
#include "testsigning.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// Records what a parent task would see, in order.
class EventLog : public QObject
{
public:
    explicit EventLog(CheckSignatureTaskSpecification* task)
    {
        connect(task, &TaskSpecification::message, this,
            [this](const QString& text) { entries << QStringLiteral("message ") + text; });
        connect(task, &CheckSignatureTaskSpecification::checkDone, this,
            [this, task](bool pass, CheckSignatureTaskSpecification* sender) {
                entries << QStringLiteral("checkDone %1%2")
                               .arg(pass ? QStringLiteral("true") : QStringLiteral("false"),
                                   sender == task ? QString() : QStringLiteral(" other"));
            });
        connect(task, &TaskSpecification::finished, this,
            [this] { entries << QStringLiteral("finished"); });
        connect(task, &TaskSpecification::canceled, this,
            [this] { entries << QStringLiteral("canceled"); });
    }

    QStringList entries;
};

class TestCheckSignatureTaskSpecification : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void completion_data();
    void completion();
    void resultAfterTheEndIsIgnored();

private:
    QTemporaryDir dir { QCoreApplication::applicationDirPath() + QStringLiteral("/tmp-XXXXXX") };
    QString file;
    QString wrongMd5; // an MD5 the file does not have
};

void TestCheckSignatureTaskSpecification::initTestCase()
{
    crypt_init();
    file = dir.filePath(QStringLiteral("a.dylib"));
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write("library");
    out.close();
    wrongMd5 = QStringLiteral("0123456789abcdef0123456789abcdef");
    QVERIFY(TestSigning::signFile(file));
}

void TestCheckSignatureTaskSpecification::completion_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expectedMd5");
    QTest::addColumn<bool>("cancelOnFailure");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<int>("state");

    const QString failed = QStringLiteral("message Signature check failed for %1");
    const QString missing = dir.filePath(QStringLiteral("missing"));
    QTest::newRow("signature passes")
        << file << QString() << true << QStringList { "checkDone true", "finished" }
        << int(TaskSpecification::TaskFinished);
    QTest::newRow("md5 fails, cancel on failure")
        << file << wrongMd5 << true
        << QStringList { failed.arg(file), "checkDone false", "canceled" }
        << int(TaskSpecification::TaskErrorCanceled);
    QTest::newRow("md5 fails, no cancel")
        << file << wrongMd5 << false
        << QStringList { failed.arg(file), "checkDone false", "finished" }
        << int(TaskSpecification::TaskFinished);
    QTest::newRow("missing .sig")
        << missing << QString() << true
        << QStringList { QStringLiteral("message Could not open file %1 for reading").arg(missing),
               failed.arg(missing), "checkDone false", "canceled" }
        << int(TaskSpecification::TaskErrorCanceled);
}

void TestCheckSignatureTaskSpecification::completion()
{
    QFETCH(QString, path);
    QFETCH(QString, expectedMd5);
    QFETCH(bool, cancelOnFailure);
    QFETCH(QStringList, log);
    QFETCH(int, state);

    CheckSignatureTaskSpecification task(path, expectedMd5, cancelOnFailure, nullptr, 0.25);
    EventLog events(&task);
    task.execute();
    QCOMPARE(task.state, qint32(TaskSpecification::TaskRunning));
    QTRY_VERIFY(task.state != TaskSpecification::TaskRunning);
    QCOMPARE(events.entries, log);
    QCOMPARE(task.state, state);
    if (state == TaskSpecification::TaskFinished)
        QCOMPARE(task.progress, 0.25);
}

void TestCheckSignatureTaskSpecification::resultAfterTheEndIsIgnored()
{
    CheckSignatureTaskSpecification task(file, QString(), true, nullptr, 1.0);
    EventLog events(&task);
    task.runDone(false);
    task.state = TaskSpecification::TaskUserCanceled;
    task.runDone(true);
    QVERIFY(events.entries.isEmpty());
    QCOMPARE(task.state, qint32(TaskSpecification::TaskUserCanceled));
}

QTEST_GUILESS_MAIN(TestCheckSignatureTaskSpecification)
#include "tst_checksignaturetaskspecification.moc"
