#include "downloadtaskspecification.h"
#include "testfiles.h"
#include "testhttpserver.h"
#include "testmirrorlist.h"
#include "testspies.h"

#include <QFile>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

namespace {
const QString remotePath = QStringLiteral("files/a.bin");
const QString servedPath = QStringLiteral("/3012/files/a.bin");

QByteArray fileContent()
{
    return TestFiles::noise(300 * 1024);
}
} // namespace

class TestDownloadTaskSpecification : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void failingMirrorGivesWayToAnother_data();
    void failingMirrorGivesWayToAnother();
    void stallTimesOutAfterSixteenTicks();
    void headersLateCostTheMirror_data();
    void headersLateCostTheMirror();
    void waitsForBusyMirror();
    void endedWhileWaitingNeverStarts_data();
    void endedWhileWaitingNeverStarts();
    void progress_data();
    void progress();
    void cancelWhileTransferring_data();
    void cancelWhileTransferring();
    void noMirrorLeftCancels_data();
    void noMirrorLeftCancels();
    void storedAsPublished_data();
    void storedAsPublished();
    void slowMirrorFailsTheAttempt_data();
    void slowMirrorFailsTheAttempt();
    void uncreatableLocalFileCancels();
    void optionalFile_data();
    void optionalFile();
    void continuesWhereItStopped_data();
    void continuesWhereItStopped();

private:
    DownloadTaskSpecification* makeTask(qint64 expectedSize);
    // Starts the task on the named mirror by making the others look busy for the first choice.
    void startOn(DownloadTaskSpecification* task, const QString& name);
    // Any completed request of the shared manager wakes the tasks waiting for a mirror.
    void completeUnrelatedRequest();

    QByteArray content;
    QTemporaryDir served;
    std::unique_ptr<QTemporaryDir> local;
    TestHttpServer* bad = nullptr;
    TestHttpServer* good = nullptr;
    std::unique_ptr<TestMirrorList> net;
    QString localPath;
};

void TestDownloadTaskSpecification::initTestCase()
{
    content = fileContent();
    QVERIFY(TestFiles::write(served.path() + servedPath, content));
}

void TestDownloadTaskSpecification::init()
{
    local = std::make_unique<QTemporaryDir>();
    localPath = local->path() + QStringLiteral("/a.bin");
    net = std::make_unique<TestMirrorList>(QStringLiteral("/3012"));
    bad = net->startServer(served.path());
    good = net->startServer(served.path());
    QVERIFY(bad);
    QVERIFY(good);
    net->add(QStringLiteral("bad"), bad);
    net->add(QStringLiteral("good"), good);
}

void TestDownloadTaskSpecification::cleanup()
{
    net.reset();
    local.reset();
}

DownloadTaskSpecification* TestDownloadTaskSpecification::makeTask(qint64 expectedSize)
{
    return new DownloadTaskSpecification(
        &net->manager, &net->mirrors, remotePath, localPath, expectedSize, nullptr, 1.0);
}

void TestDownloadTaskSpecification::startOn(DownloadTaskSpecification* task, const QString& name)
{
    QList<int> busy;
    for (int i = 0; i < net->mirrors.mirrorList.size(); ++i) {
        if (net->mirrors.mirrorList.at(i).name != name) {
            ++net->mirrors.mirrorList[i].useCount;
            busy << i;
        }
    }
    task->execute();
    QCOMPARE(task->currentMirror.name, name);
    for (int i : busy)
        --net->mirrors.mirrorList[i].useCount;
}

void TestDownloadTaskSpecification::completeUnrelatedRequest()
{
    QNetworkReply* reply
        = net->manager.get(QNetworkRequest(QUrl(good->url() + QStringLiteral("/unrelated"))));
    QSignalSpy done(reply, &QNetworkReply::finished);
    QVERIFY(done.wait());
    reply->deleteLater();
}

