#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "crypt.h"
#include "downloadfilelisttaskspecification.h"
#include "downloadfiletaskspecification.h"
#include "downloadtaskspecification.h"
#include "testdelta.h"
#include "testfiles.h"
#include "testhttpserver.h"
#include "testmirrorlist.h"
#include "testsigning.h"
#include "testspies.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRunnable>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <memory>

namespace {
QByteArray contentFor(int index)
{
    return TestFiles::noise(20000 + index * 3001, quint32(index));
}

// Two 128-byte messages with one MD5 (Wang and Yu's collision): a mirror can serve either as
// the other, and only a second digest tells them apart.
QByteArray published()
{
    return QByteArray::fromHex("d131dd02c5e6eec4693d9a0698aff95c2fcab58712467eab4004583eb8fb7f89"
                               "55ad340609f4b30283e488832571415a085125e8f7cdc99fd91dbdf280373c5b"
                               "d8823e3156348f5bae6dacd436c919c6dd53e2b487da03fd02396306d248cda0"
                               "e99f33420f577ee8ce54b67080a80d1ec69821bcb6a8839396f9652b6ff72a70");
}

QByteArray md5Twin()
{
    QByteArray twin = published();
    for (const int at : { 19, 45, 59, 83, 109, 123 })
        twin[at] = char(twin.at(at) ^ 0x80);
    return twin;
}

QString hexDigest(const QByteArray& data, QCryptographicHash::Algorithm algorithm)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, algorithm).toHex());
}
} // namespace

class TestDownloadFileListTaskSpecification : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void streamsStartInListOrder();
    void badFileCostsItsMirror();
    void partialFileLeftBehind_data();
    void partialFileLeftBehind();
    void md5TwinCostsItsMirror_data();
    void md5TwinCostsItsMirror();
    void signedFileBringsItsSignature_data();
    void signedFileBringsItsSignature();
    void emptyListNeedsNoDownloads();
    void uncreatableDirectoryCancels();
    void userCancelDeletesPartialFiles();
    void totalIsTheListedSize();
    void deltaOrWholeFile_data();
    void deltaOrWholeFile();
    void stoppedTaskDoesNotRetryFailedCheck_data();
    void stoppedTaskDoesNotRetryFailedCheck();

private:
    void addMirrors(const QString& prefix, TestHttpServer* server, int count);
    DownloadFileListTaskSpecification* makeListTask(int files);

    QTemporaryDir served;
    QList<FileDownloadSpecification> plan;
    QList<FileDownloadSpecification> downloadList;
    std::unique_ptr<QTemporaryDir> session;
    TestHttpServer* server = nullptr;
    TestHttpServer* badServer = nullptr;
    std::unique_ptr<TestMirrorList> net;
    std::unique_ptr<DownloadFileListTaskSpecification> task;
    Configuration configuration;
};

void TestDownloadFileListTaskSpecification::initTestCase()
{
    crypt_init();
    // Ten files: two in the same subdirectory, one nested deeper, the rest at the top.
    const QStringList names { "sub/f0.bin", "sub/f1.bin", "deep/er/f2.bin", "f3.bin", "f4.bin",
        "f5.bin", "f6.bin", "f7.bin", "f8.bin", "f9.bin" };
    for (int i = 0; i < names.size(); ++i) {
        const QByteArray data = contentFor(i);
        QVERIFY(TestFiles::write(served.path() + QStringLiteral("/9/bin/") + names.at(i), data));
        FileDownloadSpecification entry;
        entry.section = QStringLiteral("bin");
        entry.fileName = names.at(i);
        entry.md5
            = QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
        entry.size = quint64(data.size());
        plan << entry;
    }
}

void TestDownloadFileListTaskSpecification::init()
{
    session = std::make_unique<QTemporaryDir>();
    configuration.tempDir = session->path();
    configuration.downloadStreams = 6;
    net = std::make_unique<TestMirrorList>(QStringLiteral("/9"));
    server = net->startServer(served.path());
    badServer = net->startServer(served.path());
    QVERIFY(server);
    QVERIFY(badServer);
}

