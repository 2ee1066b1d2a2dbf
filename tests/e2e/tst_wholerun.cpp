#include "nginxmirrors.h"
#include "programenvironment.h"
#include "releasefixture.h"
#include "testfiles.h"
#include "testsigning.h"
#include "updateserverprocess.h"
#include "xvfbdisplay.h"

#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <signal.h>

namespace {

const QString oldVersion = QStringLiteral("3012");
const QString newVersion = QStringLiteral("3013");
const QString clientType = QStringLiteral("client_macosx");
// Held on the mirrors in the resume case; packed, and large to unpack, in the recovery case.
const QString bigFile = QStringLiteral("data/big.bin");
const QString packedFile = QStringLiteral("lib/libhuge.dylib");
constexpr int packedSize = 96 * 1024 * 1024;

} // namespace

// Whole update runs of the program, unattended on a virtual display and followed through the log
// it writes to standard output, against nginx mirrors and the reference update server, in an
// installation laid out like the real one: Corvanta.app/Contents/Resources is the
// installation root, the program lies three levels below it, bin_macosx installs into
// Contents/MacOS.
class TestWholeRun : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void run_data();
    void run();
    void installedVersion_data();
    void installedVersion();

private:
    struct Outcome
    {
        int exitCode = -1;
        QStringList lines;
        QString errors;
    };

    void writeTree(const QString& dir, const QString& version, bool packedHuge);
    // Lays out the release of version and the updater; oldSnapshot is what it installed.
    void installVersion(const QString& version);
    // Publishes version (files of previous missing from it are deleted by the update) and
    // fills expected with the installation it makes.
    bool publish(
        const QString& version, const QString& previous, bool packedHuge, Snapshot* expected);
    // The signed version list that "crv-release versions" prints, in a file for the update server.
    QString signedVersionsFile(const QString& list);
    void writeMirrorList(const QStringList& urls);
    // Three mirrors of the published folder, named in mirrors.ini; nullptr when nginx failed.
    std::unique_ptr<NginxMirrors> startMirrors(
        const QString& name, const QString& held = QString(), quint16 holdPort = 0);
    QProcess* startUpdater(const QStringList& arguments);
    Outcome finish(QProcess* process);
    Outcome runUpdater(const QStringList& arguments);
    Snapshot installation() const;
    QString sessionDir() const;
    bool sessionRecorded() const;
    // The [installed] record of update.ini: version and type, as other tools read them.
    QStringList installedRecord() const;

    XvfbDisplay display;
    std::unique_ptr<QTemporaryDir> work;
    QString app;
    QString root;
    QString tmp;
    Snapshot oldSnapshot;
    Snapshot newSnapshot;
    std::unique_ptr<QProcess> updater;
};

void TestWholeRun::initTestCase()
{
    if (NginxMirrors::program().isEmpty())
        QFAIL("nginx is missing: run scripts/setup");
    QVERIFY2(display.start(), "Xvfb is missing: run scripts/setup");
}

void TestWholeRun::init()
{
    work = std::make_unique<QTemporaryDir>();
    QVERIFY(work->isValid());
    // nginx workers of another user must be able to read the mirror folder.
    QVERIFY(QFile::setPermissions(work->path(),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
            | QFile::ReadOther | QFile::ExeOther));
    app = work->filePath(QStringLiteral("Corvanta.app"));
    root = app + QStringLiteral("/Contents/Resources");
    tmp = work->filePath(QStringLiteral("tmp"));
    QVERIFY(QDir().mkpath(tmp));
    QVERIFY(ProgramEnvironment::installOpener(work->filePath(QStringLiteral("bin"))));
}

void TestWholeRun::cleanup()
{
    if (updater && updater->state() != QProcess::NotRunning) {
        updater->kill();
        updater->waitForFinished();
    }
    updater.reset();
    work.reset();
}