void TestDownloadTaskSpecification::failingMirrorGivesWayToAnother_data()
{
    QTest::addColumn<TestHttpServer::Fault>("fault");
    QTest::addColumn<qint64>("expectedSize");
    QTest::addColumn<bool>("counted"); // an error counted, not a silent removal
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("badCopy"); // what the bad mirror holds; null: the real file

    const qint64 size = fileContent().size();
    const QString url = QStringLiteral("http://127.0.0.1:%1/3012/") + remotePath;
    const QString larger = "file " + remotePath + " is larger than expected on mirror bad";
    QTest::newRow("404") << TestHttpServer::NotFound << qint64(-1) << false << url + " returned 404"
                         << QByteArray();
    QTest::newRow("301 is not followed") << TestHttpServer::MovedPermanently << size << false
                                         << url + " returned 301" << QByteArray();
    QTest::newRow("401") << TestHttpServer::Unauthorized << size << false << QString()
                         << QByteArray();
    QTest::newRow("500") << TestHttpServer::InternalError << size << false << url + " returned 500"
                         << QByteArray();
    QTest::newRow("reset mid-body")
        << TestHttpServer::ResetMidBody << size << true << QString() << QByteArray();
    QTest::newRow("body shorter than its length")
        << TestHttpServer::ShortBody << qint64(-1) << true << QString() << QByteArray();
    QTest::newRow("body shorter than listed, no length")
        << TestHttpServer::NoContentLength << size << true
        << "file " + remotePath + " is smaller than expected on mirror bad"
        << fileContent().left(int(size / 2));
    QTest::newRow("endless body, listed size")
        << TestHttpServer::EndlessBody << size << true << larger << QByteArray();
    QTest::newRow("endless body, unknown size")
        << TestHttpServer::EndlessBody << qint64(-1) << true << larger << QByteArray();
    QTest::newRow("endless body, listed size 0")
        << TestHttpServer::EndlessBody << qint64(0) << true << larger << QByteArray();
    QTest::newRow("oversized headers")
        << TestHttpServer::OversizedHeaders << size << false
        << "file " + remotePath + " came with 65579 bytes of headers from mirror bad"
        << QByteArray();
    QTest::newRow("larger file, listed size")
        << TestHttpServer::Serve << size << true << larger << fileContent() + "extra";
}

void TestDownloadTaskSpecification::failingMirrorGivesWayToAnother()
{
    QFETCH(TestHttpServer::Fault, fault);
    QFETCH(qint64, expectedSize);
    QFETCH(bool, counted);
    QFETCH(QString, message);
    QFETCH(QByteArray, badCopy);

    QTemporaryDir badRoot;
    if (!badCopy.isNull()) {
        QVERIFY(TestFiles::write(badRoot.path() + servedPath, badCopy));
        bad = net->startServer(badRoot.path());
        QVERIFY(bad);
        net->mirrors.mirrorList[0].url = net->url(bad);
    }
    bad->setFault(servedPath, fault);
    // Tolerating no error, "bad" leaves the list on its first failure either way, so the retry
    // goes to "good".
    net->mirrors.mirrorList[0].retries = 0;
    QSignalSpy mirrorMessages(&net->mirrors, &Mirrors::message);

    std::unique_ptr<DownloadTaskSpecification> task(makeTask(expectedSize));
    QSignalSpy finished(task.get(), &TaskSpecification::finished);
    QSignalSpy messages(task.get(), &TaskSpecification::message);
    QSignalSpy errors(task.get(), &TaskSpecification::error);
    qint64 mostWritten = 0;
    connect(task.get(), &TaskSpecification::updateProgress, this,
        [&] { mostWritten = qMax(mostWritten, task->bytesWritten); });

    startOn(task.get(), QStringLiteral("bad"));
    QVERIFY(finished.wait(20000));

    QFile file(localPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll() == content);
    QCOMPARE(task->state, qint32(TaskSpecification::TaskFinished));
    QCOMPARE(task->currentMirror.name, QStringLiteral("good"));
    QCOMPARE(errors.size(), 0);
    QCOMPARE(good->requestCount(servedPath), 1);

    const qint64 limit
        = expectedSize > 0 ? expectedSize : DownloadTaskSpecification::maxUnknownSize;
    QVERIFY2(mostWritten <= limit, qPrintable(QString::number(mostWritten)));

    const QStringList log = TestSpies::texts(messages);
    QCOMPARE(log.first(), "Downloading " + remotePath);
    QCOMPARE(log.last(), "Downloading " + remotePath + " finished");
    QVERIFY2(log.size() == 3, qPrintable(log.join(QStringLiteral(" | "))));
    if (!message.isEmpty())
        QCOMPARE(
            log.at(1), message.contains(QStringLiteral("%1")) ? message.arg(bad->port()) : message);

    QCOMPARE(net->mirrors.mirrorList.size(), 1);
    QCOMPARE(net->mirrors.mirrorList.at(0).name, QStringLiteral("good"));
    QCOMPARE(net->mirrors.mirrorList.at(0).useCount, 0);
    QCOMPARE(TestSpies::texts(mirrorMessages),
        counted ? QStringList { "Mirror bad failed too many times, removing" } : QStringList());
}

