#include "nginxmirrors.h"
#include "programenvironment.h"
#include "testfiles.h"
#include "testsigning.h"
#include "updateserverprocess.h"
#include "xvfbdisplay.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

// The program `update` as a user meets it, on a virtual display: what start-up removes, the
// error boxes (answered with xdotool) and the exit codes, in English and in German, and an
// unattended update against nginx mirrors and the reference update server. The
// installation is laid out like the real one: Corvanta.app/Contents/Resources is the root, the
// program lies three levels below it and the translations in the root's "translations".
class TestProgram : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void errorExit_data();
    void errorExit();
    void secondStartRefused_data();
    void secondStartRefused();
    void unattendedUpdate();

private:
    QProcess* startUpdate(const QStringList& arguments, const QString& language);
    void startProgram(QProcess& process, const QStringList& arguments, const QString& language);

    XvfbDisplay display;
    std::unique_ptr<QTemporaryDir> work;
    QString root;
    std::unique_ptr<QProcess> update;
};

namespace {
const QString mainTitle = u"^Corvanta Client Update$"_s;
const QString germanMainTitle = u"^Corvanta-Client-Aktualisierung$"_s;
// Set aside by an earlier update; only the copies of the updater's own files go at start-up.
const QStringList removedAtStart { u"_old_update"_s, u"imageformats/_old_libqjpeg.so"_s,
    u"accessible/_old_libqtaccessiblewidgets.so"_s };
const QStringList keptAtStart { u"_old_readme.txt"_s, u"imageformats/_old_libqsvg.so"_s };
} // namespace

void TestProgram::initTestCase()
{
    QVERIFY2(display.start(), "Xvfb is missing: run scripts/setup");
}

void TestProgram::init()
{
    work = std::make_unique<QTemporaryDir>();
    QVERIFY(work->isValid());
    root = work->filePath(u"Corvanta.app/Contents/Resources"_s);
    const QString programDir = root + u"/Updater.app/Contents/MacOS"_s;
    QVERIFY(QDir().mkpath(programDir));
    QVERIFY(QFile::copy(QStringLiteral(CRV_UPDATE_PROGRAM), programDir + u"/update"_s));
    QVERIFY(QDir().mkpath(root + u"/translations"_s));
    for (const QString& name : QDir(QStringLiteral(CRV_TRANSLATIONS_DIR)).entryList(QDir::Files))
        QVERIFY(QFile::copy(
            QStringLiteral(CRV_TRANSLATIONS_DIR "/") + name, root + u"/translations/"_s + name));
    QVERIFY(QDir().mkpath(work->filePath(u"tmp"_s)));
    QVERIFY(ProgramEnvironment::installOpener(work->filePath(u"bin"_s)));
}

void TestProgram::cleanup()
{
    if (update && update->state() != QProcess::NotRunning) {
        update->kill();
        update->waitForFinished();
    }
    update.reset();
    work.reset();
}

QProcess* TestProgram::startUpdate(const QStringList& arguments, const QString& language)
{
    update = std::make_unique<QProcess>();
    startProgram(*update, arguments, language);
    return update.get();
}

void TestProgram::startProgram(
    QProcess& process, const QStringList& arguments, const QString& language)
{
    QProcessEnvironment environment
        = ProgramEnvironment::make(display, work->filePath(u"tmp"_s), work->filePath(u"bin"_s));
    environment.insert(u"LANG"_s, language);
    environment.remove(u"LC_ALL"_s);
    environment.remove(u"LC_MESSAGES"_s);
    environment.remove(u"LANGUAGE"_s);
    process.setProcessEnvironment(environment);
    process.start(root + u"/Updater.app/Contents/MacOS/update"_s, arguments);
}

void TestProgram::errorExit_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("language");
    // Empty: unattended, the program must end by itself, with the text on its error output.
    QTest::addColumn<QString>("boxTitle");
    QTest::addColumn<QString>("errorOutput");
    QTest::addColumn<int>("exitCode");
    // A replacement of libQtCore.so.4 was killed after its last rename, and the session
    // directory is gone (a reboot): the journal is all that is left.
    QTest::addColumn<bool>("interrupted");

    const QString type = u"client_macosx"_s;
    QTest::newRow("invalid version: no window, exit 1")
        << QStringList { type, u"30x13"_s } << u"C"_s << u"^Error$"_s << QString() << 1 << false;
    QTest::newRow("invalid version in German")
        << QStringList { type, u"30x13"_s } << u"de_DE.UTF-8"_s << u"^Fehler$"_s << QString() << 1 << false;
    QTest::newRow("unattended, invalid version: no box, exit 1")
        << QStringList { u"--nouser"_s, type, u"30x13"_s } << u"C"_s << QString()
        << u"Invalid version nr (30x13)"_s << 1 << false;
    // Without mirrors.ini the unattended start two seconds later cannot prepare a run.
    QTest::newRow("unattended, engine error: no box, exit 2")
        << QStringList { u"--nouser"_s, type, u"3013"_s } << u"C"_s << QString()
        << u"mirrors.ini is missing, cannot proceed."_s << 2 << false;
    QTest::newRow("unattended, an interrupted update is undone before the old copies go")
        << QStringList { u"--nouser"_s, type, u"3013"_s } << u"C"_s << QString()
        << u"mirrors.ini is missing, cannot proceed."_s << 2 << true;
}

