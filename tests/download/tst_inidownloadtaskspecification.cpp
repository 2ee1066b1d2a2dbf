#include "checksigfunc.h"
#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "crypt.h"
#include "downloadtaskspecification.h"
#include "ed25519key.h"
#include "ed25519signaturefile.h"
#include "inidownloadtaskspecification.h"
#include "installedrecord.h"
#include "testfiles.h"
#include "testhttpserver.h"
#include "testmirrorlist.h"
#include "testsigning.h"
#include "testspies.h"
#include "trustedkeys.h"
#include "updateinidata.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

namespace {
const QString iniName = QStringLiteral("client_test.ini");
const QString servedIni = QStringLiteral("/5/client_test.ini");
const QString servedSig = QStringLiteral("/5/client_test.ini.sig");
const QString servedSig2 = QStringLiteral("/5/client_test.ini.sig2");
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
    void ed25519Signatures_data();
    void ed25519Signatures();
    void ed25519Error_data();
    void ed25519Error();

private:
    // Each letter names one of rotationKeys, "A" the first.
    QByteArray linesBy(const QString& letters, const QByteArray& message) const;
    QList<QByteArray> publicPems(const QString& letters) const;

    QList<Ed25519Key> rotationKeys;
    QTemporaryDir served;
    QByteArray signature;
    QByteArray signature2;
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
    signature2 = Ed25519SignatureFile::line(TestSigning::demoReleaseKey(), iniText);
    QVERIFY(!signature2.isEmpty());
    QVERIFY(TestFiles::write(served.path() + servedSig2, signature2));
    for (int i = 0; i < 3; ++i)
        rotationKeys.append(Ed25519Key::generate());
    configuration.clientType = QStringLiteral("client_test");
    configuration.clientVersion = 5;
}

void TestIniDownloadTaskSpecification::init()
{
    session = std::make_unique<QTemporaryDir>();
    configuration.tempDir = session->path();
    configuration.iniEd25519Signed = false;
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
    QFile::remove(UpdateIniData::filename());
}

void TestIniDownloadTaskSpecification::localCopies_data()
{
    QTest::addColumn<QByteArray>("localIni"); // null: no local copy
    QTest::addColumn<bool>("localSig");
    QTest::addColumn<QByteArray>("localSig2"); // null: no local copy
    QTest::addColumn<QList<double>>("shares");
    QTest::addColumn<QStringList>("log");

    const QString get = QStringLiteral("Downloading %1");
    const QString got = QStringLiteral("Downloading %1 finished");
    const QString head = QStringLiteral("Download / check product ini");
    const QString sig = iniName + QStringLiteral(".sig");
    const QString sig2 = iniName + QStringLiteral(".sig2");
    const QStringList all { get.arg(iniName), got.arg(iniName), get.arg(sig), got.arg(sig),
        get.arg(sig2), got.arg(sig2) };
    const QString retry = QStringLiteral("Could not verify the product ini file. Retrying");

    QTest::newRow("no local copies")
        << QByteArray() << false << QByteArray() << QList<double> { 0.25, 0.25, 0.25, 0.25 }
        << QStringList { head } + all;
    QTest::newRow("only the ini local")
        << iniText << false << QByteArray() << QList<double> { 0.25, 0.25, 0.5 }
        << QStringList { head, get.arg(sig), got.arg(sig), get.arg(sig2), got.arg(sig2) };
    QTest::newRow("only the signature local")
        << QByteArray() << true << QByteArray() << QList<double> { 0.25, 0.25, 0.5 }
        << QStringList { head, get.arg(iniName), got.arg(iniName), get.arg(sig2), got.arg(sig2) };
    QTest::newRow("ini and signature local")
        << iniText << true << QByteArray() << QList<double> { 0.25, 0.75 }
        << QStringList { head, get.arg(sig2), got.arg(sig2) };
    QTest::newRow("all three local")
        << iniText << true << signature2 << QList<double> { 1.0 } << QStringList { head };
    QTest::newRow("local ini does not match its signature")
        << QByteArray(iniText).replace("1000", "1001") << true << signature2
        << QList<double> { 1.0 }
        << QStringList { head, "Signature check failed for %1", retry } + all;
    QTest::newRow("local ini cut short, signatures downloaded")
        << iniText.left(20) << false << QByteArray() << QList<double> { 0.25, 0.25, 0.5 }
        << QStringList { head, get.arg(sig), got.arg(sig), get.arg(sig2), got.arg(sig2),
               "Signature check failed for %1", retry }
            + all;
    QTest::newRow("local Ed25519 signature of other bytes")
        << iniText << true
        << Ed25519SignatureFile::line(TestSigning::demoReleaseKey(), iniText + "\n")
        << QList<double> { 1.0 }
        << QStringList { head,
               "The product ini's Ed25519 signature does not verify with a trusted key; "
               "refusing it",
               retry }
            + all;
}