void TestDownloadTaskSpecification::stallTimesOutAfterSixteenTicks()
{
    bad->setFault(servedPath, TestHttpServer::StallAfterHeaders);
    std::unique_ptr<DownloadTaskSpecification> task(makeTask(content.size()));
    QSignalSpy finished(task.get(), &TaskSpecification::finished);
    QSignalSpy messages(task.get(), &TaskSpecification::message);
    QSignalSpy mirrorMessages(&net->mirrors, &Mirrors::message);

    // "good" stays busy until "bad" is gone, so every attempt before goes to "bad".
    net->mirrors.mirrorList[1].useCount = 1;
    task->execute();
    for (int timeout = 1; timeout <= 3; ++timeout) {
        QTRY_COMPARE(bad->requestCount(servedPath), timeout);
        QCOMPARE(task->currentMirror.name, QStringLiteral("bad"));
        QTRY_VERIFY(task->reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid());
        quint64 done = 0, total = 0, since = 0;
        for (int tick = 1; tick <= 15; ++tick) {
            bool downloading = false;
            task->timeTick(done, total, since, downloading);
            QVERIFY(downloading);
        }
        QCOMPARE(total, quint64(content.size()));
        QCOMPARE(net->mirrors.mirrorList.at(0).errorCount, timeout - 1);
        bool downloading = false;
        task->timeTick(done, total, since, downloading);
        QVERIFY(!downloading);
        QCOMPARE(
            TestSpies::texts(messages).last(), "file " + remotePath + " timed out on mirror bad");
    }
    QCOMPARE(net->mirrors.mirrorList.size(), 1);
    QCOMPARE(TestSpies::texts(mirrorMessages),
        QStringList { "Mirror bad failed too many times, removing" });
    QVERIFY(!task->reply); // waiting for "good"

    net->mirrors.releaseMirror(QStringLiteral("good"));
    completeUnrelatedRequest();
    QVERIFY(finished.wait());
    QCOMPARE(task->currentMirror.name, QStringLiteral("good"));
    QCOMPARE(net->mirrors.mirrorList.at(0).useCount, 0);
}

void TestDownloadTaskSpecification::headersLateCostTheMirror_data()
{
    QTest::addColumn<TestHttpServer::Fault>("fault");
    QTest::addColumn<bool>("removed"); // at once, rather than charged one error
    QTest::addColumn<QString>("message");

    QTest::newRow("headers trickled")
        << TestHttpServer::TrickleHeaders << true
        << "file " + remotePath + " timed out waiting for the headers of mirror bad";
    QTest::newRow("headers complete, body silent")
        << TestHttpServer::StallAfterHeaders << false
        << "file " + remotePath + " timed out on mirror bad";
}

void TestDownloadTaskSpecification::headersLateCostTheMirror()
{
    QFETCH(TestHttpServer::Fault, fault);
    QFETCH(bool, removed);
    QFETCH(QString, message);
    // A line of headers every 100 ms: far from complete when the ticks run out.
    bad->setTrickle(1024, 100);
    bad->setFault(servedPath, fault, 1);
    std::unique_ptr<DownloadTaskSpecification> slow(makeTask(content.size()));
    std::unique_ptr<DownloadTaskSpecification> beside(makeTask(content.size()));
    beside->localFile.setFileName(localPath + QStringLiteral(".beside"));
    QSignalSpy slowFinished(slow.get(), &TaskSpecification::finished);
    QSignalSpy besideFinished(beside.get(), &TaskSpecification::finished);
    QSignalSpy messages(slow.get(), &TaskSpecification::message);
    QSignalSpy mirrorMessages(&net->mirrors, &Mirrors::message);
    startOn(slow.get(), QStringLiteral("bad"));
    beside->execute();
    QCOMPARE(beside->currentMirror.name, QStringLiteral("good"));
    QTRY_COMPARE(bad->requestCount(servedPath), 1);
    if (!removed)
        QTRY_VERIFY(slow->reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid());
    // The download beside it on the good mirror goes on at its own pace.
    QTRY_COMPARE(besideFinished.size(), 1);

    quint64 done = 0, total = 0, since = 0;
    for (int tick = 1; tick <= 15; ++tick) {
        bool downloading = false;
        slow->timeTick(done, total, since, downloading);
        QVERIFY(downloading);
    }
    QCOMPARE(slow->currentMirror.name, QStringLiteral("bad"));
    bool downloading = false;
    slow->timeTick(done, total, since, downloading);
    QCOMPARE(TestSpies::texts(messages).at(1), message);
    QVERIFY(slowFinished.wait());
    QVERIFY(TestFiles::read(localPath) == content);
    QVERIFY(TestFiles::read(localPath + QStringLiteral(".beside")) == content);
    QCOMPARE(net->mirrors.getMirrorIndex(QStringLiteral("bad")) < 0, removed);
    if (!removed)
        QCOMPARE(net->mirrors.mirrorList.at(0).errorCount, 1);
    QVERIFY(TestSpies::texts(mirrorMessages).isEmpty());
}

