#include "updatechecker.h"
#include "updateserverprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QThread>
#include <QUdpSocket>
#include <QtTest>

#include <atomic>
#include <future>
#include <memory>

using VersionList = QList<QPair<QString, QString>>;

namespace {

// A UDP peer on 127.0.0.1 that answers the i-th datagram it receives with replies[i] (a null
// QByteArray means: no answer). With a forged reply, a second socket sends that first, to the
// same client, from another port. It runs on a thread of its own because the checker blocks
// the thread that calls it.
class ScriptedPeer
{
public:
    explicit ScriptedPeer(const QList<QByteArray>& replies, const QByteArray& forged = {})
        : m_replies(replies)
        , m_forged(forged)
    {
        std::future<quint16> bound = m_bound.get_future();
        m_thread.reset(QThread::create([this] { run(); }));
        m_thread->start();
        m_port = bound.get();
    }
    ~ScriptedPeer() { finish(); }

    // 0 when the peer could not bind.
    quint16 port() const { return m_port; }

    // Stops the peer and returns the datagrams it received, in order.
    QList<QByteArray> finish()
    {
        m_stop = true;
        m_thread->wait();
        return m_requests;
    }

private:
    void run()
    {
        QUdpSocket socket;
        QUdpSocket forger;
        if (!socket.bind(QHostAddress::LocalHost, 0) || !forger.bind(QHostAddress::LocalHost, 0)) {
            m_bound.set_value(0);
            return;
        }
        m_bound.set_value(socket.localPort());
        while (!m_stop && m_requests.size() < m_replies.size()) {
            if (!socket.waitForReadyRead(20))
                continue;
            while (socket.hasPendingDatagrams() && m_requests.size() < m_replies.size()) {
                const QNetworkDatagram request = socket.receiveDatagram();
                const QByteArray& reply = m_replies.at(m_requests.size());
                m_requests.append(request.data());
                if (!m_forged.isNull())
                    forger.writeDatagram(
                        m_forged, request.senderAddress(), quint16(request.senderPort()));
                if (!reply.isNull())
                    socket.writeDatagram(
                        reply, request.senderAddress(), quint16(request.senderPort()));
            }
        }
    }

    const QList<QByteArray> m_replies;
    const QByteArray m_forged;
    QList<QByteArray> m_requests;
    std::promise<quint16> m_bound;
    quint16 m_port = 0;
    std::atomic<bool> m_stop { false };
    std::unique_ptr<QThread> m_thread;
};

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::NoDotAndDotDot | QDir::AllEntries)
                   .size());
}

} // namespace

class TestUpdateChecker : public QObject
{
    Q_OBJECT
private slots:
    void parsesReplies_data();
    void parsesReplies();
    void channelEntry_data();
    void channelEntry();
    void retryStartsWithEmptyList();
    void repliesFromOtherPeersAreIgnored();
    void referenceServer();
    void silentNewsFailsAfterTimeOut();
};

void TestUpdateChecker::parsesReplies_data()
{
    QTest::addColumn<QByteArray>("versionsReply");
    QTest::addColumn<QByteArray>("newsReply");
    QTest::addColumn<VersionList>("expectedList");
    QTest::addColumn<QString>("expectedNews");

    const QByteArray news("Today: release 3.0.12");
    QTest::newRow("name, no name, name with inner #")
        << QByteArray("3012#3.0.12,3013,3014#nightly #7") << news
        << VersionList { { "3012", "3.0.12" }, { "3013", "" }, { "3014", "nightly #7" } }
        << QString::fromLatin1(news);
    QTest::newRow("two commas keep the channel positions")
        << QByteArray(",,3014") << news << VersionList { { "", "" }, { "", "" }, { "3014", "" } }
        << QString::fromLatin1(news);
    QTest::newRow("text ends at NUL")
        << QByteArray("3012#a\0,3013#b", 14) << QByteArray("news\0tail", 9)
        << VersionList { { "3012", "a" } } << QStringLiteral("news");
    QTest::newRow("version list cut to 511 bytes")
        << QByteArray("3012#") + QByteArray(595, 'n') << news
        << VersionList { { "3012", QString(506, QLatin1Char('n')) } } << QString::fromLatin1(news);
    QTest::newRow("news cut to 4095 bytes")
        << QByteArray("3012") << QByteArray(5000, 'x') << VersionList { { "3012", "" } }
        << QString(4095, QLatin1Char('x'));
    QTest::newRow("Latin-1 bytes") << QByteArray("3012#caf\xe9") << QByteArray("\xfc\x62\x65r")
                                   << VersionList { { "3012", QStringLiteral("caf\u00e9") } }
                                   << QStringLiteral("\u00fc\x62\x65r");
    QTest::newRow("empty datagrams")
        << QByteArray("") << QByteArray("") << VersionList { { "", "" } } << QString();
}

