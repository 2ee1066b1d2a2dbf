#include "dircreatetaskspecification.h"
#include "filecopytaskspecification.h"
#include "filedeletetaskspecification.h"
#include "filerenametaskspecification.h"
#include "fileunziptaskspecification.h"
#include "installationsynctaskspecification.h"
#include "rollbackdatalist.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {
struct Outcome
{
    qint32 state;
    QStringList messages;
};

// Runs a task to its end and returns its final state and its log.
Outcome run(TaskSpecification& task)
{
    Outcome outcome;
    QObject::connect(&task, &TaskSpecification::message, &task,
        [&outcome](const QString& text) { outcome.messages.append(text); });
    task.execute();
    if (!QTest::qWaitFor([&task] { return task.state != TaskSpecification::TaskRunning; }, 20000))
        qWarning("the task did not end within 20 s");
    outcome.state = task.state;
    return outcome;
}
}

class tst_FileOperations : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void createDir_data();
    void createDir();
    void rename_data();
    void rename();
    void deleteFile_data();
    void deleteFile();
    void copyOrUnzip_data();
    void copyOrUnzip();
    void installationSync_data();
    void installationSync();

private:
    QString path(const QString& name) const { return dir->filePath(name); }
    void write(const QString& name, const QByteArray& content);
    QByteArray read(const QString& name) const { return TestFiles::read(path(name)); }

    std::unique_ptr<QTemporaryDir> dir;
};

void tst_FileOperations::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void tst_FileOperations::write(const QString& name, const QByteArray& content)
{
    QVERIFY(TestFiles::write(path(name), content));
}

void tst_FileOperations::createDir_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QStringList>("journalled");
    QTest::addColumn<QString>("failure");

    QTest::newRow("nested below an existing root")
        << "r/a/b/c" << QStringList { "r/a", "r/a/b", "r/a/b/c" } << QString();
    QTest::newRow("already there") << "r" << QStringList() << QString();
    QTest::newRow("name taken by a file")
        << "file" << QStringList()
        << "Could not create dir '%1' because it already exists and is not a dir";
    QTest::newRow("parent is a file")
        << "file/sub" << QStringList()
        << "Could not create dir '%1' because it already exists and is not a dir";
}

void tst_FileOperations::createDir()
{
    QFETCH(QString, target);
    QFETCH(QStringList, journalled);
    QFETCH(QString, failure);
    QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("r")));
    write(QStringLiteral("file"), "not a dir");

    RollbackDataList journal;
    DirCreateTaskSpecification task(path(target), &journal, nullptr, 1.0);
    const Outcome outcome = run(task);

    QStringList entries;
    for (const RollbackData& entry : std::as_const(journal.entries)) {
        QCOMPARE(entry.operation, RollbackData::CreateDir);
        entries.append(QDir(dir->path()).relativeFilePath(entry.path));
    }
    QCOMPARE(entries, journalled);
    if (failure.isEmpty()) {
        QCOMPARE(outcome.state, qint32(TaskSpecification::TaskFinished));
        QVERIFY(outcome.messages.isEmpty());
        QVERIFY(QFileInfo(path(target)).isDir());
    } else {
        QCOMPARE(outcome.state, qint32(TaskSpecification::TaskErrorCanceled));
        QCOMPARE(outcome.messages, QStringList { failure.arg(path(QStringLiteral("file"))) });
        QCOMPARE(read(QStringLiteral("file")), QByteArray("not a dir"));
    }

    // The undo removes exactly what was created, children first.
    QVERIFY(journal.rollback(nullptr));
    QVERIFY(QFileInfo(path(QStringLiteral("r"))).isDir());
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("r/a"))));
}

void tst_FileOperations::rename_data()
{
    QTest::addColumn<bool>("targetExists");
    QTest::addColumn<bool>("withJournal");
    QTest::newRow("journalled") << false << true;
    QTest::newRow("without a journal") << false << false;
    QTest::newRow("onto an existing name") << true << true;
}