void TestProgram::errorExit()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, language);
    QFETCH(QString, boxTitle);
    QFETCH(QString, errorOutput);
    QFETCH(int, exitCode);
    QFETCH(bool, interrupted);

    for (const QString& file : removedAtStart + keptAtStart)
        QVERIFY(TestFiles::write(root + u'/' + file, "set aside"));
    const QString library = root + u"/libQtCore.so.4"_s;
    if (interrupted) {
        QVERIFY(TestFiles::write(library, "new library"));
        QVERIFY(TestFiles::write(root + u"/_old_libQtCore.so.4"_s, "old library"));
        QVERIFY(TestFiles::write(root + u"/update.journal"_s,
            "crv-rollback-journal 1\nfile .new_libQtCore.so.4.1\n"
            "rename libQtCore.so.4 _old_libQtCore.so.4\n"
            "rename .new_libQtCore.so.4.1 libQtCore.so.4\n"));
    }

    QProcess* process = startUpdate(arguments, language);
    QVERIFY(process->waitForStarted());
    if (!boxTitle.isEmpty()) {
        QStringList boxes;
        QTRY_VERIFY_WITH_TIMEOUT(!(boxes = display.windows(boxTitle)).isEmpty()
                || process->state() == QProcess::NotRunning,
            30000);
        QVERIFY2(boxes.size() == 1,
            qPrintable(u"%1 boxes; %2"_s.arg(boxes.size())
                           .arg(QString::fromLocal8Bit(process->readAllStandardError()))));
        // The main window shows only once the command line has been accepted.
        QVERIFY(display.windows(mainTitle).isEmpty());
        QVERIFY(display.windows(germanMainTitle).isEmpty());
        QVERIFY(display.key(boxes.first(), u"Return"_s));
    }
    QVERIFY(process->waitForFinished(30000));
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), exitCode);
    if (!errorOutput.isEmpty())
        QVERIFY(QString::fromLocal8Bit(process->readAllStandardError()).contains(errorOutput));

    // Removed once an update starts, after the recovery of an interrupted one (which may need
    // them); a rejected command line starts none and touches nothing.
    const bool updateStarted = exitCode == 2;
    for (const QString& file : removedAtStart)
        QVERIFY2(QFile::exists(root + u'/' + file) != updateStarted, qPrintable(file));
    for (const QString& file : keptAtStart)
        QVERIFY2(QFile::exists(root + u'/' + file), qPrintable(file));
    if (interrupted) {
        QCOMPARE(TestFiles::read(library), QByteArray("old library"));
        QVERIFY(!QFile::exists(root + u"/_old_libQtCore.so.4"_s));
        QVERIFY(!QFile::exists(root + u"/update.journal"_s));
    }
}

void TestProgram::secondStartRefused_data()
{
    QTest::addColumn<QStringList>("arguments");
    // Empty: unattended, the text goes to the error output.
    QTest::addColumn<QString>("boxTitle");

    const QStringList version { u"client_macosx"_s, u"3013"_s };
    QTest::newRow("attended: a box, exit 1") << version << u"^Error$"_s;
    QTest::newRow("unattended: no box, exit 1")
        << QStringList { u"--nouser"_s } + version << QString();
}

