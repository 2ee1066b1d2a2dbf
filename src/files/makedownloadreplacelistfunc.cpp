#include "makedownloadreplacelistfunc.h"

#include "checksigfunc.h"
#include "configuration.h"
#include "deltalist.h"
#include "escapedforlog.h"
#include "filedigest.h"
#include "filereplacetaskspecification.h"
#include "filespecifications.h"
#include "planpathcheck.h"
#include "sha256sums.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QSet>
#include <QSettings>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>

#include <atomic>

#include <sys/stat.h>

// One key of the product ini, read and checked for safe paths but not yet compared with the disk.
struct MakeDownloadReplaceListFunc::Entry
{
    // Set for a key of the "delete" section only.
    QString deletePath;
    // Where the installed file (or the file to delete) really is, symbolic links resolved.
    QString realDestination;
    FileDownloadSpecification download;
    FileReplaceSpecification replace;
};

namespace {
const QString deleteSection = QStringLiteral("delete");
const QString fieldSeparator = QStringLiteral("::");

enum Finding {
    NothingToDo,
    Delete,
    Current,
    CurrentWithOldCopy,
    Replace,
    ReplaceAndDownload,
    ReplaceAndDownloadDelta
};

// Only a regular file can be current or complete: a release holds no links, a link is replaced
// rather than written through, and reading a FIFO or a device planted there might never end.
bool matches(const QString& path, const QString& md5, const QString& sha256 = QString())
{
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink() && CheckSigFunc(path, md5, QString(), sha256).run();
}

// What the plan knows of an installed file: its status when it was looked at, and its digests
// (no MD5 when it is no regular file or could not be read).
struct InstalledFile
{
    struct stat status = {};
    StatCache::Digests digests;
    // Read to get its MD5: the cache could not vouch for it.
    bool hashed = false;
};

// An installed file is current when its MD5 is the listed one; the cache spares the hashing of
// a file unchanged since it was last hashed. The status is taken before the file is read, so a
// change while it is hashed shows next time.
bool isCurrent(const QString& path, const QString& relativePath, const QByteArray& md5,
    StatCache& cache, bool trustCache, InstalledFile& found)
{
    if (::lstat(QFile::encodeName(path).constData(), &found.status) != 0
        || !S_ISREG(found.status.st_mode))
        return false;
    if (trustCache)
        found.digests = cache.lookup(relativePath, found.status);
    if (found.digests.md5.isEmpty()) {
        found.hashed = true;
        if (FileDigest::md5(path, found.digests.md5) != FileBlockReader::Ok)
            return false;
    }
    cache.record(relativePath, found.status, found.digests.md5, found.digests.sha256);
    return found.digests.md5 == md5.toLower();
}

// A delta applies only to the very file it was made from. The plan compares installed files by
// MD5 alone, so the SHA-256 is taken only for a file that has a delta, and kept in the cache:
// the next release's delta has this file as its base again.
bool isDeltaBase(const FileDownloadSpecification& download, const QString& installed,
    const QString& relativePath, StatCache& cache, InstalledFile& found)
{
    if (found.digests.md5.isEmpty())
        return false;
    if (found.digests.sha256.isEmpty()) {
        if (FileDigest::sha256(installed, found.digests.sha256) != FileBlockReader::Ok)
            return false;
        cache.record(relativePath, found.status, found.digests.md5, found.digests.sha256);
    }
    return QString::fromLatin1(found.digests.sha256) == download.deltaBaseSha256;
}

bool isOneUp(const QString& installPath)
{
    return installPath.startsWith(QStringLiteral("../"));
}

// The file itself is replaced by a rename over its name, which never follows a link there: only
// the directories on the way decide where it lands.
QString realInstalledPath(const QString& installPath)
{
    const QFileInfo info(Configuration::getAppRootFilePath(installPath));
    const QString directory = PlanPathCheck::realPath(info.path());
    return directory.isEmpty() ? QString() : QDir(directory).filePath(info.fileName());
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

    QList<Entry> entries;
    if (!refuseEscapes(iniPath) || !readEntries(settings, entries)
        || !attachFileList(iniPath, entries))
        return false;
    attachDeltas(iniPath, entries);
    if (!refuseLinksOut(entries)
        || !refuseCollisions(entries))
        return false;
    const QString root = Configuration::getAppRootPath();
    if (!configuration->verifyAll) {
        QString problem;
        plan.statCache.load(root, &problem);
        if (!problem.isEmpty())
            emit message(problem);
    }
    checkEntries(entries, total);
    leaveSignaturesToTheirFiles();
    QString problem;
    if (!plan.statCache.save(root, &problem))
        emit message(problem);
    return true;
}

bool MakeDownloadReplaceListFunc::readEntries(QSettings& settings, QList<Entry>& entries)
{
    const QStringList sections = settings.childGroups();
    for (const QString& section : sections) {
        // The section is the remote folder of its files on the mirrors.
        if (!PlanPathCheck::isContained(section)) {
            reportUnsafePath(section, section);
            return false;
        }
        settings.beginGroup(section);
        const bool ok = section == deleteSection ? readDeleteSection(settings, entries)
                                                 : readFileSection(settings, section, entries);
        settings.endGroup();
        if (!ok)
            return false;
    }
    return true;
}

bool MakeDownloadReplaceListFunc::readDeleteSection(QSettings& settings, QList<Entry>& entries)
{
    const QStringList keys = settings.allKeys();
    for (const QString& key : keys) {
        // One level up is how the files beside the bundle are named.
        if (!PlanPathCheck::isContainedOrOneUp(key)) {
            reportUnsafePath(key, deleteSection);
            return false;
        }
        Entry entry;
        entry.deletePath = key;
        entries.append(entry);
    }
    return true;
}

bool MakeDownloadReplaceListFunc::readFileSection(
    QSettings& settings, const QString& section, QList<Entry>& entries)
{
    const QStringList keys = settings.allKeys();
    for (const QString& key : keys) {
        // The key names the download in the session directory and on the mirror, and (unless
        // the entry is packed) the installed file: it may leave none of them.
        if (!PlanPathCheck::isContained(key)) {
            reportUnsafePath(key, section);
            return false;
        }
        // The reader takes an unquoted value with a comma for a list; it is one text here.
        const QStringList fields = settings.value(key)
                                       .toStringList()
                                       .join(QLatin1Char(','))
                                       .split(fieldSeparator, Qt::KeepEmptyParts);
        if (fields.size() != 2 && fields.size() != 5) {
            emit message(QStringLiteral("Warning: product ini contains invalid line in section %1")
                             .arg(escapedForLog(section)));
            return false;
        }

        Entry entry;
        entry.download.section = section;
        entry.download.fileName = key;
        entry.download.md5 = fields.at(0);
        entry.download.size = fields.at(1).toULongLong();
        entry.replace.section = section;
        entry.replace.fileName = key;
        entry.replace.md5 = entry.download.md5;
        entry.replace.size = entry.download.size;
        if (fields.size() == 5) {
            entry.replace.unzippedMd5 = fields.at(2);
            entry.replace.unzippedSize = fields.at(3).toULongLong();
            entry.replace.unzippedFileName = fields.at(4);
        }

        // The unpacked name is the installed file of a packed entry.
        if (entry.replace.hasUnzip()
            && !PlanPathCheck::isContained(entry.replace.unzippedFileName)) {
            reportUnsafePath(entry.replace.unzippedFileName, section);
            return false;
        }
        entries.append(entry);
    }
    return true;
}

void MakeDownloadReplaceListFunc::checkEntries(const QList<Entry>& entries, int total)
{
    const QString tempDir = configuration->tempDir;
    StatCache& cache = plan.statCache;
    const bool trustCache = !configuration->verifyAll;
    // What the log tells of the cache's worth: checks run on every core at once.
    std::atomic<int> examined { 0 };
    std::atomic<int> hashed { 0 };
    const auto inspect = [tempDir, &cache, trustCache, &examined, &hashed](const Entry& entry) {
        if (!entry.deletePath.isEmpty())
            return QFile::exists(Configuration::getAppRootFilePath(entry.deletePath)) ? Delete
                                                                                      : NothingToDo;
        const FileReplaceSpecification& replace = entry.replace;
        const QString relativePath = replace.destFileName(QString());
        const QString installed = Configuration::getAppRootFilePath(relativePath);
        const QByteArray md5
            = (replace.hasUnzip() ? replace.unzippedMd5 : entry.download.md5).toLatin1();
        InstalledFile found;
        const bool current = isCurrent(installed, relativePath, md5, cache, trustCache, found);
        if (S_ISREG(found.status.st_mode))
            ++examined;
        if (found.hashed)
            ++hashed;
        if (current) {
            // A copy kept aside by an interrupted update may go once its file is known good;
            // those of the updater's own files are removed by the next start.
            const bool special = Configuration::isSpecialFileName(
                QFileInfo(replace.pureDestFilePath()).fileName());
            return !special
                    && QFileInfo(Configuration::getAppRootFilePath(replace.oldDestFileName()))
                           .exists()
                ? CurrentWithOldCopy
                : Current;
        }
        // A packed download's SHA-256 is not the installed file's.
        cache.expectWritten(relativePath,
            { md5.toLower(),
                replace.hasUnzip() ? QByteArray() : entry.download.sha256.toLatin1().toLower() });
        // A complete download left by an interrupted run is reused; it is downloaded bytes, so
        // the file list's SHA-256 holds for it too.
        if (matches(tempDir + QLatin1Char('/') + replace.fileName, entry.download.md5,
                entry.download.sha256))
            return Replace;
        return entry.download.hasDelta()
                && isDeltaBase(entry.download, installed, relativePath, cache, found)
            ? ReplaceAndDownloadDelta
            : ReplaceAndDownload;
    };

    // A pool of its own: this function holds a thread of the global pool, and waiting there for
    // checks queued behind other work could wait for ever.
    QThreadPool pool;
    pool.setMaxThreadCount(QThread::idealThreadCount());
    const QFuture<Finding> findings = QtConcurrent::mapped(&pool, entries, inspect);
    // Results are taken in ini order, whichever check ends first.
    for (int i = 0; i < entries.size(); ++i) {
        const Finding finding = findings.resultAt(i);
        emit progress(qreal(i + 1) / total);
        const Entry& entry = entries.at(i);
        switch (finding) {
        case NothingToDo:
            break;
        case CurrentWithOldCopy:
            plan.deleteList.append(entry.replace.oldDestFileName());
            Q_FALLTHROUGH();
        case Current:
            // An earlier version may have left the mode wrong; the content alone is no proof.
            FileReplaceTaskSpecification::makeSingleFileExecutable(
                Configuration::getAppRootFilePath(entry.replace.destFileName(QString())));
            break;
        case Delete:
            plan.deleteList.append(entry.deletePath);
            break;
        case Replace:
            plan.replaceList.append(entry.replace);
            break;
        case ReplaceAndDownloadDelta:
            plan.replaceList.append(entry.replace);
            plan.downloadList.append(entry.download);
            break;
        case ReplaceAndDownload: {
            plan.replaceList.append(entry.replace);
            FileDownloadSpecification whole = entry.download;
            whole.deltaRemotePath.clear();
            plan.downloadList.append(whole);
            break;
        }
        }
    }
    emit message(
        QStringLiteral("Hashed %1 of %2 installed files (the others unchanged since last hashed)")
            .arg(hashed.load())
            .arg(examined.load()));
}

// With a file list named by the signed ini, every download must match its SHA-256 as well as
// its MD5, which alone lets a mirror serve a collision twin. A file the list does not name
// would escape that check, so the ini is refused. Installed files are still compared by MD5:
// they were checked when they were downloaded, and the list names a packed file's ".gz" only.
bool MakeDownloadReplaceListFunc::attachFileList(const QString& iniPath, QList<Entry>& entries)
{
    const QString listed = Sha256Sums::digestInIni(iniPath);
    if (listed.isEmpty())
        return true;
    Sha256Sums sums;
    if (sums.load(iniPath + QLatin1String(Sha256Sums::suffix), listed) != Sha256Sums::Ok) {
        emit message(QStringLiteral("The file list of the product ini could not be verified; "
                                    "refusing the product ini"));
        return false;
    }
    for (Entry& entry : entries) {
        if (!entry.deletePath.isEmpty())
            continue;
        const FileDownloadSpecification& download = entry.download;
        entry.download.sha256
            = sums.digest(download.section + QLatin1Char('/') + download.fileName);
        if (entry.download.sha256.isEmpty()) {
            emit message(
                QStringLiteral("Warning: the file list does not name %1 in section %2; "
                               "refusing the product ini")
                    .arg(escapedForLog(download.fileName), escapedForLog(download.section)));
            return false;
        }
    }
    return true;
}

// Deltas only save bytes: a list that is missing, altered or unreadable means whole files, never
// a refused plan. A delta is taken for a file checked by MD5 and installed as downloaded (a
// packed file's delta would have to rebuild the ".gz"), whose result is the file the file list
// names, and whose session names no other file of the release uses.
void MakeDownloadReplaceListFunc::attachDeltas(const QString& iniPath, QList<Entry>& entries)
{
    const QString listed = DeltaList::digestInIni(iniPath);
    if (listed.isEmpty())
        return;
    DeltaList deltas;
    if (deltas.load(iniPath + QLatin1String(DeltaList::suffix), listed) != Sha256Sums::Ok) {
        emit message(QStringLiteral("No usable delta list; downloading whole files"));
        return;
    }
    // Lower case, as macOS file systems ignore case; every prefix, as a name may be a folder.
    QSet<QString> sessionNames;
    for (const Entry& entry : std::as_const(entries)) {
        const QStringList parts = entry.download.fileName.toLower().split(QLatin1Char('/'));
        for (int i = 1; i <= parts.size(); ++i)
            sessionNames.insert(parts.mid(0, i).join(QLatin1Char('/')));
        if (entry.download.md5.isEmpty())
            sessionNames.insert(entry.download.fileName.toLower() + QStringLiteral(".sig"));
    }
    for (Entry& entry : entries) {
        FileDownloadSpecification& download = entry.download;
        if (!entry.deletePath.isEmpty() || download.md5.isEmpty() || entry.replace.hasUnzip())
            continue;
        const QString path = download.section + QLatin1Char('/') + download.fileName;
        const DeltaList::Delta* delta = deltas.find(path);
        if (!delta || (!download.sha256.isEmpty() && delta->resultSha256 != download.sha256)
            || sessionNames.contains(download.deltaFileName().toLower())
            || sessionNames.contains(download.deltaResultFileName().toLower()))
            continue;
        download.deltaRemotePath = DeltaList::remotePath(path);
        download.deltaSize = quint64(delta->size);
        download.deltaSha256 = delta->sha256;
        download.deltaBaseSha256 = delta->baseSha256;
        download.deltaBasePath
            = Configuration::getAppRootFilePath(entry.replace.destFileName(QString()));
    }
}

// The settings reader turns a backslash in a value into an escape ("lib\libfoo.dylib" would
// install "libibfoo.dylib" in the root) before anyone can see it, so the file's own lines are
// looked at: no value of a file section may hold one. Keys keep their backslash separators.
bool MakeDownloadReplaceListFunc::refuseEscapes(const QString& iniPath)
{
    QFile file(iniPath);
    if (!file.open(QIODevice::ReadOnly))
        return true; // the settings reader reports it
    QString section;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            section = line.mid(1).section(QLatin1Char(']'), 0, 0);
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        const QString value = line.mid(equals + 1);
        // Keys outside a named section are not read at all.
        if (equals < 0 || line.startsWith(QLatin1Char(';')) || section.isEmpty()
            || section == QStringLiteral("General") || section == deleteSection
            || !value.contains(QLatin1Char('\\')))
            continue;
        const QStringList fields = value.split(fieldSeparator);
        reportUnsafePath(fields.size() == 5 ? fields.last() : value, section);
        return false;
    }
    return true;
}