void TestDownloadFileListTaskSpecification::cleanup()
{
    task.reset();
    net.reset();
    session.reset();
    QThreadPool::globalInstance()->waitForDone();
}

void TestDownloadFileListTaskSpecification::addMirrors(
    const QString& prefix, TestHttpServer* server, int count)
{
    for (int i = 0; i < count; ++i)
        net->add(prefix + QString::number(i), server);
}

DownloadFileListTaskSpecification* TestDownloadFileListTaskSpecification::makeListTask(int files)
{
    downloadList = plan.mid(0, files);
    task = std::make_unique<DownloadFileListTaskSpecification>(
        &downloadList, &net->manager, &net->mirrors, &configuration, nullptr, 0.4);
    return task.get();
}

void TestDownloadFileListTaskSpecification::streamsStartInListOrder()
{
    addMirrors(QStringLiteral("m"), server, 8);
    DownloadFileListTaskSpecification* list = makeListTask(10);
    QSignalSpy finished(list, &TaskSpecification::finished);
    QStringList log;
    connect(list, &TaskSpecification::message, this, [&](const QString& text) {
        if (text.startsWith(QStringLiteral("Downloading bin/")) && !text.endsWith("finished"))
            log << QStringLiteral("start ") + text.mid(16);
    });
    list->execute();
    for (TaskSpecification* sub : std::as_const(list->subTasks)) {
        auto* file = static_cast<DownloadFileTaskSpecification*>(sub);
        connect(file, &TaskSpecification::finished, this,
            [&log, file] { log << QStringLiteral("done ") + file->fileName; });
    }
    QVERIFY(finished.wait());

    QCOMPARE(log.size(), 20);
    QStringList starts;
    int running = 0;
    int firstDone = -1;
    for (int i = 0; i < log.size(); ++i) {
        if (log.at(i).startsWith(QStringLiteral("start "))) {
            starts << log.at(i).mid(6);
            QVERIFY2(++running <= 6, qPrintable(log.join(QLatin1Char(','))));
        } else {
            --running;
            if (firstDone < 0)
                firstDone = i;
        }
    }
    QStringList names;
    for (const FileDownloadSpecification& spec : std::as_const(plan))
        names << spec.fileName;
    QCOMPARE(starts, names);
    // Six at once, the seventh only after a file task (download and check) has finished.
    QCOMPARE(firstDone, 6);

    QCOMPARE(list->state, qint32(TaskSpecification::TaskFinished));
    QVERIFY(qFuzzyCompare(list->progress, 0.4));
    for (const FileDownloadSpecification& spec : std::as_const(plan))
        QCOMPARE(TestFiles::read(session->path() + QLatin1Char('/') + spec.fileName),
            TestFiles::read(served.path() + QStringLiteral("/9/bin/") + spec.fileName));
    for (const FTPSiteAccessData& mirror : std::as_const(net->mirrors.mirrorList))
        QCOMPARE(mirror.useCount, 0);
}

void TestDownloadFileListTaskSpecification::badFileCostsItsMirror()
{
    // Two streams over two mirrors: "bad" serves one of the first two files, whatever the
    // random choice, and every byte it sends is wrong.
    badServer->setFault(QStringLiteral("*"), TestHttpServer::WrongBytes);
    addMirrors(QStringLiteral("good"), server, 1);
    addMirrors(QStringLiteral("bad"), badServer, 1);
    configuration.downloadStreams = 2;
    DownloadFileListTaskSpecification* list = makeListTask(5);
    QSignalSpy finished(list, &TaskSpecification::finished);
    QSignalSpy messages(list, &TaskSpecification::message);
    list->execute();
    QVERIFY(finished.wait());

    // "bad" is free again once its file has arrived, so the other stream may take it for one
    // more file before the check of the first has failed; each bad file costs one retry.
    const int badRequests = badServer->totalRequestCount();
    QVERIFY2(badRequests == 1 || badRequests == 2, qPrintable(QString::number(badRequests)));
    QCOMPARE(server->totalRequestCount(), 5);
    QCOMPARE(net->mirrors.mirrorList.size(), 1);
    QCOMPARE(net->mirrors.mirrorList.at(0).name, QStringLiteral("good0"));
    QCOMPARE(net->mirrors.mirrorList.at(0).useCount, 0);
    QCOMPARE(TestSpies::texts(messages).filter(QStringLiteral("invalidating mirror")).size(),
        badRequests);
    for (const FileDownloadSpecification& spec : std::as_const(downloadList))
        QCOMPARE(TestFiles::read(session->path() + QLatin1Char('/') + spec.fileName),
            TestFiles::read(served.path() + QStringLiteral("/9/bin/") + spec.fileName));
}