// A second updater on the same installation would take the first one's replacement for the
// leftover of a killed run and undo it under its feet: it must end before it touches anything.
void TestProgram::secondStartRefused()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, boxTitle);

    // The first waits in its window for the user to start the update.
    QProcess* first = startUpdate({ u"client_macosx"_s, u"3013"_s }, u"C"_s);
    QVERIFY(first->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(!display.windows(mainTitle).isEmpty(), 30000);
    // What the second one's start-up would remove, were it allowed to run.
    const QStringList planted { u"_old_update"_s, u"update.ini.mGrmxR"_s };
    for (const QString& file : planted)
        QVERIFY(TestFiles::write(root + u'/' + file, "set aside"));

    QProcess second;
    startProgram(second, arguments, u"C"_s);
    QVERIFY(second.waitForStarted());
    if (!boxTitle.isEmpty()) {
        QStringList boxes;
        QTRY_VERIFY_WITH_TIMEOUT(!(boxes = display.windows(boxTitle)).isEmpty()
                || second.state() == QProcess::NotRunning,
            30000);
        QVERIFY2(boxes.size() == 1, second.readAllStandardError().constData());
        QVERIFY(display.key(boxes.first(), u"Return"_s));
    }
    QVERIFY(second.waitForFinished(30000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 1);
    const QString errorOutput = QString::fromLocal8Bit(second.readAllStandardError());
    if (boxTitle.isEmpty())
        QVERIFY2(errorOutput.contains(u"is already running; this one ends without changing "
                                      "anything."_s),
            qPrintable(errorOutput));

    QCOMPARE(display.windows(mainTitle).size(), 1);
    QCOMPARE(first->state(), QProcess::Running);
    // The refused start leaves the first one's lock file alone.
    QVERIFY(QFileInfo(root + u"/update.lock"_s).isFile());
    for (const QString& file : planted)
        QVERIFY2(QFile::exists(root + u'/' + file), qPrintable(file));
}

void TestProgram::unattendedUpdate()
{
    // Version 3012 is installed; 3013 replaces one file and adds another.
    const QString release = work->filePath(u"release/"_s);
    QVERIFY(TestFiles::write(release + u"3012/files/data/readme.txt"_s, "3012", 0644));
    QVERIFY(TestFiles::write(release + u"3013/files/data/readme.txt"_s, "3013", 0644));
    QVERIFY(
        TestFiles::write(release + u"3013/files/data/added.bin"_s, TestFiles::noise(70000), 0644));
    QVERIFY(TestFiles::write(release + u"3013/bin/MacOS/crvclient_mac"_s, "#!/bin/sh\n", 0755));
    QVERIFY(TestFiles::write(root + u"/data/readme.txt"_s, "3012", 0644));
    QVERIFY(TestFiles::write(root + u"/../MacOS/crvclient_mac"_s, "#!/bin/sh\n", 0755));

    const QString mirror = work->filePath(u"mirror"_s);
    QProcess tool;
    tool.start(QStringLiteral(CRV_RELEASE_TOOL),
        { u"publish"_s, u"--key"_s, QStringLiteral(CRV_TEST_PRIVATE_KEY_FILE), u"--input"_s,
            release + u"3013/files"_s, u"--bin-dir"_s, release + u"3013/bin"_s, u"--previous"_s,
            release + u"3012/files"_s, u"--version"_s, u"3013"_s, u"--output"_s, mirror,
            u"--ed25519-key"_s,
            QStringLiteral(CRV_SOURCE_DIR "/keys/demo-ed25519-release-private.pem") });
    QVERIFY(tool.waitForFinished(60000));
    QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());

    // nginx's workers of another user must be able to read the mirror.
    QVERIFY(QFile::setPermissions(work->path(), QFileDevice::Permissions(0x7755)));
    NginxMirrors nginx(work->filePath(u"nginx"_s), mirror);
    QVERIFY(nginx.start(2));
    QVERIFY(TestFiles::write(root + u"/mirrors.ini"_s,
        u"[mirrors]\nsize=2\n1\\mirror=one\n2\\mirror=two\n[one]\nurl=%1\n[two]\nurl=%2\n"_s
            .arg(nginx.url(0), nginx.url(1))
            .toUtf8()));
    UpdateServerProcess server;
    server.captureLog();
    const qint64 week = 7 * 24 * 3600;
    QVERIFY(server.start(
        { u"--version-port"_s, u"17384"_s, u"--banner-port"_s, u"2009"_s, u"--versions"_s,
            QString::fromLatin1(TestSigning::signedVersionList(
                u"3013#3.0.13,3014,3015"_s, 1, QDateTime::currentSecsSinceEpoch() + week)) }));

    // No arguments: the version comes from the update server.
    QProcess* process = startUpdate({ u"--nouser"_s }, u"C"_s);
    QVERIFY(process->waitForFinished(50000));
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QVERIFY2(process->exitCode() == 0, process->readAllStandardError().constData());

    QCOMPARE(TestFiles::read(root + u"/data/readme.txt"_s), QByteArray("3013"));
    // The list was signed, so the banner was asked for.
    QTRY_VERIFY2(server.log().contains(u"banner request from"_s), qPrintable(server.log()));
    QCOMPARE(TestFiles::read(root + u"/data/added.bin"_s), TestFiles::noise(70000));
    // The client is started again: its bundle, five levels above the program. The opener runs
    // detached and may still be writing when the program has ended.
    QTRY_COMPARE(TestFiles::read(ProgramEnvironment::openerRecord(work->filePath(u"tmp"_s))),
        QDir(work->filePath(u"Corvanta.app"_s)).canonicalPath().toUtf8() + '\n');
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
