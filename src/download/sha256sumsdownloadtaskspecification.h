#pragma once

#include "sidecardownloadtaskspecification.h"

#include <QStringList>

// Fetches the release's file list (clientType + ".ini.sha256") when the verified product ini
// names its SHA-256; an ini without one needs no list and the task finishes at once. A list
// left by an interrupted session is kept when it matches. A list that does not match costs its
// mirror (removed) and is fetched again elsewhere; the task fails when no mirror is left, naming
// the mirrors whose list failed. A list that matches but does not parse was published that way,
// so no mirror can help: the task fails at once. The check runs on the main thread, as the list
// is capped at Sha256Sums::maxFileSize.
class Sha256SumsDownloadTaskSpecification : public SidecarDownloadTaskSpecification
{
    Q_OBJECT
public:
    Sha256SumsDownloadTaskSpecification(QNetworkAccessManager* manager, Mirrors* mirrors,
        Configuration* configuration, const IniDownloadTaskSpecification* iniDownload,
        QObject* parent, double progressRange);

    void execute() override;
    void subtasksDone() override;

private slots:
    void onDownloadFinished();

private:
    void startDownload();
    void refuseMalformed();
    void giveUp();

    // The mirrors whose list failed its check, in order, for the reason the task fails with.
    QStringList failedOn;
};
