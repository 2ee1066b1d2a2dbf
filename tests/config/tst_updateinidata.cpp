#include "configuration.h"
#include "installedrecord.h"
#include "testfiles.h"
#include "updateinidata.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace Qt::StringLiterals;

// The session record in update.ini of the test's own installation root.
class TestUpdateIniData : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void filename();
    void validity_data();
    void validity();
    void roundTrip();
    void cleanupKeepsOtherGroups();
    void nullPointers();
    void writerLeftovers_data();
    void writerLeftovers();
    void installedRecord_data();
    void installedRecord();

private:
    void writeIni(const QByteArray& content);

    QTemporaryDir m_sessionDir;
};

void TestUpdateIniData::initTestCase()
{
    QVERIFY(m_sessionDir.isValid());
}

void TestUpdateIniData::cleanup()
{
    QFile::remove(UpdateIniData::filename());
}

void TestUpdateIniData::writeIni(const QByteArray& content)
{
    QFile file(UpdateIniData::filename());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), qint64(content.size()));
}

void TestUpdateIniData::filename()
{
    const QString name = UpdateIniData::filename();
    QVERIFY(QFileInfo(name).isAbsolute());
    QCOMPARE(QFileInfo(name).fileName(), QStringLiteral("update.ini"));
    QCOMPARE(QFileInfo(name).absolutePath(),
        QFileInfo(Configuration::getAppRootPath()).canonicalFilePath());
}

void TestUpdateIniData::validity_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("dirExists");
    QTest::addColumn<bool>("valid");

    QTest::newRow("complete") << "3012"
                              << "client_macosx" << true << true;
    QTest::newRow("negative version") << "-5"
                                      << "client_macosx" << true << true;
    QTest::newRow("directory gone") << "3012"
                                    << "client_macosx" << false << false;
    QTest::newRow("version is a word") << "abc"
                                       << "client_macosx" << true << false;
    QTest::newRow("version missing") << QString() << "client_macosx" << true << false;
    QTest::newRow("type empty") << "3012"
                                << "" << true << false;
}

void TestUpdateIniData::validity()
{
    QFETCH(QString, version);
    QFETCH(QString, type);
    QFETCH(bool, dirExists);
    QFETCH(bool, valid);

    const QString dir = dirExists ? m_sessionDir.path() : m_sessionDir.filePath("gone");
    QByteArray ini = "[current]\n";
    if (!version.isNull())
        ini += "version=" + version.toUtf8() + "\n";
    ini += "dir=" + dir.toUtf8() + "\ntype=" + type.toUtf8() + "\n";
    writeIni(ini);

    qint32 gotVersion = -1;
    QString gotType = QStringLiteral("untouched");
    QString gotDir = QStringLiteral("untouched");
    QCOMPARE(UpdateIniData::get(&gotVersion, &gotType, &gotDir), valid);
    if (valid) {
        QCOMPARE(gotVersion, version.toInt());
        QCOMPARE(gotType, type);
        QCOMPARE(gotDir, dir);
    } else {
        QCOMPARE(gotVersion, -1);
        QCOMPARE(gotType, QStringLiteral("untouched"));
        QCOMPARE(gotDir, QStringLiteral("untouched"));
    }
}

void TestUpdateIniData::roundTrip()
{
    QVERIFY(!UpdateIniData::get(nullptr, nullptr, nullptr)); // no file yet

    UpdateIniData::modify(3012, m_sessionDir.path(), QStringLiteral("client_macosx"));
    qint32 version = 0;
    QString type;
    QString dir;
    QVERIFY(UpdateIniData::get(&version, &type, &dir));
    QCOMPARE(version, 3012);
    QCOMPARE(type, QStringLiteral("client_macosx"));
    QCOMPARE(dir, m_sessionDir.path());

    // A second session replaces the first.
    const QString blankDir = m_sessionDir.filePath(QStringLiteral("with blank"));
    QVERIFY(QDir().mkpath(blankDir));
    UpdateIniData::modify(3013, blankDir, QStringLiteral("client_linux"));
    QVERIFY(UpdateIniData::get(&version, &type, &dir));
    QCOMPARE(version, 3013);
    QCOMPARE(type, QStringLiteral("client_linux"));
    QCOMPARE(dir, blankDir);
}

void TestUpdateIniData::cleanupKeepsOtherGroups()
{
    writeIni("[Channel]\nbeta=true\nalpha=http://alpha.example/\n\n[update]\nstreams=3\n"
             "proxy=http://proxy.example:8080\n");
    UpdateIniData::modify(3012, m_sessionDir.path(), QStringLiteral("client_macosx"));
    QVERIFY(UpdateIniData::get(nullptr, nullptr, nullptr));

    UpdateIniData::cleanup();
    QVERIFY(!UpdateIniData::get(nullptr, nullptr, nullptr));

    QSettings settings(UpdateIniData::filename(), QSettings::IniFormat);
    QCOMPARE(settings.childGroups(), (QStringList { "Channel", "update" }));
    QCOMPARE(settings.value("Channel/beta").toString(), QStringLiteral("true"));
    QCOMPARE(settings.value("Channel/alpha").toString(), QStringLiteral("http://alpha.example/"));
    QCOMPARE(settings.value("update/streams").toString(), QStringLiteral("3"));
    QCOMPARE(
        settings.value("update/proxy").toString(), QStringLiteral("http://proxy.example:8080"));
}

