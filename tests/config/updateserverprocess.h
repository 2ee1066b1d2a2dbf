#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>

// The reference update server (tools/update-server) run as a child process for one test.
// start() returns once the server has bound its ports; the destructor stops it.
class UpdateServerProcess
{
public:
    UpdateServerProcess() = default;
    ~UpdateServerProcess();
    UpdateServerProcess(const UpdateServerProcess&) = delete;
    UpdateServerProcess& operator=(const UpdateServerProcess&) = delete;

    static QString program();
    // What a client sends: the version list query, the news query, the banner query.
    static const QByteArray versionsRequest;
    static const QByteArray newsRequest;
    static const QByteArray bannerRequest;

    // Starts the server with the given flags on 127.0.0.1; ports are ephemeral unless the flags
    // name them. False (with a warning) when it did not come up.
    bool start(const QStringList& flags);
    void stop();
    // Call before start(): keep the server's log lines for log() instead of passing them on.
    void captureLog() { m_captureLog = true; }
    // What the server has logged so far, one request a line.
    QString log();

    quint16 versionPort() const { return m_versionPort; }
    quint16 bannerPort() const { return m_bannerPort; }

private:
    QProcess m_process;
    quint16 m_versionPort = 0;
    quint16 m_bannerPort = 0;
    bool m_captureLog = false;
    QString m_log;
};
