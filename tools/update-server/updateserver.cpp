#include "updateserver.h"

#include <QFile>
#include <QNetworkDatagram>
#include <QTextStream>

namespace {
const QByteArray VersionsRequest("3\0", 2);
const QByteArray NewsRequest("*\0", 2);
const QByteArray BannerRequest("\x01\x01", 2);
} // namespace

UpdateServer::UpdateServer(const Answers& answers, QObject* parent)
    : QObject(parent)
    , m_answers(answers)
{
    connect(
        &m_versionSocket, &QUdpSocket::readyRead, this, &UpdateServer::onVersionSocketReadyRead);
    connect(&m_bannerSocket, &QUdpSocket::readyRead, this, &UpdateServer::onBannerSocketReadyRead);
}

bool UpdateServer::listen(const QHostAddress& address, quint16 versionPort, quint16 bannerPort)
{
    if (!m_versionSocket.bind(address, versionPort)) {
        m_errorString = QStringLiteral("cannot bind version port %1: %2")
                            .arg(versionPort)
                            .arg(m_versionSocket.errorString());
        return false;
    }
    if (!m_bannerSocket.bind(address, bannerPort)) {
        m_errorString = QStringLiteral("cannot bind banner port %1: %2")
                            .arg(bannerPort)
                            .arg(m_bannerSocket.errorString());
        m_versionSocket.close();
        return false;
    }
    return true;
}

void UpdateServer::onVersionSocketReadyRead()
{
    while (m_versionSocket.hasPendingDatagrams()) {
        const QNetworkDatagram request = m_versionSocket.receiveDatagram();
        if (request.data() == VersionsRequest) {
            QByteArray versions;
            QString problem;
            const bool readable = versionsAnswer(&versions, &problem);
            answer(m_versionSocket, request.senderAddress(), quint16(request.senderPort()),
                "versions", versions, m_answers.versionsSilent || !readable, problem);
        } else if (request.data() == NewsRequest) {
            answer(m_versionSocket, request.senderAddress(), quint16(request.senderPort()), "news",
                m_answers.news, m_answers.newsSilent);
        }
    }
}

void UpdateServer::onBannerSocketReadyRead()
{
    while (m_bannerSocket.hasPendingDatagrams()) {
        const QNetworkDatagram request = m_bannerSocket.receiveDatagram();
        if (request.data() == BannerRequest)
            answer(m_bannerSocket, request.senderAddress(), quint16(request.senderPort()), "banner",
                m_answers.banner, m_answers.bannerSilent);
    }
}

bool UpdateServer::versionsAnswer(QByteArray* text, QString* problem) const
{
    if (m_answers.versionsFile.isEmpty()) {
        *text = m_answers.versions;
        return true;
    }
    QFile file(m_answers.versionsFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString());
        return false;
    }
    // The first line, without its line end: what "crv-release versions" printed.
    *text = file.readLine();
    while (text->endsWith('\n') || text->endsWith('\r'))
        text->chop(1);
    return true;
}

void UpdateServer::answer(QUdpSocket& socket, const QHostAddress& peer, quint16 peerPort,
    const char* request, const QByteArray& text, bool silent, const QString& problem)
{
    // One line per request on stderr, so whoever runs the server sees what clients asked for
    // and whether they got an answer (one too large for a datagram never leaves).
    QTextStream log(stderr);
    log << request << " request from " << peer.toString() << ':' << peerPort;
    if (!problem.isEmpty())
        log << " (not answered: " << problem << ')';
    else if (silent)
        log << " (not answered)";
    else if (socket.writeDatagram(text, peer, peerPort) != text.size())
        log << " (answer not sent: " << socket.errorString() << ')';
    log << Qt::endl;
}
