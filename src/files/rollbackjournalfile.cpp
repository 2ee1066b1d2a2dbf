#include "rollbackjournalfile.h"

#include "filedeletetaskspecification.h"
#include "installationsyncfunc.h"
#include "planpathcheck.h"
#include "rollbackdatalist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QByteArray header = QByteArrayLiteral("crv-rollback-journal 1");
const QByteArray createDirWord = QByteArrayLiteral("dir");
const QByteArray createFileWord = QByteArrayLiteral("file");
const QByteArray renameWord = QByteArrayLiteral("rename");
const QByteArray commitWord = QByteArrayLiteral("commit");
const QByteArray deleteWord = QByteArrayLiteral("delete");
const QByteArray undoneWord = QByteArrayLiteral("undone");
const QByteArray exchangeWord = QByteArrayLiteral("exchange");

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

struct Journal
{
    QList<RollbackData> entries;
    int entryLines = 0;
    bool committed = false;
    QStringList deletions;
};

// A path of the journal back to one below root (or one level above it); false when the line
// names anything else, which a journal of ours never does.
bool decodePath(const QByteArray& field, const QString& root, QString& path)
{
    const QString relative = QString::fromUtf8(QByteArray::fromPercentEncoding(field));
    if (!PlanPathCheck::isContainedOrOneUp(relative))
        return false;
    path = QDir::cleanPath(root + QLatin1Char('/') + relative);
    // A symbolic link on the way (put there after the plan looked) would let an undo or a
    // deletion reach past the installation. The entry itself may be a link: only the folders
    // that lead to it count.
    const QString folder = PlanPathCheck::realPath(QFileInfo(path).path());
    return PlanPathCheck::isWithin(folder, PlanPathCheck::realPath(root + QStringLiteral("/..")));
}

bool dropUndone(const QByteArray& field, Journal& journal)
{
    bool number = false;
    const int index = field.toInt(&number);
    if (!number || index < 1 || index > journal.entryLines)
        return false;
    for (qsizetype i = 0; i < journal.entries.size(); ++i) {
        if (journal.entries.at(i).journalIndex == index) {
            journal.entries.removeAt(i);
            return true;
        }
    }
    // Marked twice: a crash between a mark and its sync's return, harmless.
    return true;
}

bool parseLine(const QByteArray& line, const QString& root, Journal& journal)
{
    const QList<QByteArray> fields = line.split(' ');
    const QByteArray& word = fields.first();
    if (word == undoneWord)
        return fields.size() == 2 && !journal.committed && dropUndone(fields.at(1), journal);
    QString first, second;
    if (fields.size() > 1 && !decodePath(fields.at(1), root, first))
        return false;
    if (fields.size() > 2 && !decodePath(fields.at(2), root, second))
        return false;
    // The commit and its deletions are no entries: undo marks count entry lines only.
    if (word == commitWord && fields.size() == 1 && !journal.committed) {
        journal.committed = true;
        return true;
    }
    if (word == deleteWord && fields.size() == 2 && journal.committed) {
        journal.deletions.append(first);
        return true;
    }
    // Two names and, for an entry planned ahead, the identity of what it moves.
    const bool move = fields.size() == 3 || fields.size() == 4;
    FileIdentity moved;
    if (journal.committed || (fields.size() == 4 && !FileIdentity::decode(fields.at(3), moved))) {
        return false;
    } else if (word == createDirWord && fields.size() == 2) {
        journal.entries.append(RollbackData(RollbackData::CreateDir, first));
    } else if (word == createFileWord && fields.size() == 2) {
        journal.entries.append(RollbackData(RollbackData::CreateFile, first));
    } else if (word == renameWord && move) {
        journal.entries.append(RollbackData(RollbackData::Rename, first, second));
    } else if (word == exchangeWord && move) {
        journal.entries.append(RollbackData(RollbackData::Exchange, first, second));
    } else {
        return false;
    }
    journal.entries.last().moved = moved;
    journal.entries.last().journalIndex = ++journal.entryLines;
    return true;
}

// Nothing but a part of the header (or nothing at all): the run died while creating the
// journal, before any operation.
bool namesNoOperation(const QByteArray& text)
{
    return QByteArray(header + '\n').startsWith(text);
}

bool parse(QByteArray text, const QString& root, Journal& journal)
{
    // The line being written when the run died: its operation had not begun.
    text.truncate(text.lastIndexOf('\n') + 1);
    QList<QByteArray> lines = text.split('\n');
    lines.removeLast();
    if (lines.isEmpty() || lines.first() != header)
        return false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (!parseLine(lines.at(i), root, journal))
            return false;
    }
    return true;
}

void report(QObject* reporter, const QString& text)
{
    RollbackData::message(reporter, text);
}