void TestDownloadTaskSpecification::waitsForBusyMirror()
{
    net->mirrors.mirrorList.removeFirst();
    good->setFault(servedPath, TestHttpServer::StallAfterHeaders, 1);
    std::unique_ptr<DownloadTaskSpecification> first(makeTask(content.size()));
    std::unique_ptr<DownloadTaskSpecification> second(makeTask(content.size()));
    second->localFile.setFileName(localPath + QStringLiteral(".2"));
    QSignalSpy secondFinished(second.get(), &TaskSpecification::finished);

    first->execute();
    second->execute();
    QVERIFY(first->reply);
    QVERIFY(!second->reply);

    // Another completion while the mirror is still busy: the second task waits again.
    completeUnrelatedRequest();
    QCoreApplication::processEvents();
    QVERIFY(!second->reply);
    QCOMPARE(second->state, qint32(TaskSpecification::TaskRunning));
    QCOMPARE(net->mirrors.mirrorList.at(0).useCount, 1);

    // Ending the first attempt frees the mirror and wakes the waiting task.
    first->userCanceled();
    QVERIFY(secondFinished.wait());
    QCOMPARE(good->requestCount(servedPath), 2);
    QCOMPARE(net->mirrors.mirrorList.at(0).useCount, 0);
    QFile file(localPath + QStringLiteral(".2"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll() == content);
}

void TestDownloadTaskSpecification::endedWhileWaitingNeverStarts_data()
{
    QTest::addColumn<bool>("byUser");
    QTest::newRow("user cancel") << true;
    QTest::newRow("other task cancelled") << false;
}

void TestDownloadTaskSpecification::endedWhileWaitingNeverStarts()
{
    QFETCH(bool, byUser);
    for (FTPSiteAccessData& mirror : net->mirrors.mirrorList)
        mirror.useCount = 1;
    std::unique_ptr<DownloadTaskSpecification> task(makeTask(content.size()));
    QSignalSpy canceled(task.get(), &TaskSpecification::canceled);
    task->execute();
    QVERIFY(!task->reply);

    if (byUser)
        task->userCanceled();
    else
        task->onOtherTaskCancelled(nullptr);
    QCOMPARE(canceled.size(), 1);
    const qint32 endState = task->state;
    QCOMPARE(endState,
        byUser ? qint32(TaskSpecification::TaskUserCanceled)
               : qint32(TaskSpecification::TaskErrorCanceled));

    for (FTPSiteAccessData& mirror : net->mirrors.mirrorList)
        mirror.useCount = 0;
    completeUnrelatedRequest();
    task->onOtherDownloadFinished(nullptr); // a notification queued before the end
    QCoreApplication::processEvents();
    QCOMPARE(task->state, endState);
    QVERIFY(!task->reply);
    QCOMPARE(bad->requestCount(servedPath) + good->requestCount(servedPath), 0);
    QCOMPARE(net->mirrors.mirrorList.at(0).useCount + net->mirrors.mirrorList.at(1).useCount, 0);
}

void TestDownloadTaskSpecification::progress_data()
{
    QTest::addColumn<TestHttpServer::Fault>("fault");
    QTest::newRow("with Content-Length") << TestHttpServer::Trickle;
    QTest::newRow("without Content-Length") << TestHttpServer::NoContentLength;
}

void TestDownloadTaskSpecification::progress()
{
    QFETCH(TestHttpServer::Fault, fault);
    net->mirrors.mirrorList.removeFirst();
    good->setTrickle(32 * 1024, 1);
    good->setFault(servedPath, fault);
    std::unique_ptr<DownloadTaskSpecification> task(makeTask(-1));
    QSignalSpy finished(task.get(), &TaskSpecification::finished);
    QList<double> progress;
    connect(task.get(), &TaskSpecification::updateProgress, this,
        [&](qreal value) { progress << value; });
    task->execute();
    QVERIFY(finished.wait());

    QCOMPARE(progress.last(), 1.0);
    progress.removeLast(); // the one of finish()
    if (fault == TestHttpServer::NoContentLength) {
        for (double value : progress)
            QCOMPARE(value, 0.0);
    } else {
        QCOMPARE(task->expectedSize, qint64(content.size()));
        QVERIFY2(progress.size() > 2, qPrintable(QString::number(progress.size())));
        QVERIFY(std::is_sorted(progress.begin(), progress.end()));
        QVERIFY(progress.at(progress.size() / 2) > 0.0);
        QCOMPARE(progress.last(), 1.0);
    }
}

void TestDownloadTaskSpecification::cancelWhileTransferring_data()
{
    QTest::addColumn<bool>("byUser");
    QTest::newRow("user cancel") << true;
    QTest::newRow("other task cancelled") << false;
}

void TestDownloadTaskSpecification::cancelWhileTransferring()
{
    QFETCH(bool, byUser);
    bad->setFault(servedPath, TestHttpServer::StallMidBody);
    std::unique_ptr<DownloadTaskSpecification> task(makeTask(content.size()));
    QSignalSpy canceled(task.get(), &TaskSpecification::canceled);
    QSignalSpy messages(task.get(), &TaskSpecification::message);
    startOn(task.get(), QStringLiteral("bad"));
    QTRY_VERIFY(task->bytesWritten > 0);
    QVERIFY(QFile::exists(localPath));

    if (byUser)
        task->userCanceled();
    else
        task->onOtherTaskCancelled(nullptr);
    QCOMPARE(canceled.size(), 1);
    QCOMPARE(task->state,
        byUser ? qint32(TaskSpecification::TaskUserCanceled)
               : qint32(TaskSpecification::TaskErrorCanceled));
    QVERIFY(!QFile::exists(localPath));
    QVERIFY(!task->reply);
    QCOMPARE(task->progress, 0.0);
    QCOMPARE(TestSpies::texts(messages).last(),
        byUser ? "Downloading " + remotePath : "Abort downloading " + remotePath);
    for (const FTPSiteAccessData& mirror : std::as_const(net->mirrors.mirrorList)) {
        QCOMPARE(mirror.useCount, 0);
        QCOMPARE(mirror.errorCount, 0);
    }
}

void TestDownloadTaskSpecification::noMirrorLeftCancels_data()
{
    QTest::addColumn<TestHttpServer::Fault>("badFault");
    QTest::addColumn<TestHttpServer::Fault>("goodFault");
    QTest::addColumn<qint64>("expectedSize");
    QTest::addColumn<QStringList>("failure"); // the task's errors

    QTest::newRow("404 and 500: no error, as for a network that fails")
        << TestHttpServer::NotFound << TestHttpServer::InternalError << qint64(-1)
        << QStringList();
    QTest::newRow("too large on one mirror, 500 on the other: the file is wrong")
        << TestHttpServer::EndlessBody << TestHttpServer::InternalError << qint64(-1)
        << QStringList { remotePath + " on the mirrors is larger than the limit of 64 KiB" };
    QTest::newRow("larger than listed on both mirrors")
        << TestHttpServer::EndlessBody << TestHttpServer::EndlessBody
        << qint64(fileContent().size())
        << QStringList { remotePath + " on the mirrors is larger than the "
                         + QString::number(fileContent().size()) + " bytes listed for it" };
}

void TestDownloadTaskSpecification::noMirrorLeftCancels()
{
    QFETCH(TestHttpServer::Fault, badFault);
    QFETCH(TestHttpServer::Fault, goodFault);
    QFETCH(qint64, expectedSize);
    QFETCH(QStringList, failure);
    bad->setFault(servedPath, badFault);
    good->setFault(servedPath, goodFault);
    std::unique_ptr<DownloadTaskSpecification> task(makeTask(expectedSize));
    task->unknownSizeLimit = 64 * 1024;
    QSignalSpy canceled(task.get(), &TaskSpecification::canceled);
    QSignalSpy errors(task.get(), &TaskSpecification::error);
    QSignalSpy mirrorMessages(&net->mirrors, &Mirrors::message);
    task->execute();
    QVERIFY(canceled.wait());
    QCOMPARE(task->state, qint32(TaskSpecification::TaskErrorCanceled));
    QCOMPARE(TestSpies::texts(errors), failure);
    QCOMPARE(TestSpies::texts(mirrorMessages).constLast(),
        QStringLiteral("There are no (more) known working mirrors available"));
    QVERIFY(!QFile::exists(localPath));
}

void TestDownloadTaskSpecification::uncreatableLocalFileCancels()
{
    std::unique_ptr<DownloadTaskSpecification> task(makeTask(-1));
    task->localFile.setFileName(local->path() + QStringLiteral("/missing/dir/a.bin"));
    QSignalSpy canceled(task.get(), &TaskSpecification::canceled);
    QSignalSpy errors(task.get(), &TaskSpecification::error);
    task->execute();
    QCOMPARE(canceled.size(), 1);
    QCOMPARE(TestSpies::texts(errors),
        QStringList { "Unable to create file " + local->path() + "/missing/dir/a.bin for saving" });
    // Nothing is held: a later reset must not give back a use a second time.
    task->reset();
    for (const FTPSiteAccessData& mirror : std::as_const(net->mirrors.mirrorList))
        QCOMPARE(mirror.useCount, 0);
}

void TestDownloadTaskSpecification::optionalFile_data()
{
    QTest::addColumn<TestHttpServer::Fault>("fault"); // of the mirror asked first
    QTest::addColumn<bool>("absent");
    QTest::addColumn<QStringList>("mirrorsLeft");

    QTest::newRow("served") << TestHttpServer::Serve << false << QStringList { "bad", "good" };
    QTest::newRow("404: not published, nobody blamed")
        << TestHttpServer::NotFound << true << QStringList { "bad", "good" };
    // Only a 404 says the file is not there; any other failure is still the mirror's.
    QTest::newRow("500 still costs the mirror")
        << TestHttpServer::InternalError << false << QStringList { "good" };
}

void TestDownloadTaskSpecification::optionalFile()
{
    QFETCH(TestHttpServer::Fault, fault);
    QFETCH(bool, absent);
    QFETCH(QStringList, mirrorsLeft);

    bad->setFault(servedPath, fault);
    std::unique_ptr<DownloadTaskSpecification> task(makeTask(-1));
    task->mayBeAbsent = true;
    QSignalSpy finished(task.get(), &TaskSpecification::finished);
    QSignalSpy messages(task.get(), &TaskSpecification::message);
    startOn(task.get(), QStringLiteral("bad"));
    QVERIFY(finished.wait());

    QCOMPARE(task->state, qint32(TaskSpecification::TaskFinished));
    QCOMPARE(task->absent, absent);
    QCOMPARE(QFile::exists(localPath), !absent);
    if (!absent)
        QCOMPARE(TestFiles::read(localPath), content);
    else
        QCOMPARE(TestSpies::texts(messages).last(),
            "file " + remotePath + " is not published on mirror bad");
    // The mirror that said so is still named, for a check that needed the file.
    QCOMPARE(task->currentMirror.name,
        QString::fromLatin1(absent || fault == TestHttpServer::Serve ? "bad" : "good"));
    QStringList left;
    for (const FTPSiteAccessData& mirror : std::as_const(net->mirrors.mirrorList)) {
        left << mirror.name;
        QCOMPARE(mirror.useCount, 0);
        QCOMPARE(mirror.errorCount, 0);
    }
    QCOMPARE(left, mirrorsLeft);
}

void TestDownloadTaskSpecification::storedAsPublished_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<TestHttpServer::Fault>("fault");
    QTest::addColumn<QByteArray>("content");

    const QByteArray packed = TestFiles::gzipped(fileContent());
    QTest::newRow("fragment mark") << "files/a #1.bin" << TestHttpServer::Serve << packed;
    QTest::newRow("query mark") << "files/what?.bin" << TestHttpServer::Serve << packed;
    QTest::newRow("escape-like") << "files/%41%2F.bin" << TestHttpServer::Serve << packed;
    QTest::newRow("non-ASCII, space")
        << "files/f\u00fcr mich/+;=&.bin" << TestHttpServer::Serve << packed;
    QTest::newRow("labelled gzip stays packed")
        << "files/a.bin.gz" << TestHttpServer::GzipLabelled << packed;
}