void TestUpdateChecker::parsesReplies()
{
    QFETCH(QByteArray, versionsReply);
    QFETCH(QByteArray, newsReply);
    QFETCH(VersionList, expectedList);
    QFETCH(QString, expectedNews);

    ScriptedPeer peer({ versionsReply, newsReply });
    QVERIFY(peer.port() != 0);
    UpdateChecker checker(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(checker.checkUpdate());
    QCOMPARE(checker.versionList, expectedList);
    QCOMPARE(checker.news, expectedNews);
    QCOMPARE(peer.finish(),
        (QList<QByteArray> {
            UpdateServerProcess::versionsRequest, UpdateServerProcess::newsRequest }));
}

void TestUpdateChecker::channelEntry_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("name");

    const QByteArray twoEntries("3012#3.0.12,3013");
    QTest::newRow("stable") << twoEntries << int(Stable) << "3012"
                            << "3.0.12";
    QTest::newRow("beta") << twoEntries << int(Beta) << "3013"
                          << "";
    QTest::newRow("alpha, missing from a two-entry list") << twoEntries << int(Alpha) << ""
                                                          << "";
    // The channel look-up is the one every updater has: the signature entry after the three
    // channels is never taken for one.
    const QByteArray signedList("3012#3.0.12,3013#3.1 beta,3014,crv1:1796741190:1797345990:"
                                "747d2aeb8690663d:+SaGkibmbqYvhfAIECUkM0ofGvo91J6GlxR3IL9LMeEg3R"
                                "ia3ktuuRc6kNbV36RuKVrjI8L5mxgIV20suScWBA==");
    QTest::newRow("stable of a signed list") << signedList << int(Stable) << "3012"
                                             << "3.0.12";
    QTest::newRow("alpha of a signed list") << signedList << int(Alpha) << "3014"
                                            << "";
}

void TestUpdateChecker::channelEntry()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, channel);
    QFETCH(QString, version);
    QFETCH(QString, name);

    ScriptedPeer peer({ reply, QByteArray("news") });
    QVERIFY(peer.port() != 0);
    UpdateChecker checker(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(checker.checkUpdate());
    const QPair<QString, QString> entry = checker.getClientVersionByChannel(UpdateChannel(channel));
    QCOMPARE(entry.first, version);
    QCOMPARE(entry.second, name);
}

void TestUpdateChecker::retryStartsWithEmptyList()
{
    ScriptedPeer peer({ QByteArray("3011#old"), QByteArray("old news"),
        QByteArray("3012#new,3013#beta"), QByteArray("new news") });
    QVERIFY(peer.port() != 0);
    UpdateChecker checker(QStringLiteral("127.0.0.1"), peer.port());
    QVERIFY(checker.checkUpdate());
    QVERIFY(checker.checkUpdate());
    QCOMPARE(checker.versionList, (VersionList { { "3012", "new" }, { "3013", "beta" } }));
    QCOMPARE(checker.news, QStringLiteral("new news"));
}

// Anyone on the network could otherwise choose the version to install, an old one included.
void TestUpdateChecker::repliesFromOtherPeersAreIgnored()
{
    ScriptedPeer peer(
        { QByteArray("3013#3.1"), QByteArray("genuine news") }, QByteArray("3001#forged"));
    QVERIFY(peer.port() != 0);
    UpdateChecker checker(QStringLiteral("127.0.0.1"), peer.port());

    QVERIFY(checker.checkUpdate());

    QCOMPARE(checker.versionList, (VersionList { { "3013", "3.1" } }));
    QCOMPARE(checker.news, QStringLiteral("genuine news"));
}

void TestUpdateChecker::referenceServer()
{
    UpdateServerProcess server;
    QVERIFY(server.start(
        { QStringLiteral("--versions"), QStringLiteral("3012#3.0.12,3013#3.1 beta,3014"),
            QStringLiteral("--news"), QStringLiteral("Hello from the server") }));

    const int descriptorsBefore = openDescriptors();
    UpdateChecker checker(QStringLiteral("127.0.0.1"), server.versionPort());
    QVERIFY(checker.checkUpdate());
    QCOMPARE(openDescriptors(), descriptorsBefore);
    QCOMPARE(checker.versionList,
        (VersionList { { "3012", "3.0.12" }, { "3013", "3.1 beta" }, { "3014", "" } }));
    QCOMPARE(checker.news, QStringLiteral("Hello from the server"));
}

void TestUpdateChecker::silentNewsFailsAfterTimeOut()
{
    UpdateServerProcess server;
    QVERIFY(server.start({ QStringLiteral("--versions"), QStringLiteral("3012#3.0.12"),
        QStringLiteral("--silent"), QStringLiteral("news") }));

    const int descriptorsBefore = openDescriptors();
    UpdateChecker checker(QStringLiteral("127.0.0.1"), server.versionPort());
    QElapsedTimer elapsed;
    elapsed.start();
    QVERIFY(!checker.checkUpdate());
    QVERIFY2(elapsed.elapsed() >= 4900, qPrintable(QString::number(elapsed.elapsed())));
    // The entries of the reply that did arrive stay; the socket is closed all the same.
    QCOMPARE(checker.versionList, (VersionList { { "3012", "3.0.12" } }));
    QVERIFY(checker.news.isEmpty());
    QCOMPARE(openDescriptors(), descriptorsBefore);
}

QTEST_GUILESS_MAIN(TestUpdateChecker)
#include "tst_updatechecker.moc"