// A symbolic link planted in the installation, beside it or in the session directory would
// carry a write to any place on the disk. Every installed or deleted file must really stay
// below the root (those one level up below the root's parent, where the bundle lies), and
// every download below the session directory; a download is written in place, so there the
// file itself must not lead out either.
bool MakeDownloadReplaceListFunc::refuseLinksOut(QList<Entry>& entries)
{
    const QString root = PlanPathCheck::realPath(Configuration::getAppRootPath());
    const QString aboveRoot
        = PlanPathCheck::realPath(Configuration::getAppRootFilePath(QStringLiteral("..")));
    const QString session = PlanPathCheck::realPath(configuration->tempDir);
    for (Entry& entry : entries) {
        const bool deletes = !entry.deletePath.isEmpty();
        const QString installPath
            = deletes ? entry.deletePath : entry.replace.destFileName(QString());
        const QString name = deletes ? entry.deletePath : entry.replace.pureDestFilePath();
        const QString section = deletes ? deleteSection : entry.replace.section;
        entry.realDestination = realInstalledPath(installPath);
        const QString& folder = isOneUp(installPath) ? aboveRoot : root;
        if (!PlanPathCheck::isWithin(entry.realDestination, folder)) {
            reportLinkOut(name, section, entry.realDestination, folder);
            return false;
        }
        if (deletes)
            continue;

        QStringList sessionFiles { entry.download.fileName };
        if (entry.download.md5.isEmpty())
            sessionFiles.append(entry.download.fileName + QStringLiteral(".sig"));
        if (entry.download.hasDelta())
            sessionFiles << entry.download.deltaFileName() << entry.download.deltaResultFileName();
        for (const QString& sessionFile : std::as_const(sessionFiles)) {
            const QString real
                = PlanPathCheck::realPath(configuration->tempDir + QLatin1Char('/') + sessionFile);
            if (!PlanPathCheck::isWithin(real, session)) {
                reportLinkOut(sessionFile, section, real, session);
                return false;
            }
        }
    }
    return true;
}