// The undo (or the deletions) must be on disk before the journal that allows them goes away.
bool flush(const QString& root, QObject* reporter)
{
    InstallationSyncFunc flush(root);
    QObject::connect(
        &flush, &ASyncFunc::message, [reporter](const QString& text) { report(reporter, text); });
    return flush.run();
}
}

RollbackJournalFile::RollbackJournalFile(const QString& installRoot)
    : root(QDir::cleanPath(installRoot))
{
}

RollbackJournalFile::~RollbackJournalFile()
{
    if (fd >= 0)
        ::close(fd);
}

QString RollbackJournalFile::fileName()
{
    return QStringLiteral("update.journal");
}

QString RollbackJournalFile::filePath() const
{
    return root + QLatin1Char('/') + fileName();
}

bool RollbackJournalFile::open(int flags)
{
    fd = ::open(QFile::encodeName(filePath()).constData(), O_WRONLY | O_APPEND | O_CLOEXEC | flags,
        S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH);
    if (fd < 0) {
        error = errno == EEXIST
            ? QStringLiteral("%1: left by an interrupted update").arg(filePath())
            : QStringLiteral("%1: %2").arg(filePath(), systemError());
        return false;
    }
    return true;
}

bool RollbackJournalFile::create(const QList<RollbackData>& plan)
{
    if (!open(O_CREAT | O_EXCL))
        return false;
    entryCount = 0;
    planned.clear();
    planned.reserve(plan.size());
    QByteArray text = header;
    // Two paths and an ID make a line of some 150 bytes: one allocation for most plans.
    text.reserve(header.size() + 160 * plan.size());
    for (const RollbackData& entry : plan) {
        const QByteArray known = key(entry);
        text += '\n' + line(entry, known);
        planned.insert(known, ++entryCount);
    }
    // The new name itself must survive a power cut, or the journal would vanish with it; so
    // must the plan, as the operations that follow may reach the disk before anything else.
    if (writeLine(text) && sync() && syncRoot())
        return true;
    // Left behind, a journal without its header would stop every later start.
    const QString reason = error;
    remove();
    error = reason;
    return false;
}

bool RollbackJournalFile::syncRoot()
{
    const int dir = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_CLOEXEC);
    const bool ok = dir >= 0 && ::fsync(dir) == 0;
    if (!ok)
        error = QStringLiteral("%1: %2").arg(root, systemError());
    if (dir >= 0)
        ::close(dir);
    return ok;
}

QByteArray RollbackJournalFile::encode(const QString& path) const
{
    // Nearly every path is a clean one below the root, whose tail is the relative path; QDir's
    // general way costs more than the rest of an entry.
    const bool below = path.size() > root.size() + 1 && path.startsWith(root)
        && path.at(root.size()) == QLatin1Char('/') && QDir::cleanPath(path) == path;
    const QString relative = below ? path.mid(root.size() + 1) : QDir(root).relativeFilePath(path);
    return relative.toUtf8().toPercentEncoding("/");
}

QByteArray RollbackJournalFile::line(const RollbackData& entry, const QByteArray& key) const
{
    return entry.moved.isKnown() ? key + ' ' + entry.moved.encode() : key;
}

QByteArray RollbackJournalFile::key(const RollbackData& entry) const
{
    switch (entry.operation) {
    case RollbackData::CreateDir:
        return createDirWord + ' ' + encode(entry.path);
    case RollbackData::CreateFile:
        return createFileWord + ' ' + encode(entry.path);
    case RollbackData::Rename:
        return renameWord + ' ' + encode(entry.previousPath) + ' ' + encode(entry.path);
    case RollbackData::Exchange:
        return exchangeWord + ' ' + encode(entry.previousPath) + ' ' + encode(entry.path);
    }
    qFatal("Should not reach here");
}

bool RollbackJournalFile::append(const QList<RollbackData*>& entries)
{
    // Encoding the paths is most of the cost of an entry: once each.
    QList<QByteArray> keys;
    keys.reserve(entries.size());
    for (const RollbackData* entry : entries)
        keys.append(key(*entry));
    const bool allPlanned = std::all_of(keys.cbegin(), keys.cend(),
        [this](const QByteArray& known) { return planned.contains(known); });
    if (allPlanned && !planned.isEmpty()) {
        for (qsizetype i = 0; i < entries.size(); ++i)
            entries[i]->journalIndex = planned.take(keys.at(i));
        return true;
    }
    QByteArray text;
    // An operation the plan did not foresee (a fallback, or a disk that changed since the plan
    // was made) must be undone after the planned operations that follow it: from here on every
    // entry is written in the order of its operation, and the plan's lines that are left are
    // marked as never having taken effect. Synced, so that no planned line outlives this mark.
    const bool leavesPlan = !planned.isEmpty();
    QList<int> left = planned.values();
    std::sort(left.begin(), left.end());
    for (const int index : std::as_const(left))
        text += undoneWord + ' ' + QByteArray::number(index) + '\n';
    planned.clear();
    for (qsizetype i = 0; i < entries.size(); ++i)
        text += line(*entries.at(i), keys.at(i)) + '\n';
    text.chop(1);
    // A kill in the middle of the write leaves whole lines and at most one cut one, which a
    // replay ignores: the operations of the lines written have not begun.
    if (!writeLine(text) || (leavesPlan && !sync()))
        return false;
    for (RollbackData* entry : entries)
        entry->journalIndex = ++entryCount;
    return true;
}

