#pragma once

#include "logpane.h"
#include "timeleftestimate.h"
#include "ui_mainwindow.h"

#include <QPointer>
#include <QWidget>

class Configuration;
class QMessageBox;
class UpdateEngine;

// The updater's window: target version and channel, news ticker, banner, progress, the
// optional log, the download figures and three buttons. It owns the update engine and turns
// its signals into what the user sees. The start button starts a run, restarts a cancelled
// one, or after success starts the client and closes the window; in unattended mode both
// happen by themselves. Closing during a run asks whether to abort.
//
// Error boxes never run a nested event loop: they are shown application-modal and answered
// after the signal that reported the error has returned, so no queued task start runs between a
// task's error and its cancellation. A fatal error ends the event loop once its box is confirmed (1
// for the configuration's, 2 for the engine's); one reported while the command line is parsed,
// before the event loop runs, is left open for the caller, which then runs the loop until it is
// confirmed. In unattended mode nothing waits for a person: each log line also goes to standard
// output, errors to the error output, a fatal one ends the loop at once, and a cancelled run
// ends it with 3, also one the user aborted by closing the window. Main thread only; the
// configuration must outlive the window.
class MainWindow : public QWidget, private Ui::MainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(Configuration& configuration);

    // Shows the target version and channel; disables the start button in unattended mode. Then
    // asks for the banner, which comes only after a signed version list.
    void setUIToConfigSpecs();
    // Hands the configuration's news text to the ticker.
    void setNews();

public slots:
    void onFatalConfigError(QString errorMessage);
    void onFatalError(QString errorMessage);
    void onError(QString errorMessage);
    void onAutoStartUpdate();
    void on_startButton_clicked();
    void onAppendText(QString);
    void onProgressUpdate(qreal doneFrac);
    void onDownloadProgress(
        quint64 downloadDone, quint64 downloadTotal, quint64 speed, bool downloading);
    void onUpdateFinished();
    void onUpdateCanceled();
    void onBannerFound(QByteArray bannerImage, QString clickUrl);
    void onDetailsPressed();
    void on_changelogButton_clicked();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // An application-modal box shown without a nested event loop; an exitCode other than 0
    // ends the event loop with that code when the box is confirmed. Unattended, the text goes
    // to the error output and the loop ends at once.
    void showErrorBox(QWidget* parent, const QString& text, int exitCode);
    bool unattended() const;
    // What a failed run left and why, for its box and the error output.
    QString failureText() const;
    static QString timeText(qint64 seconds);
    void onCloseAnswered();

    Configuration* configuration;
    UpdateEngine* engine;
    bool updateDone = false;
    bool closeRequested = false;
    // The abort question while it is open, so that a second close does not ask again.
    QPointer<QMessageBox> closeQuestion;
    // Created with the form, whose log view it fills.
    LogPane* log = nullptr;
    TimeLeftEstimate timeLeft;
    int ticksSinceReport = 0;
};