// Two entries for one installed file, or for one session file, would undo each other's work
// (the undo of the second deletes the first); a file that is installed and then deleted would
// be downloaded again by every run. Installed files are told apart by where they really are, so
// that two names of one file through a link inside the installation count as one. Refuses the
// first and drops the second from the deletions.
bool MakeDownloadReplaceListFunc::refuseCollisions(QList<Entry>& entries)
{
    QSet<QString> destinations;
    QSet<QString> sessionFiles;
    for (const Entry& entry : std::as_const(entries)) {
        if (!entry.deletePath.isEmpty())
            continue;
        const QString& sessionFile = entry.replace.fileName;
        if (destinations.contains(entry.realDestination)) {
            emit message(
                QStringLiteral("Warning: product ini installs %1 twice (section %2)")
                    .arg(escapedForLog(QDir::cleanPath(entry.replace.destFileName(QString()))),
                        escapedForLog(entry.replace.section)));
            return false;
        }
        if (sessionFiles.contains(sessionFile)) {
            reportUnsafePath(sessionFile, entry.replace.section);
            return false;
        }
        destinations.insert(entry.realDestination);
        sessionFiles.insert(sessionFile);
    }
    entries.removeIf([this, &destinations](const Entry& entry) {
        if (entry.deletePath.isEmpty() || !destinations.contains(entry.realDestination))
            return false;
        emit message(
            QStringLiteral("Warning: product ini installs and deletes %1; it is not deleted")
                .arg(escapedForLog(entry.deletePath)));
        return true;
    });
    return true;
}