bool RollbackJournalFile::markUndone(int index)
{
    return fd >= 0 && writeLine(undoneWord + ' ' + QByteArray::number(index)) && sync();
}

bool RollbackJournalFile::commit(const QStringList& deletions)
{
    error.clear();
    if (fd < 0) {
        struct stat existing;
        const bool fresh = ::stat(QFile::encodeName(filePath()).constData(), &existing) != 0
            || existing.st_size == 0;
        if (!open(O_CREAT) || (fresh && !writeLine(header)))
            return false;
    }
    QByteArray text = commitWord + '\n';
    for (const QString& path : deletions)
        text += deleteWord + ' ' + encode(QDir(root).filePath(path)) + '\n';
    text.chop(1);
    const off_t uncommitted = ::lseek(fd, 0, SEEK_END);
    if (writeLine(text) && sync())
        return true;
    // Whether the next start undoes or completes this update depends on the commit line alone:
    // cut it off again and the caller undoes now; if even that fails, the commit may already be
    // on disk and the update is done.
    const QString reason = error;
    if (uncommitted >= 0 && ::ftruncate(fd, uncommitted) == 0 && ::fsync(fd) == 0) {
        error = reason;
        return false;
    }
    error = QStringLiteral("%1 (the commit stands)").arg(reason);
    return true;
}

bool RollbackJournalFile::remove()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    if (QFile::remove(filePath()) || !QFile::exists(filePath()))
        return true;
    error = QStringLiteral("Could not delete %1").arg(filePath());
    return false;
}

bool RollbackJournalFile::discard(QObject* reporter)
{
    if (!flush(root, reporter))
        return false;
    if (!remove() || !syncRoot()) {
        report(reporter, QStringLiteral("warning: %1").arg(error));
        return false;
    }
    return true;
}

bool RollbackJournalFile::writeLine(const QByteArray& line)
{
    const QByteArray text = line + '\n';
    const char* data = text.constData();
    qsizetype left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = QStringLiteral("%1: %2").arg(filePath(), systemError());
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

bool RollbackJournalFile::sync()
{
    if (::fsync(fd) == 0)
        return true;
    error = QStringLiteral("%1: %2").arg(filePath(), systemError());
    return false;
}

bool RollbackJournalFile::recover(const QString& installRoot, QObject* reporter)
{
    RollbackJournalFile journalFile(installRoot);
    const QString path = journalFile.filePath();
    QFile file(path);
    if (!file.exists())
        return true;
    const QByteArray text = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    if (file.error() == QFileDevice::NoError && namesNoOperation(text)) {
        report(reporter, QStringLiteral("removed the empty journal of an interrupted update"));
        return journalFile.discard(reporter);
    }
    Journal journal;
    if (file.error() != QFileDevice::NoError || !parse(text, journalFile.root, journal)) {
        // Keeping it would stop every later update; the next plan repairs what is not current.
        const QString damaged = path + QStringLiteral(".damaged");
        QFile::remove(damaged);
        QFile::rename(path, damaged);
        report(reporter,
            QStringLiteral("warning: the journal of an interrupted update is damaged and was "
                           "kept as %1; the installation was not checked")
                .arg(damaged));
        return false;
    }

    if (journal.committed) {
        int deleted = 0;
        for (const QString& deletion : std::as_const(journal.deletions)) {
            if (FileDeleteTaskSpecification::remove(deletion))
                ++deleted;
        }
        report(reporter,
            QStringLiteral("completed an interrupted update: %1 old files deleted").arg(deleted));
        return journalFile.discard(reporter);
    }

    report(reporter,
        QStringLiteral("undoing an interrupted update (%1 journal entries)")
            .arg(journal.entries.size()));
    // Opened for the undo marks, so that a crash in the middle of this undo is recoverable too.
    if (!journalFile.open(0)) {
        report(reporter, QStringLiteral("warning: %1").arg(journalFile.errorString()));
        return false;
    }
    journalFile.entryCount = journal.entryLines;
    RollbackDataList undo;
    undo.entries = journal.entries;
    undo.journalFile = &journalFile;
    if (!undo.undoInterrupted(reporter)) {
        report(reporter,
            QStringLiteral("warning: the interrupted update could not be undone completely; its "
                           "journal %1 is kept and the next start tries again")
                .arg(path));
        return false;
    }
    return journalFile.discard(reporter);
}
