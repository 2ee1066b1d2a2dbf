#include "banner.h"

#include "updatechecker.h"

#include <QTimerEvent>

namespace {

const QByteArray request("\x01\x01", 2);
constexpr qint64 ReplyBufferSize = 1024;

} // namespace

Banner::Banner(QObject* parent)
    : Banner(UpdateChecker::defaultHost(), BannerPort, parent)
{
}

Banner::Banner(const QString& host, quint16 port, QObject* parent)
    : QObject(parent)
    , socket(new QUdpSocket(this))
    , host(host)
    , port(port)
{
    socket->bind(QHostAddress::AnyIPv4, 0);
    connect(socket, &QUdpSocket::readyRead, this, &Banner::onReadyRead);
    connect(socket, &QUdpSocket::errorOccurred, this, &Banner::onError);
}

void Banner::run()
{
    QHostInfo::lookupHost(host, this, &Banner::onResolved);
}

void Banner::onResolved(QHostInfo hostInfo)
{
    if (hostInfo.error() != QHostInfo::NoError) {
        finish();
        return;
    }
    serverAddress.clear();
    for (const QHostAddress& address : hostInfo.addresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol) {
            serverAddress = address;
            break;
        }
    }
    if (serverAddress.isNull()) {
        finish();
        return;
    }
    sendRequest();
}

void Banner::sendRequest()
{
    if (socket->writeDatagram(request, serverAddress, port) != request.size()) {
        finish();
        return;
    }
    retryTimer.start(RetryIntervalMs, this);
}

void Banner::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != retryTimer.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    if (sendCount++ < 1)
        sendRequest();
    else
        finish();
}

void Banner::onReadyRead()
{
    // Only the server's answer counts: any local program could send to our port, and what it
    // sent would become a link the user clicks.
    while (socket->hasPendingDatagrams()) {
        QByteArray datagram(ReplyBufferSize, Qt::Uninitialized);
        QHostAddress sender;
        quint16 senderPort = 0;
        const qint64 size
            = socket->readDatagram(datagram.data(), datagram.size(), &sender, &senderPort);
        if (size < 0) {
            finish();
            return;
        }
        if (senderPort != port || !sender.isEqual(serverAddress, QHostAddress::TolerantConversion))
            continue;
        // The answer ends the query; nothing later can start a second banner download.
        finish();
        datagram.truncate(size);
        QString bannerUrl, clickUrl;
        if (parseReply(datagram, &bannerUrl, &clickUrl))
            emit bannerFound(bannerUrl, clickUrl);
        return;
    }
}

bool Banner::parseReply(const QByteArray& datagram, QString* bannerUrl, QString* clickUrl)
{
    const QStringList parts
        = QString::fromLatin1(datagram).split(QLatin1Char(','), Qt::KeepEmptyParts);
    if (parts.size() != 2)
        return false;
    *bannerUrl = parts.at(0);
    *clickUrl = parts.at(1);
    return true;
}

void Banner::onError(QAbstractSocket::SocketError)
{
    finish();
}

void Banner::finish()
{
    retryTimer.stop();
    socket->close();
    deleteLater();
}
