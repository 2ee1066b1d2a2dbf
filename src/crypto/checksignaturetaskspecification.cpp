#include "checksignaturetaskspecification.h"

#include "checksigfunc.h"

#include <utility>

CheckSignatureTaskSpecification::CheckSignatureTaskSpecification(QString filePath,
    QString expectedMd5, bool cancelOnFailure, QObject* parent, double progressRange)
    : ASyncTaskSpecification(parent, progressRange)
    , filePath(std::move(filePath))
    , expectedMd5(std::move(expectedMd5))
    , cancelOnFailure(cancelOnFailure)
{
}

ASyncFunc* CheckSignatureTaskSpecification::createFunction()
{
    return new CheckSigFunc(filePath, expectedMd5, signaturePath, expectedSha256);
}

void CheckSignatureTaskSpecification::runDone(bool ok)
{
    if (state != TaskRunning)
        return;
    if (ok) {
        emit checkDone(true, this);
        finish();
        return;
    }
    emit message(QStringLiteral("Signature check failed for %1").arg(filePath));
    emit checkDone(false, this);
    if (cancelOnFailure)
        errorCancel();
    else
        finish();
}
