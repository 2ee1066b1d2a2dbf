#include "configuration.h"
#include "sha256sumsdownloadtaskspecification.h"
#include "testfiles.h"
#include "testhttpserver.h"
#include "testmirrorlist.h"
#include "testspies.h"

#include <QCryptographicHash>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {
const QString iniName = QStringLiteral("client_test.ini");
const QString listName = QStringLiteral("client_test.ini.sha256");
const QByteArray goodList
    = QByteArray(64, 'a') + "  bin/update\n" + QByteArray(64, 'b') + "  bin/lib.gz\n";
const QByteArray malformedList = QByteArray(64, 'a') + " bin/update\n";

QByteArray sha256(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}
} // namespace

// The release's file list against mirrors on 127.0.0.1: which copy is kept, which mirror pays.
class TestSha256SumsDownloadTaskSpecification : public QObject
{
    Q_OBJECT
private slots:
    void fetchesTheListTheIniNames_data();
    void fetchesTheListTheIniNames();
};

void TestSha256SumsDownloadTaskSpecification::fetchesTheListTheIniNames_data()
{
    QTest::addColumn<QByteArray>("published"); // the list the ini names; null: no key
    QTest::addColumn<QByteArray>("firstServes"); // the first mirror's copy
    QTest::addColumn<QByteArray>("secondServes"); // null: no second mirror
    QTest::addColumn<QByteArray>("inSession"); // null: no copy from an earlier session
    QTest::addColumn<bool>("passes");
    QTest::addColumn<QStringList>("mirrorsLeft");
    QTest::addColumn<int>("requests");
    QTest::addColumn<QString>("lastMessage"); // empty: not checked
    QTest::addColumn<QString>("failure"); // the one error the task fails with; empty: none

    const QByteArray altered = QByteArray(goodList).replace('a', 'c');
    const QByteArray none;
    QTest::newRow("no key: nothing fetched")
        << none << goodList << none << none << true << QStringList { "first" } << 0 << QString()
        << QString();
    QTest::newRow("the matching list") << goodList << goodList << none << none << true
                                       << QStringList { "first" } << 1 << QString() << QString();
    QTest::newRow("altered list, honest second mirror: the second's list")
        << goodList << altered << goodList << none << true << QStringList { "second" } << 2
        << QString() << QString();
    QTest::newRow("altered list on the only mirror: aborts")
        << goodList << altered << none << none << false << QStringList() << 1
        << "Could not verify the file list of the product ini. Aborting"
        << "The file list of the product ini failed its check on first, and no other mirror is "
           "left";
    QTest::newRow("altered list on both mirrors: aborts naming both")
        << goodList << altered << altered << none << false << QStringList() << 2
        << "Could not verify the file list of the product ini. Aborting"
        << "The file list of the product ini failed its check on first, second, and no other "
           "mirror is left";
    QTest::newRow("oversized list on the only mirror: aborts")
        << goodList << goodList + QByteArray(16 * 1024 * 1024, '#') << none << none << false
        << QStringList() << 3 << "Could not verify the file list of the product ini. Aborting"
        << "client_test.ini.sha256 on the mirrors is larger than the limit of 16 MiB";
    QTest::newRow("malformed list as published: refused, no mirror blamed")
        << malformedList << malformedList << goodList << none << false
        << QStringList { "first", "second" } << 1 << QString()
        << "The file list of the product ini is malformed; refusing it";
    QTest::newRow("matching copy in the session: kept")
        << goodList << altered << none << goodList << true << QStringList { "first" } << 0
        << QString() << QString();
    QTest::newRow("stale copy in the session: fetched again")
        << goodList << goodList << none << altered << true << QStringList { "first" } << 1
        << QString() << QString();
}

void TestSha256SumsDownloadTaskSpecification::fetchesTheListTheIniNames()
{
    QFETCH(QByteArray, published);
    QFETCH(QByteArray, firstServes);
    QFETCH(QByteArray, secondServes);
    QFETCH(QByteArray, inSession);
    QFETCH(bool, passes);
    QFETCH(QStringList, mirrorsLeft);
    QFETCH(int, requests);
    QFETCH(QString, lastMessage);
    QFETCH(QString, failure);

    QTemporaryDir firstDir;
    QTemporaryDir secondDir;
    QTemporaryDir session;
    QVERIFY(TestFiles::write(firstDir.filePath(QStringLiteral("5/") + listName), firstServes));
    QVERIFY(TestFiles::write(secondDir.filePath(QStringLiteral("5/") + listName), secondServes));
    QByteArray ini = "version=5\ntype=client_test\n";
    if (!published.isNull())
        ini += "sha256sums=" + sha256(published) + "\n";
    QVERIFY(TestFiles::write(session.filePath(iniName), ini + "[bin]\nupdate=x::1\n"));
    if (!inSession.isNull())
        QVERIFY(TestFiles::write(session.filePath(listName), inSession));

    TestMirrorList net(QStringLiteral("/5"));
    TestHttpServer* first = net.startServer(firstDir.path());
    TestHttpServer* second = net.startServer(secondDir.path());
    QVERIFY(first && second);
    net.add(QStringLiteral("first"), first);
    if (!secondServes.isNull())
        net.add(QStringLiteral("second"), second);
    net.seedFirstChoice(0);
    Configuration configuration;
    configuration.tempDir = session.path();
    configuration.clientType = QStringLiteral("client_test");

    Sha256SumsDownloadTaskSpecification task(
        &net.manager, &net.mirrors, &configuration, nullptr, nullptr, 0.02);
    QSignalSpy finished(&task, &TaskSpecification::finished);
    QSignalSpy canceled(&task, &TaskSpecification::canceled);
    QSignalSpy messages(&task, &TaskSpecification::message);
    QSignalSpy errors(&task, &TaskSpecification::error);
    task.execute();
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty() || !canceled.isEmpty(), 20000);

    QCOMPARE(finished.size(), passes ? 1 : 0);
    QCOMPARE(canceled.size(), passes ? 0 : 1);
    QStringList left;
    for (const FTPSiteAccessData& mirror : std::as_const(net.mirrors.mirrorList))
        left.append(mirror.name);
    QCOMPARE(left, mirrorsLeft);
    QCOMPARE(first->totalRequestCount() + second->totalRequestCount(), requests);
    if (!lastMessage.isEmpty())
        QCOMPARE(TestSpies::texts(messages).last(), lastMessage);
    QCOMPARE(TestSpies::texts(errors), failure.isEmpty() ? QStringList() : QStringList { failure });
    if (passes && !published.isNull())
        QCOMPARE(TestFiles::read(session.filePath(listName)), published);
}

QTEST_GUILESS_MAIN(TestSha256SumsDownloadTaskSpecification)
#include "tst_sha256sumsdownloadtaskspecification.moc"
