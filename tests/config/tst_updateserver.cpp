#include "updateserverprocess.h"

#include <QNetworkDatagram>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

// The reference update server as a client sees it, on ephemeral loopback ports.
class TestUpdateServer : public QObject
{
    Q_OBJECT
private slots:
    void answers_data();
    void answers();
    void silentRequestIsNotAnswered_data();
    void silentRequestIsNotAnswered();
    void versionsFileIsReadForEveryRequest();
    void helpListsEveryFlag();
    void rejectsBadFlags_data();
    void rejectsBadFlags();

private:
    // Sends the requests in order from one socket and returns the first datagram that arrives.
    static QByteArray firstReply(quint16 port, const QList<QByteArray>& requests);
};

QByteArray TestUpdateServer::firstReply(quint16 port, const QList<QByteArray>& requests)
{
    QUdpSocket socket;
    if (!socket.bind(QHostAddress::LocalHost, 0))
        return "bind failed";
    QSignalSpy readyRead(&socket, &QUdpSocket::readyRead);
    for (const QByteArray& request : requests)
        socket.writeDatagram(request, QHostAddress::LocalHost, port);
    if (!socket.hasPendingDatagrams() && !readyRead.wait(5000))
        return "no reply";
    return socket.receiveDatagram().data();
}

void TestUpdateServer::answers_data()
{
    QTest::addColumn<QStringList>("flags");
    QTest::addColumn<bool>("bannerPort");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");

    const QStringList flags { "--versions", "3012#3.0.12,3013#3.1 beta,3014", "--news",
        "Hello \u00e9t\u00e9", "--banner", "http://127.0.0.1/b.png,http://127.0.0.1/" };
    QTest::newRow("versions") << flags << false << UpdateServerProcess::versionsRequest
                              << QByteArray("3012#3.0.12,3013#3.1 beta,3014");
    QTest::newRow("news as Latin-1")
        << flags << false << UpdateServerProcess::newsRequest << QByteArray("Hello \xe9t\xe9");
    QTest::newRow("banner") << flags << true << UpdateServerProcess::bannerRequest
                            << QByteArray("http://127.0.0.1/b.png,http://127.0.0.1/");
    QTest::newRow("default versions")
        << QStringList() << false << UpdateServerProcess::versionsRequest
        << QByteArray("3012#3.0.12,3013#3.1 beta,3014");
    QTest::newRow("empty news") << QStringList { "--news", "" } << false
                                << UpdateServerProcess::newsRequest << QByteArray("");
}

void TestUpdateServer::answers()
{
    QFETCH(QStringList, flags);
    QFETCH(bool, bannerPort);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);

    UpdateServerProcess server;
    QVERIFY(server.start(flags));
    QVERIFY(server.versionPort() != 0);
    QVERIFY(server.bannerPort() != 0);
    QCOMPARE(
        firstReply(bannerPort ? server.bannerPort() : server.versionPort(), { request }), reply);
}

void TestUpdateServer::silentRequestIsNotAnswered_data()
{
    QTest::addColumn<QStringList>("flags");
    QTest::addColumn<bool>("bannerPort");
    QTest::addColumn<QByteArray>("silencedRequest");
    QTest::addColumn<QByteArray>("probeRequest");
    QTest::addColumn<QByteArray>("probeReply");
    QTest::addColumn<QString>("logged"); // the silenced request's log line; empty: none

    // The server handles datagrams in order, so when the probe's reply comes first, the request
    // before it went unanswered. Unknown requests are ignored as well.
    const QString from = QStringLiteral(" request from 127\\.0\\.0\\.1:\\d+");
    QTest::newRow("news") << QStringList { "--silent", "news" } << false
                          << UpdateServerProcess::newsRequest
                          << UpdateServerProcess::versionsRequest << QByteArray("1#a")
                          << "news" + from + " \\(not answered\\)";
    QTest::newRow("versions") << QStringList { "--silent", "versions" } << false
                              << UpdateServerProcess::versionsRequest
                              << UpdateServerProcess::newsRequest << QByteArray("today")
                              << "versions" + from + " \\(not answered\\)";
    QTest::newRow("unknown request")
        << QStringList { "--silent", "banner" } << false << QByteArray("3")
        << UpdateServerProcess::newsRequest << QByteArray("today") << QString();
    QTest::newRow("banner") << QStringList { "--silent", "banner" } << true
                            << UpdateServerProcess::bannerRequest << QByteArray() << QByteArray()
                            << "banner" + from + " \\(not answered\\)";
    QTest::newRow("news too large for one datagram")
        << QStringList { "--news", QString(70000, QLatin1Char('n')) } << false
        << UpdateServerProcess::newsRequest << UpdateServerProcess::versionsRequest
        << QByteArray("1#a") << "news" + from + " \\(answer not sent: .+\\)";
}