void TestWholeRun::writeTree(const QString& dir, const QString& version, bool packedHuge)
{
    const bool next = version == newVersion;
    const quint32 seed = version.toUInt();
    QVERIFY(
        TestFiles::write(dir + QStringLiteral("/files/data/readme.txt"), "the same in both", 0644));
    QVERIFY(TestFiles::write(dir + QStringLiteral("/files/data/config.xml"),
        "<config version=\"" + version.toLatin1() + "\"/>", 0644));
    QVERIFY(TestFiles::write(
        dir + QStringLiteral("/files/") + bigFile, TestFiles::noise(3 << 20, seed), 0644));
    QVERIFY(TestFiles::write(
        dir + QStringLiteral("/files/lib/libcore.dylib"), TestFiles::noise(200000, seed), 0755));
    QVERIFY(TestFiles::write(dir + QStringLiteral("/bin/MacOS/crvclient_mac"),
        "#!/bin/sh\necho " + version.toLatin1() + "\n", 0755));
    if (packedHuge)
        QVERIFY(TestFiles::write(dir + QStringLiteral("/files/") + packedFile,
            QByteArray(packedSize, char('a' + seed % 7)), 0755));
    if (next)
        QVERIFY(TestFiles::write(
            dir + QStringLiteral("/files/data/added.bin"), TestFiles::noise(5000, 9), 0644));
    else
        QVERIFY(TestFiles::write(
            dir + QStringLiteral("/files/data/obsolete.txt"), "only in the old", 0644));
}

void TestWholeRun::installVersion(const QString& version)
{
    const QString release = work->filePath(QStringLiteral("release/") + version);
    QVERIFY(layOut(release, app));
    oldSnapshot = installation();

    const QString programDir = root + QStringLiteral("/Updater.app/Contents/MacOS");
    QVERIFY(QDir().mkpath(programDir));
    QVERIFY(
        QFile::copy(QStringLiteral(CRV_UPDATE_PROGRAM), programDir + QStringLiteral("/update")));
}

bool TestWholeRun::publish(
    const QString& version, const QString& previous, bool packedHuge, Snapshot* expected)
{
    QStringList packed { QStringLiteral("libcore.dylib") };
    if (packedHuge)
        packed << QStringLiteral("libhuge.dylib");
    return ::publish(work->path(), version, previous, packed, expected);
}

QString TestWholeRun::signedVersionsFile(const QString& list)
{
    QProcess tool;
    tool.start(QStringLiteral(CRV_RELEASE_TOOL),
        { QStringLiteral("versions"), QStringLiteral("--key"),
            QStringLiteral(CRV_SOURCE_DIR "/keys/demo-ed25519-versions-private.pem"),
            QStringLiteral("--list"), list, QStringLiteral("--valid-days"), QStringLiteral("7") });
    const QString file = work->filePath(QStringLiteral("versions.txt"));
    if (!tool.waitForFinished(30000) || tool.exitCode() != 0
        || !TestFiles::write(file, tool.readAllStandardOutput()))
        return QString();
    return file;
}

void TestWholeRun::writeMirrorList(const QStringList& urls)
{
    ::writeMirrorList(root, urls);
}

std::unique_ptr<NginxMirrors> TestWholeRun::startMirrors(
    const QString& name, const QString& held, quint16 holdPort)
{
    auto nginx = std::make_unique<NginxMirrors>(
        work->filePath(name), work->filePath(QStringLiteral("mirror")));
    if (!held.isEmpty())
        nginx->forward(held, holdPort);
    if (!nginx->start(3))
        return nullptr;
    writeMirrorList({ nginx->url(0), nginx->url(1), nginx->url(2) });
    return nginx;
}

QProcess* TestWholeRun::startUpdater(const QStringList& arguments)
{
    updater = std::make_unique<QProcess>();
    updater->setProcessEnvironment(
        ProgramEnvironment::make(display, tmp, work->filePath(QStringLiteral("bin"))));
    updater->setProcessChannelMode(QProcess::SeparateChannels);
    updater->start(root + QStringLiteral("/Updater.app/Contents/MacOS/update"), arguments);
    return updater.get();
}

TestWholeRun::Outcome TestWholeRun::finish(QProcess* process)
{
    Outcome outcome;
    if (process->state() != QProcess::NotRunning && !process->waitForFinished(50000))
        qWarning("the updater did not end");
    outcome.exitCode = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
    outcome.lines = QString::fromUtf8(process->readAllStandardOutput())
                        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    outcome.errors = QString::fromUtf8(process->readAllStandardError());
    return outcome;
}

