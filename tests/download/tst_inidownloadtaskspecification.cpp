#include "checksigfunc.h"
#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "crypt.h"
#include "downloadtaskspecification.h"
#include "inidownloadtaskspecification.h"
#include "testfiles.h"
#include "testhttpserver.h"
#include "testmirrorlist.h"
#include "testsigning.h"
#include "testspies.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {
const QString iniName = QStringLiteral("client_test.ini");
const QString servedIni = QStringLiteral("/5/client_test.ini");
const QString servedSig = QStringLiteral("/5/client_test.ini.sig");
const QByteArray iniText
    = "version=5\ntype=client_test\n[bin]\nupdate=0123456789abcdef0123456789abcdef::1000\n";
} // namespace

class TestIniDownloadTaskSpecification : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void localCopies_data();
    void localCopies();
    void missingSignatureEverywhereCancels();
    void endsOnceAfterTooManyFailedChecks();
    void failedCheckCostsItsMirrors_data();
    void failedCheckCostsItsMirrors();
    void badMirrorLeavesTheGoodOne_data();
    void badMirrorLeavesTheGoodOne();
    void identityError_data();
    void identityError();

private:
    QTemporaryDir served;
    QByteArray signature;
    std::unique_ptr<QTemporaryDir> session;
    TestHttpServer* server = nullptr;
    std::unique_ptr<TestMirrorList> net;
    Configuration configuration;
};

void TestIniDownloadTaskSpecification::initTestCase()
{
    crypt_init();
    QVERIFY(QDir(served.path()).mkpath(QStringLiteral("5")));
    QVERIFY(TestFiles::write(served.path() + servedIni, iniText));
    QVERIFY(TestSigning::signFile(served.path() + servedIni));
    signature = TestFiles::read(served.path() + servedSig);
    QCOMPARE(signature.size(), 128);
    configuration.clientType = QStringLiteral("client_test");
    configuration.clientVersion = 5;
}

void TestIniDownloadTaskSpecification::init()
{
    session = std::make_unique<QTemporaryDir>();
    configuration.tempDir = session->path();
    net = std::make_unique<TestMirrorList>(QStringLiteral("/5"));
    server = net->startServer(served.path());
    QVERIFY(server);
    // Two names for one server: two mirrors that fail or succeed together.
    net->add(QStringLiteral("one"), server);
    net->add(QStringLiteral("two"), server);
}

void TestIniDownloadTaskSpecification::cleanup()
{
    net.reset();
    session.reset();
}

void TestIniDownloadTaskSpecification::localCopies_data()
{
    QTest::addColumn<QByteArray>("localIni"); // null: no local copy
    QTest::addColumn<bool>("localSig");
    QTest::addColumn<QList<double>>("shares");
    QTest::addColumn<QStringList>("log");

    const QString get = QStringLiteral("Downloading %1");
    const QString got = QStringLiteral("Downloading %1 finished");
    const QString head = QStringLiteral("Download / check product ini");
    const QString sig = iniName + QStringLiteral(".sig");

    QTest::newRow("no local copies")
        << QByteArray() << false << QList<double> { 0.3333, 0.3333, 0.3334 }
        << QStringList { head, get.arg(iniName), got.arg(iniName), get.arg(sig), got.arg(sig) };
    QTest::newRow("only the ini local") << iniText << false << QList<double> { 0.3333, 0.6667 }
                                        << QStringList { head, get.arg(sig), got.arg(sig) };
    QTest::newRow("only the signature local")
        << QByteArray() << true << QList<double> { 0.3333, 0.6667 }
        << QStringList { head, get.arg(iniName), got.arg(iniName) };
    QTest::newRow("both local") << iniText << true << QList<double> { 1.0 } << QStringList { head };
    QTest::newRow("local ini does not match its signature")
        << QByteArray(iniText).replace("1000", "1001") << true << QList<double> { 1.0 }
        << QStringList { head, "Signature check failed for %1",
               "Could not verify the product ini file. Retrying", get.arg(iniName),
               got.arg(iniName), get.arg(sig), got.arg(sig) };
    QTest::newRow("local ini cut short, signature downloaded")
        << iniText.left(20) << false << QList<double> { 0.3333, 0.6667 }
        << QStringList { head, get.arg(sig), got.arg(sig), "Signature check failed for %1",
               "Could not verify the product ini file. Retrying", get.arg(iniName),
               got.arg(iniName), get.arg(sig), got.arg(sig) };
}

