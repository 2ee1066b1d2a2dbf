#include "filecopyfunc.h"
#include "testfiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/stat.h>

namespace {
uint modeOf(const QString& path)
{
    struct stat status;
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}
}

// What the replacement relies on beyond "copy or fail": the new file carries the source's
// permission bits, and no failure leaves a destination behind.
class tst_FileCopyFunc : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void copy_data();
    void copy();
};

void tst_FileCopyFunc::initTestCase()
{
    // The usual mask: a copy that took its bits from the mask would lose group write.
    ::umask(022);
}

void tst_FileCopyFunc::copy_data()
{
    QTest::addColumn<QString>("source"); // "file", "tmpfs" (another file system) or "directory"
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("ok");

    QTest::newRow("plain file") << "file" << qint64(100000) << 0644 << true;
    QTest::newRow("empty file") << "file" << qint64(0) << 0644 << true;
    QTest::newRow("private file stays private") << "file" << qint64(10) << 0600 << true;
    QTest::newRow("group-writable executable, against the umask")
        << "file" << qint64(70000) << 0775 << true;
    // Copies between file systems go through the block loop: several blocks and a short one.
    QTest::newRow("from another file system")
        << "tmpfs" << qint64(3 * 1024 * 1024 + 17) << 0640 << true;
    QTest::newRow("source is a directory") << "directory" << qint64(0) << 0755 << false;
}

void tst_FileCopyFunc::copy()
{
    QFETCH(QString, source);
    QFETCH(qint64, size);
    QFETCH(int, mode);
    QFETCH(bool, ok);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    std::unique_ptr<QTemporaryDir> otherFileSystem;
    QString sourcePath = dir.filePath(QStringLiteral("src"));
    if (source == QStringLiteral("tmpfs")) {
        otherFileSystem = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/crv-XXXXXX"));
        if (!otherFileSystem->isValid())
            QSKIP("no /dev/shm on this machine");
        sourcePath = otherFileSystem->filePath(QStringLiteral("src"));
    }
    const QByteArray content = TestFiles::noise(size);
    if (source == QStringLiteral("directory"))
        QVERIFY(QDir().mkpath(sourcePath));
    else
        QVERIFY(TestFiles::write(sourcePath, content, mode));
    const QString destinationPath = dir.filePath(QStringLiteral("dst"));

    QCOMPARE(FileCopyFunc(sourcePath, destinationPath, mode).run(), ok);

    QCOMPARE(QFileInfo::exists(destinationPath), ok);
    if (ok) {
        QCOMPARE(TestFiles::read(destinationPath), content);
        QCOMPARE(modeOf(destinationPath), uint(mode));
    }
}

QTEST_GUILESS_MAIN(tst_FileCopyFunc)
#include "tst_filecopyfunc.moc"
