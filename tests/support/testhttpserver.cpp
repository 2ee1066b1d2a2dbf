#include "testhttpserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <sys/socket.h>

namespace {
constexpr qint64 fillerChunk = 64 * 1024;
constexpr qint64 fillerHighWater = 256 * 1024;
const QString anyPath = QStringLiteral("*");

QByteArray fillerHeaders()
{
    QByteArray lines;
    for (int i = 0; i < TestHttpServer::fillerHeaderLines; ++i) {
        const QByteArray name = "X-Filler-" + QByteArray::number(i) + ": ";
        lines += name + QByteArray(1024 - name.size() - 2, 'h') + "\r\n";
    }
    return lines;
}

QByteArray statusLine(int status)
{
    switch (status) {
    case 200:
        return "HTTP/1.1 200 OK\r\n";
    case 206:
        return "HTTP/1.1 206 Partial Content\r\n";
    case 301:
        return "HTTP/1.1 301 Moved Permanently\r\n";
    case 302:
        return "HTTP/1.1 302 Found\r\n";
    case 401:
        return "HTTP/1.1 401 Unauthorized\r\n";
    case 403:
        return "HTTP/1.1 403 Forbidden\r\n";
    case 404:
        return "HTTP/1.1 404 Not Found\r\n";
    case 416:
        return "HTTP/1.1 416 Range Not Satisfiable\r\n";
    default:
        return "HTTP/1.1 500 Internal Server Error\r\n";
    }
}
// The header's value in a request head, empty when absent.
QByteArray headerValue(const QByteArray& head, const QByteArray& name)
{
    for (const QByteArray& line : head.split('\n')) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
            return line.mid(colon + 1).trimmed();
    }
    return QByteArray();
}

// The N of "bytes=N-", or -1 for no range of that form.
qint64 rangeStart(const QByteArray& range)
{
    if (!range.startsWith("bytes=") || !range.endsWith('-'))
        return -1;
    bool ok = false;
    const qint64 start = range.mid(6, range.size() - 7).toLongLong(&ok);
    return ok && start >= 0 ? start : -1;
}
} // namespace

// What is still to be sent on one connection.
struct TestHttpServer::Exchange
{
    QByteArray request;
    bool answered = false;
    QByteArray body; // bytes not yet written (trickle)
    bool endless = false;
    bool resetWhenFlushed = false;
    QTimer* trickleTimer = nullptr;

    ~Exchange() { delete trickleTimer; }
};

TestHttpServer::TestHttpServer(const QString& rootDir, QObject* parent)
    : QObject(parent)
    , rootDir(rootDir)
    , server(new QTcpServer(this))
{
    connect(server, &QTcpServer::newConnection, this, &TestHttpServer::onNewConnection);
}

TestHttpServer::~TestHttpServer()
{
    for (auto it = exchanges.cbegin(); it != exchanges.cend(); ++it) {
        it.key()->disconnect(this);
        it.key()->abort();
        delete it.value();
    }
}

bool TestHttpServer::start()
{
    return server->listen(QHostAddress::LocalHost, 0);
}

quint16 TestHttpServer::port() const
{
    return server->serverPort();
}

QString TestHttpServer::url() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void TestHttpServer::setFault(const QString& path, Fault fault, int times)
{
    rules.insert(path, Rule { fault, times });
}

void TestHttpServer::clearFaults()
{
    rules.clear();
}

void TestHttpServer::setTrickle(int bytesPerStep, int intervalMs)
{
    trickleBytes = qMax(1, bytesPerStep);
    trickleIntervalMs = qMax(0, intervalMs);
}

int TestHttpServer::requestCount(const QString& path) const
{
    return counts.value(path);
}

int TestHttpServer::totalRequestCount() const
{
    return log.size();
}

QStringList TestHttpServer::requestLog() const
{
    return log;
}

QList<QByteArray> TestHttpServer::rangeLog() const
{
    return ranges;
}

qint64 TestHttpServer::bodyBytesSent() const
{
    return bodyBytes;
}