void TestUpdateServer::silentRequestIsNotAnswered()
{
    QFETCH(QStringList, flags);
    QFETCH(bool, bannerPort);
    QFETCH(QByteArray, silencedRequest);
    QFETCH(QByteArray, probeRequest);
    QFETCH(QByteArray, probeReply);
    QFETCH(QString, logged);

    UpdateServerProcess server;
    server.captureLog();
    QVERIFY(server.start(
        QStringList { "--versions", "1#a", "--news", "today", "--banner", "i,c" } + flags));
    // Says so in its log line when the request went unanswered.
    auto expectLogged = [&] {
        if (logged.isEmpty())
            return;
        const QRegularExpression line(
            QLatin1Char('^') + logged + QLatin1Char('$'), QRegularExpression::MultilineOption);
        QTRY_VERIFY2(line.match(server.log()).hasMatch(), qPrintable(server.log()));
    };
    if (!bannerPort) {
        QCOMPARE(firstReply(server.versionPort(), { silencedRequest, probeRequest }), probeReply);
        expectLogged();
        return;
    }
    // The banner request goes to a socket of its own, so its order against the version port's
    // answers is not fixed. Two version round trips after it leave the server at least one full
    // event-loop turn in which the banner request was readable: an answer would be here by then.
    QUdpSocket socket;
    QVERIFY(socket.bind(QHostAddress::LocalHost, 0));
    QSignalSpy readyRead(&socket, &QUdpSocket::readyRead);
    socket.writeDatagram(silencedRequest, QHostAddress::LocalHost, server.bannerPort());
    QList<QNetworkDatagram> received;
    for (int roundTrip = 1; roundTrip <= 2; ++roundTrip) {
        socket.writeDatagram(
            UpdateServerProcess::versionsRequest, QHostAddress::LocalHost, server.versionPort());
        while (received.size() < roundTrip) {
            QVERIFY(socket.hasPendingDatagrams() || readyRead.wait(5000));
            while (socket.hasPendingDatagrams())
                received.append(socket.receiveDatagram());
        }
    }
    QCOMPARE(received.size(), 2);
    for (const QNetworkDatagram& datagram : received)
        QCOMPARE(datagram.senderPort(), int(server.versionPort()));
    expectLogged();
}

// A cron job refreshes the signed list by renaming a new file over the old one; the server sends
// the first line of whatever is there when a request arrives.
void TestUpdateServer::versionsFileIsReadForEveryRequest()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("versions"));
    const auto replace = [&path](const QByteArray& text) {
        QSaveFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
    };
    QVERIFY(replace("3012#3.0.12,3013,3014,crv1:1:2:0011223344556677:sig\n"));

    UpdateServerProcess server;
    server.captureLog();
    QVERIFY(server.start({ QStringLiteral("--versions-file"), path }));
    QCOMPARE(firstReply(server.versionPort(), { UpdateServerProcess::versionsRequest }),
        QByteArray("3012#3.0.12,3013,3014,crv1:1:2:0011223344556677:sig"));
    QVERIFY(replace("3015#caf\xe9,3016,3017\r\nsecond line\n"));
    QCOMPARE(firstReply(server.versionPort(), { UpdateServerProcess::versionsRequest }),
        QByteArray("3015#caf\xe9,3016,3017"));

    // A file that is gone leaves the request unanswered rather than sending an empty list.
    QVERIFY(QFile::remove(path));
    QCOMPARE(firstReply(server.versionPort(),
                 { UpdateServerProcess::versionsRequest, UpdateServerProcess::newsRequest }),
        QByteArray("Welcome to Corvanta."));
    QTRY_VERIFY2(server.log().contains(QStringLiteral("(not answered: cannot read %1").arg(path)),
        qPrintable(server.log()));
}

void TestUpdateServer::helpListsEveryFlag()
{
    QProcess process;
    process.start(UpdateServerProcess::program(), { QStringLiteral("--help") });
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 0);
    const QString help = QString::fromLocal8Bit(process.readAllStandardOutput());
    for (const char* flag : { "--address", "--version-port", "--banner-port", "--versions",
             "--versions-file", "--news", "--banner", "--silent", "--help" })
        QVERIFY2(help.contains(QLatin1String(flag)), flag);
}

void TestUpdateServer::rejectsBadFlags_data()
{
    QTest::addColumn<QStringList>("flags");

    QTest::newRow("unknown silent request") << QStringList { "--silent", "everything" };
    QTest::newRow("port out of range") << QStringList { "--version-port", "70000" };
    QTest::newRow("port not a number") << QStringList { "--banner-port", "http" };
    QTest::newRow("bad address") << QStringList { "--address", "localhost.invalid" };
    QTest::newRow("unknown flag") << QStringList { "--verbose" };
    QTest::newRow("two version lists")
        << QStringList { "--versions", "1#a", "--versions-file", "/etc/hostname" };
}

void TestUpdateServer::rejectsBadFlags()
{
    QFETCH(QStringList, flags);

    QProcess process;
    process.start(UpdateServerProcess::program(),
        QStringList { "--version-port", "0", "--banner-port", "0" } + flags);
    QVERIFY(process.waitForFinished(10000));
    QVERIFY(process.exitCode() != 0);
    QVERIFY(process.readAllStandardOutput().isEmpty()); // never claims to listen
    QVERIFY(!process.readAllStandardError().isEmpty());
}

QTEST_GUILESS_MAIN(TestUpdateServer)
#include "tst_updateserver.moc"
