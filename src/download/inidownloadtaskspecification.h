#pragma once

#include "composedtaskspecification.h"

class CheckSignatureTaskSpecification;
class Configuration;
class Mirrors;
class QNetworkAccessManager;

// Fetches the product ini (clientType + ".ini") and its ".sig" into the session directory and
// verifies the signature, one subtask after the other. Copies already in the session directory
// are reused on the first attempt only; after a failed check both are downloaded again, up to
// maxFailedChecks failures. Finishes when the check passes. Shared objects are not owned.
class IniDownloadTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
public:
    IniDownloadTaskSpecification(QNetworkAccessManager* manager, Mirrors* mirrors,
        Configuration* configuration, QObject* parent, double progressRange);

    static constexpr qint32 maxFailedChecks = 1000;

    QNetworkAccessManager* networkManager;
    Mirrors* mirrors;
    Configuration* configuration;
    qint32 failedChecks = 0;

    void execute() override;
    void reset() override;
    void makeSubtasksAndStart();

public slots:
    void onSigCheckDone(bool pass, CheckSignatureTaskSpecification* check);
};