void TestHttpServer::onNewConnection()
{
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        exchanges.insert(socket, new Exchange);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(
            socket, &QTcpSocket::bytesWritten, this, [this, socket] { onBytesWritten(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            Exchange* exchange = exchanges.take(socket);
            delete exchange;
            socket->deleteLater();
        });
    }
}

void TestHttpServer::onReadyRead(QTcpSocket* socket)
{
    Exchange* exchange = exchanges.value(socket);
    if (!exchange || exchange->answered) {
        socket->readAll();
        return;
    }
    exchange->request += socket->readAll();
    const int headerEnd = exchange->request.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;
    exchange->answered = true;
    const QByteArray requestLine = exchange->request.left(exchange->request.indexOf("\r\n"));
    const QList<QByteArray> parts = requestLine.split(' ');
    QByteArray target = parts.size() >= 2 ? parts.at(1) : QByteArray("/");
    const int query = target.indexOf('?');
    if (query >= 0)
        target.truncate(query);
    const QString path = QUrl::fromPercentEncoding(target);
    const QByteArray range = headerValue(exchange->request.left(headerEnd), "Range");
    counts[path] += 1;
    log.append(path);
    ranges.append(range);
    emit requestReceived(path);
    respond(socket, path, range);
}

TestHttpServer::Fault TestHttpServer::takeFault(const QString& path)
{
    const QString key = rules.contains(path) ? path : anyPath;
    auto it = rules.find(key);
    if (it == rules.end())
        return Serve;
    const Fault fault = it->fault;
    if (it->times > 0 && --it->times == 0)
        rules.erase(it);
    return fault;
}

void TestHttpServer::respond(QTcpSocket* socket, const QString& path, const QByteArray& range)
{
    Exchange* exchange = exchanges.value(socket);
    const Fault fault = takeFault(path);
    switch (fault) {
    case NotFound:
        sendStatus(socket, 404, QByteArray());
        return;
    case MovedPermanently:
        sendStatus(socket, 301,
            "Location: " + url().toUtf8() + QUrl::toPercentEncoding(path, "/") + "\r\n");
        return;
    case Found:
        sendStatus(socket, 302,
            "Location: " + url().toUtf8() + QUrl::toPercentEncoding(path, "/") + "\r\n");
        return;
    case RedirectToFile:
        sendStatus(
            socket, 302, "Location: " + QUrl::fromLocalFile(rootDir + path).toEncoded() + "\r\n");
        return;
    case Unauthorized:
        sendStatus(socket, 401, "WWW-Authenticate: Basic realm=\"test\"\r\n");
        return;
    case Forbidden:
        sendStatus(socket, 403, QByteArray());
        return;
    case InternalError:
        sendStatus(socket, 500, QByteArray());
        return;
    default:
        break;
    }

    QFile file(rootDir + path);
    if (path.split(QLatin1Char('/')).contains(QStringLiteral(".."))
        || !file.open(QIODevice::ReadOnly) || QFileInfo(file).isDir()) {
        sendStatus(socket, 404, QByteArray());
        return;
    }
    QByteArray body = file.readAll();
    QByteArray headers = statusLine(200) + "Connection: close\r\n";
    const qint64 start = fault == IgnoreRange ? -1 : rangeStart(range);
    if (start >= body.size()) {
        sendStatus(
            socket, 416, "Content-Range: bytes */" + QByteArray::number(body.size()) + "\r\n");
        return;
    }
    if (start >= 0) {
        const qint64 size = body.size();
        const qint64 claimed = fault == WrongContentRange ? start + 1 : start;
        headers = statusLine(206) + "Connection: close\r\nContent-Range: bytes "
            + QByteArray::number(claimed) + '-' + QByteArray::number(size - 1) + '/'
            + QByteArray::number(size) + "\r\n";
        body = body.mid(int(claimed));
    }
    const QByteArray length = "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    bodyBytes += body.size();

    switch (fault) {
    case StallAfterHeaders:
        socket->write(headers + length + "\r\n");
        return;
    case StallMidBody:
    case ResetMidBody:
        bodyBytes -= body.size() - body.size() / 2;
        socket->write(headers + length + "\r\n" + body.left(body.size() / 2));
        exchange->resetWhenFlushed = fault == ResetMidBody;
        return;
    case ShortBody:
        bodyBytes -= body.size() - body.size() / 2;
        socket->write(headers + length + "\r\n" + body.left(body.size() / 2));
        socket->disconnectFromHost();
        return;
    case LongBody:
        socket->write(headers + length + "\r\n" + body + QByteArray(1024, 'L'));
        socket->disconnectFromHost();
        return;
    case LongContentLength:
        socket->write(headers + "Content-Length: " + QByteArray::number(body.size() + (1 << 30))
            + "\r\n\r\n" + body);
        socket->disconnectFromHost();
        return;
    case NoContentLength:
        socket->write(headers + "\r\n" + body);
        socket->disconnectFromHost();
        return;
    case WrongBytes:
        for (char& c : body)
            c = char(~c);
        socket->write(headers + length + "\r\n" + body);
        socket->disconnectFromHost();
        return;
    case GzipLabelled:
        socket->write(headers + "Content-Encoding: gzip\r\n" + length + "\r\n" + body);
        socket->disconnectFromHost();
        return;
    case EndlessBody:
        exchange->endless = true;
        socket->write(headers + "\r\n" + body);
        return;
    case BrokenChunks: {
        const QByteArray firstHalf = body.left(body.size() / 2);
        socket->write(headers + "Transfer-Encoding: chunked\r\n\r\n"
            + QByteArray::number(firstHalf.size(), 16) + "\r\n" + firstHalf + "\r\n"
            + QByteArray::number(body.size(), 16) + "\r\n" + body.mid(firstHalf.size()));
        socket->disconnectFromHost();
        return;
    }
    case OversizedHeaders:
        socket->write(headers + fillerHeaders() + length + "\r\n" + body);
        socket->disconnectFromHost();
        return;
    case Trickle:
        socket->write(headers + length + "\r\n");
        startTrickle(socket, body);
        return;
    case TrickleHeaders:
        startTrickle(socket, headers + fillerHeaders() + length + "\r\n" + body);
        return;
    default:
        socket->write(headers + length + "\r\n" + body);
        socket->disconnectFromHost();
        return;
    }
}

