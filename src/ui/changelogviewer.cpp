#include "changelogviewer.h"

#include "configuration.h"
#include "mirrorurl.h"
#include "randomgenerator.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFontMetrics>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QScreen>
#include <QSettings>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

namespace {
constexpr int requestLimitMs = 2000;
// A changelog is a few kilobytes; a larger body would freeze the window while it is laid out.
constexpr qint64 maxChangeLogBytes = 1024 * 1024;
constexpr int defaultWidth = 617;
constexpr int defaultHeight = 500;
constexpr int widthMargin = 50;
} // namespace

ChangeLogViewer* ChangeLogViewer::m_instance = nullptr;

void ChangeLogViewer::showRemoteChangeLogDialog(QWidget* parent, const QString& version)
{
    if (!m_instance) {
        m_instance = new ChangeLogViewer(parent);
        m_instance->requestRemote(version);
    }
    m_instance->show();
    m_instance->raise();
    m_instance->activateWindow();
}

ChangeLogViewer::ChangeLogViewer(QWidget* parent)
    : QDialog(parent, Qt::WindowSystemMenuHint)
    , textEdit(new QTextEdit)
{
    setObjectName(QStringLiteral("ChangeLogViewer"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Changelog"));

    textEdit->setObjectName(QStringLiteral("changeLogTextEdit"));
    textEdit->setReadOnly(true);
    textEdit->setLineWrapMode(QTextEdit::NoWrap);
    QFont font;
    font.setStyleHint(QFont::TypeWriter);
    textEdit->setFontFamily(font.defaultFamily());

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, Qt::Horizontal);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);

    auto* layout = new QVBoxLayout;
    layout->addWidget(textEdit);
    layout->addWidget(buttons);
    setLayout(layout);
    resize(defaultWidth, defaultHeight);
}

ChangeLogViewer::~ChangeLogViewer()
{
    if (m_instance == this)
        m_instance = nullptr;
    // The reply dies with the network manager; it must not report back into a half-destroyed
    // dialog.
    if (reply)
        reply->disconnect(this);
}

void ChangeLogViewer::requestRemote(QString version)
{
    if (reply)
        return;
    textEdit->setPlainText(tr("Loading..."));
    if (!version.isEmpty())
        this->version = version;

    const QString base = getRemoteUrl();
    if (base.isEmpty()) {
        textEdit->setPlainText(tr("Failed to load changelog."));
        return;
    }

    if (!networkManager) {
        networkManager = new QNetworkAccessManager(this);
        // A redirect must arrive as what it is, a failed mirror, not be followed elsewhere.
        networkManager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    }
    reply = networkManager->get(QNetworkRequest(
        MirrorUrl::fileUrl(base, this->version, QStringLiteral("changelog_client.txt"))));
    connect(reply, &QNetworkReply::finished, this, &ChangeLogViewer::onRequestFinished);
    connect(reply, &QNetworkReply::downloadProgress, this, &ChangeLogViewer::onRequestProgress);

    if (!timeoutTimer) {
        timeoutTimer = new QTimer(this);
        timeoutTimer->setSingleShot(true);
        timeoutTimer->setInterval(requestLimitMs);
        connect(timeoutTimer, &QTimer::timeout, this, &ChangeLogViewer::onRequestTimeout);
    }
    timeoutTimer->start();
}

void ChangeLogViewer::onRequestTimeout()
{
    // The aborted reply finishes with an error, and onRequestFinished moves on.
    if (reply)
        reply->abort();
}

void ChangeLogViewer::onRequestProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    // Both the announced length and what arrives count: the length may be missing or lie. The
    // aborted reply finishes with an error, a failed mirror.
    if (reply && (bytesReceived > maxChangeLogBytes || bytesTotal > maxChangeLogBytes))
        reply->abort();
}

void ChangeLogViewer::onRequestFinished()
{
    if (!reply)
        return;
    QNetworkReply* done = reply;
    reply = nullptr;
    done->deleteLater();

    // With redirects not followed, a 3xx finishes without a network error; only a 200 carries
    // the file.
    if (done->error() == QNetworkReply::NoError
        && done->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200) {
        const QByteArray body = done->read(maxChangeLogBytes + 1);
        const QString text = QString::fromUtf8(body);
        if (body.size() <= maxChangeLogBytes
            && !text.contains(QLatin1String("document has moved"))) {
            load(text);
            return;
        }
    }
    requestRemote(QString());
}

QString ChangeLogViewer::getRemoteUrl()
{
    if (mirrorsLoaded)
        return mirrorUrls.isEmpty() ? QString() : getRandomMirror();
    mirrorsLoaded = true;

    const QString updateIni = Configuration::getAppRootFilePath(QStringLiteral("update.ini"));
    if (QFile::exists(updateIni)) {
        // The alpha location alone, whatever the user's channel.
        const QString alpha = QSettings(updateIni, QSettings::IniFormat)
                                  .value(QStringLiteral("Channel/alpha"))
                                  .toString();
        if (!alpha.isEmpty())
            return alpha;
    }

    const QString mirrorsIni = Configuration::getAppRootFilePath(QStringLiteral("mirrors.ini"));
    if (!QFile::exists(mirrorsIni))
        return QString();
    QSettings settings(mirrorsIni, QSettings::IniFormat);
    QStringList names;
    const int count = settings.beginReadArray(QStringLiteral("mirrors"));
    for (int i = 0; i < count; ++i) {
        settings.setArrayIndex(i);
        names.append(settings.value(QStringLiteral("mirror")).toString());
    }
    settings.endArray();
    for (const QString& name : std::as_const(names)) {
        const QString url = settings.value(name + QStringLiteral("/url")).toString();
        if (!url.isEmpty())
            mirrorUrls.append(url);
    }
    return getRandomMirror();
}

QString ChangeLogViewer::getRandomMirror()
{
    if (mirrorUrls.isEmpty())
        return QString();
    return mirrorUrls.takeAt(RandomGenerator::next() % mirrorUrls.size());
}

void ChangeLogViewer::load(const QString& text)
{
    // A changelog is plain text; as rich text a mirror's file could load local files as images.
    textEdit->setPlainText(text);
    if (text.isEmpty())
        return;

    const QFontMetrics metrics(textEdit->currentFont());
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::KeepEmptyParts))
        widest = qMax(widest, metrics.horizontalAdvance(line));
    int w = widest > 0 ? widest + widthMargin : defaultWidth;
    int h = defaultHeight;

    const QRect available = screen() ? screen()->availableGeometry() : QRect();
    if (available.isValid()) {
        h = qMin(available.height(), defaultHeight);
        w = qMin(available.width(), w);
    }
    resize(w, h);
}
