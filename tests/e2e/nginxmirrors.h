#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

// Mirrors as a vendor runs them: one nginx of the distribution with one server block per
// mirror on free loopback ports, each serving the same folder through deploy/'s mirror
// configuration and writing an access log of its own. Stopped by the destructor.
//
//     NginxMirrors nginx(work.path() + "/nginx", mirrorDir);
//     QVERIFY(nginx.start(3));
//     ... nginx.url(0) ... nginx.requests(0) ...
class NginxMirrors
{
public:
    NginxMirrors(const QString& prefix, const QString& servedDir);
    ~NginxMirrors();
    NginxMirrors(const NginxMirrors&) = delete;
    NginxMirrors& operator=(const NginxMirrors&) = delete;

    // The nginx executable; empty when it is not installed.
    static QString program();
    // Requests for `path` are handed to a server on 127.0.0.1:port instead (a test's server
    // that holds them). Before start().
    void forward(const QString& path, quint16 port);
    // True once every mirror answers.
    bool start(int count);
    void stop();

    // "http://127.0.0.1:<port>", the URL a mirrors.ini names.
    QString url(int mirror) const;
    // The request paths mirror has served so far, in order.
    QStringList requests(int mirror) const;
    QStringList allRequests() const;

private:
    QString prefix;
    QString servedDir;
    QString forwarded;
    quint16 forwardPort = 0;
    QList<quint16> ports;
    QProcess process;
};
