#include "mainwindow.h"

#include "changelogviewer.h"
#include "configuration.h"
#include "processtools.h"
#include "updateengine.h"
#include "weblink.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>

#include <cstdio>

#ifndef CRV_VENDOR_URL
#error "CRV_VENDOR_URL must be defined by the build"
#endif

namespace {
constexpr int clientStartDelayMs = 1000;
constexpr int exitConfigError = 1;
constexpr int exitEngineError = 2;
constexpr int exitRunCanceled = 3;
// How often an unattended run logs the download's progress, in ticks of a second.
constexpr int reportEveryTicks = 10;

QString smallText(const QString& text)
{
    return QStringLiteral("<span style=\"font-size:small;\">") + text + QStringLiteral("</span>");
}
} // namespace

MainWindow::MainWindow(Configuration& configuration)
    : QWidget(nullptr)
    , configuration(&configuration)
    , engine(new UpdateEngine(configuration, this))
{
    connect(engine, &UpdateEngine::error, this, &MainWindow::onError);
    connect(engine, &UpdateEngine::fatalError, this, &MainWindow::onFatalError);
    connect(engine, &UpdateEngine::updateProgress, this, &MainWindow::onProgressUpdate);
    connect(engine, &UpdateEngine::downloadProgress, this, &MainWindow::onDownloadProgress);
    connect(engine, &UpdateEngine::message, this, &MainWindow::onAppendText);
    connect(engine, &UpdateEngine::updateFinished, this, &MainWindow::onUpdateFinished);
    connect(engine, &UpdateEngine::updateCanceled, this, &MainWindow::onUpdateCanceled);
    connect(engine, &UpdateEngine::bannerFound, this, &MainWindow::onBannerFound);

    setupUi(this);
    log = new LogPane(outputTextEdit);
    // A person who opens the log reads it whole.
    connect(detailsButton, &QPushButton::clicked, log, &LogPane::flush);
    setWindowIcon(QIcon(QStringLiteral(":/images/corvanta_icon.png")));
    // Queued, so that the direct toggled -> setVisible connection of the form has shown or
    // hidden the log by the time the scroll position is set.
    connect(detailsButton, &QPushButton::clicked, this, &MainWindow::onDetailsPressed,
        Qt::QueuedConnection);

    const QString vendorUrl = QStringLiteral(CRV_VENDOR_URL);
    corvantaLabel->setUrl(vendorUrl);
    copyrightLabel->setText(copyrightLabel->text().arg(vendorUrl));
    outputTextEdit->hide();
    onDownloadProgress(0, 0, 0, false);

    connect(&configuration, &Configuration::fatalError, this, &MainWindow::onFatalConfigError);
}

void MainWindow::setUIToConfigSpecs()
{
    QString channelName;
    switch (configuration->channel) {
    case Stable:
        channelName = tr("Stable");
        break;
    case Beta:
        channelName = tr("Beta");
        break;
    case Alpha:
        channelName = tr("Alpha");
        break;
    }

    QString text;
    if (!configuration->clientVersionName.isEmpty()) {
        // The name comes from the command line or the update server: it is text, never markup.
        text = QStringLiteral("<div style=\"font-weight:bold;font-size:14px\">")
            + tr("Update to Corvanta %1").arg(configuration->clientVersionName.toHtmlEscaped())
            + QStringLiteral("</div>");
    }
    text += QStringLiteral("<div style=\"margin-top:8px\">")
        + tr("You are currently on <strong>%1 channel</strong>.").arg(channelName)
        + QStringLiteral("</div>");
    versionLabel->setText(text);

    if (configuration->noUserMode == 1)
        startButton->setEnabled(false);
    // Only now is it known whether the version list was signed, which the banner waits for.
    engine->getBanner();
}

void MainWindow::setNews()
{
    newsBanner->setNews(configuration->newsText);
}

bool MainWindow::unattended() const
{
    return configuration->noUserMode == 1;
}