void TestDownloadTaskSpecification::storedAsPublished()
{
    QFETCH(QString, path);
    QFETCH(TestHttpServer::Fault, fault);
    QFETCH(QByteArray, content);

    QTemporaryDir root;
    QVERIFY(TestFiles::write(root.path() + QStringLiteral("/3012/") + path, content));
    TestHttpServer* server = net->startServer(root.path());
    QVERIFY(server);
    server->setFault(QStringLiteral("*"), fault);
    net->mirrors.mirrorList.clear();
    net->add(QStringLiteral("only"), server);

    std::unique_ptr<DownloadTaskSpecification> task(new DownloadTaskSpecification(
        &net->manager, &net->mirrors, path, localPath, content.size(), nullptr, 1.0));
    QSignalSpy finished(task.get(), &TaskSpecification::finished);
    task->execute();
    QVERIFY(finished.wait());
    QCOMPARE(server->requestLog(), QStringList { QStringLiteral("/3012/") + path });
    QVERIFY(TestFiles::read(localPath) == content);
    QCOMPARE(net->mirrors.mirrorList.size(), 1);
}

void TestDownloadTaskSpecification::slowMirrorFailsTheAttempt_data()
{
    QTest::addColumn<int>("bytesPerTick");
    QTest::addColumn<bool>("tooSlow");
    QTest::newRow("a trickle") << 8 << true;
    QTest::newRow("just over 1 KiB a tick") << 1100 << false;
}

