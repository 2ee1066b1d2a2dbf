#include "configuration.h"
#include "filelock.h"
#include "testfiles.h"
#include "updateinidata.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

// Settings, the temporary-arguments file and the session directory: everything of the
// configuration that needs no update server. Each test gets a temporary directory of its own as
// the system temp directory (TMPDIR).
class TestConfiguration : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void installationRoot();
    void specialFileNames_data();
    void specialFileNames();
    void channel_data();
    void channel();
    void proxyAndStreams_data();
    void proxyAndStreams();
    void tempArgs_data();
    void tempArgs();
    void tempArgsOfOthersAreIgnored_data();
    void tempArgsOfOthersAreIgnored();
    void tempDirCandidates_data();
    void tempDirCandidates();
    void tempDirAllCandidatesTaken();
    void tempDirWithoutTempPath();
    void initalizeStartKeepsGivenDir();
    void sessionLock_data();
    void sessionLock();

private:
    QTemporaryDir m_base;
    QString m_tmp;
    int m_testNumber = 0;
};

void TestConfiguration::initTestCase()
{
    QVERIFY(m_base.isValid());
}

void TestConfiguration::init()
{
    m_tmp = m_base.filePath(QString::number(++m_testNumber));
    QVERIFY(QDir().mkpath(m_tmp));
    qputenv("TMPDIR", QFile::encodeName(m_tmp));
    QCOMPARE(QDir::tempPath(), m_tmp);
}

void TestConfiguration::cleanup()
{
    QFile::remove(UpdateIniData::filename());
}

void TestConfiguration::installationRoot()
{
    // The executable lies three levels below the root: build/testroots/<test>/a/b/c/.
    // Paths in the log read as what they are: no "..", no doubled or trailing "/".
    const QString root = Configuration::getAppRootPath();
    QCOMPARE(root,
        QFileInfo(QCoreApplication::applicationDirPath() + QLatin1String("/../../.."))
            .canonicalFilePath());
    QCOMPARE(Configuration::getAppRootFilePath(QStringLiteral("../MacOS//crvclient_mac")),
        QFileInfo(root).path() + QStringLiteral("/MacOS/crvclient_mac"));
    QCOMPARE(QFileInfo(UpdateIniData::filename()).dir().canonicalPath(),
        QFileInfo(root).canonicalFilePath());
}

void TestConfiguration::specialFileNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("special");

    for (const QString& name : Configuration::getSpecialFileNames())
        QTest::newRow(qPrintable(name)) << name << true;
    QTest::newRow("other case") << "Update" << false;
    QTest::newRow("with prefix") << "_old_update" << false;
    QTest::newRow("with path") << "imageformats/libqgif.so" << false;
    QTest::newRow("client binary") << "crvclient_mac" << false;
    QTest::newRow("empty") << "" << false;
}

void TestConfiguration::specialFileNames()
{
    QFETCH(QString, name);
    QFETCH(bool, special);
    QCOMPARE(Configuration::isSpecialFileName(name), special);
    QCOMPARE(Configuration::getSpecialFileNames(),
        (QStringList { "update", "libQtCore.so.4", "libQtGui.so.4", "libQtNetwork.so.4",
            "libqgif.so", "libqjpeg.so", "libqtaccessiblewidgets.so" }));
    QCOMPARE(Configuration::getSpecialFileRenamePrefix(), QStringLiteral("_old_"));
    QCOMPARE(
        &Configuration::getSpecialFileRenamePrefix(), &Configuration::getSpecialFileRenamePrefix());
}

