#pragma once

#include "asynctaskspecification.h"

#include <QString>

// Runs a CheckSigFunc on the thread pool as a task. On the main thread it emits checkDone
// before it ends, so that a listener connected directly can react (reset, download again)
// before finished or canceled is reported. A failed check logs "Signature check failed for"
// the file, then ends in errorCancel() when cancelOnFailure, otherwise in finish().
class CheckSignatureTaskSpecification : public ASyncTaskSpecification
{
    Q_OBJECT
public:
    CheckSignatureTaskSpecification(QString filePath, QString expectedMd5, bool cancelOnFailure,
        QObject* parent, double progressRange);

    QString filePath;
    QString expectedMd5;
    bool cancelOnFailure;
    // The signature file of a signature check; empty: filePath + ".sig".
    QString signaturePath;
    // Empty: the SHA-256 is not checked.
    QString expectedSha256;

    ASyncFunc* createFunction() override;
    void runDone(bool ok) override;

signals:
    void checkDone(bool pass, CheckSignatureTaskSpecification* task);
};
