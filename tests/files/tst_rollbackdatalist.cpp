#include "filedeletetaskspecification.h"
#include "rollbackdatalist.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

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

QTEST_GUILESS_MAIN(tst_RollbackDataList)
#include "tst_rollbackdatalist.moc"