// The download of a file checked by its signature brings the ".sig" along, since the check
// needs it at once. A download entry of its own for that ".sig" would run in parallel and
// write the same session file; its replace entry still installs it beside the file.
void MakeDownloadReplaceListFunc::leaveSignaturesToTheirFiles()
{
    QSet<QString> fetchedWithTheirFiles;
    for (const FileDownloadSpecification& download : std::as_const(plan.downloadList)) {
        if (download.md5.isEmpty())
            fetchedWithTheirFiles.insert(download.fileName + QStringLiteral(".sig"));
    }
    plan.downloadList.removeIf([&fetchedWithTheirFiles](const FileDownloadSpecification& d) {
        return fetchedWithTheirFiles.contains(d.fileName);
    });
}

void MakeDownloadReplaceListFunc::reportUnsafePath(const QString& path, const QString& section)
{
    emit message(QStringLiteral("Warning: product ini contains unsafe path %1 in section %2")
                     .arg(escapedForLog(path), escapedForLog(section)));
}

void MakeDownloadReplaceListFunc::reportLinkOut(
    const QString& path, const QString& section, const QString& realPath, const QString& folder)
{
    if (realPath.isEmpty()) {
        emit message(QStringLiteral("Warning: product ini path %1 in section %2 leads through a "
                                    "broken symbolic link")
                         .arg(escapedForLog(path), escapedForLog(section)));
        return;
    }
    emit message(QStringLiteral("Warning: product ini path %1 in section %2 resolves to %3, "
                                "outside %4")
                     .arg(escapedForLog(path), escapedForLog(section), escapedForLog(realPath),
                         escapedForLog(folder)));
}
