#pragma once

#include <QBasicTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QObject>
#include <QString>
#include <QUdpSocket>

// Asks the update server over UDP where the current banner image is and where a click on it
// leads. run() resolves the host and sends the two-byte request; without an answer it sends it
// once more after 5 s and gives up 5 s after that. The first datagram that arrives ends the
// query; when it is "imageUrl,clickUrl" bannerFound is emitted once. Failures are silent: the
// banner area simply stays empty. Main thread only. Created with new: once its query is over
// (answered, given up or failed) the object deletes itself through the event loop; its parent
// may delete it earlier.
class Banner : public QObject
{
    Q_OBJECT
public:
    // The default update server host, port 2009.
    explicit Banner(QObject* parent);
    // Another server, for tests.
    Banner(const QString& host, quint16 port, QObject* parent);

    static constexpr quint16 BannerPort = 2009;
    static constexpr int RetryIntervalMs = 5000;

    void run();

    // The server's answer "imageUrl,clickUrl" (Latin-1); false for anything else.
    static bool parseReply(const QByteArray& datagram, QString* bannerUrl, QString* clickUrl);

signals:
    void bannerFound(QString bannerUrl, QString clickUrl);

public slots:
    void onResolved(QHostInfo hostInfo);
    void onReadyRead();
    void onError(QAbstractSocket::SocketError socketError);

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void sendRequest();
    // Ends the query: nothing is sent or received any more, and the object goes.
    void finish();

    QUdpSocket* socket;
    QBasicTimer retryTimer;
    QHostAddress serverAddress;
    int sendCount = 0;
    QString host;
    quint16 port;
};