void TestConfiguration::channel_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("version");

    QTest::newRow("no file") << QByteArray() << int(Stable) << 0;
    QTest::newRow("beta") << QByteArray("[Channel]\nbeta=true\n") << int(Beta) << 0;
    QTest::newRow("beta false") << QByteArray("[Channel]\nbeta=false\n") << int(Stable) << 0;
    QTest::newRow("alpha with revno")
        << QByteArray("[Channel]\nalpha=http://alpha.example/\nalphaRevno=3100\n") << int(Alpha)
        << 3100;
    QTest::newRow("alpha without revno")
        << QByteArray("[Channel]\nalpha=http://alpha.example/\n") << int(Alpha) << 0;
    QTest::newRow("alpha wins over beta")
        << QByteArray("[Channel]\nbeta=true\nalpha=http://alpha.example/\nalphaRevno=7\n")
        << int(Alpha) << 7;
    QTest::newRow("empty alpha, beta")
        << QByteArray("[Channel]\nalpha=\nalphaRevno=7\nbeta=true\n") << int(Beta) << 0;
    QTest::newRow("alpha with a comma")
        << QByteArray("[Channel]\nalpha=http://alpha.example/a,b\nalphaRevno=7\n") << int(Alpha)
        << 7;
}

void TestConfiguration::channel()
{
    QFETCH(QByteArray, ini);
    QFETCH(int, channel);
    QFETCH(int, version);

    if (!ini.isNull())
        QVERIFY(TestFiles::write(UpdateIniData::filename(), ini));
    Configuration config;
    config.clientVersion = 99; // a stale value must not survive
    config.getUpdateChannel();
    QCOMPARE(int(config.channel), channel);
    QCOMPARE(config.clientVersion, version);
}

void TestConfiguration::proxyAndStreams_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("proxy");
    QTest::addColumn<int>("streams");

    QTest::newRow("no file") << QByteArray() << "" << 6;
    QTest::newRow("streams 0") << QByteArray("[update]\nstreams=0\n") << "" << 6;
    QTest::newRow("streams -3") << QByteArray("[update]\nstreams=-3\n") << "" << 6;
    QTest::newRow("streams word") << QByteArray("[update]\nstreams=many\n") << "" << 6;
    QTest::newRow("streams 40") << QByteArray("[update]\nstreams=40\n") << "" << 40;
    QTest::newRow("proxy") << QByteArray("[update]\nproxy=http://proxy.example:8080\nstreams=2\n")
                           << "http://proxy.example:8080" << 2;
    QTest::newRow("proxy with a comma")
        << QByteArray("[update]\nproxy=http://a,b:8080\n") << "http://a,b:8080" << 6;
    QTest::newRow("every file hashed") << QByteArray("[update]\nverifyall=true\n") << "" << 6;
    QTest::newRow("verifyall not true") << QByteArray("[update]\nverifyall=yes\n") << "" << 6;
}

void TestConfiguration::proxyAndStreams()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, proxy);
    QFETCH(int, streams);

    if (!ini.isNull())
        QVERIFY(TestFiles::write(UpdateIniData::filename(), ini));
    Configuration config;
    config.getProxyAndDownloadConcurrency();
    QCOMPARE(config.proxySpec, proxy);
    QCOMPARE(config.downloadStreams, streams);
    QCOMPARE(config.verifyAll, ini.contains("verifyall=true"));
}

void TestConfiguration::tempArgs_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("args");

    QTest::newRow("no file") << QByteArray() << QStringList();
    QTest::newRow("CR LF and an empty line") << QByteArray("client_macosx\r\n\r\n3100\r\n")
                                             << QStringList { "", "client_macosx", "3100" };
    QTest::newRow("LF, no final line end")
        << QByteArray("--nouser\nclient_macosx\n3100\n#\nnews of the day")
        << QStringList { "", "--nouser", "client_macosx", "3100", "#", "news of the day" };
    QTest::newRow("text ends at NUL")
        << "client_macosx\r\n3100\0\r\n9999\r\n"_ba << QStringList { "", "client_macosx", "3100" };
    QTest::newRow("blanks and 8-bit text")
        << QByteArray(" two words \r\nVersion 3.1 \xe9t\xe9\r\n")
        << QStringList { "", " two words ", QStringLiteral("Version 3.1 \u00e9t\u00e9") };
    QTest::newRow("empty file") << QByteArray("") << QStringList { "" };
}

void TestConfiguration::tempArgs()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, args);

    QCOMPARE(Configuration::tempArgsFileName(), m_tmp + QLatin1String("/crvclientupdateargs"));
    if (!content.isNull())
        QVERIFY(TestFiles::write(Configuration::tempArgsFileName(), content));
    QCOMPARE(Configuration::checkTempArgs(), args);
}