void TestIniDownloadTaskSpecification::localCopies()
{
    QFETCH(QByteArray, localIni);
    QFETCH(bool, localSig);
    QFETCH(QList<double>, shares);
    QFETCH(QStringList, log);

    const QString localPath = session->path() + QLatin1Char('/') + iniName;
    if (!localIni.isNull())
        QVERIFY(TestFiles::write(localPath, localIni));
    if (localSig)
        QVERIFY(TestFiles::write(localPath + QStringLiteral(".sig"), signature));

    IniDownloadTaskSpecification task(&net->manager, &net->mirrors, &configuration, nullptr, 0.1);
    QSignalSpy finished(&task, &TaskSpecification::finished);
    QSignalSpy canceled(&task, &TaskSpecification::canceled);
    QSignalSpy messages(&task, &TaskSpecification::message);
    task.execute();
    QCOMPARE(task.subTasks.size(), shares.size());
    // Neither file may run to the general limit of a download of unknown size.
    for (TaskSpecification* sub : std::as_const(task.subTasks)) {
        if (auto* download = qobject_cast<DownloadTaskSpecification*>(sub))
            QCOMPARE(download->unknownSizeLimit,
                download->remotePath.endsWith(QStringLiteral(".sig"))
                    ? CheckSigFunc::maxWholeFileSize
                    : IniDownloadTaskSpecification::maxIniSize);
    }
    double sum = 0.0;
    for (int i = 0; i < shares.size(); ++i) {
        QVERIFY(qFuzzyCompare(task.subTasks.at(i)->parentProgressRange, shares.at(i)));
        sum += task.subTasks.at(i)->parentProgressRange;
    }
    QVERIFY(qFuzzyCompare(sum, 1.0));

    QVERIFY(finished.wait());
    QCOMPARE(canceled.size(), 0);
    QCOMPARE(task.state, qint32(TaskSpecification::TaskFinished));
    QCOMPARE(task.progress, 0.1);
    QCOMPARE(TestSpies::texts(messages), log.replaceInStrings(QStringLiteral("%1"), localPath));
    QCOMPARE(TestFiles::read(localPath), iniText);
    QCOMPARE(TestFiles::read(localPath + QStringLiteral(".sig")), signature);
    // A failed check of reused copies charges no mirror.
    QCOMPARE(net->mirrors.mirrorList.size(), 2);
    for (const FTPSiteAccessData& mirror : std::as_const(net->mirrors.mirrorList)) {
        QCOMPARE(mirror.errorCount, 0);
        QCOMPARE(mirror.useCount, 0);
    }
}

void TestIniDownloadTaskSpecification::missingSignatureEverywhereCancels()
{
    server->setFault(servedSig, TestHttpServer::NotFound);
    IniDownloadTaskSpecification task(&net->manager, &net->mirrors, &configuration, nullptr, 0.1);
    QSignalSpy canceled(&task, &TaskSpecification::canceled);
    QSignalSpy finished(&task, &TaskSpecification::finished);
    task.execute();
    QVERIFY(canceled.wait());
    QCOMPARE(task.state, qint32(TaskSpecification::TaskErrorCanceled));
    QCOMPARE(finished.size(), 0);
    QCOMPARE(server->requestCount(servedSig), 2);
    QVERIFY(net->mirrors.mirrorList.isEmpty());
    QVERIFY(!QFile::exists(session->path() + QLatin1Char('/') + iniName + ".sig"));
}

