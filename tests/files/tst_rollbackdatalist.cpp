#include "filedeletetaskspecification.h"
#include "fileidentity.h"
#include "rollbackdatalist.h"
#include "rollbackjournalfile.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

class tst_RollbackDataList : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void emptyJournalUndoesNothing();
    void renameAsideThenCreateIsUndoneNewestFirst();
    void failedRenameUndoStillUndoesOlderEntries();
    void createDirUndo_data();
    void createDirUndo();
    void recoverJournal_data();
    void recoverJournal();
    void recoveryNeverFollowsLinksOut();
    void headerlessJournalIsRemoved_data();
    void headerlessJournalIsRemoved();

private:
    QString path(const QString& name) const { return dir->filePath(name); }
    void write(const QString& name, const QByteArray& content);
    QByteArray read(const QString& name) const;

    std::unique_ptr<QTemporaryDir> dir;
    // Any task carries the message signal the journal reports through.
    std::unique_ptr<FileDeleteTaskSpecification> reporter;
};

void tst_RollbackDataList::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    reporter = std::make_unique<FileDeleteTaskSpecification>(false, QString(), nullptr, 1.0);
}

void tst_RollbackDataList::write(const QString& name, const QByteArray& content)
{
    QFile file(path(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray tst_RollbackDataList::read(const QString& name) const
{
    QFile file(path(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void tst_RollbackDataList::emptyJournalUndoesNothing()
{
    RollbackDataList journal;
    QSignalSpy messages(reporter.get(), &TaskSpecification::message);
    QVERIFY(journal.rollback(reporter.get()));
    QCOMPARE(messages.size(), 0);
}

void tst_RollbackDataList::renameAsideThenCreateIsUndoneNewestFirst()
{
    write(QStringLiteral("a"), "installed");
    RollbackDataList journal;
    QVERIFY(QFile::rename(path(QStringLiteral("a")), path(QStringLiteral("_old_a"))));
    journal.add(RollbackData(
        RollbackData::Rename, path(QStringLiteral("a")), path(QStringLiteral("_old_a"))));
    write(QStringLiteral("a"), "new");
    journal.add(RollbackData(RollbackData::CreateFile, path(QStringLiteral("a"))));

    QSignalSpy messages(reporter.get(), &TaskSpecification::message);
    QVERIFY(journal.rollback(reporter.get()));
    QCOMPARE(messages.size(), 0);
    QVERIFY(journal.entries.isEmpty());
    QCOMPARE(read(QStringLiteral("a")), QByteArray("installed"));
    QVERIFY(!QFile::exists(path(QStringLiteral("_old_a"))));
}

void tst_RollbackDataList::failedRenameUndoStillUndoesOlderEntries()
{
    RollbackDataList journal;
    write(QStringLiteral("created"), "x");
    journal.add(RollbackData(RollbackData::CreateFile, path(QStringLiteral("created"))));
    write(QStringLiteral("_old_b"), "old b");
    journal.add(RollbackData(
        RollbackData::Rename, path(QStringLiteral("b")), path(QStringLiteral("_old_b"))));
    // Someone put a file under the name the undo must restore.
    write(QStringLiteral("b"), "intruder");

    QStringList log;
    connect(reporter.get(), &TaskSpecification::message, this,
        [&log](const QString& text) { log.append(text); });
    QVERIFY(!journal.rollback(reporter.get()));
    QCOMPARE(log,
        QStringList { QStringLiteral("warning: rollback rename %1 to %2 failed")
                          .arg(path(QStringLiteral("b")), path(QStringLiteral("_old_b"))) });
    QVERIFY(journal.entries.isEmpty());
    QVERIFY(!QFile::exists(path(QStringLiteral("created"))));
    QCOMPARE(read(QStringLiteral("b")), QByteArray("intruder"));
    QCOMPARE(read(QStringLiteral("_old_b")), QByteArray("old b"));
}

void tst_RollbackDataList::createDirUndo_data()
{
    QTest::addColumn<bool>("leaveFileInside");
    QTest::addColumn<bool>("removed");
    QTest::newRow("empty directory removed") << false << true;
    QTest::newRow("directory with content kept") << true << false;
}

void tst_RollbackDataList::createDirUndo()
{
    QFETCH(bool, leaveFileInside);
    QFETCH(bool, removed);
    QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("d")));
    if (leaveFileInside)
        write(QStringLiteral("d/file"), "keep me");
    RollbackDataList journal;
    journal.add(RollbackData(RollbackData::CreateDir, path(QStringLiteral("d"))));

    QSignalSpy messages(reporter.get(), &TaskSpecification::message);
    QCOMPARE(journal.rollback(reporter.get()), removed);
    QCOMPARE(QFileInfo::exists(path(QStringLiteral("d"))), !removed);
    if (!removed) {
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages.at(0).at(0).toString(),
            QStringLiteral("warning: rollback create dir %1 failed")
                .arg(path(QStringLiteral("d"))));
        QCOMPARE(read(QStringLiteral("d/file")), QByteArray("keep me"));
    }
}

// Journals as a killed run leaves them, written by hand from the format: the recovery must undo
// what took effect (and only that), complete a committed one, and refuse anything else.
void tst_RollbackDataList::recoverJournal_data()
{
    QTest::addColumn<QStringList>("before"); // name=content, or name>other for a hard link
    QTest::addColumn<QByteArray>("journal"); // without the header line; null: no journal
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("after"); // name=content of every file left but the journal

    const QByteArray install = "file .new_a.1\nrename a _old_a\nrename .new_a.1 a\n";
    QTest::newRow("no journal") << QStringList { "a=old" } << QByteArray() << true
                                << QStringList { "a=old" };
    QTest::newRow("killed in the middle of the copy")
        << QStringList { "a=old", ".new_a.1=ne" } << QByteArray("file .new_a.1\n") << true
        << QStringList { "a=old" };
    QTest::newRow("killed before the link")
        << QStringList { "a=old", ".new_a.1=new" } << QByteArray("file .new_a.1\nrename a _old_a\n")
        << true << QStringList { "a=old" };
    QTest::newRow("both renames journalled, killed before the link")
        << QStringList { "a=old", ".new_a.1=new" } << install << true << QStringList { "a=old" };
    QTest::newRow("killed between the link and the rename") << QStringList { "a=old", "_old_a>a",
        ".new_a.1=new" } << install << true << QStringList { "a=old" };
    // A left-over copy moves out of the way first; the whole replacement may be journalled
    // before any of it takes effect.
    const QByteArray leftOver = "rename _old_a _old_a.9\n" + install;
    QTest::newRow("left-over copy journalled, nothing done: the installed file stays")
        << QStringList { "a=old", "_old_a=left" } << leftOver << true
        << QStringList { "_old_a=left", "a=old" };
    QTest::newRow("left-over copy moved, killed before the copy")
        << QStringList { "a=old", "_old_a.9=left" } << leftOver << true
        << QStringList { "_old_a=left", "a=old" };
    QTest::newRow("left-over copy moved, killed after the rename")
        << QStringList { "a=new", "_old_a=old", "_old_a.9=left" } << leftOver << true
        << QStringList { "_old_a=left", "a=old" };
    QTest::newRow("killed after the rename")
        << QStringList { "a=new", "_old_a=old" } << install << true << QStringList { "a=old" };
    QTest::newRow("renamed aside without a link, then killed") << QStringList { "_old_a=old",
        ".new_a.1=new" } << install << true << QStringList { "a=old" };
    QTest::newRow("new file and directory, line being written ignored")
        << QStringList { "d/b=new" }
        << QByteArray("dir d\nfile d/.new_b.2\nrename d/.new_b.2 d/b\nren") << true
        << QStringList();
    QTest::newRow("encoded name") << QStringList { "my file=new" } << QByteArray("file my%20file\n")
                                  << true << QStringList();
    QTest::newRow("committed: the deletions are completed")
        << QStringList { "a=new", "_old_a=old", "gone=x", "_old_d/x=y" }
        << install + "commit\ndelete _old_a\ndelete gone\ndelete _old_d\n"
        << true << QStringList { "a=new" };
    QTest::newRow("undone already, the journal outlived the undo: nothing undone twice")
        << QStringList { "a=old" } << install << true << QStringList { "a=old" };
    QTest::newRow("killed in the middle of an undo: only what is left is undone")
        << QStringList { "d/.new_b.2=new" }
        << QByteArray("dir d\nfile d/.new_b.2\nrename d/.new_b.2 d/b\nundone 3\n") << true
        << QStringList();
    QTest::newRow("a failed rename marked: the file that took the name stays")
        << QStringList { "b=someone else's" }
        << QByteArray("file .new_b.1\nrename .new_b.1 b\nundone 2\nundone 1\n") << true
        << QStringList { "b=someone else's" };
    QTest::newRow("a step that cannot be undone keeps the journal")
        << QStringList { "d/x=not ours", "a=new", "_old_a=old" }
        << QByteArray("dir d\n") + install << false
        << QStringList { "a=old", "d/x=not ours", "update.journal" };
    QTest::newRow("undone mark of no entry: nothing touched")
        << QStringList { "a=new", "_old_a=old" } << install + "undone 4\n" << false
        << QStringList { "_old_a=old", "a=new", "update.journal.damaged" };
    QTest::newRow("a directory turned file, killed after the swap")
        << QStringList { "x=new", ".new_x.1/inner=x was a dir" }
        << QByteArray("file .new_x.1\nexchange x .new_x.1\n") << true
        << QStringList { "x/inner=x was a dir" };
    QTest::newRow("a directory turned file, killed after it took its old name")
        << QStringList { "x=new", "_old_x/inner=x was a dir" }
        << QByteArray("file .new_x.1\nexchange x .new_x.1\nrename .new_x.1 _old_x\n") << true
        << QStringList { "x/inner=x was a dir" };
    QTest::newRow("a file turned directory, killed with a file in it")
        << QStringList { "y/z=new", "_old_y.4=y was a file" }
        << QByteArray("dir .new_y.2\nexchange .new_y.2 y\nrename .new_y.2 _old_y.4\n"
                      "file y/.new_z.3\nrename y/.new_z.3 y/z\n")
        << true << QStringList { "y=y was a file" };
    QTest::newRow("unknown entry: nothing touched")
        << QStringList { "a=new", "_old_a=old" } << QByteArray("chmod a 777\n") << false
        << QStringList { "_old_a=old", "a=new", "update.journal.damaged" };
    QTest::newRow("committed before any entry: the deletions are completed")
        << QStringList { "a=new", "_old_a=old" } << QByteArray("commit\ndelete _old_a\n") << true
        << QStringList { "a=new" };
    // Planned ahead: every step is in the journal before the first, with the identity of what
    // it moves ({inode:NAME}: the entry NAME holds before recovery; {md5:TEXT}: a file of TEXT).
    const QByteArray planned
        = "file .new_a.1\nrename a _old_a {inode:a}\nrename .new_a.1 a {md5:new}\n";
    QTest::newRow("planned, nothing done, the kept name taken meanwhile: both stay")
        << QStringList { "a=old", "_old_a=someone else's" } << planned << true
        << QStringList { "_old_a=someone else's", "a=old" };
    QTest::newRow("planned, killed between the link and the rename")
        << QStringList { "a=old", "_old_a>a", ".new_a.1=new" } << planned << true
        << QStringList { "a=old" };
    QTest::newRow("planned, killed after the rename")
        << QStringList { "a=new", "_old_a=old" }
        << QByteArray("file .new_a.1\nrename a _old_a {inode:_old_a}\nrename .new_a.1 a {md5:new}\n")
        << true << QStringList { "a=old" };
    const QByteArray plannedNew = "file .new_b.1\nrename .new_b.1 b {md5:new}\n";
    QTest::newRow("planned, a new file's name taken meanwhile: it stays")
        << QStringList { "b=someone else's" } << plannedNew << true
        << QStringList { "b=someone else's" };
    QTest::newRow("planned, a new file put in place: it goes")
        << QStringList { "b=new" } << plannedNew << true << QStringList();
    QTest::newRow("planned, a directory turned file, killed after it took its old name")
        << QStringList { "x=new", "_old_x/inner=x was a dir" }
        << QByteArray("file .new_x.1\nexchange x .new_x.1 {md5:new}\n"
                      "rename .new_x.1 _old_x {inode:_old_x}\n")
        << true << QStringList { "x/inner=x was a dir" };
    QTest::newRow("planned, a file turned directory, killed after the swap")
        << QStringList { "y/z=new", ".new_y.2=y was a file" }
        << QByteArray("dir .new_y.2\nexchange .new_y.2 y {inode:.new_y.2}\n"
                      "rename .new_y.2 _old_y.4 {inode:.new_y.2}\n"
                      "file y/.new_z.3\nrename y/.new_z.3 y/z {md5:new}\n")
        << true << QStringList { "y=y was a file" };
    QTest::newRow("path outside the installation: nothing touched")
        << QStringList { "a=new" } << QByteArray("file ../../a\n") << false
        << QStringList { "a=new", "update.journal.damaged" };
}

void tst_RollbackDataList::recoverJournal()
{
    QFETCH(QStringList, before);
    QFETCH(QByteArray, journal);
    QFETCH(bool, ok);
    QFETCH(QStringList, after);
    for (const QString& entry : std::as_const(before)) {
        const int link = entry.indexOf(QLatin1Char('>'));
        if (link > 0) {
            QCOMPARE(::link(QFile::encodeName(path(entry.mid(link + 1))).constData(),
                         QFile::encodeName(path(entry.left(link))).constData()),
                0);
            continue;
        }
        const int split = entry.indexOf(QLatin1Char('='));
        QDir().mkpath(QFileInfo(path(entry.left(split))).path());
        write(entry.left(split), entry.mid(split + 1).toUtf8());
    }
    static const QRegularExpression identity(QStringLiteral("\\{(inode|md5):([^}]*)\\}"));
    for (QRegularExpressionMatch match = identity.match(QString::fromUtf8(journal));
         match.hasMatch(); match = identity.match(QString::fromUtf8(journal))) {
        const QByteArray text = match.captured(2).toUtf8();
        const FileIdentity id = match.captured(1) == QStringLiteral("inode")
            ? FileIdentity::ofEntry(path(match.captured(2)))
            : FileIdentity::ofContent(quint64(text.size()),
                QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex()));
        QVERIFY(id.isKnown());
        journal.replace(match.captured(0).toUtf8(), id.encode());
    }
    if (!journal.isNull())
        write(RollbackJournalFile::fileName(), "crv-rollback-journal 1\n" + journal);

    QStringList log;
    connect(reporter.get(), &TaskSpecification::message, this,
        [&log](const QString& text) { log.append(text); });
    QCOMPARE(RollbackJournalFile::recover(dir->path(), reporter.get()), ok);

    QStringList files;
    QDirIterator it(dir->path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString name = QDir(dir->path()).relativeFilePath(it.next());
        if (name.startsWith(RollbackJournalFile::fileName()))
            files.append(name);
        else
            files.append(name + QLatin1Char('=') + QString::fromUtf8(read(name)));
    }
    files.sort();
    QCOMPARE(files, after);
    const bool kept = after.contains(RollbackJournalFile::fileName());
    QCOMPARE(QFile::exists(path(RollbackJournalFile::fileName())), kept);
    // A kept journal: the failed step and the note that it is kept.
    QCOMPARE(log.size(), journal.isNull() ? 0 : kept ? 3 : 1);
}

// A symbolic link put into the installation after the plan looked must not carry an undo or a
// deletion to files elsewhere: such a journal is set aside, nothing touched.
void tst_RollbackDataList::recoveryNeverFollowsLinksOut()
{
    // Not beside the installation: the level above it is the installation's too.
    QTemporaryDir elsewhere(QCoreApplication::applicationDirPath() + QStringLiteral("/elsewhere-XXXXXX"));
    QVERIFY(elsewhere.isValid());
    QDir().mkpath(elsewhere.filePath(QStringLiteral("d")));
    for (const char* name : { "c", "d/c" }) {
        QFile file(elsewhere.filePath(QLatin1String(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not ours");
    }
    QVERIFY(QFile::link(elsewhere.path(), path(QStringLiteral("out"))));
    for (const QByteArray& journal :
        { QByteArray("file out/c\n"), QByteArray("commit\ndelete out/c\ndelete out/d\n") }) {
        QFile::remove(path(RollbackJournalFile::fileName() + QStringLiteral(".damaged")));
        write(RollbackJournalFile::fileName(), "crv-rollback-journal 1\n" + journal);
        QVERIFY(!RollbackJournalFile::recover(dir->path(), reporter.get()));
        QVERIFY(QFile::exists(elsewhere.filePath(QStringLiteral("c"))));
        QVERIFY(QFile::exists(elsewhere.filePath(QStringLiteral("d/c"))));
        QVERIFY(QFile::exists(path(RollbackJournalFile::fileName() + QStringLiteral(".damaged"))));
    }
}

// A run that died (or hit a full disk) while creating its journal left no more than a part of
// the header: no operation can have started, so there is nothing to undo and nothing to keep.
void tst_RollbackDataList::headerlessJournalIsRemoved_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("part of the header") << QByteArray("crv-rollb");
    QTest::newRow("header without its line end") << QByteArray("crv-rollback-journal 1");
    QTest::newRow("header only") << QByteArray("crv-rollback-journal 1\n");
}

void tst_RollbackDataList::headerlessJournalIsRemoved()
{
    QFETCH(QByteArray, content);
    write(QStringLiteral("a"), "installed");
    write(RollbackJournalFile::fileName(), content);
    QVERIFY(RollbackJournalFile::recover(dir->path(), reporter.get()));
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList { "a" });
    QCOMPARE(read(QStringLiteral("a")), QByteArray("installed"));
}

QTEST_GUILESS_MAIN(tst_RollbackDataList)
#include "tst_rollbackdatalist.moc"
