#include "installationlock.h"

#include "configuration.h"

#include <QMessageBox>
#include <QObject>

#include <cstdio>

InstallationLock::InstallationLock()
    // Removed at the end, so that a finished run leaves the installation as the update made it.
    : lock(fileName(), FileLock::RemoveFile)
{
}

QString InstallationLock::fileName()
{
    return Configuration::getAppRootFilePath(QStringLiteral("update.lock"));
}

bool InstallationLock::acquire()
{
    const FileLock::Result result = lock.tryLock();
    if (result == FileLock::Locked)
        return true;
    const QString root = Configuration::getAppRootPath();
    // Without the lock nothing can keep two runs apart, so a lock that cannot be taken at all
    // ends the run as well.
    const QString text = result == FileLock::Busy
        ? QObject::tr("Another update of %1 is already running; this one ends without changing "
                      "anything.")
              .arg(root)
        : QObject::tr("Cannot lock the installation %1 (%2: %3); the update ends without "
                      "changing anything.")
              .arg(root, lock.path(), lock.errorString());
    if (Configuration::startedUnattended())
        std::fprintf(stderr, "%s\n", qPrintable(text));
    else
        QMessageBox(QMessageBox::Critical, QObject::tr("Error"), text, QMessageBox::Ok).exec();
    return false;
}