void TestDownloadTaskSpecification::slowMirrorFailsTheAttempt()
{
    QFETCH(int, bytesPerTick);
    QFETCH(bool, tooSlow);
    bad->setTrickle(bytesPerTick, 20);
    bad->setFault(servedPath, TestHttpServer::Trickle);
    net->mirrors.mirrorList[0].retries = 0; // so that a retry goes to "good"
    std::unique_ptr<DownloadTaskSpecification> task(makeTask(content.size()));
    QSignalSpy finished(task.get(), &TaskSpecification::finished);
    QSignalSpy messages(task.get(), &TaskSpecification::message);
    startOn(task.get(), QStringLiteral("bad"));

    // One step of the trickle per tick, so that the ticks see exactly its rate.
    for (int tick = 1; tick <= 31; ++tick) {
        QSignalSpy arrived(task->reply.data(), &QNetworkReply::readyRead);
        QVERIFY(arrived.wait());
        quint64 done = 0, total = 0, since = 0;
        bool downloading = false;
        task->timeTick(done, total, since, downloading);
        QCOMPARE(downloading, tick <= 30 || !tooSlow);
    }
    QCOMPARE(net->mirrors.mirrorList.size(), tooSlow ? 1 : 2);
    if (tooSlow) {
        QVERIFY(TestSpies::texts(messages).last().startsWith(
            "file " + remotePath + " is too slow on mirror bad: "));
        QCOMPARE(task->currentMirror.name, QStringLiteral("good"));
    }
    bad->setTrickle(64 * 1024, 1);
    QVERIFY(finished.wait());
    QVERIFY(TestFiles::read(localPath) == content);
}