void TestIniDownloadTaskSpecification::endsOnceAfterTooManyFailedChecks()
{
    // Every mirror serves a signature of other content; the count starts just below the limit
    // so that the next failure is the one that gives up.
    server->setFault(servedSig, TestHttpServer::WrongBytes);
    IniDownloadTaskSpecification task(&net->manager, &net->mirrors, &configuration, nullptr, 0.1);
    task.failedChecks = IniDownloadTaskSpecification::maxFailedChecks;
    QSignalSpy canceled(&task, &TaskSpecification::canceled);
    QSignalSpy finished(&task, &TaskSpecification::finished);
    QSignalSpy messages(&task, &TaskSpecification::message);
    task.execute();
    QVERIFY(canceled.wait());
    QCOMPARE(task.state, qint32(TaskSpecification::TaskErrorCanceled));
    QCOMPARE(TestSpies::texts(messages).last(),
        QStringLiteral("Could not verify the product ini file. Aborting"));
    // The check task ends after reporting; that end must not reach the cancelled task.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QCOMPARE(finished.size(), 0);
    QCOMPARE(canceled.size(), 1);
    QCOMPARE(task.state, qint32(TaskSpecification::TaskErrorCanceled));
}

void TestIniDownloadTaskSpecification::failedCheckCostsItsMirrors_data()
{
    QTest::addColumn<QByteArray>("served"); // validly signed; null: the fixture's ini
    QTest::addColumn<TestHttpServer::Fault>("sigFault");
    QTest::addColumn<QString>("reason");

    QTest::newRow("signature of other content")
        << QByteArray() << TestHttpServer::WrongBytes << "Signature check failed for %1/" + iniName;
    QTest::newRow("replayed older version")
        << QByteArray(iniText).replace("version=5", "version=4") << TestHttpServer::Serve
        << "The product ini is for client_test version 4, not client_test version 5; refusing it";
    QTest::newRow("other client type")
        << QByteArray(iniText).replace("type=client_test", "type=client_other")
        << TestHttpServer::Serve
        << "The product ini is for client_other version 5, not client_test version 5; refusing it";
}

void TestIniDownloadTaskSpecification::failedCheckCostsItsMirrors()
{
    QFETCH(QByteArray, served);
    QFETCH(TestHttpServer::Fault, sigFault);
    QFETCH(QString, reason);

    QTemporaryDir replayRoot;
    if (!served.isNull()) {
        QVERIFY(TestFiles::write(replayRoot.path() + servedIni, served));
        QVERIFY(TestSigning::signFile(replayRoot.path() + servedIni));
        server = net->startServer(replayRoot.path());
        QVERIFY(server);
        for (FTPSiteAccessData& mirror : net->mirrors.mirrorList)
            mirror.url = net->url(server);
    }
    server->setFault(servedSig, sigFault);
    IniDownloadTaskSpecification task(&net->manager, &net->mirrors, &configuration, nullptr, 0.1);
    QSignalSpy canceled(&task, &TaskSpecification::canceled);
    QSignalSpy messages(&task, &TaskSpecification::message);
    task.execute();
    QVERIFY(canceled.wait());

    QCOMPARE(task.state, qint32(TaskSpecification::TaskErrorCanceled));
    QVERIFY(net->mirrors.mirrorList.isEmpty());
    // Two mirrors: each attempt from one mirror costs it, so there are at most two attempts.
    QVERIFY(server->requestCount(servedIni) <= 2);
    const QStringList log = TestSpies::texts(messages);
    QVERIFY2(log.contains(reason.arg(session->path())), qPrintable(log.join(QLatin1Char('\n'))));
    QCOMPARE(log.last(), QStringLiteral("Could not verify the product ini file. Aborting"));
}

void TestIniDownloadTaskSpecification::badMirrorLeavesTheGoodOne_data()
{
    QTest::addColumn<TestHttpServer::Fault>("iniFault"); // of the bad mirror
    QTest::addColumn<TestHttpServer::Fault>("sigFault");
    QTest::addColumn<bool>("badFirst"); // the first choice falls on the bad mirror

    const struct
    {
        const char* name;
        TestHttpServer::Fault ini;
        TestHttpServer::Fault sig;
    } faults[] = {
        { "ini altered", TestHttpServer::WrongBytes, TestHttpServer::Serve },
        { "signature altered", TestHttpServer::Serve, TestHttpServer::WrongBytes },
        { "both altered", TestHttpServer::WrongBytes, TestHttpServer::WrongBytes },
        // The signature then comes from the good mirror: a pair split over two mirrors.
        { "ini altered, signature missing", TestHttpServer::WrongBytes, TestHttpServer::NotFound },
        { "ini altered, signature cut off", TestHttpServer::WrongBytes,
            TestHttpServer::ResetMidBody },
        { "ini in broken chunks", TestHttpServer::BrokenChunks, TestHttpServer::Serve },
        { "signature in broken chunks", TestHttpServer::Serve, TestHttpServer::BrokenChunks },
        { "ini altered, signature in broken chunks", TestHttpServer::WrongBytes,
            TestHttpServer::BrokenChunks },
    };
    for (const auto& fault : faults) {
        for (bool badFirst : { true, false })
            QTest::addRow("%s, %s first", fault.name, badFirst ? "bad" : "good")
                << fault.ini << fault.sig << badFirst;
    }
}

