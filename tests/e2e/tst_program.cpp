#include "testfiles.h"
#include "xvfbdisplay.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

// The program `update` as a user meets it, on a virtual display: what start-up removes, the
// error boxes (answered with xdotool) and the exit codes, in English and in German. The
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

private:
    QProcess* startUpdate(const QStringList& arguments, const QString& language);

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
    QProcessEnvironment environment = display.environment();
    environment.insert(u"TMPDIR"_s, work->filePath(u"tmp"_s));
    environment.insert(u"LANG"_s, language);
    environment.remove(u"LC_ALL"_s);
    environment.remove(u"LC_MESSAGES"_s);
    environment.remove(u"LANGUAGE"_s);
    update->setProcessEnvironment(environment);
    update->start(root + u"/Updater.app/Contents/MacOS/update"_s, arguments);
    return update.get();
}

void TestProgram::errorExit_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("boxTitle");
    QTest::addColumn<QString>("window");
    QTest::addColumn<int>("exitCode");

    const QString type = u"client_macosx"_s;
    QTest::newRow("invalid version: no window, exit 1")
        << QStringList { type, u"30x13"_s } << u"C"_s << u"^Error$"_s << QString() << 1;
    QTest::newRow("invalid version in German")
        << QStringList { type, u"30x13"_s } << u"de_DE.UTF-8"_s << u"^Fehler$"_s << QString() << 1;
    // Without mirrors.ini the unattended start two seconds later cannot prepare a run.
    QTest::newRow("engine error after the automatic start: exit 2") << QStringList { u"--nouser"_s,
        type, u"3013"_s } << u"C"_s << u"^Error$"_s << mainTitle << 2;
    QTest::newRow("engine error in German")
        << QStringList { u"--nouser"_s, type, u"3013"_s } << u"de_DE.UTF-8"_s << u"^Fehler$"_s
        << germanMainTitle << 2;
}

void TestProgram::errorExit()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, language);
    QFETCH(QString, boxTitle);
    QFETCH(QString, window);
    QFETCH(int, exitCode);

    for (const QString& file : removedAtStart + keptAtStart)
        QVERIFY(TestFiles::write(root + u'/' + file, "set aside"));

    QProcess* process = startUpdate(arguments, language);
    QVERIFY(process->waitForStarted());
    QStringList boxes;
    QTRY_VERIFY_WITH_TIMEOUT(!(boxes = display.windows(boxTitle)).isEmpty(), 20000);
    QCOMPARE(boxes.size(), 1);
    // The main window shows only once the command line has been accepted.
    QCOMPARE(display.windows(mainTitle).isEmpty() && display.windows(germanMainTitle).isEmpty(),
        window.isEmpty());

    QVERIFY(display.key(boxes.first(), u"Return"_s));
    QVERIFY(process->waitForFinished(20000));
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), exitCode);

    for (const QString& file : removedAtStart)
        QVERIFY2(!QFile::exists(root + u'/' + file), qPrintable(file));
    for (const QString& file : keptAtStart)
        QVERIFY2(QFile::exists(root + u'/' + file), qPrintable(file));
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
