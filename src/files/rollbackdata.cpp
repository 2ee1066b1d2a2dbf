#include "rollbackdata.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QObject>

RollbackData::RollbackData(Operation operation, const QString& path)
    : path(path)
    , operation(operation)
{
}

RollbackData::RollbackData(Operation operation, const QString& from, const QString& to)
    : path(to)
    , previousPath(from)
    , operation(operation)
{
}

bool RollbackData::rollback(QObject* reporter) const
{
    switch (operation) {
    case Rename:
        if (QFile::rename(path, previousPath))
            return true;
        message(reporter,
            QStringLiteral("warning: rollback rename %1 to %2 failed").arg(previousPath, path));
        return false;
    case CreateFile:
        if (QFile::remove(path))
            return true;
        message(reporter, QStringLiteral("warning: rollback create file %1 failed").arg(path));
        return false;
    case CreateDir:
        // rmdir removes empty directories only, so whatever someone put there meanwhile stays.
        if (QFileInfo(path).dir().rmdir(QDir(path).dirName()))
            return true;
        message(reporter, QStringLiteral("warning: rollback create dir %1 failed").arg(path));
        return false;
    }
    qFatal("Should not reach here");
}

void RollbackData::message(QObject* reporter, const QString& text)
{
    if (reporter)
        QMetaObject::invokeMethod(reporter, "message", Q_ARG(QString, text));
}