void TestDownloadTaskSpecification::continuesWhereItStopped_data()
{
    QTest::addColumn<QByteArray>("leftBehind"); // in the local file at the start; null: none
    QTest::addColumn<TestHttpServer::Fault>("firstFault");
    QTest::addColumn<TestHttpServer::Fault>("rangeFault"); // for the first request with a range
    QTest::addColumn<QList<QByteArray>>("ranges");
    QTest::addColumn<qint64>("bodyBytes"); // on the wire, over all requests
    QTest::addColumn<int>("errors"); // counted against the mirror

    const QByteArray file = fileContent();
    const qint64 size = file.size();
    const qint64 half = size / 2;
    const QByteArray fromHalf = "bytes=" + QByteArray::number(half) + '-';
    const QByteArray prefix = file.left(100000);
    const QByteArray fromPrefix = "bytes=100000-";
    using Ranges = QList<QByteArray>;
    const TestHttpServer::Fault serve = TestHttpServer::Serve;

    QTest::newRow("body cut short, continued")
        << QByteArray() << TestHttpServer::ShortBody << serve << Ranges { "", fromHalf } << size
        << 1;
    QTest::newRow("reset mid-body, continued")
        << QByteArray() << TestHttpServer::ResetMidBody << serve << Ranges { "", fromHalf } << size
        << 1;
    QTest::newRow("body cut short, Range ignored: whole again")
        << QByteArray() << TestHttpServer::ShortBody << TestHttpServer::IgnoreRange
        << Ranges { "", fromHalf } << half + size << 1;
    QTest::newRow("body cut short, wrong Content-Range: whole again")
        << QByteArray() << TestHttpServer::ShortBody << TestHttpServer::WrongContentRange
        << Ranges { "", fromHalf, "" } << half + (size - half - 1) + size << 1;
    QTest::newRow("left by a killed run, continued")
        << prefix << serve << serve << Ranges { fromPrefix } << size - 100000 << 0;
    QTest::newRow("left by a killed run, Range ignored")
        << prefix << serve << TestHttpServer::IgnoreRange << Ranges { fromPrefix } << size << 0;
    QTest::newRow("left by a killed run, wrong Content-Range")
        << prefix << serve << TestHttpServer::WrongContentRange << Ranges { fromPrefix, "" }
        << (size - 100000 - 1) + size << 0;
    QTest::newRow("left behind whole: no prefix")
        << file << serve << serve << Ranges { "" } << size << 0;
    QTest::newRow("left behind longer: no prefix")
        << file + "x" << serve << serve << Ranges { "" } << size << 0;
}

