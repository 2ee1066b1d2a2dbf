#include "nginxmirrors.h"

#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <unistd.h>

NginxMirrors::NginxMirrors(const QString& prefix, const QString& servedDir)
    : prefix(prefix)
    , servedDir(servedDir)
{
}

QString NginxMirrors::program()
{
    // Users other than root often lack /usr/sbin in their PATH.
    const QString inPath = QStandardPaths::findExecutable(QStringLiteral("nginx"));
    return inPath.isEmpty()
        ? QStandardPaths::findExecutable(QStringLiteral("nginx"), { QStringLiteral("/usr/sbin") })
        : inPath;
}

NginxMirrors::~NginxMirrors()
{
    stop();
}

void NginxMirrors::forward(const QString& path, quint16 port)
{
    forwarded = path;
    forwardPort = port;
}

bool NginxMirrors::start(int count)
{
    // Ports the system hands out and takes back at once; nginx binds them right after.
    QList<QTcpServer*> probes;
    for (int i = 0; i < count; ++i) {
        auto* probe = new QTcpServer;
        if (!probe->listen(QHostAddress::LocalHost, 0))
            return false;
        ports.append(probe->serverPort());
        probes.append(probe);
    }
    qDeleteAll(probes);

    QByteArray conf = "daemon off;\nworker_processes 1;\n";
    // Workers of a root master would run as an unprivileged user that cannot read the test's
    // folders.
    if (::geteuid() == 0)
        conf += "user root;\n";
    conf += "pid " + QFile::encodeName(prefix) + "/nginx.pid;\nerror_log "
        + QFile::encodeName(prefix)
        + "/error.log;\nevents { worker_connections 64; }\nhttp {\n    client_body_temp_path "
        + QFile::encodeName(prefix) + "/body;\n    proxy_temp_path " + QFile::encodeName(prefix)
        + "/proxy;\n";
    for (int i = 0; i < count; ++i) {
        conf += "    server {\n        listen 127.0.0.1:" + QByteArray::number(ports.at(i))
            + ";\n        root " + QFile::encodeName(servedDir) + ";\n        access_log "
            + QFile::encodeName(prefix) + "/access" + QByteArray::number(i)
            + ".log;\n        include " CRV_SOURCE_DIR "/deploy/nginx/corvanta-mirror.conf;\n";
        if (forwardPort)
            conf += "        location = " + forwarded.toUtf8()
                + " { proxy_pass http://127.0.0.1:" + QByteArray::number(forwardPort) + "; }\n";
        conf += "    }\n";
    }
    conf += "}\n";
    if (!TestFiles::write(prefix + QStringLiteral("/nginx.conf"), conf))
        return false;

    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program(),
        { QStringLiteral("-p"), prefix, QStringLiteral("-c"),
            prefix + QStringLiteral("/nginx.conf") });
    if (!process.waitForStarted(10000)) {
        qWarning("nginx did not start: %s", qPrintable(process.errorString()));
        return false;
    }
    for (quint16 port : std::as_const(ports)) {
        const auto answers = [port] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            return socket.waitForConnected(200);
        };
        (void)QTest::qWaitFor(
            [&] { return answers() || process.state() == QProcess::NotRunning; }, 10000);
        if (!answers()) {
            qWarning("nginx ended: %s",
                TestFiles::read(prefix + QStringLiteral("/error.log")).constData());
            return false;
        }
    }
    return true;
}

void NginxMirrors::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000))
        process.kill();
    process.waitForFinished(10000);
}

QString NginxMirrors::url(int mirror) const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(ports.at(mirror));
}

QStringList NginxMirrors::requests(int mirror) const
{
    // Combined log format: ... "GET /3013/files/a.bin HTTP/1.1" ...
    QStringList paths;
    const QList<QByteArray> lines
        = TestFiles::read(prefix + QStringLiteral("/access%1.log").arg(mirror)).split('\n');
    for (const QByteArray& line : lines) {
        const int start = line.indexOf("\"GET ");
        if (start < 0)
            continue;
        const int end = line.indexOf(' ', start + 5);
        paths.append(QString::fromUtf8(line.mid(start + 5, end - start - 5)));
    }
    return paths;
}

QStringList NginxMirrors::allRequests() const
{
    QStringList paths;
    for (int i = 0; i < ports.size(); ++i)
        paths += requests(i);
    return paths;
}
