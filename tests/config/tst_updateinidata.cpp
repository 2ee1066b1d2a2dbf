#include "configuration.h"
#include "updateinidata.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

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

QTEST_GUILESS_MAIN(TestUpdateIniData)
#include "tst_updateinidata.moc"