void TestDownloadFileListTaskSpecification::partialFileLeftBehind_data()
{
    QTest::addColumn<bool>("rightPrefix");
    QTest::newRow("right prefix: only the rest is fetched") << true;
    QTest::newRow("wrong prefix: the check fails, fetched again whole") << false;
}

// As a killed run leaves it: the first bytes of a file in the session directory.
void TestDownloadFileListTaskSpecification::partialFileLeftBehind()
{
    QFETCH(bool, rightPrefix);
    addMirrors(QStringLiteral("m"), server, 2);
    DownloadFileListTaskSpecification* list = makeListTask(1);
    const QByteArray data = contentFor(0);
    QByteArray prefix = data.left(5000);
    if (!rightPrefix)
        prefix[100] = char(~prefix.at(100));
    const QString local = session->path() + QLatin1Char('/') + plan.at(0).fileName;
    QVERIFY(TestFiles::write(local, prefix));
    QSignalSpy finished(list, &TaskSpecification::finished);
    QSignalSpy messages(list, &TaskSpecification::message);
    list->execute();
    QVERIFY(finished.wait());

    QCOMPARE(TestFiles::read(local), data);
    const QList<QByteArray> fromPrefix { "bytes=5000-" };
    QCOMPARE(server->rangeLog(), rightPrefix ? fromPrefix : fromPrefix + QList<QByteArray> { "" });
    QCOMPARE(TestSpies::texts(messages).filter(QStringLiteral("invalidating mirror")).size(),
        rightPrefix ? 0 : 1);
    QCOMPARE(net->mirrors.mirrorList.size(), rightPrefix ? 2 : 1);
}

void TestDownloadFileListTaskSpecification::md5TwinCostsItsMirror_data()
{
    QTest::addColumn<bool>("honestMirror");
    QTest::newRow("twin first, then an honest mirror: the published file") << true;
    QTest::newRow("twin alone: nothing downloaded") << false;
}

void TestDownloadFileListTaskSpecification::md5TwinCostsItsMirror()
{
    QFETCH(bool, honestMirror);
    QCOMPARE(hexDigest(published(), QCryptographicHash::Md5),
        hexDigest(md5Twin(), QCryptographicHash::Md5));
    QTemporaryDir twinDir;
    QVERIFY(TestFiles::write(twinDir.filePath(QStringLiteral("9/bin/twin.bin")), md5Twin()));
    QVERIFY(TestFiles::write(served.filePath(QStringLiteral("9/bin/twin.bin")), published()));
    TestHttpServer* twinServer = net->startServer(twinDir.path());
    QVERIFY(twinServer);
    net->add(QStringLiteral("twin"), twinServer);
    if (honestMirror)
        net->add(QStringLiteral("honest"), server);
    net->seedFirstChoice(0);

    FileDownloadSpecification file;
    file.section = QStringLiteral("bin");
    file.fileName = QStringLiteral("twin.bin");
    file.md5 = hexDigest(published(), QCryptographicHash::Md5);
    file.size = quint64(published().size());
    file.sha256 = hexDigest(published(), QCryptographicHash::Sha256);
    downloadList = { file };
    task = std::make_unique<DownloadFileListTaskSpecification>(
        &downloadList, &net->manager, &net->mirrors, &configuration, nullptr, 0.4);
    QSignalSpy finished(task.get(), &TaskSpecification::finished);
    QSignalSpy canceled(task.get(), &TaskSpecification::canceled);
    QSignalSpy messages(task.get(), &TaskSpecification::message);
    QSignalSpy errors(task.get(), &TaskSpecification::error);
    task->execute();
    QTRY_VERIFY(!finished.isEmpty() || !canceled.isEmpty());

    QCOMPARE(twinServer->totalRequestCount(), 1);
    // Every mirror answered: the reason is the file, not a lack of working mirrors.
    QCOMPARE(TestSpies::texts(errors),
        honestMirror ? QStringList()
                     : QStringList { "twin.bin is damaged on the mirrors: it failed its check on "
                                     "twin, and no other mirror is left" });
    QVERIFY(TestSpies::texts(messages).filter(QStringLiteral("working mirrors")).isEmpty());
    QVERIFY(TestSpies::texts(messages).contains(
        QStringLiteral("md5 sum for twin.bin failed, invalidating mirror and retrying")));
    QCOMPARE(net->mirrors.getMirrorIndex(QStringLiteral("twin")), -1);
    const QString local = session->filePath(QStringLiteral("twin.bin"));
    if (honestMirror) {
        QCOMPARE(finished.size(), 1);
        QCOMPARE(TestFiles::read(local), published());
    } else {
        QCOMPARE(canceled.size(), 1);
        QVERIFY(!QFile::exists(local) || TestFiles::read(local) != published());
    }
}