void tst_FileOperations::rename()
{
    QFETCH(bool, targetExists);
    QFETCH(bool, withJournal);
    write(QStringLiteral("a"), "a");
    if (targetExists)
        write(QStringLiteral("_old_a"), "taken");

    RollbackDataList journal;
    FileRenameTaskSpecification task(path(QStringLiteral("a")), path(QStringLiteral("_old_a")),
        withJournal ? &journal : nullptr, nullptr, 1.0);
    const Outcome outcome = run(task);

    if (targetExists) {
        QCOMPARE(outcome.state, qint32(TaskSpecification::TaskErrorCanceled));
        QCOMPARE(outcome.messages,
            QStringList { QStringLiteral("Could not rename '%1' to '%2'")
                              .arg(path(QStringLiteral("a")), path(QStringLiteral("_old_a"))) });
        QCOMPARE(read(QStringLiteral("a")), QByteArray("a"));
        QCOMPARE(read(QStringLiteral("_old_a")), QByteArray("taken"));
        QVERIFY(journal.entries.isEmpty());
        return;
    }
    QCOMPARE(outcome.state, qint32(TaskSpecification::TaskFinished));
    QCOMPARE(read(QStringLiteral("_old_a")), QByteArray("a"));
    QCOMPARE(journal.entries.size(), withJournal ? 1 : 0);
    QVERIFY(journal.rollback(nullptr));
    QCOMPARE(QFile::exists(path(QStringLiteral("a"))), withJournal);
}

void tst_FileOperations::deleteFile_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<bool>("failOnError");
    QTest::addColumn<bool>("fails");
    QTest::newRow("present") << true << true << false;
    QTest::newRow("missing, tolerated") << false << false << false;
    QTest::newRow("missing, required") << false << true << true;
}

void tst_FileOperations::deleteFile()
{
    QFETCH(bool, exists);
    QFETCH(bool, failOnError);
    QFETCH(bool, fails);
    if (exists)
        write(QStringLiteral("f"), "x");
    FileDeleteTaskSpecification task(failOnError, path(QStringLiteral("f")), nullptr, 1.0);
    const Outcome outcome = run(task);
    QVERIFY(!QFile::exists(path(QStringLiteral("f"))));
    QCOMPARE(outcome.state,
        qint32(fails ? TaskSpecification::TaskErrorCanceled : TaskSpecification::TaskFinished));
    QCOMPARE(outcome.messages,
        fails
            ? QStringList { QStringLiteral("Could not delete '%1'").arg(path(QStringLiteral("f"))) }
            : QStringList());
}

void tst_FileOperations::copyOrUnzip_data()
{
    QTest::addColumn<QString>("operation"); // "copy" or "unzip"
    QTest::addColumn<bool>("sourceExists");
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<bool>("destinationExists");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("expected");
    // For unzip: the most bytes the unpacked file may have, 0 for no limit.
    QTest::addColumn<quint64>("maxSize");

    const QByteArray big = TestFiles::noise(100000);
    const QByteArray packed = TestFiles::gzipped(big);
    QByteArray badCrc = packed;
    badCrc[badCrc.size() - 8] = char(badCrc.at(badCrc.size() - 8) ^ 0x55);

    QTest::newRow("copy: new destination")
        << "copy" << true << big << false << true << big << quint64(0);
    QTest::newRow("copy: onto an existing file")
        << "copy" << true << big << true << false << QByteArray() << quint64(0);
    QTest::newRow("copy: missing source")
        << "copy" << false << QByteArray() << false << false << QByteArray() << quint64(0);
    QTest::newRow("unzip: several buffers")
        << "unzip" << true << packed << false << true << big << quint64(0);
    QTest::newRow("unzip: empty stream") << "unzip" << true << TestFiles::gzipped(QByteArray())
                                         << false << true << QByteArray() << quint64(0);
    QTest::newRow("unzip: not gzip, passed through")
        << "unzip" << true << big << false << true << big << quint64(0);
    QTest::newRow("unzip: missing source")
        << "unzip" << false << QByteArray() << false << false << QByteArray() << quint64(0);
    QTest::newRow("unzip: corrupt, bad checksum")
        << "unzip" << true << badCrc << false << false << QByteArray() << quint64(0);
    QTest::newRow("unzip: truncated stream") << "unzip" << true << packed.left(packed.size() / 2)
                                             << false << false << QByteArray() << quint64(0);
    QTest::newRow("unzip: existing destination kept")
        << "unzip" << true << packed << true << false << QByteArray() << quint64(0);
    // A small packed file that unpacks to far more than it was listed with stops there, not
    // when the disk is full.
    QTest::newRow("unzip: larger than its limit")
        << "unzip" << true << packed << false << false << QByteArray() << quint64(big.size() - 1);
    QTest::newRow("unzip: exactly its limit")
        << "unzip" << true << packed << false << true << big << quint64(big.size());
}

