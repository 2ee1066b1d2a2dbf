#include "updateinidata.h"

#include "configuration.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {
const QString& groupName()
{
    static const QString name = QStringLiteral("current");
    return name;
}
} // namespace

QString UpdateIniData::filename()
{
    return QDir::cleanPath(
        QDir(Configuration::getAppRootPath()).absoluteFilePath(QStringLiteral("update.ini")));
}

bool UpdateIniData::get(qint32* version, QString* type, QString* dir)
{
    QSettings settings(filename(), QSettings::IniFormat);
    settings.beginGroup(groupName());
    bool versionOk = false;
    const qint32 storedVersion
        = settings.value(QStringLiteral("version")).toString().toInt(&versionOk, 10);
    const QString storedType = settings.value(QStringLiteral("type")).toString();
    const QString storedDir = settings.value(QStringLiteral("dir")).toString();

    if (!versionOk || storedType.isEmpty() || storedDir.isEmpty() || !QFileInfo::exists(storedDir))
        return false;

    if (version)
        *version = storedVersion;
    if (type)
        *type = storedType;
    if (dir)
        *dir = storedDir;
    return true;
}

void UpdateIniData::modify(qint32 version, const QString& dir, const QString& type)
{
    QSettings settings(filename(), QSettings::IniFormat);
    settings.beginGroup(groupName());
    settings.setValue(QStringLiteral("version"), version);
    settings.setValue(QStringLiteral("dir"), dir);
    settings.setValue(QStringLiteral("type"), type);
}

void UpdateIniData::cleanup()
{
    QSettings settings(filename(), QSettings::IniFormat);
    settings.remove(groupName());
}
