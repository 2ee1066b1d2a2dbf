#include "processtools.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>

#ifndef CRV_CLIENT_OPENER
#error "CRV_CLIENT_OPENER must be defined by the build"
#endif

void ProcessTools::startCrvClient()
{
    QProcess::startDetached(QStringLiteral(CRV_CLIENT_OPENER),
        QStringList { clientBundlePath(QCoreApplication::applicationDirPath()) });
}

QString ProcessTools::clientBundlePath(const QString& executableDir)
{
    // Canonical, not lexical: ".." after a symbolic link leads to the parent of the link's
    // target, which is where the bundle really is.
    return QFileInfo(executableDir + QStringLiteral("/../../../../../")).canonicalFilePath();
}