void TestConfiguration::tempArgsOfOthersAreIgnored_data()
{
    QTest::addColumn<QString>("kind");

    QTest::newRow("symbolic link to our own file") << "link";
    QTest::newRow("file of another user") << "foreign";
    QTest::newRow("directory") << "dir";
    QTest::newRow("named pipe") << "fifo"; // must not block start-up
}

void TestConfiguration::tempArgsOfOthersAreIgnored()
{
    QFETCH(QString, kind);

    const QString name = Configuration::tempArgsFileName();
    const QString target = m_tmp + QLatin1String("/target");
    QVERIFY(TestFiles::write(target, "client_linux\n42\n"));
    if (kind == QLatin1String("link")) {
        QVERIFY(QFile::link(target, name));
    } else if (kind == QLatin1String("dir")) {
        QVERIFY(QDir().mkdir(name));
    } else if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(name).constData(), 0600), 0);
    } else {
        if (::geteuid() != 0)
            QSKIP("giving a file to another user needs root");
        QVERIFY(TestFiles::write(name, "client_linux\n42\n"));
        QCOMPARE(::chown(QFile::encodeName(name).constData(), 65534, 65534), 0);
    }
    QCOMPARE(Configuration::checkTempArgs(), QStringList());
}

void TestConfiguration::tempDirCandidates_data()
{
    QTest::addColumn<QStringList>("occupants"); // "dir:N", "file:N", "link:N", "dangling:N"
    QTest::addColumn<int>("expected");

    QTest::newRow("nothing there") << QStringList() << 0;
    QTest::newRow("0..4 taken") << QStringList { "dir:0", "dir:1", "dir:2", "dir:3", "dir:4" } << 5;
    QTest::newRow("file is skipped") << QStringList { "file:0" } << 1;
    QTest::newRow("symlink to a directory is skipped") << QStringList { "link:0" } << 1;
    QTest::newRow("dangling symlink is skipped") << QStringList { "dangling:0", "dir:1" } << 2;
    QTest::newRow("gap is used") << QStringList { "dir:0", "dir:2" } << 1;
}