void TestIniDownloadTaskSpecification::localCopies()
{
    QFETCH(QByteArray, localIni);
    QFETCH(bool, localSig);
    QFETCH(QByteArray, localSig2);
    QFETCH(QList<double>, shares);
    QFETCH(QStringList, log);

    const QString localPath = session->path() + QLatin1Char('/') + iniName;
    if (!localIni.isNull())
        QVERIFY(TestFiles::write(localPath, localIni));
    if (localSig)
        QVERIFY(TestFiles::write(localPath + QStringLiteral(".sig"), signature));
    if (!localSig2.isNull())
        QVERIFY(TestFiles::write(localPath + QStringLiteral(".sig2"), localSig2));

    IniDownloadTaskSpecification task(&net->manager, &net->mirrors, &configuration, nullptr, 0.1);
    QSignalSpy finished(&task, &TaskSpecification::finished);
    QSignalSpy canceled(&task, &TaskSpecification::canceled);
    QSignalSpy messages(&task, &TaskSpecification::message);
    task.execute();
    QCOMPARE(task.subTasks.size(), shares.size());
    // No file may run to the general limit of a download of unknown size.
    for (TaskSpecification* sub : std::as_const(task.subTasks)) {
        if (auto* download = qobject_cast<DownloadTaskSpecification*>(sub))
            QCOMPARE(download->unknownSizeLimit,
                download->remotePath.endsWith(QStringLiteral(".sig2"))
                    ? Ed25519SignatureFile::maxSize
                    : download->remotePath.endsWith(QStringLiteral(".sig"))
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
    QCOMPARE(TestFiles::read(localPath + QStringLiteral(".sig2")), signature2);
    QVERIFY(configuration.iniEd25519Signed);
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
    QTest::addColumn<QString>("failure"); // the error the task ends with

    QTest::newRow("signature of other content")
        << QByteArray() << TestHttpServer::WrongBytes << "Signature check failed for %1/" + iniName
        << QStringLiteral("The product ini's signature does not verify; refusing it");
    const QString replayed
        = "The product ini is for client_test version 4, not client_test version 5; refusing it";
    QTest::newRow("replayed older version")
        << QByteArray(iniText).replace("version=5", "version=4") << TestHttpServer::Serve
        << replayed << replayed;
    const QString otherType
        = "The product ini is for client_other version 5, not client_test version 5; refusing it";
    QTest::newRow("other client type")
        << QByteArray(iniText).replace("type=client_test", "type=client_other")
        << TestHttpServer::Serve << otherType << otherType;
}

void TestIniDownloadTaskSpecification::failedCheckCostsItsMirrors()
{
    QFETCH(QByteArray, served);
    QFETCH(TestHttpServer::Fault, sigFault);
    QFETCH(QString, reason);
    QFETCH(QString, failure);

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
    QSignalSpy errors(&task, &TaskSpecification::error);
    task.execute();
    QVERIFY(canceled.wait());

    QCOMPARE(task.state, qint32(TaskSpecification::TaskErrorCanceled));
    QVERIFY(net->mirrors.mirrorList.isEmpty());
    // The run fails with the reason, not only with a log line.
    QCOMPARE(TestSpies::texts(errors),
        QStringList { QStringLiteral("Could not verify the product ini file on any mirror: ")
            + failure });
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
    QTest::addColumn<TestHttpServer::Fault>("sig2Fault");
    QTest::addColumn<bool>("badFirst"); // the first choice falls on the bad mirror

    const struct
    {
        const char* name;
        TestHttpServer::Fault ini;
        TestHttpServer::Fault sig;
        TestHttpServer::Fault sig2 = TestHttpServer::Serve;
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
        { "Ed25519 signature altered", TestHttpServer::Serve, TestHttpServer::Serve,
            TestHttpServer::WrongBytes },
        { "Ed25519 signature cut off", TestHttpServer::Serve, TestHttpServer::Serve,
            TestHttpServer::ResetMidBody },
        { "Ed25519 signature refused", TestHttpServer::Serve, TestHttpServer::Serve,
            TestHttpServer::InternalError },
    };
    for (const auto& fault : faults) {
        for (bool badFirst : { true, false })
            QTest::addRow("%s, %s first", fault.name, badFirst ? "bad" : "good")
                << fault.ini << fault.sig << fault.sig2 << badFirst;
    }
}

void TestIniDownloadTaskSpecification::badMirrorLeavesTheGoodOne()
{
    QFETCH(TestHttpServer::Fault, iniFault);
    QFETCH(TestHttpServer::Fault, sigFault);
    QFETCH(TestHttpServer::Fault, sig2Fault);
    QFETCH(bool, badFirst);

    TestHttpServer* bad = net->startServer(served.path());
    QVERIFY(bad);
    bad->setFault(servedIni, iniFault);
    bad->setFault(servedSig, sigFault);
    bad->setFault(servedSig2, sig2Fault);
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
    QCOMPARE(TestFiles::read(localPath + QStringLiteral(".sig2")), signature2);
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

QByteArray TestIniDownloadTaskSpecification::linesBy(
    const QString& letters, const QByteArray& message) const
{
    QByteArray lines;
    for (const QChar letter : letters)
        lines += Ed25519SignatureFile::line(rotationKeys.at(letter.unicode() - 'A'), message);
    return lines;
}

QList<QByteArray> TestIniDownloadTaskSpecification::publicPems(const QString& letters) const
{
    QList<QByteArray> pems;
    for (const QChar letter : letters)
        pems.append(rotationKeys.at(letter.unicode() - 'A').publicPem());
    return pems;
}

void TestIniDownloadTaskSpecification::ed25519Signatures_data()
{
    QTest::addColumn<QByteArray>("sig2"); // null: not published (404)
    QTest::addColumn<bool>("recorded"); // the installation took an Ed25519-signed update
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("logged"); // the start of a line of the log

    const QString unverified = QStringLiteral(
        "The product ini's Ed25519 signature does not verify with a trusted key; refusing it");
    const QByteArray damaged = "ed25519 0123456789abcdef not*base64\n";
    const QByteArray padding(Ed25519SignatureFile::maxSize - signature2.size() - 1, '#');
    const QByteArray atCap = signature2 + padding + '\n';
    QCOMPARE(atCap.size(), Ed25519SignatureFile::maxSize);

    QTest::newRow("signed") << signature2 << false << true << QString();
    QTest::newRow("signed, after the switch") << signature2 << true << true << QString();
    QTest::newRow("over other bytes")
        << Ed25519SignatureFile::line(TestSigning::demoReleaseKey(), iniText + "x") << false
        << false << unverified;
    QTest::newRow("only an unknown key")
        << linesBy(QStringLiteral("A"), iniText) << false << false << unverified;
    QTest::newRow("an unknown key, then the trusted one")
        << linesBy(QStringLiteral("A"), iniText) + signature2 << true << true << QString();
    QTest::newRow("a valid line after a malformed one")
        << damaged + signature2 << false << true << QString();
    QTest::newRow("empty, after the switch") << QByteArray("") << true << false << unverified;
    QTest::newRow("not published, nothing recorded")
        << QByteArray() << false << true
        << QStringLiteral("file client_test.ini.sig2 is not published on mirror ");
    QTest::newRow("stripped after the switch")
        << QByteArray() << true << false
        << QStringLiteral("The product ini has no Ed25519 signature, which this installation "
                          "requires; refusing it");
    QTest::newRow("at the size limit") << atCap << false << true << QString();
    QTest::newRow("over the size limit")
        << atCap + '#' << false << false
        << QStringLiteral("file client_test.ini.sig2 is larger than expected on mirror ");
}

void TestIniDownloadTaskSpecification::ed25519Signatures()
{
    QFETCH(QByteArray, sig2);
    QFETCH(bool, recorded);
    QFETCH(bool, accepted);
    QFETCH(QString, logged);

    if (recorded) {
        InstalledRecord record;
        record.ed25519Signed = true;
        QVERIFY(record.save());
    }
    QTemporaryDir root;
    QVERIFY(TestFiles::write(root.path() + servedIni, iniText));
    QVERIFY(TestSigning::signFile(root.path() + servedIni));
    if (!sig2.isNull())
        QVERIFY(TestFiles::write(root.path() + servedSig2, sig2));
    server = net->startServer(root.path());
    QVERIFY(server);
    for (FTPSiteAccessData& mirror : net->mirrors.mirrorList)
        mirror.url = net->url(server);

    IniDownloadTaskSpecification task(&net->manager, &net->mirrors, &configuration, nullptr, 0.1);
    QSignalSpy finished(&task, &TaskSpecification::finished);
    QSignalSpy canceled(&task, &TaskSpecification::canceled);
    QSignalSpy messages(&task, &TaskSpecification::message);
    task.execute();
    QTRY_VERIFY(!finished.isEmpty() || !canceled.isEmpty());

    const QStringList log = TestSpies::texts(messages);
    const QString joined = log.join(QLatin1Char('\n'));
    QVERIFY2(finished.size() == int(accepted), qPrintable(joined));
    QCOMPARE(canceled.size(), int(!accepted));
    if (!logged.isEmpty()) {
        const bool found = std::any_of(
            log.cbegin(), log.cend(), [&](const QString& line) { return line.startsWith(logged); });
        QVERIFY2(found, qPrintable(joined));
    }
    if (accepted) {
        QCOMPARE(configuration.iniEd25519Signed, !sig2.isNull());
        QCOMPARE(net->mirrors.mirrorList.size(), 2);
    } else {
        // Both names of the one server served the refused set, so both are gone.
        QVERIFY(net->mirrors.mirrorList.isEmpty());
    }
    // The check never writes the record; only a committed update does.
    QCOMPARE(InstalledRecord::load().ed25519Signed, recorded);
}

void TestIniDownloadTaskSpecification::ed25519Error_data()
{
    QTest::addColumn<QByteArray>("sig2"); // null: no file
    QTest::addColumn<QString>("trusted"); // letters of rotationKeys
    QTest::addColumn<bool>("required");
    QTest::addColumn<int>("legacyMax");
    QTest::addColumn<QString>("error");

    const QString unverified = QStringLiteral(
        "The product ini's Ed25519 signature does not verify with a trusted key; refusing it");
    const QString absent = QStringLiteral(
        "The product ini has no Ed25519 signature, which this installation requires; refusing it");
    const QByteArray ab = linesBy(QStringLiteral("AB"), iniText);
    const QByteArray a = linesBy(QStringLiteral("A"), iniText);

    // A release signed by the active and the standby key passes updaters that trust either.
    QTest::newRow("A and B lines, trusting A and B") << ab << "AB" << false << 0 << QString();
    QTest::newRow("A and B lines, trusting B and C") << ab << "BC" << true << 0 << QString();
    QTest::newRow("A and B lines, trusting C only") << ab << "C" << false << 0 << unverified;
    QTest::newRow("C line, trusting A and B")
        << linesBy(QStringLiteral("C"), iniText) << "AB" << false << 0 << unverified;
    QTest::newRow("A line, nothing trusted") << a << "" << false << 0 << unverified;
    QTest::newRow("lines ending in CRLF")
        << QByteArray(ab).replace("\n", "\r\n") << "B" << false << 0 << QString();
    QTest::newRow("over one byte more")
        << linesBy(QStringLiteral("A"), iniText + "\n") << "A" << false << 0 << unverified;
    QTest::newRow("signature cut short") << a.left(a.lastIndexOf(' ') + 1)
            + rotationKeys.at(0).sign(iniText).left(63).toBase64()
            + '\n' << "A" << false << 0 << unverified;
    QTest::newRow("another algorithm's name")
        << QByteArray(a).replace("ed25519 ", "ed448 ") << "A" << false << 0 << unverified;
    QTest::newRow("a signed ini past the legacy limit") << a << "A" << false << 4 << QString();
    QTest::newRow("no file, nothing recorded") << QByteArray() << "A" << false << 0 << QString();
    QTest::newRow("no file, recorded") << QByteArray() << "A" << true << 0 << absent;
    QTest::newRow("no file, at the legacy limit") << QByteArray() << "A" << false << 5 << QString();
    QTest::newRow("no file, past the legacy limit")
        << QByteArray() << "A" << false << 4
        << QStringLiteral("The product ini has no Ed25519 signature, which every version after "
                          "4 carries; refusing it");
}

void TestIniDownloadTaskSpecification::ed25519Error()
{
    QFETCH(QByteArray, sig2);
    QFETCH(QString, trusted);
    QFETCH(bool, required);
    QFETCH(int, legacyMax);
    QFETCH(QString, error);

    const QString path = session->path() + QLatin1Char('/') + iniName;
    QVERIFY(TestFiles::write(path, iniText));
    if (!sig2.isNull())
        QVERIFY(TestFiles::write(path + QStringLiteral(".sig2"), sig2));
    QCOMPARE(IniDownloadTaskSpecification::ed25519Error(path, path + QStringLiteral(".sig2"), 5,
                 TrustedKeys(publicPems(trusted)), required, legacyMax),
        error);
}

QTEST_GUILESS_MAIN(TestIniDownloadTaskSpecification)
#include "tst_inidownloadtaskspecification.moc"