void TestHttpServer::sendStatus(QTcpSocket* socket, int status, const QByteArray& extraHeaders)
{
    const QByteArray body = statusLine(status).mid(9).trimmed() + "\n";
    socket->write(statusLine(status) + extraHeaders + "Content-Type: text/plain\r\n"
        + "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n"
        + body);
    socket->disconnectFromHost();
}

void TestHttpServer::startTrickle(QTcpSocket* socket, const QByteArray& data)
{
    Exchange* exchange = exchanges.value(socket);
    exchange->body = data;
    exchange->trickleTimer = new QTimer;
    connect(
        exchange->trickleTimer, &QTimer::timeout, this, [this, socket] { trickleStep(socket); });
    exchange->trickleTimer->start(trickleIntervalMs);
}

void TestHttpServer::trickleStep(QTcpSocket* socket)
{
    Exchange* exchange = exchanges.value(socket);
    if (!exchange)
        return;
    socket->write(exchange->body.left(trickleBytes));
    exchange->body.remove(0, trickleBytes);
    if (exchange->body.isEmpty()) {
        exchange->trickleTimer->stop();
        socket->disconnectFromHost();
    }
}

void TestHttpServer::onBytesWritten(QTcpSocket* socket)
{
    Exchange* exchange = exchanges.value(socket);
    if (!exchange || (socket->bytesToWrite() > 0 && !exchange->endless))
        return;
    if (exchange->resetWhenFlushed) {
        resetConnection(socket);
        return;
    }
    if (exchange->endless && socket->bytesToWrite() < fillerHighWater)
        socket->write(QByteArray(fillerChunk, 'E'));
}

void TestHttpServer::resetConnection(QTcpSocket* socket)
{
    // A zero linger time makes the close send RST instead of FIN.
    struct linger noLinger = { 1, 0 };
    ::setsockopt(
        int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger);
    socket->abort();
}
