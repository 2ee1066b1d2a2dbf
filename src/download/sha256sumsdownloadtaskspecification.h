#pragma once

#include "composedtaskspecification.h"

class Configuration;
class DownloadTaskSpecification;
class IniDownloadTaskSpecification;
class Mirrors;
class QNetworkAccessManager;

// Fetches the release's file list (clientType + ".ini.sha256") into the session directory
// when the verified product ini there names its SHA-256; an ini without one needs no list and
// the task finishes at once. A list left by an interrupted session is kept when it matches.
// The list comes from the mirror that served the ini while that mirror is listed. A list that
// does not match costs its mirror (removed) and is fetched again elsewhere; the task fails
// when no mirror is left. A list that matches but does not parse was published that way, so no
// mirror can help: the task fails at once. The check runs on the main thread, as the list is
// capped at Sha256Sums::maxFileSize. Shared objects are not owned.
class Sha256SumsDownloadTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
public:
    Sha256SumsDownloadTaskSpecification(QNetworkAccessManager* manager, Mirrors* mirrors,
        Configuration* configuration, const IniDownloadTaskSpecification* iniDownload,
        QObject* parent, double progressRange);

    QNetworkAccessManager* networkManager;
    Mirrors* mirrors;
    Configuration* configuration;

    void execute() override;
    void reset() override;
    void subtasksDone() override;

private slots:
    void onDownloadFinished();

private:
    QString iniPath() const;
    void startDownload();
    void refuseMalformed();
    void giveUp();

    // The step that verified the ini; its download names the ini's mirror.
    const IniDownloadTaskSpecification* iniStep;
    // The SHA-256 the ini names for the list.
    QString expectedSha256;
    // This attempt's download; a subtask, owned by this task.
    DownloadTaskSpecification* download = nullptr;
};