void tst_FileOperations::copyOrUnzip()
{
    QFETCH(QString, operation);
    QFETCH(bool, sourceExists);
    QFETCH(QByteArray, source);
    QFETCH(bool, destinationExists);
    QFETCH(bool, ok);
    QFETCH(QByteArray, expected);
    QFETCH(quint64, maxSize);
    const bool unzip = operation == QStringLiteral("unzip");
    const QString sourcePath = path(unzip ? QStringLiteral("src.gz") : QStringLiteral("src"));
    const QString destinationPath = path(QStringLiteral("dst"));
    if (sourceExists)
        QVERIFY(TestFiles::write(sourcePath, source));
    if (destinationExists)
        write(QStringLiteral("dst"), "installed");

    RollbackDataList journal;
    std::unique_ptr<TaskSpecification> task;
    if (unzip) {
        auto unzipTask = std::make_unique<FileUnzipTaskSpecification>(
            &journal, sourcePath, destinationPath, nullptr, 1.0);
        unzipTask->maxSize = maxSize;
        task = std::move(unzipTask);
    } else
        task = std::make_unique<FileCopyTaskSpecification>(
            &journal, sourcePath, destinationPath, nullptr, 1.0);
    const Outcome outcome = run(*task);

    if (ok) {
        QCOMPARE(outcome.state, qint32(TaskSpecification::TaskFinished));
        QVERIFY(QFile::exists(destinationPath));
        QCOMPARE(read(QStringLiteral("dst")), expected);
        QCOMPARE(journal.entries.size(), 1);
        QCOMPARE(journal.entries.at(0).operation, RollbackData::CreateFile);
        QCOMPARE(journal.entries.at(0).path, destinationPath);
        return;
    }
    QCOMPARE(outcome.state, qint32(TaskSpecification::TaskErrorCanceled));
    QCOMPARE(outcome.messages,
        QStringList { QStringLiteral("Could not %1 '%2' to '%3'")
                          .arg(operation, sourcePath, destinationPath) });
    QVERIFY(journal.entries.isEmpty());
    QCOMPARE(QFile::exists(destinationPath), destinationExists);
    QCOMPARE(
        read(QStringLiteral("dst")), destinationExists ? QByteArray("installed") : QByteArray());
}

// The flush guards the delete step: when it cannot be done, the step must stop and say why
// rather than delete the only complete copies.
void tst_FileOperations::installationSync_data()
{
    QTest::addColumn<bool>("rootExists");
    QTest::addColumn<int>("state");

    QTest::newRow("installation") << true << int(TaskSpecification::TaskFinished);
    QTest::newRow("no such directory") << false << int(TaskSpecification::TaskErrorCanceled);
}

void tst_FileOperations::installationSync()
{
    QFETCH(bool, rootExists);
    QFETCH(int, state);
    const QString root = rootExists ? dir->path() : path(QStringLiteral("missing"));

    InstallationSyncTaskSpecification task(root, nullptr, 0.0);
    const Outcome outcome = run(task);

    QCOMPARE(outcome.state, state);
    QCOMPARE(outcome.messages.size(), rootExists ? 0 : 1);
    if (!rootExists)
        QVERIFY(outcome.messages.first().startsWith(
            QStringLiteral("Could not flush the installation %1 to disk: ").arg(root)));
}

QTEST_GUILESS_MAIN(tst_FileOperations)
#include "tst_fileoperations.moc"