TestWholeRun::Outcome TestWholeRun::runUpdater(const QStringList& arguments)
{
    return finish(startUpdater(arguments));
}

Snapshot TestWholeRun::installation() const
{
    return snapshot(app,
        { QStringLiteral("Contents/Resources/Updater.app/"),
            QStringLiteral("Contents/Resources/mirrors.ini"),
            QStringLiteral("Contents/Resources/update.ini"),
            // The updater's lock file stays by design: the lock lives on an open descriptor.
            QStringLiteral("Contents/Resources/update.lock"),
            // What the last plan found, for the next one to trust.
            QStringLiteral("Contents/Resources/update.statcache") });
}

QString TestWholeRun::sessionDir() const
{
    return tmp + QStringLiteral("/corvanta_temp_0");
}

bool TestWholeRun::sessionRecorded() const
{
    QSettings settings(root + QStringLiteral("/update.ini"), QSettings::IniFormat);
    return settings.contains(QStringLiteral("current/dir"));
}

QStringList TestWholeRun::installedRecord() const
{
    QSettings settings(root + QStringLiteral("/update.ini"), QSettings::IniFormat);
    return { settings.value(QStringLiteral("installed/version")).toString(),
        settings.value(QStringLiteral("installed/type")).toString() };
}

void TestWholeRun::run_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::newRow("update") << "update";
    QTest::newRow("resume after a kill in the download step") << "resume";
    QTest::newRow("recovery after a kill in the replacement step") << "recovery";
    QTest::newRow("a corrupt file on every mirror") << "corrupt";
    QTest::newRow("an expired version list") << "expired";
}

