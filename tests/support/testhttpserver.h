#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

class QTcpServer;
class QTcpSocket;

// An HTTP/1.1 server for tests on 127.0.0.1 with a port chosen by the system. It serves the
// files below a root folder (URL path "/a/b" is root + "/a/b"; a missing file is a 404) and
// can be told to misbehave, per path or for any path, for a number of requests. Every answer
// closes its connection. It counts requests per URL path (percent-decoded, without query).
// Like nginx, it answers "Range: bytes=N-" with 206 and a Content-Range (416 past the end).
//
//     TestHttpServer server(dir.path());
//     QVERIFY(server.start());
//     server.setFault(QStringLiteral("/7/a.bin"), TestHttpServer::NotFound, 1); // first only
//     ... fetch server.url() + "/7/a.bin" ...
//     QCOMPARE(server.requestCount(QStringLiteral("/7/a.bin")), 2);
//
// Lives and answers on the thread that created it, which must run an event loop (QSignalSpy
// and QTRY_* do). Connections left stalled stay open until the client gives up or the server
// is destroyed.
class TestHttpServer : public QObject
{
    Q_OBJECT
public:
    enum Fault {
        Serve, // the file with its Content-Length, or the asked range of it
        IgnoreRange, // the whole file with 200 even when a range was asked for
        WrongContentRange, // 206 for an asked range: the bytes from one past its start, so labelled
        NotFound, // 404
        MovedPermanently, // 301 with a Location header pointing back at the same path
        Unauthorized, // 401 with a Basic challenge
        Forbidden, // 403
        Found, // 302 with a Location header pointing back at the same path
        RedirectToFile, // 302 to the file:// URL of the file below the root folder
        LongContentLength, // a Content-Length far beyond the body, the body, then a clean close
        InternalError, // 500
        StallAfterHeaders, // 200 headers with the Content-Length, then silence
        StallMidBody, // the headers and the first half of the body, then silence
        ResetMidBody, // the headers and the first half of the body, then a TCP reset
        ShortBody, // half the body, then a clean close although the Content-Length says more
        LongBody, // the body, then more bytes than its Content-Length announced
        NoContentLength, // the body without a Content-Length, ended by closing
        WrongBytes, // a body of the announced length whose every byte is altered
        EndlessBody, // the body and then filler bytes forever, without a Content-Length
        Trickle, // the body with its Content-Length, a few bytes at a time (setTrickle)
        GzipLabelled, // the file as stored, labelled "Content-Encoding: gzip" as some CDNs do
        BrokenChunks, // the file chunked, its last chunk announcing more than follows, then a close
        OversizedHeaders, // fillerHeaderLines header lines of 1 KiB each, then the file
        TrickleHeaders, // OversizedHeaders, the whole answer a few bytes at a time (setTrickle)
    };
    Q_ENUM(Fault)

    explicit TestHttpServer(const QString& rootDir, QObject* parent = nullptr);
    ~TestHttpServer() override;

    bool start();
    quint16 port() const;
    // "http://127.0.0.1:<port>", without a trailing slash.
    QString url() const;

    // The next `times` requests for `path` get `fault` (all of them when times is -1); then
    // the path is served normally again. The path "*" applies to requests for paths without
    // a rule of their own. A new rule for a path replaces the old one.
    void setFault(const QString& path, Fault fault, int times = -1);
    void clearFaults();
    // The filler header lines of OversizedHeaders and TrickleHeaders.
    static constexpr int fillerHeaderLines = 64;

    // Trickle and TrickleHeaders: bytesPerStep bytes every intervalMs milliseconds (defaults 64
    // and 5).
    void setTrickle(int bytesPerStep, int intervalMs);

    int requestCount(const QString& path) const;
    int totalRequestCount() const;
    // Every requested path, in arrival order.
    QStringList requestLog() const;
    // The Range header of every request (empty without one), in arrival order.
    QList<QByteArray> rangeLog() const;
    // The file bytes put on the wire so far, over all answers (the endless filler not counted).
    qint64 bodyBytesSent() const;

signals:
    void requestReceived(const QString& path);

private:
    struct Exchange;
    struct Rule
    {
        Fault fault;
        int times;
    };

    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void onBytesWritten(QTcpSocket* socket);
    void respond(QTcpSocket* socket, const QString& path, const QByteArray& range);
    Fault takeFault(const QString& path);
    void sendStatus(QTcpSocket* socket, int status, const QByteArray& extraHeaders);
    void startTrickle(QTcpSocket* socket, const QByteArray& data);
    void trickleStep(QTcpSocket* socket);
    void resetConnection(QTcpSocket* socket);

    QString rootDir;
    QTcpServer* server;
    QHash<QTcpSocket*, Exchange*> exchanges;
    QHash<QString, Rule> rules;
    QHash<QString, int> counts;
    QStringList log;
    QList<QByteArray> ranges;
    qint64 bodyBytes = 0;
    int trickleBytes = 64;
    int trickleIntervalMs = 5;
};
