#pragma once

#include "composedtaskspecification.h"

class Configuration;
class DownloadTaskSpecification;
class IniDownloadTaskSpecification;
class Mirrors;
class QNetworkAccessManager;

// The shared part of fetching a file that the verified product ini pins by its SHA-256 (a
// "sidecar" named clientType + ".ini" + suffix, beside the ini in the session directory): the
// paths, the pinned digest, and one download from the mirror that served the ini while that
// mirror is listed, capped at sizeLimit bytes. What a missing or mismatching sidecar means is
// the subclass's decision. Shared objects are not owned.
class SidecarDownloadTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
public:
    SidecarDownloadTaskSpecification(QNetworkAccessManager* manager, Mirrors* mirrors,
        Configuration* configuration, const IniDownloadTaskSpecification* iniDownload,
        const char* suffix, qint64 sizeLimit, QObject* parent, double progressRange);

    QNetworkAccessManager* networkManager;
    Mirrors* mirrors;
    Configuration* configuration;

    void reset() override;

protected:
    QString iniPath() const;
    QString sidecarPath() const;
    // Adds this attempt's download as the only subtask, for the caller to connect to and start
    // with executeSubTasks(); mayBeAbsent lets a 404 end it as absent rather than cost the
    // mirror.
    void addDownload(bool mayBeAbsent);

    // The SHA-256 the ini names for the sidecar; set by the subclass's execute().
    QString expectedSha256;
    // This attempt's download; a subtask, owned by this task.
    DownloadTaskSpecification* download = nullptr;

private:
    // The step that verified the ini; its download names the ini's mirror.
    const IniDownloadTaskSpecification* iniStep;
    QString suffix;
    qint64 sizeLimit;
};
