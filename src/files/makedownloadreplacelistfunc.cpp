#include "makedownloadreplacelistfunc.h"

#include "checksigfunc.h"
#include "configuration.h"
#include "filespecifications.h"
#include "planpathcheck.h"

#include <QFile>
#include <QSettings>

namespace {
const QString deleteSection = QStringLiteral("delete");
const QString fieldSeparator = QStringLiteral("::");

bool matches(const QString& path, const QString& md5)
{
    return QFile::exists(path) && CheckSigFunc(path, md5).run();
}
}

MakeDownloadReplaceListFunc::MakeDownloadReplaceListFunc(
    Configuration* configuration, FileSpecifications& plan)
    : configuration(configuration)
    , plan(plan)
{
}

int MakeDownloadReplaceListFunc::getFileCount(QSettings& settings)
{
    int count = 0;
    const QStringList sections = settings.childGroups();
    for (const QString& section : sections) {
        settings.beginGroup(section);
        count += settings.allKeys().size();
        settings.endGroup();
    }
    return count;
}

bool MakeDownloadReplaceListFunc::run()
{
    plan.clear();
    const QString iniPath = configuration->tempDir + QLatin1Char('/') + configuration->clientType
        + QStringLiteral(".ini");
    emit message(QStringLiteral("Compiling download and replace list"));

    QSettings settings(iniPath, QSettings::IniFormat);
    // A malformed file would give a partial plan: treat it like an unreadable one.
    const int total = settings.status() == QSettings::NoError ? getFileCount(settings) : 0;
    if (total == 0) {
        emit message(QStringLiteral("No files in product ini"));
        return false;
    }

    int counter = 0;
    const QStringList sections = settings.childGroups();
    for (const QString& section : sections) {
        // The section is the remote folder of its files on the mirrors.
        if (!PlanPathCheck::isContained(section)) {
            reportUnsafePath(section, section);
            return false;
        }
        settings.beginGroup(section);
        const bool ok = section == deleteSection
            ? addDeleteSection(settings, counter, total)
            : addFileSection(settings, section, counter, total);
        settings.endGroup();
        if (!ok)
            return false;
    }
    return true;
}

bool MakeDownloadReplaceListFunc::addDeleteSection(QSettings& settings, int& counter, int total)
{
    const QString root = Configuration::getAppRootPath();
    const QStringList keys = settings.allKeys();
    for (const QString& key : keys) {
        ++counter;
        emit progress(qreal(counter) / total);
        // One level up is how the files beside the bundle are named.
        if (!PlanPathCheck::isContainedOrOneUp(key)) {
            reportUnsafePath(key, deleteSection);
            return false;
        }
        if (QFile::exists(root + QLatin1Char('/') + key))
            plan.deleteList.append(key);
    }
    return true;
}

bool MakeDownloadReplaceListFunc::addFileSection(
    QSettings& settings, const QString& section, int& counter, int total)
{
    const QString root = Configuration::getAppRootPath();
    const QStringList keys = settings.allKeys();
    for (const QString& key : keys) {
        ++counter;
        emit progress(qreal(counter) / total);

        // The key names the download in the session directory and on the mirror, and (unless
        // the entry is packed) the installed file: it may leave none of them.
        if (!PlanPathCheck::isContained(key)) {
            reportUnsafePath(key, section);
            return false;
        }
        const QStringList fields
            = settings.value(key).toString().split(fieldSeparator, Qt::KeepEmptyParts);
        if (fields.size() != 2 && fields.size() != 5) {
            emit message(QStringLiteral("Warning: product ini contains invalid line in section %1")
                             .arg(section));
            return false;
        }

        FileDownloadSpecification download;
        download.section = section;
        download.fileName = key;
        download.md5 = fields.at(0);
        download.size = fields.at(1).toULongLong();

        FileReplaceSpecification replace;
        replace.section = section;
        replace.fileName = key;
        if (fields.size() == 5) {
            replace.unzippedMd5 = fields.at(2);
            replace.unzippedSize = fields.at(3).toULongLong();
            replace.unzippedFileName = fields.at(4);
        }

        // The unpacked name is the installed file of a packed entry.
        if (replace.hasUnzip() && !PlanPathCheck::isContained(replace.unzippedFileName)) {
            reportUnsafePath(replace.unzippedFileName, section);
            return false;
        }

        const QString installed = root + QLatin1Char('/') + replace.destFileName(QString());
        if (matches(installed, replace.hasUnzip() ? replace.unzippedMd5 : download.md5))
            continue;
        plan.replaceList.append(replace);

        // A complete download left by an interrupted run is reused.
        if (!matches(configuration->tempDir + QLatin1Char('/') + key, download.md5))
            plan.downloadList.append(download);
    }
    return true;
}

void MakeDownloadReplaceListFunc::reportUnsafePath(const QString& path, const QString& section)
{
    emit message(QStringLiteral("Warning: product ini contains unsafe path %1 in section %2")
                     .arg(path, section));
}
