#include "updatechecker.h"

#include <QByteArray>
#include <QStringList>

#include <cerrno>
#include <cstring>

#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/types.h>
#include <unistd.h>

#ifndef CRV_UPDATE_SERVER_HOST
#error "CRV_UPDATE_SERVER_HOST must be defined by the build"
#endif

namespace {

constexpr quint16 UpdateServerPort = 17384;
constexpr int ReceiveTimeoutMs = 5000;
constexpr size_t VersionListLimit = 511;
constexpr size_t NewsLimit = 4095;

// Closes the socket however the attempt ends.
class SocketHolder
{
public:
    SocketHolder()
        : m_fd(::socket(AF_INET, SOCK_DGRAM, 0))
    {
    }
    ~SocketHolder()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    SocketHolder(const SocketHolder&) = delete;
    SocketHolder& operator=(const SocketHolder&) = delete;

    int fd() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }

private:
    int m_fd;
};

class AddressInfoHolder
{
public:
    AddressInfoHolder() = default;
    ~AddressInfoHolder()
    {
        if (m_info)
            ::freeaddrinfo(m_info);
    }
    AddressInfoHolder(const AddressInfoHolder&) = delete;
    AddressInfoHolder& operator=(const AddressInfoHolder&) = delete;

    bool resolve(const QString& host, quint16 port)
    {
        addrinfo hints;
        std::memset(&hints, 0, sizeof hints);
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        const QByteArray service = QByteArray::number(port);
        return ::getaddrinfo(host.toUtf8().constData(), service.constData(), &hints, &m_info) == 0
            && m_info != nullptr;
    }
    const addrinfo* first() const { return m_info; }

private:
    addrinfo* m_info = nullptr;
};

bool sendRequest(int fd, char request)
{
    const char datagram[2] = { request, '\0' };
    ssize_t sent;
    do {
        sent = ::send(fd, datagram, sizeof datagram, 0);
    } while (sent < 0 && errno == EINTR);
    return sent >= 1;
}

// Receives one datagram, keeping at most `limit` bytes of it; the text ends at the first NUL.
bool receiveText(int fd, size_t limit, QString* text)
{
    QByteArray buffer(int(limit), '\0');
    ssize_t received;
    do {
        received = ::recv(fd, buffer.data(), limit, 0);
    } while (received < 0 && errno == EINTR);
    if (received < 0)
        return false;
    buffer.truncate(int(received));
    *text = UpdateChecker::replyText(buffer);
    return true;
}

} // namespace

UpdateChecker::UpdateChecker()
    : UpdateChecker(defaultHost(), defaultPort())
{
}

UpdateChecker::UpdateChecker(const QString& host, quint16 port)
    : m_host(host)
    , m_port(port)
{
}

QString UpdateChecker::defaultHost()
{
    return QStringLiteral(CRV_UPDATE_SERVER_HOST);
}

quint16 UpdateChecker::defaultPort()
{
    return UpdateServerPort;
}

bool UpdateChecker::checkUpdate()
{
    return readFromServer();
}

bool UpdateChecker::readFromServer()
{
    // A retry must not answer with the entries of an earlier, failed attempt.
    versionList.clear();
    versionEntries.clear();

    SocketHolder socket;
    if (!socket.isValid())
        return false;

    AddressInfoHolder server;
    if (!server.resolve(m_host, m_port))
        return false;
    // A connected socket takes datagrams from the server's address and port only: a reply
    // from anyone else on the network could choose the version to install, an old one too.
    const addrinfo* address = server.first();
    if (::connect(socket.fd(), address->ai_addr, address->ai_addrlen) != 0)
        return false;

    if (!sendRequest(socket.fd(), '3'))
        return false;

    timeval timeout;
    timeout.tv_sec = ReceiveTimeoutMs / 1000;
    timeout.tv_usec = (ReceiveTimeoutMs % 1000) * 1000;
    if (::setsockopt(socket.fd(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0)
        return false;

    QString versions;
    if (!receiveText(socket.fd(), VersionListLimit, &versions))
        return false;
    parseVersionList(versions);

    if (!sendRequest(socket.fd(), '*'))
        return false;
    return receiveText(socket.fd(), NewsLimit, &news);
}

QString UpdateChecker::replyText(const QByteArray& datagram)
{
    const qsizetype nul = datagram.indexOf('\0');
    return QString::fromLatin1(nul < 0 ? datagram : datagram.left(nul));
}

void UpdateChecker::parseVersionList(const QString& text)
{
    versionEntries = text.split(QLatin1Char(','), Qt::KeepEmptyParts);
    for (const QString& entry : versionEntries) {
        const int hash = entry.indexOf(QLatin1Char('#'));
        if (hash < 0)
            versionList.append(qMakePair(entry, QString()));
        else
            versionList.append(qMakePair(entry.left(hash), entry.mid(hash + 1)));
    }
}

QPair<QString, QString> UpdateChecker::getClientVersionByChannel(UpdateChannel channel) const
{
    const int index = int(channel);
    if (index < 0 || index >= versionList.size())
        return qMakePair(QString(), QString());
    return versionList.at(index);
}
