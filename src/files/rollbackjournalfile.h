#pragma once

#include "rollbackdata.h"

#include <QHash>
#include <QList>
#include <QString>

class QObject;

// The rollback journal on disk: "update.journal" in the installation root, beside update.ini
// (not in the session directory, which a reboot may clear). It mirrors the in-memory journal of
// a replacement so that a run killed at any point can be undone (or completed) by the next one.
//
// Format: UTF-8 text, one entry per line, each line ended by "\n". The first line is the header
// "crv-rollback-journal 1". Every other line is a word and one or two paths, separated by single
// spaces; paths are relative to the installation root ("../" for the level above it) and
// percent-encoded except for "/", so no path can hold a space or a line break:
//     dir PATH          the directory PATH is about to be created
//     file PATH         the file PATH is about to be created
//     rename FROM TO [ID]  FROM is about to be renamed (or hard-linked) to TO
//     exchange DIR OTHER [ID]  the directory DIR and the file OTHER are about to swap names in
//                       one step (a directory of the old version becoming a file, or a file a
//                       directory)
//     undone N          the N-th entry line (the first entry is 1) was undone, or its operation
//                       failed or never began: a replay skips it
//     commit            the replacement succeeded; what follows is the delete step
//     delete PATH       after the commit: PATH is to be deleted
// ID, on entries planned ahead, says what the operation moves: "inode:DEV:INO" for an entry
// that existed when the plan was made, "md5:SIZE:HEX" for a file the replacement writes (for
// an exchange, what OTHER held). Journals of earlier builds have no plan and no IDs.
//
// The plan: the replacement knows every operation before it starts, so the journal is created
// with all of them (directories first, then file by file in the order of each file's steps)
// and synced once; the operations then only take their numbers. A power cut at any point finds
// every operation that may have reached the disk in the journal. An operation the plan did not
// foresee (a fallback where the system cannot swap two names, a disk changed since the plan)
// marks the rest of the plan undone and is journalled on its own, written ahead, as are all
// that follow it. The journal may therefore name many operations that never happened: undoing
// one looks at the disk first (RollbackData::undoIfDone), and with an ID it undoes only what
// provably is its own, so a planned step that never ran leaves whatever the disk holds. A last
// line without its "\n" was being written when the run died; its operation had not started
// and it is ignored. A journal that holds no more than a part of its header names no
// operation and is simply removed.
//
// Undo marks are synced one by one, so a crash in the middle of an undo (the run's own or the
// recovery's) leaves a journal whose replay undoes only what is left. The journal is removed
// only once every entry is undone and the restored installation has been flushed; a step that
// cannot be undone keeps it, and every later start tries again.
//
// Durability: the file is synced when it is created with its plan and when it is committed; the
// commit comes only after the installation itself has been flushed. Entries written after the
// plan (the fallbacks above) are synced when the first of them leaves the plan, not one by one.
// A power cut after the commit loses nothing.
//
// Not thread-safe: used on the main thread only.
class RollbackJournalFile
{
public:
    explicit RollbackJournalFile(const QString& installRoot);
    ~RollbackJournalFile();
    RollbackJournalFile(const RollbackJournalFile&) = delete;
    RollbackJournalFile& operator=(const RollbackJournalFile&) = delete;

    static QString fileName();
    QString filePath() const;
    // Text of the last failure, for the caller's message.
    QString errorString() const { return error; }

    // Starts a new journal with the entries of every operation planned (in the order they are
    // to be undone in, newest last) and syncs it. Refuses to replace one that an interrupted
    // run left, which only recover() may consume. A journal it could not complete is removed
    // again.
    bool create(const QList<RollbackData>& plan = {});
    // Writes entries, in one write, before their operations take effect and sets their
    // journalIndex. Paths are absolute or relative to the working directory, as the file
    // operations use them. Entries of the plan are already written: they only get their number.
    bool append(const QList<RollbackData*>& entries);
    // Records, synced, that the entry numbered index was undone or never took effect.
    bool markUndone(int index);
    // Marks the replacement as done and lists what the delete step removes (install-relative
    // paths, as in the plan's delete list); synced before it returns. Opens the journal when
    // create() was not called on this object, and starts one when there is none. True when the
    // commit stands, so that a later start would complete the update: when the commit line was
    // written but could not be synced, it is cut off again where that is possible (false: the
    // caller undoes the replacement), and otherwise it stands with errorString() as a warning.
    bool commit(const QStringList& deletions);
    // Closes and deletes the journal; true when there is none afterwards.
    bool remove();
    // After a complete undo: flushes the restored installation, then removes the journal and
    // makes its removal durable. Reports failures through reporter (as RollbackData does).
    bool discard(QObject* reporter);

    // Brings the installation in installRoot back to a whole version after a killed run:
    // an uncommitted journal is undone newest first, a committed one rolled forward; then the
    // journal file is removed. Reports what it did through reporter's message(QString) signal
    // (invoked by name, like RollbackData). True when there was no journal or recovery succeeded.
    static bool recover(const QString& installRoot, QObject* reporter);

private:
    bool open(int flags);
    bool writeLine(const QByteArray& line);
    bool sync();
    bool syncRoot();
    QByteArray encode(const QString& path) const;
    // The entry's line, made of its key and its identity.
    QByteArray line(const RollbackData& entry, const QByteArray& key) const;
    // The line without the identity: what an operation is known by in the plan.
    QByteArray key(const RollbackData& entry) const;

    QString root;
    int fd = -1;
    // Entry lines written or read so far: the number of the next entry is one more.
    int entryCount = 0;
    // The planned entries whose operations have not begun, by key, with their numbers.
    QHash<QByteArray, int> planned;
    QString error;
};
