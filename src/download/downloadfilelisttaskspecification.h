#pragma once

#include "composedtaskspecification.h"
#include "filedownloadspecification.h"

#include <QList>
#include <QSet>

class Configuration;
class Mirrors;
class QNetworkAccessManager;

// Downloads and checks every file of the plan's download list into the session directory,
// downloadStreams (read at construction) at a time, starting them in list order. The list is
// read only when the task executes, because the step before fills it. The download figures
// report what the whole list downloads as their total: the listed sizes, a delta's where a file
// comes as one. No two of its tasks write one file,
// even when the list holds a signature-checked file and its ".sig". Shared objects are not
// owned.
class DownloadFileListTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
public:
    DownloadFileListTaskSpecification(QList<FileDownloadSpecification>* list,
        QNetworkAccessManager* manager, Mirrors* mirrors, Configuration* configuration,
        QObject* parent, double progressRange);

    QList<FileDownloadSpecification>* downloadList;
    QNetworkAccessManager* networkManager;
    Mirrors* mirrors;
    Configuration* configuration;
    qint64 totalBytes = 0;

    void execute() override;
    void reset() override;
    void timeTick(quint64& bytesDone, quint64& bytesTotal, quint64& bytesSinceLastTick,
        bool& downloading) override;
    bool makeSubDirs();
    void makeSubtasksAndStart();

private:
    QSet<QString> sessionNames() const;
    static QString privateSignatureName(const QString& fileName, QSet<QString>& taken);
};