// A file listed without an MD5 is checked against its ".sig", which nothing else may fetch in
// time: the file's own download brings it, and a mirror without it is dropped like any mirror
// that answers 404.
void TestDownloadFileListTaskSpecification::signedFileBringsItsSignature_data()
{
    QTest::addColumn<bool>("badMirrorLacksSignature");
    QTest::addColumn<bool>("signatureListed"); // as a file of its own, checked by MD5
    QTest::addColumn<TestHttpServer::Fault>("badFileFault");

    QTest::newRow("signature on every mirror") << false << false << TestHttpServer::Serve;
    QTest::newRow("one mirror lacks the signature") << true << false << TestHttpServer::Serve;
    QTest::newRow("signature also listed") << false << true << TestHttpServer::Serve;
    // The signature then comes from the good mirror: the failed check cannot tell which half
    // was bad and must not cost the good mirror.
    QTest::newRow("one mirror alters the file, lacks the signature")
        << true << false << TestHttpServer::WrongBytes;
}

void TestDownloadFileListTaskSpecification::signedFileBringsItsSignature()
{
    QFETCH(bool, badMirrorLacksSignature);
    QFETCH(bool, signatureListed);
    QFETCH(TestHttpServer::Fault, badFileFault);
    const QString served9 = served.path() + QStringLiteral("/9/bin/");
    QVERIFY(TestFiles::write(served9 + QStringLiteral("signed.bin"), contentFor(42)));
    QVERIFY(TestSigning::signFile(served9 + QStringLiteral("signed.bin")));
    if (badMirrorLacksSignature)
        badServer->setFault(QStringLiteral("/9/bin/signed.bin.sig"), TestHttpServer::NotFound);
    badServer->setFault(QStringLiteral("/9/bin/signed.bin"), badFileFault);
    addMirrors(QStringLiteral("good"), server, 1);
    addMirrors(QStringLiteral("bad"), badServer, 1);
    net->seedFirstChoice(1);
    FileDownloadSpecification signedFile;
    signedFile.section = QStringLiteral("bin");
    signedFile.fileName = QStringLiteral("signed.bin");
    signedFile.size = quint64(contentFor(42).size());
    downloadList = { signedFile };
    if (signatureListed) {
        const QByteArray signature = TestFiles::read(served9 + QStringLiteral("signed.bin.sig"));
        FileDownloadSpecification sigFile;
        sigFile.section = QStringLiteral("bin");
        sigFile.fileName = QStringLiteral("signed.bin.sig");
        sigFile.md5 = QString::fromLatin1(
            QCryptographicHash::hash(signature, QCryptographicHash::Md5).toHex());
        sigFile.size = quint64(signature.size());
        downloadList << sigFile;
    }
    task = std::make_unique<DownloadFileListTaskSpecification>(
        &downloadList, &net->manager, &net->mirrors, &configuration, nullptr, 0.4);
    QSignalSpy finished(task.get(), &TaskSpecification::finished);

    task->execute();
    // Both tasks run at once: the file's own copy of the signature must go elsewhere.
    QCOMPARE(static_cast<DownloadFileTaskSpecification*>(task->subTasks.at(0))->signatureName,
        signatureListed ? QStringLiteral("signed.bin.sig.check1")
                        : QStringLiteral("signed.bin.sig"));

    QVERIFY(finished.wait());
    QVERIFY(!QFile::exists(session->path() + QStringLiteral("/signed.bin.sig.check1")));
    // The mirrors are chosen at random: the one without the signature is gone if it was asked.
    const bool badAsked = badServer->requestCount(QStringLiteral("/9/bin/signed.bin.sig")) > 0;
    QCOMPARE(net->mirrors.mirrorList.size(), badMirrorLacksSignature && badAsked ? 1 : 2);
    for (const QString& name : { QStringLiteral("signed.bin"), QStringLiteral("signed.bin.sig") })
        QCOMPARE(TestFiles::read(session->path() + QStringLiteral("/") + name),
            TestFiles::read(served9 + name));
}