void TestIniDownloadTaskSpecification::badMirrorLeavesTheGoodOne()
{
    QFETCH(TestHttpServer::Fault, iniFault);
    QFETCH(TestHttpServer::Fault, sigFault);
    QFETCH(bool, badFirst);

    TestHttpServer* bad = net->startServer(served.path());
    QVERIFY(bad);
    bad->setFault(servedIni, iniFault);
    bad->setFault(servedSig, sigFault);
    net->mirrors.mirrorList.clear();
    net->add(QStringLiteral("bad"), bad);
    net->add(QStringLiteral("good"), server);
    net->seedFirstChoice(badFirst ? 0 : 1);

    IniDownloadTaskSpecification task(&net->manager, &net->mirrors, &configuration, nullptr, 0.1);
    QSignalSpy finished(&task, &TaskSpecification::finished);
    QSignalSpy canceled(&task, &TaskSpecification::canceled);
    QSignalSpy messages(&task, &TaskSpecification::message);
    task.execute();
    QTRY_VERIFY(!finished.isEmpty() || !canceled.isEmpty());
    QVERIFY2(canceled.isEmpty(), qPrintable(TestSpies::texts(messages).join(QLatin1Char('\n'))));
    const QString localPath = session->path() + QLatin1Char('/') + iniName;
    QCOMPARE(TestFiles::read(localPath), iniText);
    QCOMPARE(TestFiles::read(localPath + QStringLiteral(".sig")), signature);
    QVERIFY(net->mirrors.getMirrorIndex(QStringLiteral("good")) >= 0);
}

void TestIniDownloadTaskSpecification::identityError_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<bool>("acceptUnversioned");
    QTest::addColumn<QString>("error");

    const QString missing
        = QStringLiteral("The product ini does not name its version and client type; refusing it");
    QTest::newRow("matching") << iniText << false << QString();
    QTest::newRow("unversioned") << iniText.mid(iniText.indexOf('[')) << false << missing;
    QTest::newRow("unversioned, accepted")
        << iniText.mid(iniText.indexOf('[')) << true << QString();
    QTest::newRow("type only, accepted unversioned")
        << "type=client_test\n" + iniText.mid(iniText.indexOf('[')) << true << missing;
    QTest::newRow("version not a number")
        << QByteArray(iniText).replace("version=5", "version=5x") << true
        << "The product ini is for client_test version 5x, not client_test version 5; refusing it";
    QTest::newRow("a line break in the type is shown escaped")
        << QByteArray(iniText).replace("type=client_test", "type=\"a\\nb\"") << false
        << "The product ini is for a\\nb version 5, not client_test version 5; refusing it";
    QTest::newRow("keys inside a file section")
        << "[bin]\nversion=5\ntype=client_test\n" + iniText.mid(iniText.indexOf('[') + 6) << false
        << missing;
}

void TestIniDownloadTaskSpecification::identityError()
{
    QFETCH(QByteArray, ini);
    QFETCH(bool, acceptUnversioned);
    QFETCH(QString, error);
    const QString path = session->path() + QLatin1Char('/') + iniName;
    QVERIFY(TestFiles::write(path, ini));
    QCOMPARE(IniDownloadTaskSpecification::identityError(
                 path, QStringLiteral("client_test"), 5, acceptUnversioned),
        error);
}

QTEST_GUILESS_MAIN(TestIniDownloadTaskSpecification)
#include "tst_inidownloadtaskspecification.moc"
