#include "updateserverprocess.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

const QByteArray UpdateServerProcess::versionsRequest = "3\0"_ba;
const QByteArray UpdateServerProcess::newsRequest = "*\0"_ba;
const QByteArray UpdateServerProcess::bannerRequest = "\x01\x01"_ba;

UpdateServerProcess::~UpdateServerProcess()
{
    stop();
}

QString UpdateServerProcess::program()
{
    return QStringLiteral(CRV_UPDATE_SERVER_BIN);
}

bool UpdateServerProcess::start(const QStringList& flags)
{
    const QStringList arguments = QStringList { QStringLiteral("--version-port"),
        QStringLiteral("0"), QStringLiteral("--banner-port"), QStringLiteral("0") }
        + flags;
    m_process.setProcessChannelMode(
        m_captureLog ? QProcess::SeparateChannels : QProcess::ForwardedErrorChannel);
    m_process.start(program(), arguments);
    if (!m_process.waitForStarted(10000)) {
        qWarning("update-server did not start: %s", qPrintable(m_process.errorString()));
        return false;
    }
    // Later flags win, so the ports given in `flags` override the ephemeral defaults above.
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(10000)) {
            qWarning("update-server did not report its ports");
            stop();
            return false;
        }
    }
    const QString line = QString::fromLatin1(m_process.readLine()).trimmed();
    static const QRegularExpression pattern(
        QStringLiteral("^listening version-port=(\\d+) banner-port=(\\d+)$"));
    const QRegularExpressionMatch match = pattern.match(line);
    if (!match.hasMatch()) {
        qWarning("unexpected first line from update-server: %s", qPrintable(line));
        stop();
        return false;
    }
    m_versionPort = quint16(match.captured(1).toUInt());
    m_bannerPort = quint16(match.captured(2).toUInt());
    return true;
}

QString UpdateServerProcess::log()
{
    m_log += QString::fromLatin1(m_process.readAllStandardError());
    return m_log;
}

void UpdateServerProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(10000);
}