void MainWindow::showErrorBox(QWidget* parent, const QString& text, int exitCode)
{
    log->flush();
    if (unattended()) {
        // Nobody is there to confirm a box: the text goes to the error output instead.
        std::fprintf(stderr, "%s\n", qPrintable(text));
        if (exitCode != 0)
            QCoreApplication::exit(exitCode);
        return;
    }
    auto* box = new QMessageBox(
        QMessageBox::Critical, QObject::tr("Error"), text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (exitCode != 0)
        connect(
            box, &QMessageBox::finished, qApp, [exitCode] { QCoreApplication::exit(exitCode); });
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
}

void MainWindow::onFatalConfigError(QString errorMessage)
{
    showErrorBox(nullptr, errorMessage, exitConfigError);
}

void MainWindow::onFatalError(QString errorMessage)
{
    showErrorBox(this, errorMessage, exitEngineError);
}

void MainWindow::onError(QString errorMessage)
{
    onAppendText(errorMessage);
    // During a run the error is the reason the run then fails with; it goes into that one box,
    // or unattended into the one failure report on the error output, not a second time here.
    if (engine->busy())
        return;
    showErrorBox(this, errorMessage, 0);
}

void MainWindow::onAutoStartUpdate()
{
    on_startButton_clicked();
}

void MainWindow::on_startButton_clicked()
{
    if (updateDone) {
        ProcessTools::startCrvClient();
        close();
        return;
    }
    if (engine->busy())
        return;
    if (engine->initialize()) {
        startButton->setEnabled(false);
        timeLeft.reset();
        engine->startUpdate();
    }
}

void MainWindow::onAppendText(QString text)
{
    log->append(text);
    if (unattended()) {
        // The caller's scripts follow the run in its log; flushed, as they read while it runs.
        std::fprintf(stdout, "%s\n", qPrintable(text));
        std::fflush(stdout);
    }
}

void MainWindow::onProgressUpdate(qreal doneFrac)
{
    totalProgressBar->setValue(int(1000 * doneFrac));
}

void MainWindow::onDownloadProgress(
    quint64 downloadDone, quint64 downloadTotal, quint64 speed, bool downloading)
{
    downloadSizeLabel->setVisible(downloading);
    downloadSpeedLabel->setVisible(downloading);
    if (!downloading)
        return;
    // Kilobytes of 1000 bytes, as the figures are announced to the user everywhere else.
    downloadSizeLabel->setText(smallText(
        tr("%1 KB / %2 KB")
            .arg(QString::number(downloadDone / 1000), QString::number(downloadTotal / 1000))));
    timeLeft.addTick(speed, downloadTotal > downloadDone ? downloadTotal - downloadDone : 0);
    // Nothing arrived in the last second: a mirror is being asked or has not answered yet.
    if (speed == 0) {
        downloadSpeedLabel->setText(smallText(tr("Waiting for the mirrors...")));
        return;
    }
    QString rate = tr("%1 KB/s").arg(QString::number(speed / 1000));
    const qint64 seconds = timeLeft.secondsLeft();
    if (seconds >= 0)
        rate = tr("%1, %2 left").arg(rate, timeText(seconds));
    downloadSpeedLabel->setText(smallText(rate));
    // Unattended, the log tells the caller now and then how far the download is.
    if (unattended() && seconds >= 0 && ++ticksSinceReport >= reportEveryTicks) {
        ticksSinceReport = 0;
        onAppendText(tr("Downloaded %1 KB of %2 KB, %3 left")
                         .arg(QString::number(downloadDone / 1000),
                             QString::number(downloadTotal / 1000), timeText(seconds)));
    }
}

QString MainWindow::timeText(qint64 seconds)
{
    if (seconds < 60)
        return tr("%1 s").arg(seconds);
    if (seconds < 3600)
        return tr("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return tr("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60);
}

void MainWindow::onUpdateFinished()
{
    updateDone = true;
    // The abort came after the new version was committed: the update completed, so the user
    // learns it and gets the client as after any success.
    if (closeRequested) {
        onAppendText(
            tr("The update was already installed when you asked to abort; it is complete."));
        log->flush();
        QTimer::singleShot(clientStartDelayMs, this, &MainWindow::on_startButton_clicked);
        return;
    }
    // An open changelog viewer means the user is reading; the client then waits for them.
    if (configuration->noUserMode == 1 && !ChangeLogViewer::m_instance) {
        QTimer::singleShot(clientStartDelayMs, this, &MainWindow::on_startButton_clicked);
        return;
    }
    log->flush();
    const QString name = configuration->clientVersionName.toHtmlEscaped();
    versionLabel->setText(QStringLiteral("<div style=\"font-weight:bold;font-size:14px\">")
        + (name.isEmpty() ? tr("Corvanta is up to date") : tr("Corvanta %1 is installed").arg(name))
        + QStringLiteral("</div><div style=\"margin-top:8px\">")
        + tr("The update finished successfully.") + QStringLiteral("</div>"));
    startButton->setText(tr("Start Corvanta"));
    startButton->setFocus();
    startButton->setEnabled(true);
}

void MainWindow::onUpdateCanceled()
{
    if (closeRequested) {
        // An unattended caller learns that the run did not complete; closing the last window
        // would end the event loop with 0.
        if (unattended()) {
            QCoreApplication::exit(exitRunCanceled);
            return;
        }
        // The run is over, so the window now closes without asking and takes the
        // application with it.
        close();
        return;
    }
    updateDone = false;
    const QString failure = failureText();
    engine->reset();
    startButton->setText(tr("Try again"));
    startButton->setEnabled(true);
    onAppendText(tr("Update cancelled"));
    log->flush();
    versionLabel->setText(QStringLiteral("<div style=\"font-weight:bold;font-size:14px\">")
        + failure.section(QLatin1Char('\n'), 0, 0).toHtmlEscaped()
        + QStringLiteral("</div><div style=\"margin-top:8px\">")
        + failure.section(QLatin1Char('\n'), 1).toHtmlEscaped() + QStringLiteral("</div>"));
    totalProgressBar->setValue(0);
    if (unattended()) {
        // A failed unattended run ends the program, so that its caller sees the failure.
        std::fprintf(stderr, "%s\n%s\n", qPrintable(tr("Update cancelled")), qPrintable(failure));
        QCoreApplication::exit(exitRunCanceled);
        return;
    }

    auto* box
        = new QMessageBox(QMessageBox::Critical, tr("Update"), failure, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
}

QString MainWindow::failureText() const
{
    QString state;
    switch (engine->installation()) {
    case UpdateEngine::OldVersion:
        state = tr("The update failed; your installation is unchanged.");
        break;
    case UpdateEngine::NewVersion:
        state = tr("The new version is installed, but the update did not finish.");
        break;
    case UpdateEngine::NotRestored:
        state = tr("The update failed and could not be undone completely; start the updater "
                   "again to restore your installation.");
        break;
    }
    const QString reason = engine->failureReason();
    return state + QLatin1Char('\n')
        + (reason.isEmpty() ? tr("Push \"Details\" for the reason, then try again.")
                            : tr("Reason: %1").arg(reason));
}

void MainWindow::onBannerFound(QByteArray bannerImage, QString clickUrl)
{
    QPixmap image;
    if (!image.loadFromData(bannerImage))
        return;
    banner->setPixmap(image);
    // The click URL comes over UDP unauthenticated: the image is shown without a link when it
    // is no web address.
    const QUrl url(clickUrl);
    const bool linked = WebLink::isWebUrl(url);
    banner->setToolTip(
        linked ? tr("Click to open \"%1://%2\"").arg(url.scheme(), url.host()) : QString());
    banner->setUrl(linked ? clickUrl : QString());
}

void MainWindow::onDetailsPressed()
{
    if (outputTextEdit->isVisible()) {
        QScrollBar* bar = outputTextEdit->verticalScrollBar();
        bar->setValue(bar->maximum());
    }
}

void MainWindow::on_changelogButton_clicked()
{
    ChangeLogViewer::showRemoteChangeLogDialog(this, QString::number(configuration->clientVersion));
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!engine->busy()) {
        event->accept();
        return;
    }
    event->ignore();
    if (closeRequested || closeQuestion)
        return;

    closeQuestion = new QMessageBox(QMessageBox::Question, tr("Question"),
        tr("<p>Update in progress.</p><p>Are you sure you want to abort?</p>"),
        QMessageBox::Yes | QMessageBox::No, this);
    // Enter must not abort: the answer that keeps the run going is the default.
    closeQuestion->setDefaultButton(QMessageBox::No);
    closeQuestion->setAttribute(Qt::WA_DeleteOnClose);
    closeQuestion->setWindowModality(Qt::ApplicationModal);
    connect(closeQuestion, &QMessageBox::finished, this, &MainWindow::onCloseAnswered);
    closeQuestion->show();
}

void MainWindow::onCloseAnswered()
{
    // Answered now, even though the box itself is deleted only later.
    QMessageBox* question = closeQuestion;
    closeQuestion = nullptr;
    if (question->standardButton(question->clickedButton()) != QMessageBox::Yes)
        return;
    if (!engine->busy()) {
        // The run ended while the question was open; nothing is left to abort.
        close();
        return;
    }
    closeRequested = true;
    startButton->setEnabled(false);
    engine->cancelUpdate();
}
