#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QNetworkAccessManager;
class QNetworkReply;
class QTextEdit;
class QTimer;

// A modeless dialog with the changelog ("changelog_client.txt") of the version being installed,
// fetched from the mirrors of the installation's own settings: the alpha URL of update.ini
// alone when it is set, otherwise the mirrors of mirrors.ini in random order, each tried once,
// each request limited to 2000 ms from sending to the end of the body. Only a 200 answer of at
// most 1 MiB whose body is no "document has moved" page counts; a larger one is aborted as soon
// as its length is announced or exceeded. The text is shown as plain text. No error box: when
// every mirror failed the dialog says so.
//
// At most one viewer exists (m_instance); it deletes itself when closed, which abandons a
// request in flight. It works beside the update run, on a network manager of its own with
// the application's default proxy. Main thread only.
class ChangeLogViewer : public QDialog
{
    Q_OBJECT
public:
    // Opens the viewer for `version`, or raises the one already open (the version is then
    // ignored).
    static void showRemoteChangeLogDialog(QWidget* parent, const QString& version);
    // The viewer that currently exists, null when none.
    static ChangeLogViewer* m_instance;

    explicit ChangeLogViewer(QWidget* parent);
    ~ChangeLogViewer() override;

    // Starts a fetch from the next mirror; an empty version keeps the stored one. Does nothing
    // while a request is in flight.
    void requestRemote(QString version);
    // The base URL to try next, empty when none is left; reads the settings on the first call.
    QString getRemoteUrl();
    // Draws one base URL at random and removes it from the list.
    QString getRandomMirror();
    // Shows the text as plain text and sizes the dialog to its widest line (within the screen).
    void load(const QString& text);

private slots:
    void onRequestFinished();
    void onRequestTimeout();

private:
    void onRequestProgress(qint64 bytesReceived, qint64 bytesTotal);

    QTextEdit* textEdit;
    QNetworkAccessManager* networkManager = nullptr;
    QNetworkReply* reply = nullptr;
    QTimer* timeoutTimer = nullptr;
    QStringList mirrorUrls;
    bool mirrorsLoaded = false;
    QString version;
};
