#include "updateinidata.h"

#include "configuration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QSettings>

#include <sys/stat.h>
#include <unistd.h>

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

void UpdateIniData::removeWriterLeftovers()
{
    const QFileInfo ini(filename());
    // The settings writer holds this lock while it writes (the client may be one); its
    // temporary file is then not a leftover.
    QLockFile writerLock(ini.filePath() + QStringLiteral(".lock"));
    if (!writerLock.tryLock(0))
        return;
    // The name the settings writer gives its temporary file: the file's name, a dot and six
    // random letters (digits too in other versions of the toolkit).
    const QRegularExpression leftover(QRegularExpression::anchoredPattern(
        QRegularExpression::escape(ini.fileName()) + QStringLiteral("\\.[A-Za-z0-9]{6}")));
    const QDir root = ini.dir();
    for (const QString& name : root.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (!leftover.match(name).hasMatch())
            continue;
        const QString path = root.filePath(name);
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode)
            && st.st_uid == ::geteuid())
            QFile::remove(path);
    }
}
