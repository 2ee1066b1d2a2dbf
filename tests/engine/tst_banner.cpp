#include "banner.h"

#include <QPointer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

// The banner query against a UDP peer of the test's own on 127.0.0.1: what it finds, and that
// it goes once its query is over.
class TestBanner : public QObject
{
    Q_OBJECT
private slots:
    void reply_data();
    void reply();
};

void TestBanner::reply_data()
{
    QTest::addColumn<QByteArray>("stranger"); // sent first, from another port; null: nothing
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QStringList>("found"); // empty: no bannerFound

    const QByteArray image = "http://mirror.example/banner.png";
    const QByteArray click = "http://www.example.com/";
    QTest::newRow("image and click URL")
        << QByteArray() << image + ',' + click << QStringList { image, click };
    QTest::newRow("ends in the comma")
        << QByteArray() << image + ',' << QStringList { image, QString() };
    QTest::newRow("three parts") << QByteArray() << image + ',' + click + ",x" << QStringList();
    QTest::newRow("one part") << QByteArray() << image << QStringList();
    QTest::newRow("empty datagram") << QByteArray() << QByteArray() << QStringList();
    QTest::newRow("cut to 1024 bytes")
        << QByteArray() << image + ',' + QByteArray(2000, 'c')
        << QStringList { image, QString(1024 - image.size() - 1, QLatin1Char('c')) };
    QTest::newRow("a stranger's answer is ignored")
        << QByteArray("http://evil.example/x.png,http://evil.example/") << image + ',' + click
        << QStringList { image, click };
}

void TestBanner::reply()
{
    QFETCH(QByteArray, stranger);
    QFETCH(QByteArray, answer);
    QFETCH(QStringList, found);

    QUdpSocket server;
    QVERIFY(server.bind(QHostAddress::LocalHost, 0));
    QPointer<Banner> banner = new Banner(QStringLiteral("127.0.0.1"), server.localPort(), nullptr);
    QSignalSpy spy(banner.data(), &Banner::bannerFound);
    const auto leftOver = qScopeGuard([&banner] { delete banner; });
    banner->run();

    QTRY_VERIFY(server.hasPendingDatagrams());
    QHostAddress client;
    quint16 clientPort = 0;
    QByteArray request(16, '\0');
    request.truncate(server.readDatagram(request.data(), request.size(), &client, &clientPort));
    QCOMPARE(request, QByteArray("\x01\x01", 2));

    if (!stranger.isNull()) {
        QUdpSocket other;
        QCOMPARE(other.writeDatagram(stranger, client, clientPort), stranger.size());
    }
    QCOMPARE(server.writeDatagram(answer, client, clientPort), answer.size());
    // Any answer from the server ends the query, a malformed one without a banner.
    QTRY_VERIFY(!banner);
    if (found.isEmpty()) {
        QCOMPARE(spy.count(), 0);
        return;
    }
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), found.at(0));
    QCOMPARE(spy.at(0).at(1).toString(), found.at(1));
}

QTEST_MAIN(TestBanner)
#include "tst_banner.moc"