void TestConfiguration::tempDirCandidates()
{
    QFETCH(QStringList, occupants);
    QFETCH(int, expected);

    const QString prefix = m_tmp + QLatin1String("/corvanta_temp_");
    const QString elsewhere = m_base.filePath(QStringLiteral("elsewhere-%1").arg(m_testNumber));
    QVERIFY(QDir().mkpath(elsewhere));
    for (const QString& occupant : occupants) {
        const QString kind = occupant.section(QLatin1Char(':'), 0, 0);
        const QString path = prefix + occupant.section(QLatin1Char(':'), 1);
        if (kind == QLatin1String("dir"))
            QVERIFY(QDir().mkdir(path));
        else if (kind == QLatin1String("file"))
            QVERIFY(TestFiles::write(path, "occupied"));
        else if (kind == QLatin1String("link"))
            QVERIFY(QFile::link(elsewhere, path));
        else
            QVERIFY(QFile::link(elsewhere + QLatin1String("/missing"), path));
    }

    Configuration config;
    QSignalSpy fatal(&config, &Configuration::fatalError);
    QVERIFY(config.createTempDir());
    QCOMPARE(fatal.count(), 0);
    QCOMPARE(config.tempDir, prefix + QString::number(expected));

    // A fresh directory of our own: nothing in it but its lock, not a link, owner-only.
    const QFileInfo info(config.tempDir);
    QVERIFY(info.isDir());
    QVERIFY(!info.isSymLink());
    QCOMPARE(QDir(config.tempDir)
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
        QStringList { u".session.lock"_s });
    struct stat st;
    QCOMPARE(::lstat(QFile::encodeName(config.tempDir).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0700));
    // Nothing was created through a link.
    QVERIFY(QDir(elsewhere).isEmpty(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
}

void TestConfiguration::tempDirAllCandidatesTaken()
{
    for (int i = 0; i < 1000; ++i)
        QVERIFY(QDir().mkdir(m_tmp + QLatin1String("/corvanta_temp_") + QString::number(i)));

    Configuration config;
    QSignalSpy fatal(&config, &Configuration::fatalError);
    QVERIFY(!config.createTempDir());
    QCOMPARE(fatal.count(), 1);
    QCOMPARE(fatal.at(0).at(0).toString(), QStringLiteral("Unable to create temp directory."));
    QVERIFY(config.tempDir.isEmpty());
    QVERIFY(!QFileInfo::exists(m_tmp + QLatin1String("/corvanta_temp_1000")));
}

void TestConfiguration::tempDirWithoutTempPath()
{
    qputenv("TMPDIR", QFile::encodeName(m_tmp + QLatin1String("/not/there")));

    Configuration config;
    QSignalSpy fatal(&config, &Configuration::fatalError);
    QVERIFY(!config.createTempDir());
    QCOMPARE(fatal.count(), 1);
    QCOMPARE(fatal.at(0).at(0).toString(), QStringLiteral("Unable to get temp directory."));
    QVERIFY(config.tempDir.isEmpty());
}

void TestConfiguration::initalizeStartKeepsGivenDir()
{
    Configuration config;
    QVERIFY(config.initalizeStart(QStringLiteral("/no/such/previous/session")));
    QCOMPARE(config.tempDir, QStringLiteral("/no/such/previous/session"));

    Configuration fresh;
    QVERIFY(fresh.initalizeStart(QString()));
    QCOMPARE(fresh.tempDir, m_tmp + QLatin1String("/corvanta_temp_0"));
    QVERIFY(QFileInfo(fresh.tempDir).isDir());
}

void TestConfiguration::sessionLock_data()
{
    QTest::addColumn<QString>("given"); // the directory handed to initalizeStart
    QTest::addColumn<bool>("heldByAnother");
    QTest::addColumn<bool>("startedTwice"); // the run started again in this process
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QStringList>("messages");

    const QString resumed = u"corvanta_temp_7"_s;
    const QString fresh = u"corvanta_temp_0"_s;
    QTest::newRow("fresh directory") << QString() << false << false << fresh << QStringList();
    QTest::newRow("resumed directory") << resumed << false << false << resumed << QStringList();
    QTest::newRow("resumed directory in use by another run: a fresh one")
        << resumed << true << false << fresh
        << QStringList { u"%1 is in use by another update; a new session is started"_s };
    QTest::newRow("resumed again by the same process")
        << resumed << false << true << resumed << QStringList();
}

// While a run uses its session directory, another run's start-up must see it as in use.
void TestConfiguration::sessionLock()
{
    QFETCH(QString, given);
    QFETCH(bool, heldByAnother);
    QFETCH(bool, startedTwice);
    QFETCH(QString, expected);
    QFETCH(QStringList, messages);

    const QString givenDir = given.isEmpty() ? QString() : m_tmp + u'/' + given;
    if (!givenDir.isEmpty())
        QVERIFY(QDir().mkdir(givenDir));
    auto other = std::make_unique<FileLock>(Configuration::sessionLockPath(givenDir));
    if (heldByAnother)
        QCOMPARE(other->tryLock(), FileLock::Locked);

    const QString expectedDir = m_tmp + u'/' + expected;
    {
        Configuration config;
        QSignalSpy message(&config, &Configuration::message);
        QVERIFY(config.initalizeStart(givenDir));
        if (startedTwice)
            QVERIFY(config.initalizeStart(givenDir));
        QCOMPARE(config.tempDir, expectedDir);
        QStringList texts;
        for (const QList<QVariant>& signal : std::as_const(message))
            texts << signal.at(0).toString();
        for (QString& text : messages)
            text = text.arg(givenDir);
        QCOMPARE(texts, messages);

        FileLock probe(Configuration::sessionLockPath(expectedDir));
        QCOMPARE(probe.tryLock(), FileLock::Busy);
        other.reset();
    }
    FileLock probe(Configuration::sessionLockPath(expectedDir));
    QCOMPARE(probe.tryLock(), FileLock::Locked);
}

QTEST_GUILESS_MAIN(TestConfiguration)
#include "tst_configuration.moc"