void TestWholeRun::run()
{
    QFETCH(QString, scenario);
    const bool recovery = scenario == QLatin1String("recovery");
    writeTree(work->filePath(QStringLiteral("release/") + oldVersion), oldVersion, recovery);
    writeTree(work->filePath(QStringLiteral("release/") + newVersion), newVersion, recovery);
    installVersion(oldVersion);
    QVERIFY(publish(newVersion, oldVersion, recovery, &newSnapshot));
    const QString mirror = work->filePath(QStringLiteral("mirror"));
    const QStringList fixedArguments { QStringLiteral("--nouser"), clientType, newVersion };

    if (scenario == QLatin1String("update")) {
        // Started the way the client starts it when it leaves the arguments in the file: the
        // version comes from the update server.
        const QString versions
            = signedVersionsFile(newVersion + QStringLiteral("#3.0.13,3014,3015"));
        QVERIFY(!versions.isEmpty());
        UpdateServerProcess server;
        QVERIFY(server.start({ QStringLiteral("--version-port"), QStringLiteral("17384"),
            QStringLiteral("--versions-file"), versions }));
        QVERIFY(TestFiles::write(tmp + QStringLiteral("/crvclientupdateargs"), "--nouser\n"));
        const auto nginx = startMirrors(QStringLiteral("nginx"));
        QVERIFY(nginx);

        const Outcome outcome = runUpdater({});
        QVERIFY2(outcome.exitCode == 0, qPrintable(outcome.lines.join(QLatin1Char('\n'))));
        QVERIFY2(installation() == newSnapshot, qPrintable(describe(installation(), newSnapshot)));
        QVERIFY(!QFileInfo::exists(sessionDir()));
        QVERIFY(!sessionRecorded());
        // The release was Ed25519-signed: from now on this installation requires that.
        QCOMPARE(QSettings(root + QStringLiteral("/update.ini"), QSettings::IniFormat)
                     .value(QStringLiteral("installed/ed25519"))
                     .toString(),
            QStringLiteral("true"));
        QVERIFY(!QFileInfo::exists(tmp + QStringLiteral("/crvclientupdateargs")));
        QCOMPARE(installedRecord(), QStringList({ newVersion, clientType }));
        // The steps in their order, then the clean-up and the end. (The version asked of the
        // update server is the one installed above.)
        const QStringList expected { QStringLiteral("Starting update process"),
            QStringLiteral("Download / check product ini"),
            QStringLiteral("Download / check file list"),
            QStringLiteral("Compiling download and replace list"),
            QStringLiteral("Downloading files"), QStringLiteral("Starting file updates"),
            QStringLiteral("Starting deleting files"), QStringLiteral("Remove temporary files..."),
            QStringLiteral("Temporary files removed."),
            QStringLiteral("Update successfully finished") };
        QStringList seen;
        for (const QString& line : outcome.lines) {
            if (expected.contains(line) && !seen.contains(line))
                seen << line;
        }
        QCOMPARE(seen, expected);
        QCOMPARE(outcome.lines.constLast(), expected.constLast());
        // The nginx mirrors served the new files.
        QVERIFY(nginx->allRequests().contains(QStringLiteral("/3013/files/data/added.bin")));
        QVERIFY(nginx->allRequests().contains(QStringLiteral("/3013/client_macosx.ini.sha256")));
        // Then the client is started again, by a detached opener that may still be writing.
        QTRY_COMPARE(TestFiles::read(ProgramEnvironment::openerRecord(tmp)),
            QDir(app).canonicalPath().toUtf8() + '\n');
        return;
    }

    if (scenario == QLatin1String("expired")) {
        // A server that keeps sending a list signed long ago, naming the installed version
        // while a newer one is on the mirrors: the run must fail, not report success.
        const qint64 expires = QDateTime::currentSecsSinceEpoch() - 2 * 3600;
        UpdateServerProcess server;
        QVERIFY(server.start({ QStringLiteral("--version-port"), QStringLiteral("17384"),
            QStringLiteral("--versions"),
            QString::fromLatin1(TestSigning::signedVersionList(
                oldVersion + QStringLiteral("#3.0.12,3014,3015"), 9, expires)) }));
        QVERIFY(TestFiles::write(tmp + QStringLiteral("/crvclientupdateargs"), "--nouser\n"));
        const auto nginx = startMirrors(QStringLiteral("nginx"));
        QVERIFY(nginx);

        const Outcome outcome = runUpdater({});
        const QString reason
            = QStringLiteral("The version list expired on %1, check the system clock")
                  .arg(QDateTime::fromSecsSinceEpoch(expires, Qt::UTC).toString(Qt::ISODate));
        QVERIFY2(outcome.exitCode == 1, qPrintable(outcome.errors));
        QVERIFY2(outcome.lines.contains(reason), qPrintable(outcome.lines.join(QLatin1Char('\n'))));
        QVERIFY2(outcome.errors.contains(reason), qPrintable(outcome.errors));
        QVERIFY(!outcome.lines.contains(QStringLiteral("Update successfully finished")));
        QVERIFY2(installation() == oldSnapshot, qPrintable(describe(installation(), oldSnapshot)));
        QVERIFY(nginx->allRequests().isEmpty());
        return;
    }

    if (scenario == QLatin1String("corrupt")) {
        QVERIFY(TestFiles::write(
            mirror + QStringLiteral("/3013/files/data/config.xml"), "<config version=\"6666\"/>"));
        const auto nginx = startMirrors(QStringLiteral("nginx"));
        QVERIFY(nginx);
        const Outcome outcome = runUpdater(fixedArguments);
        QVERIFY2(outcome.exitCode == 3, qPrintable(outcome.lines.join(QLatin1Char('\n'))));
        QVERIFY2(installation() == oldSnapshot, qPrintable(describe(installation(), oldSnapshot)));
        // Kept for a resume.
        QVERIFY(QFileInfo(sessionDir()).isDir());
        QVERIFY(sessionRecorded());
        return;
    }

    if (scenario == QLatin1String("resume")) {
        const QString held = QStringLiteral("/3013/files/") + bigFile;
        QStringList completed;
        {
            // The big file's request is held open; everything else downloads.
            QTcpServer holder;
            QVERIFY(holder.listen(QHostAddress::LocalHost));
            const auto nginx
                = startMirrors(QStringLiteral("nginx-held"), held, holder.serverPort());
            QVERIFY(nginx);
            QProcess* process = startUpdater(fixedArguments);
            QByteArray output;
            const QStringList others { QStringLiteral("files/data/config.xml"),
                QStringLiteral("files/data/added.bin"),
                QStringLiteral("files/lib/libcore.dylib.gz"),
                QStringLiteral("bin_macosx/MacOS/crvclient_mac") };
            const auto allOthersDone = [&] {
                output += process->readAllStandardOutput();
                for (const QString& path : others) {
                    if (!output.contains("Downloading " + path.toUtf8() + " finished\n"))
                        return false;
                }
                return true;
            };
            QTRY_VERIFY_WITH_TIMEOUT(allOthersDone() && holder.hasPendingConnections(), 30000);
            process->kill();
            QVERIFY(process->waitForFinished());
            completed = nginx->allRequests();
        }
        QVERIFY(QFileInfo(sessionDir()).isDir());

        const auto nginx = startMirrors(QStringLiteral("nginx"));
        QVERIFY(nginx);
        const Outcome outcome = runUpdater(fixedArguments);
        QVERIFY2(outcome.exitCode == 0, qPrintable(outcome.lines.join(QLatin1Char('\n'))));
        QVERIFY(
            outcome.lines.contains(QStringLiteral("Previous update session for v. 3013 found")));
        QVERIFY2(installation() == newSnapshot, qPrintable(describe(installation(), newSnapshot)));
        // Only what was not complete is fetched again.
        QCOMPARE(nginx->allRequests(), QStringList { held });
        QVERIFY(completed.contains(QStringLiteral("/3013/files/data/added.bin")));
        return;
    }

    // Recovery: stopped while the replacement unpacks a large file, with the journal on disk
    // saying that files were moved aside and nothing committed; then killed.
    const QString journal = root + QStringLiteral("/update.journal");
    {
        const auto nginx = startMirrors(QStringLiteral("nginx-first"));
        QVERIFY(nginx);
        QProcess* process = startUpdater(fixedArguments);
        const auto replacing = [&] {
            const QByteArray text = TestFiles::read(journal);
            return text.contains("\nrename ") && !text.contains("\ncommit");
        };
        QTRY_VERIFY_WITH_TIMEOUT(replacing() || process->state() == QProcess::NotRunning, 40000);
        ::kill(pid_t(process->processId()), SIGSTOP);
        // Stopped: what the journal says now is what the next run finds.
        QVERIFY2(replacing(), "the replacement ended before the test could stop it");
        process->kill();
        QVERIFY(process->waitForFinished());
    }
    QVERIFY(installation() != oldSnapshot);

    // A reboot cleared the temp directory, and all mirrors are down: the next run undoes the
    // replacement first and then cannot download anything. (With the session still there it
    // would finish the update from it without any mirror.)
    QVERIFY(QDir(sessionDir()).removeRecursively());
    writeMirrorList({ QStringLiteral("http://127.0.0.1:1") });
    const Outcome down = runUpdater(fixedArguments);
    QVERIFY2(down.exitCode == 3, qPrintable(down.lines.join(QLatin1Char('\n'))));
    QVERIFY2(installation() == oldSnapshot, qPrintable(describe(installation(), oldSnapshot)));
    QVERIFY(!QFileInfo::exists(journal));

    const auto nginx = startMirrors(QStringLiteral("nginx"));
    QVERIFY(nginx);
    const Outcome outcome = runUpdater(fixedArguments);
    QVERIFY2(outcome.exitCode == 0, qPrintable(outcome.lines.join(QLatin1Char('\n'))));
    QVERIFY2(installation() == newSnapshot, qPrintable(describe(installation(), newSnapshot)));
}

