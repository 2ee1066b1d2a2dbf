#pragma once

#include "composedtaskspecification.h"

class Configuration;
class DownloadTaskSpecification;
class IniDownloadTaskSpecification;
class Mirrors;
class QNetworkAccessManager;

// Fetches the release's delta list (clientType + ".ini.deltas") into the session directory when
// the verified product ini names its SHA-256, from the mirror that served the ini while that
// mirror is listed; a list left by an interrupted session is kept when it matches. Deltas only
// save bytes, so nothing here fails the update: a list that is not published, does not match
// or does not parse is removed, logged once, and every file is downloaded whole. Only a user's
// cancel ends the task otherwise than finished. Shared objects are not owned.
class DeltaListDownloadTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
public:
    DeltaListDownloadTaskSpecification(QNetworkAccessManager* manager, Mirrors* mirrors,
        Configuration* configuration, const IniDownloadTaskSpecification* iniDownload,
        QObject* parent, double progressRange);

    QNetworkAccessManager* networkManager;
    Mirrors* mirrors;
    Configuration* configuration;

    void execute() override;
    void reset() override;
    void subtasksDone() override;

private:
    QString listPath() const;
    bool listIsGood() const;
    void doWithoutDeltas(const QString& reason);

    // The step that verified the ini; its download names the ini's mirror.
    const IniDownloadTaskSpecification* iniStep;
    // The SHA-256 the ini names for the list.
    QString expectedSha256;
    // A subtask, owned by this task.
    DownloadTaskSpecification* download = nullptr;
};