void TestUpdateIniData::installedRecord_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<qint32>("version");
    QTest::addColumn<bool>("ed25519");
    QTest::addColumn<QString>("serials");

    QTest::newRow("none") << QByteArray("[current]\nversion=3013\n") << 0 << false << "";
    QTest::newRow("recorded") << QByteArray(
        "[installed]\nversion=3013\ntype=client_macosx\ned25519=true\n"
        "serial_0123456789abcdef=42\nserial_fedcba9876543210=7\n")
                              << 3013 << true << "0123456789abcdef=42 fedcba9876543210=7";
    // A hand-edited or damaged record must not raise any protection, nor lower one below what
    // it can still read.
    QTest::newRow("values that are no numbers") << QByteArray(
        "[installed]\nversion=30x13\ned25519=yes\nserial_ab=-1\nserial_cd=9z\n"
        "serial_ef=5\n") << 0 << false << "ef=5";
}

void TestUpdateIniData::installedRecord()
{
    QFETCH(QByteArray, ini);
    QFETCH(qint32, version);
    QFETCH(bool, ed25519);
    QFETCH(QString, serials);

    writeIni("[Channel]\nbeta=true\n" + ini);
    const InstalledRecord record = InstalledRecord::load();
    QCOMPARE(record.version, version);
    QCOMPARE(record.ed25519Signed, ed25519);
    QStringList seen;
    for (auto serial = record.serials.cbegin(); serial != record.serials.cend(); ++serial)
        seen << serial.key() + u'=' + QString::number(serial.value());
    QCOMPARE(seen.join(u' '), serials);

    // Saved back and read again it is the same, and the session record and the other groups
    // stay.
    UpdateIniData::modify(3014, m_sessionDir.path(), QStringLiteral("client_macosx"));
    QVERIFY(record.save());
    const InstalledRecord again = InstalledRecord::load();
    QCOMPARE(again.version, version);
    QCOMPARE(again.ed25519Signed, ed25519);
    QCOMPARE(again.serials, record.serials);
    QVERIFY(UpdateIniData::get(nullptr, nullptr, nullptr));
    UpdateIniData::cleanup();
    QCOMPARE(InstalledRecord::load().serials, record.serials);
    QCOMPARE(QSettings(UpdateIniData::filename(), QSettings::IniFormat).value("Channel/beta"),
        QVariant(QStringLiteral("true")));
}

void TestUpdateIniData::nullPointers()
{
    UpdateIniData::modify(3012, m_sessionDir.path(), QStringLiteral("client_macosx"));
    QString dir;
    QVERIFY(UpdateIniData::get(nullptr, nullptr, &dir));
    QCOMPARE(dir, m_sessionDir.path());
    qint32 version = 0;
    QVERIFY(UpdateIniData::get(&version, nullptr, nullptr));
    QCOMPARE(version, 3012);

    UpdateIniData::modify(
        3012, m_sessionDir.filePath(QStringLiteral("gone")), QStringLiteral("client_macosx"));
    QVERIFY(!UpdateIniData::get(nullptr, nullptr, nullptr));
}

void TestUpdateIniData::writerLeftovers_data()
{
    QTest::addColumn<QString>("name"); // in the installation root
    QTest::addColumn<QString>("kind"); // "file", "directory", "link", "foreign", "writing"
    QTest::addColumn<bool>("removed");

    QTest::newRow("the writer's temporary file") << u"update.ini.mGrmxR"_s << u"file"_s << true;
    QTest::newRow("with digits") << u"update.ini.a1B2c3"_s << u"file"_s << true;
    QTest::newRow("five characters") << u"update.ini.mGrmx"_s << u"file"_s << false;
    QTest::newRow("seven characters") << u"update.ini.mGrmxRs"_s << u"file"_s << false;
    QTest::newRow("another file's") << u"mirrors.ini.mGrmxR"_s << u"file"_s << false;
    QTest::newRow("prefixed") << u"xupdate.ini.mGrmxR"_s << u"file"_s << false;
    QTest::newRow("not a letter") << u"update.ini.mGrm-R"_s << u"file"_s << false;
    QTest::newRow("a directory") << u"update.ini.mGrmxR"_s << u"directory"_s << false;
    QTest::newRow("a symbolic link") << u"update.ini.mGrmxR"_s << u"link"_s << false;
    QTest::newRow("another user's") << u"update.ini.mGrmxR"_s << u"foreign"_s << false;
    QTest::newRow("while a writer holds the lock")
        << u"update.ini.mGrmxR"_s << u"writing"_s << false;
}

// A writer killed between writing its temporary file and renaming it leaves the file for ever.
void TestUpdateIniData::writerLeftovers()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(bool, removed);
    if (kind == u"foreign" && ::geteuid() != 0)
        QSKIP("only root can give a file to another user");

    writeIni("[update]\nstreams=3\n");
    const QString path = QFileInfo(UpdateIniData::filename()).dir().filePath(name);
    const QString target = m_sessionDir.filePath(u"target"_s);
    QVERIFY(TestFiles::write(target, "elsewhere"));
    if (kind == u"directory")
        QVERIFY(QDir().mkdir(path));
    else if (kind == u"link")
        QVERIFY(QFile::link(target, path));
    else
        QVERIFY(TestFiles::write(path, "half written"));
    if (kind == u"foreign")
        QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
    QLockFile writer(UpdateIniData::filename() + u".lock"_s);
    if (kind == u"writing")
        QVERIFY(writer.tryLock(0));

    UpdateIniData::removeWriterLeftovers();

    const bool exists = QFileInfo(path).exists() || QFileInfo(path).isSymLink();
    QDir().rmdir(path);
    QFile::remove(path);
    QCOMPARE(!exists, removed);
    QCOMPARE(TestFiles::read(target), QByteArray("elsewhere"));
    QCOMPARE(TestFiles::read(UpdateIniData::filename()), QByteArray("[update]\nstreams=3\n"));
}

QTEST_GUILESS_MAIN(TestUpdateIniData)
#include "tst_updateinidata.moc"