void TestWholeRun::installedVersion_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("tempArgs");
    // What the update server names; empty: no server.
    QTest::addColumn<QString>("serverVersions");
    QTest::addColumn<bool>("damaged");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QString>("installed");
    QTest::addColumn<QStringList>("lines");

    const QString refusal = QStringLiteral(
        "Version 3012 is older than the installed version 3013; nothing to install");
    const QString finished = QStringLiteral("Update successfully finished");
    const QStringList older { "--nouser", clientType, oldVersion };
    QTest::newRow("older version from the update server")
        << QStringList() << QByteArray("--nouser\n") << oldVersion + QStringLiteral("#3.0.12")
        << false << true << newVersion << QStringList { refusal, finished };
    QTest::newRow("older version on the command line")
        << older << QByteArray() << QString() << false << true << newVersion
        << QStringList { refusal, finished };
    QTest::newRow("--allow-downgrade in the arguments file")
        << QStringList() << QByteArray("--allow-downgrade\n--nouser\nclient_macosx\n3012\n")
        << QString() << false << true << newVersion
        << QStringList { "--allow-downgrade is only honoured on the command line; ignored", refusal,
               finished };
    QTest::newRow("--allow-downgrade on the command line")
        << QStringList { "--allow-downgrade" } + older << QByteArray() << QString() << false
        << false << oldVersion << QStringList { finished };
    QTest::newRow("same version repairs a damaged file")
        << QStringList { "--nouser", clientType, newVersion } << QByteArray() << QString() << true
        << false << newVersion << QStringList { finished };
}