// One mirror that tolerates errors, so that every attempt goes to it.
void TestDownloadTaskSpecification::continuesWhereItStopped()
{
    QFETCH(QByteArray, leftBehind);
    QFETCH(TestHttpServer::Fault, firstFault);
    QFETCH(TestHttpServer::Fault, rangeFault);
    QFETCH(QList<QByteArray>, ranges);
    QFETCH(qint64, bodyBytes);
    QFETCH(int, errors);

    if (!leftBehind.isNull())
        QVERIFY(TestFiles::write(localPath, leftBehind));
    net->mirrors.mirrorList.clear();
    net->add(QStringLiteral("only"), good);
    // A rule of the path's own comes first; once used up, the rule for any path applies.
    if (firstFault != TestHttpServer::Serve)
        good->setFault(servedPath, firstFault, 1);
    good->setFault(QStringLiteral("*"), rangeFault, 1);

    std::unique_ptr<DownloadTaskSpecification> task(makeTask(content.size()));
    QSignalSpy finished(task.get(), &TaskSpecification::finished);
    task->execute();
    QVERIFY(finished.wait(20000));

    QVERIFY(TestFiles::read(localPath) == content);
    QList<QByteArray> seen = good->rangeLog();
    // A reset may lose some of the bytes sent before it: the continuation starts earlier.
    if (firstFault == TestHttpServer::ResetMidBody) {
        for (QByteArray& range : seen) {
            if (!range.startsWith("bytes="))
                continue;
            const qint64 start = range.mid(6).chopped(1).toLongLong();
            QVERIFY2(start > 0 && start <= content.size() / 2, range.constData());
            bodyBytes += content.size() / 2 - start;
            range = ranges.at(1);
        }
    }
    // The network layer itself may send a request again whose connection closed before any
    // of its answer was read; only the requests with a range are then certain.
    const auto withRange = [](QList<QByteArray> list) {
        list.removeAll(QByteArray());
        return list;
    };
    QCOMPARE(withRange(seen), withRange(ranges));
    if (seen == ranges)
        QCOMPARE(good->bodyBytesSent(), bodyBytes);
    QCOMPARE(net->mirrors.mirrorList.size(), 1);
    QCOMPARE(net->mirrors.mirrorList.at(0).errorCount, errors);
    QCOMPARE(net->mirrors.mirrorList.at(0).useCount, 0);
}

QTEST_GUILESS_MAIN(TestDownloadTaskSpecification)
#include "tst_downloadtaskspecification.moc"