void TestDownloadFileListTaskSpecification::emptyListNeedsNoDownloads()
{
    addMirrors(QStringLiteral("m"), server, 1);
    DownloadFileListTaskSpecification* list = makeListTask(0);
    QSignalSpy finished(list, &TaskSpecification::finished);
    QSignalSpy messages(list, &TaskSpecification::message);
    list->execute();
    QCOMPARE(finished.size(), 1);
    QCOMPARE(TestSpies::texts(messages), QStringList { "No downloads needed" });
    QCOMPARE(
        QDir(session->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    QCOMPARE(server->totalRequestCount(), 0);
}

void TestDownloadFileListTaskSpecification::uncreatableDirectoryCancels()
{
    addMirrors(QStringLiteral("m"), server, 1);
    QFile blocker(session->path() + QStringLiteral("/sub"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    DownloadFileListTaskSpecification* list = makeListTask(2);
    QSignalSpy canceled(list, &TaskSpecification::canceled);
    QSignalSpy messages(list, &TaskSpecification::message);
    list->execute();
    QCOMPARE(canceled.size(), 1);
    QCOMPARE(list->state, qint32(TaskSpecification::TaskErrorCanceled));
    QCOMPARE(TestSpies::texts(messages),
        QStringList { "Could not create dir " + QDir(session->path()).canonicalPath() + "/sub" });
    QCOMPARE(server->totalRequestCount(), 0);
}

void TestDownloadFileListTaskSpecification::userCancelDeletesPartialFiles()
{
    server->setFault(QStringLiteral("*"), TestHttpServer::StallMidBody);
    addMirrors(QStringLiteral("m"), server, 3);
    configuration.downloadStreams = 3;
    DownloadFileListTaskSpecification* list = makeListTask(5);
    QSignalSpy canceled(list, &TaskSpecification::canceled);
    list->execute();
    const auto transferring = [list] {
        int count = 0;
        for (TaskSpecification* sub : std::as_const(list->subTasks)) {
            auto* file = static_cast<DownloadFileTaskSpecification*>(sub);
            if (file->downloadTask && file->downloadTask->bytesWritten > 0)
                ++count;
        }
        return count;
    };
    QTRY_COMPARE(transferring(), 3);

    list->userCanceled();
    QTRY_COMPARE(canceled.size(), 1);
    // Which of the two cancelled states the list ends in is the composed task's affair: the
    // first file to stop tells its siblings before the user's request reaches them.
    QVERIFY(list->state == TaskSpecification::TaskUserCanceled
        || list->state == TaskSpecification::TaskErrorCanceled);
    for (const FileDownloadSpecification& spec : std::as_const(downloadList))
        QVERIFY2(!QFile::exists(session->path() + QLatin1Char('/') + spec.fileName),
            qPrintable(spec.fileName));
    for (const FTPSiteAccessData& mirror : std::as_const(net->mirrors.mirrorList)) {
        QCOMPARE(mirror.useCount, 0);
        QCOMPARE(mirror.errorCount, 0);
    }
    QCOMPARE(server->totalRequestCount(), 3);
}

void TestDownloadFileListTaskSpecification::totalIsTheListedSize()
{
    server->setFault(QStringLiteral("*"), TestHttpServer::StallMidBody);
    addMirrors(QStringLiteral("m"), server, 1);
    configuration.downloadStreams = 1;
    DownloadFileListTaskSpecification* list = makeListTask(4);
    list->execute();
    QTRY_VERIFY(static_cast<DownloadFileTaskSpecification*>(list->subTasks.at(0))->downloadTask
        && static_cast<DownloadFileTaskSpecification*>(list->subTasks.at(0))
                ->downloadTask->bytesWritten
            > 0);
    quint64 done = 0, total = 0, since = 0;
    bool downloading = false;
    list->timeTick(done, total, since, downloading);
    quint64 listed = 0;
    for (const FileDownloadSpecification& spec : std::as_const(downloadList))
        listed += spec.size;
    QCOMPARE(total, listed);
    QCOMPARE(done, quint64(plan.at(0).size / 2));
    QCOMPARE(since, done);
    QVERIFY(downloading);
    list->userCanceled();
}

namespace {
enum DeltaCase { DeltaUsed, DeltaNotPublished, BaseChanged, DeltaDamaged, WrongResult };
}

void TestDownloadFileListTaskSpecification::deltaOrWholeFile_data()
{
    QTest::addColumn<int>("deltaCase");
    QTest::newRow("base matches: the delta alone") << int(DeltaUsed);
    QTest::newRow("delta not on the mirror") << int(DeltaNotPublished);
    QTest::newRow("installed file changed since the plan") << int(BaseChanged);
    QTest::newRow("mirror alters the delta's bytes") << int(DeltaDamaged);
    QTest::newRow("delta makes another file") << int(WrongResult);
}

// Whatever becomes of the delta, the file ends up as published and no mirror pays for it; the
// figures count the delta's bytes and, after a fallback, the file's.
void TestDownloadFileListTaskSpecification::deltaOrWholeFile()
{
    QFETCH(int, deltaCase);
    const QByteArray base = TestFiles::noise(200000, 41);
    QByteArray target = base;
    for (int i = 0; i < target.size(); i += 100)
        target[i] = char(~target.at(i));
    QByteArray other = target;
    other[7] = char(~other.at(7));
    const QByteArray delta = TestDelta::make(base, deltaCase == WrongResult ? other : target);
    QVERIFY(!delta.isEmpty() && delta.size() < target.size() / 10);

    QTemporaryDir mirror;
    QVERIFY(TestFiles::write(mirror.filePath(QStringLiteral("9/bin/d.bin")), target));
    if (deltaCase != DeltaNotPublished)
        QVERIFY(TestFiles::write(mirror.filePath(QStringLiteral("9/deltas/bin/d.bin.zst")), delta));
    TestHttpServer* deltaServer = net->startServer(mirror.path());
    QVERIFY(deltaServer);
    if (deltaCase == DeltaDamaged)
        deltaServer->setFault(QStringLiteral("/9/deltas/bin/d.bin.zst"), TestHttpServer::WrongBytes);
    addMirrors(QStringLiteral("m"), deltaServer, 2);
    QTemporaryDir installation;
    const QString installed = installation.filePath(QStringLiteral("d.bin"));
    QVERIFY(TestFiles::write(installed, base));

    FileDownloadSpecification file;
    file.section = QStringLiteral("bin");
    file.fileName = QStringLiteral("d.bin");
    file.md5 = hexDigest(target, QCryptographicHash::Md5);
    file.size = quint64(target.size());
    file.sha256 = hexDigest(target, QCryptographicHash::Sha256);
    file.deltaRemotePath = QStringLiteral("deltas/bin/d.bin.zst");
    file.deltaSize = quint64(delta.size());
    file.deltaSha256 = hexDigest(delta, QCryptographicHash::Sha256);
    file.deltaBaseSha256 = hexDigest(base, QCryptographicHash::Sha256);
    file.deltaBasePath = installed;
    if (deltaCase == BaseChanged)
        QVERIFY(TestFiles::write(installed, QByteArray(base).replace(5000, 3, "new")));
    downloadList = { file };
    task = std::make_unique<DownloadFileListTaskSpecification>(
        &downloadList, &net->manager, &net->mirrors, &configuration, nullptr, 0.4);
    QSignalSpy finished(task.get(), &TaskSpecification::finished);
    QSignalSpy messages(task.get(), &TaskSpecification::message);
    task->execute();
    QVERIFY(finished.wait());

    QCOMPARE(TestFiles::read(session->path() + QStringLiteral("/d.bin")), target);
    QCOMPARE(QDir(session->path()).entryList(QDir::Files), QStringList { "d.bin" });
    const QStringList log = TestSpies::texts(messages);
    QCOMPARE(log.filter(QStringLiteral("d.bin arrived as a delta (%1 of %2 bytes)")
                            .arg(delta.size())
                            .arg(target.size()))
                 .size(),
        deltaCase == DeltaUsed ? 1 : 0);
    QCOMPARE(log.filter(QStringLiteral("The delta for d.bin could not be used")).size(),
        deltaCase == DeltaUsed ? 0 : 1);
    QCOMPARE(deltaServer->requestCount(QStringLiteral("/9/bin/d.bin")), deltaCase == DeltaUsed ? 0 : 1);
    QCOMPARE(net->mirrors.mirrorList.size(), 2);
    for (const FTPSiteAccessData& mirror : std::as_const(net->mirrors.mirrorList))
        QCOMPARE(mirror.errorCount, 0);
    quint64 done = 0, total = 0, since = 0;
    bool downloading = false;
    task->timeTick(done, total, since, downloading);
    const quint64 deltaBytes = deltaCase == DeltaNotPublished ? 0 : quint64(delta.size());
    QCOMPARE(total, deltaCase == DeltaUsed ? deltaBytes : deltaBytes + quint64(target.size()));
    QCOMPARE(done, total);
}

void TestDownloadFileListTaskSpecification::stoppedTaskDoesNotRetryFailedCheck_data()
{
    QTest::addColumn<bool>("byUser");
    QTest::newRow("user cancel") << true;
    QTest::newRow("sibling cancelled") << false;
}

void TestDownloadFileListTaskSpecification::stoppedTaskDoesNotRetryFailedCheck()
{
    QFETCH(bool, byUser);
    server->setFault(QStringLiteral("*"), TestHttpServer::WrongBytes);
    addMirrors(QStringLiteral("m"), server, 2);

    // Hold the thread pool so that the check stays pending while the stop arrives.
    struct Blocker : QRunnable
    {
        QSemaphore* gate;
        void run() override { gate->acquire(); }
    };
    QThreadPool* pool = QThreadPool::globalInstance();
    const int threads = pool->maxThreadCount();
    QSemaphore gate;
    auto* blocker = new Blocker;
    blocker->gate = &gate;
    pool->setMaxThreadCount(1);
    pool->start(blocker);

    DownloadFileTaskSpecification file(
        plan.at(3), &net->manager, &net->mirrors, &configuration, nullptr, 1.0);
    QSignalSpy canceled(&file, &TaskSpecification::canceled);
    QSignalSpy finished(&file, &TaskSpecification::finished);
    file.execute();
    QTRY_VERIFY(file.runningTasks.size() == 1
        && qobject_cast<CheckSignatureTaskSpecification*>(file.runningTasks.at(0)));
    if (byUser)
        file.userCanceled();
    else
        file.onOtherTaskCancelled(nullptr);
    gate.release();

    QVERIFY(canceled.wait());
    pool->waitForDone();
    pool->setMaxThreadCount(threads);
    QCoreApplication::processEvents();
    QCOMPARE(finished.size(), 0);
    QCOMPARE(canceled.size(), 1);
    QCOMPARE(file.state,
        byUser ? qint32(TaskSpecification::TaskUserCanceled)
               : qint32(TaskSpecification::TaskErrorCanceled));
    QCOMPARE(server->totalRequestCount(), 1);
    QCOMPARE(net->mirrors.mirrorList.size(), 1);
}

QTEST_GUILESS_MAIN(TestDownloadFileListTaskSpecification)
#include "tst_downloadfilelisttaskspecification.moc"