// On an installation of 3013 that recorded its version, with 3012 and 3013 on the mirrors.
void TestWholeRun::installedVersion()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, tempArgs);
    QFETCH(QString, serverVersions);
    QFETCH(bool, damaged);
    QFETCH(bool, refused);
    QFETCH(QString, installed);
    QFETCH(QStringList, lines);

    writeTree(work->filePath(QStringLiteral("release/") + oldVersion), oldVersion, false);
    writeTree(work->filePath(QStringLiteral("release/") + newVersion), newVersion, false);
    installVersion(newVersion);
    QVERIFY(TestFiles::write(
        root + QStringLiteral("/update.ini"), "[installed]\nversion=3013\ntype=client_macosx\n"));
    Snapshot older;
    QVERIFY(publish(oldVersion, newVersion, false, &older));
    QVERIFY(publish(newVersion, oldVersion, false, &newSnapshot));
    if (damaged)
        QVERIFY(TestFiles::write(
            root + QStringLiteral("/data/config.xml"), "<config version=\"6666\"/>", 0644));
    const Snapshot before = installation();

    std::unique_ptr<UpdateServerProcess> server;
    if (!serverVersions.isEmpty()) {
        server = std::make_unique<UpdateServerProcess>();
        QVERIFY(server->start({ QStringLiteral("--version-port"), QStringLiteral("17384"),
            QStringLiteral("--versions"), serverVersions }));
    }
    if (!tempArgs.isNull())
        QVERIFY(TestFiles::write(tmp + QStringLiteral("/crvclientupdateargs"), tempArgs));
    const auto nginx = startMirrors(QStringLiteral("nginx"));
    QVERIFY(nginx);

    const Outcome outcome = runUpdater(arguments);
    const QString log = outcome.lines.join(QLatin1Char('\n'));
    QVERIFY2(outcome.exitCode == 0, qPrintable(log));
    for (const QString& line : lines)
        QVERIFY2(
            outcome.lines.contains(line), qPrintable(line + QStringLiteral(" not in:\n") + log));
    const Snapshot& expected = refused ? before : installed == oldVersion ? older : newSnapshot;
    QVERIFY2(installation() == expected, qPrintable(describe(installation(), expected)));
    QCOMPARE(installedRecord(), QStringList({ installed, clientType }));
    if (refused) {
        // Not even the product ini of the older version was asked for.
        QCOMPARE(nginx->allRequests(), QStringList());
        QVERIFY(!outcome.lines.contains(QStringLiteral("Download / check product ini")));
    } else {
        QVERIFY(!nginx->allRequests()
                     .filter(QLatin1Char('/') + installed + QLatin1Char('/'))
                     .isEmpty());
    }
    QVERIFY(!sessionRecorded());
    QTRY_COMPARE(TestFiles::read(ProgramEnvironment::openerRecord(tmp)),
        QDir(app).canonicalPath().toUtf8() + '\n');
}

QTEST_GUILESS_MAIN(TestWholeRun)
#include "tst_wholerun.moc"
