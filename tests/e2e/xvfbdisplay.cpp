#include "xvfbdisplay.h"

#include <QDeadlineTimer>
#include <QThread>

namespace {
constexpr int startLimitMs = 20000;
constexpr int toolLimitMs = 20000;
} // namespace

XvfbDisplay::~XvfbDisplay()
{
    if (server.state() != QProcess::NotRunning) {
        server.terminate();
        if (!server.waitForFinished(5000))
            server.kill();
        server.waitForFinished();
    }
}

bool XvfbDisplay::start()
{
    // -displayfd: Xvfb chooses a free number and writes it once it is ready for clients.
    server.start(QStringLiteral("Xvfb"),
        { QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
            QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
            QStringLiteral("tcp"),
            // Without it the server resets whenever its last client leaves, and a program
            // started in that moment finds no display.
            QStringLiteral("-noreset") });
    if (!server.waitForStarted(startLimitMs)) {
        qWarning("Xvfb did not start: %s", qPrintable(server.errorString()));
        return false;
    }
    const QDeadlineTimer deadline(startLimitMs);
    while (!server.canReadLine()) {
        if (deadline.hasExpired() || !server.waitForReadyRead(int(deadline.remainingTime()))) {
            qWarning("Xvfb named no display: %s", server.readAllStandardError().constData());
            return false;
        }
    }
    display = QLatin1Char(':') + QString::fromLatin1(server.readLine().trimmed());
    // The number may come before the server takes connections: wait until a client gets in.
    while (!runTool(QStringLiteral("xdotool"), { QStringLiteral("getdisplaygeometry") }, nullptr)) {
        if (deadline.hasExpired() || server.state() == QProcess::NotRunning) {
            qWarning("Xvfb on %s takes no clients", qPrintable(display));
            return false;
        }
        QThread::msleep(50);
    }
    return true;
}

QProcessEnvironment XvfbDisplay::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    return environment;
}

bool XvfbDisplay::runTool(
    const QString& program, const QStringList& arguments, QByteArray* output) const
{
    QProcess tool;
    tool.setProcessEnvironment(environment());
    tool.start(program, arguments);
    if (!tool.waitForFinished(toolLimitMs)) {
        tool.kill();
        tool.waitForFinished();
        return false;
    }
    if (output)
        *output = tool.readAllStandardOutput();
    return tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

QStringList XvfbDisplay::windows(const QString& titlePattern) const
{
    QByteArray output;
    // xdotool exits with 1 when nothing matches.
    runTool(QStringLiteral("xdotool"),
        { QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
            titlePattern },
        &output);
    return QString::fromLatin1(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool XvfbDisplay::key(const QString& window, const QString& keyName) const
{
    // Focus first, then a real key press: a key sent to the window itself fails on the release
    // when the press has already closed it.
    return runTool(QStringLiteral("xdotool"),
        { QStringLiteral("windowfocus"), QStringLiteral("--sync"), window, QStringLiteral("key"),
            keyName },
        nullptr);
}

bool XvfbDisplay::screenshot(const QString& path) const
{
    return runTool(QStringLiteral("import"),
        { QStringLiteral("-window"), QStringLiteral("root"), path }, nullptr);
}
