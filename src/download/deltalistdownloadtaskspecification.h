#pragma once

#include "sidecardownloadtaskspecification.h"

// Fetches the release's delta list (clientType + ".ini.deltas") when the verified product ini
// names its SHA-256; a list left by an interrupted session is kept when it matches. Deltas only
// save bytes, so nothing here fails the update: a list that is not published, does not match
// or does not parse is removed, logged once, and every file is downloaded whole. Only a user's
// cancel ends the task otherwise than finished.
class DeltaListDownloadTaskSpecification : public SidecarDownloadTaskSpecification
{
    Q_OBJECT
public:
    DeltaListDownloadTaskSpecification(QNetworkAccessManager* manager, Mirrors* mirrors,
        Configuration* configuration, const IniDownloadTaskSpecification* iniDownload,
        QObject* parent, double progressRange);

    void execute() override;
    void subtasksDone() override;

private:
    bool listIsGood() const;
    void doWithoutDeltas(const QString& reason);
};
