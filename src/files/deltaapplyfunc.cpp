#include "deltaapplyfunc.h"

#include "checksigfunc.h"
#include "deltaapplier.h"
#include "filedigest.h"

#include <QFile>

#include <cstdio>
#include <utility>

DeltaApplyFunc::DeltaApplyFunc(const FileDownloadSpecification& file, const QString& sessionDir)
    : file(file)
    , sessionDir(sessionDir)
{
}

bool DeltaApplyFunc::run()
{
    const QString deltaPath = sessionDir + QLatin1Char('/') + file.deltaFileName();
    const QString resultPath = sessionDir + QLatin1Char('/') + file.deltaResultFileName();
    QString problem;
    const bool ok = apply(deltaPath, resultPath, problem);
    QFile::remove(deltaPath);
    if (!ok) {
        QFile::remove(resultPath);
        emit message(QStringLiteral("The delta for %1 could not be used (%2); downloading the "
                                    "whole file")
                         .arg(file.fileName, problem));
    }
    return ok;
}

bool DeltaApplyFunc::apply(const QString& deltaPath, const QString& resultPath, QString& problem) const
{
    if (!QFile::exists(deltaPath)) {
        problem = QStringLiteral("not on the mirror");
        return false;
    }
    QByteArray sha256;
    if (FileDigest::sha256(deltaPath, sha256) != FileBlockReader::Ok) {
        problem = QStringLiteral("cannot read the delta");
        return false;
    }
    if (QString::fromLatin1(sha256).compare(file.deltaSha256, Qt::CaseInsensitive) != 0) {
        problem = QStringLiteral("the delta is not the one listed");
        return false;
    }
    if (!DeltaApplier::apply(
            file.deltaBasePath, deltaPath, resultPath, qint64(file.size), problem))
        return false;
    if (!CheckSigFunc(resultPath, file.md5, QString(), file.sha256).run()) {
        problem = QStringLiteral("the result fails its check");
        return false;
    }
    // A rename that replaces: whatever an earlier run left at the download's name goes.
    const QString localPath = sessionDir + QLatin1Char('/') + file.fileName;
    if (std::rename(QFile::encodeName(resultPath).constData(),
            QFile::encodeName(localPath).constData())
        != 0) {
        problem = QStringLiteral("cannot move the result to %1").arg(localPath);
        return false;
    }
    return true;
}
