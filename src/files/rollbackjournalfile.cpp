#include "rollbackjournalfile.h"

#include "filedeletetaskspecification.h"
#include "installationsyncfunc.h"
#include "planpathcheck.h"

#include <QDir>
#include <QFile>
#include <QStringList>

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

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

struct Journal
{
    QList<RollbackData> entries;
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
    return true;
}

bool parseLine(const QByteArray& line, const QString& root, Journal& journal)
{
    const QList<QByteArray> fields = line.split(' ');
    const QByteArray& word = fields.first();
    QString first, second;
    if (fields.size() > 1 && !decodePath(fields.at(1), root, first))
        return false;
    if (fields.size() > 2 && !decodePath(fields.at(2), root, second))
        return false;
    if (word == commitWord && fields.size() == 1 && !journal.committed) {
        journal.committed = true;
    } else if (word == deleteWord && fields.size() == 2 && journal.committed) {
        journal.deletions.append(first);
    } else if (journal.committed || fields.size() > 3) {
        return false;
    } else if (word == createDirWord && fields.size() == 2) {
        journal.entries.append(RollbackData(RollbackData::CreateDir, first));
    } else if (word == createFileWord && fields.size() == 2) {
        journal.entries.append(RollbackData(RollbackData::CreateFile, first));
    } else if (word == renameWord && fields.size() == 3) {
        journal.entries.append(RollbackData(RollbackData::Rename, first, second));
    } else {
        return false;
    }
    return true;
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

bool RollbackJournalFile::create()
{
    if (!open(O_CREAT | O_EXCL))
        return false;
    if (!writeLine(header) || !sync())
        return false;
    // The new name itself must survive a power cut, or the journal would vanish with it.
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
    return QDir(root).relativeFilePath(path).toUtf8().toPercentEncoding("/");
}

bool RollbackJournalFile::append(const RollbackData& entry)
{
    switch (entry.operation) {
    case RollbackData::CreateDir:
        return writeLine(createDirWord + ' ' + encode(entry.path));
    case RollbackData::CreateFile:
        return writeLine(createFileWord + ' ' + encode(entry.path));
    case RollbackData::Rename:
        return writeLine(renameWord + ' ' + encode(entry.previousPath) + ' ' + encode(entry.path));
    }
    qFatal("Should not reach here");
}

bool RollbackJournalFile::commit(const QStringList& deletions)
{
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
    return writeLine(text) && sync();
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
    Journal journal;
    if (!file.open(QIODevice::ReadOnly) || !parse(file.readAll(), journalFile.root, journal)) {
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

    bool ok = true;
    if (journal.committed) {
        int deleted = 0;
        for (const QString& deletion : std::as_const(journal.deletions)) {
            if (FileDeleteTaskSpecification::remove(deletion))
                ++deleted;
        }
        report(reporter,
            QStringLiteral("completed an interrupted update: %1 old files deleted").arg(deleted));
    } else {
        report(reporter,
            QStringLiteral("undoing an interrupted update (%1 journal entries)")
                .arg(journal.entries.size()));
        while (!journal.entries.isEmpty()) {
            if (!journal.entries.takeLast().undoIfDone(reporter))
                ok = false;
        }
    }
    if (!flush(journalFile.root, reporter))
        return false;
    if (!journalFile.remove()) {
        report(reporter, QStringLiteral("warning: %1").arg(journalFile.errorString()));
        return false;
    }
    return ok;
}
