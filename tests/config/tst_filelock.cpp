#include "filelock.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

// The lock that keeps runs apart: who gets it, who is refused, and what is never opened as a
// lock file.
class TestFileLock : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void tryLock_data();
    void tryLock();
    void removesOnlyItsOwnFile();

private:
    std::unique_ptr<QTemporaryDir> dir;
};

void TestFileLock::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestFileLock::tryLock_data()
{
    // "free", "held", "released" (held, then given up), "link", "directory", "fifo", "no folder"
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("disposal");
    QTest::addColumn<int>("expected");

    const int keep = FileLock::KeepFile;
    QTest::newRow("free: created and locked") << u"free"_s << keep << int(FileLock::Locked);
    QTest::newRow("held by another holder") << u"held"_s << keep << int(FileLock::Busy);
    QTest::newRow("given up by its holder") << u"released"_s << keep << int(FileLock::Locked);
    QTest::newRow("a symbolic link is not followed") << u"link"_s << keep << int(FileLock::Failed);
    QTest::newRow("a directory") << u"directory"_s << keep << int(FileLock::Failed);
    QTest::newRow("a FIFO does not hang the open") << u"fifo"_s << keep << int(FileLock::Failed);
    QTest::newRow("folder missing") << u"no folder"_s << keep << int(FileLock::Failed);
    const int remove = FileLock::RemoveFile;
    QTest::newRow("removed when given up") << u"free"_s << remove << int(FileLock::Locked);
    QTest::newRow("removed, then taken again") << u"released"_s << remove << int(FileLock::Locked);
    QTest::newRow("removing: held by another") << u"held"_s << remove << int(FileLock::Busy);
}

void TestFileLock::tryLock()
{
    QFETCH(QString, before);
    QFETCH(int, disposal);
    QFETCH(int, expected);

    QString path = dir->filePath(u"x.lock"_s);
    const QString target = dir->filePath(u"target"_s);
    const auto kind = FileLock::Disposal(disposal);
    FileLock holder(path, kind);
    if (before == u"held" || before == u"released")
        QCOMPARE(holder.tryLock(), FileLock::Locked);
    if (before == u"released")
        holder.unlock();
    if (before == u"link") {
        QVERIFY(TestFiles::write(target, "not a lock"));
        QVERIFY(QFile::link(target, path));
    }
    if (before == u"directory")
        QVERIFY(QDir().mkdir(path));
    if (before == u"fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    if (before == u"no folder")
        path = dir->filePath(u"gone/x.lock"_s);

    FileLock lock(path, kind);
    QCOMPARE(int(lock.tryLock()), expected);
    QCOMPARE(lock.isLocked(), expected == FileLock::Locked);
    QCOMPARE(lock.errorString().isEmpty(), expected != FileLock::Failed);
    if (before == u"link")
        QCOMPARE(TestFiles::read(target), QByteArray("not a lock"));
    if (expected != FileLock::Locked) {
        // A refused lock leaves alone what is there.
        if (before == u"link")
            QVERIFY(QFileInfo(path).isSymLink());
        else
            QCOMPARE(QFileInfo(path).isFile(), before == u"held");
        return;
    }
    // A second try by the holder keeps the lock; anyone else is refused until it is given up.
    QCOMPARE(lock.tryLock(), FileLock::Locked);
    FileLock other(path, kind);
    QCOMPARE(other.tryLock(), FileLock::Busy);
    lock.unlock();
    QCOMPARE(QFileInfo::exists(path), kind == FileLock::KeepFile);
    QCOMPARE(other.tryLock(), FileLock::Locked);
    QVERIFY(QFileInfo(path).isFile());
}

// A holder that removes its file at the end must not remove a file that is no longer the one
// it locked: that one may be another holder's.
void TestFileLock::removesOnlyItsOwnFile()
{
    const QString path = dir->filePath(u"x.lock"_s);
    FileLock first(path, FileLock::RemoveFile);
    QCOMPARE(first.tryLock(), FileLock::Locked);
    QVERIFY(QFile::remove(path));
    FileLock second(path, FileLock::RemoveFile);
    QCOMPARE(second.tryLock(), FileLock::Locked);

    first.unlock();
    QVERIFY(QFileInfo(path).isFile());
    FileLock third(path);
    QCOMPARE(third.tryLock(), FileLock::Busy);
}

QTEST_GUILESS_MAIN(TestFileLock)
#include "tst_filelock.moc"
