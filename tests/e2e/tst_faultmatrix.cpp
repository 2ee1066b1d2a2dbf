#include "nginxmirrors.h"
#include "programenvironment.h"
#include "releasefixture.h"
#include "testfiles.h"
#include "testhttpserver.h"
#include "xvfbdisplay.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString oldVersion = QStringLiteral("3012");
const QString newVersion = QStringLiteral("3013");
const QString clientType = QStringLiteral("client_macosx");
const QString iniPath = QStringLiteral("/3013/client_macosx.ini");
const QString sigPath = iniPath + QStringLiteral(".sig");
const QString filePath = QStringLiteral("/3013/files/data/added.bin");
// Short, so that a stalled mirror costs seconds: the time-out is what is under test, not its
// length.
constexpr int timeoutTicks = 2;
// Far above what the updater needs for these small releases.
constexpr long peakRssLimitKiB = 256 * 1024;

// One run of the updater as the table shows it.
struct Run
{
    int exitCode = -1;
    QStringList lines;
    QString errors;
    long peakRssKiB = -1;
};

// The text a user sees of a run that failed: its first error, or its last log line.
QString shownMessage(const Run& run)
{
    const QStringList errors = run.errors.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (!errors.isEmpty())
        return errors.constFirst();
    return run.lines.isEmpty() ? QString() : run.lines.constLast();
}

} // namespace

// Whole unattended runs against mirrors that misbehave in one way each: two of three mirrors
// faulty, then all three; and an installation must end as the old version or the new one.
// Every row adds a line to a table printed at the end, with the peak memory of the runs.
class TestFaultMatrix : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void mirrorFault_data();
    void mirrorFault();

private:
    // A fresh installation of the old version in work/<name>; its root.
    QString install(const QString& name);
    Run runUpdater(const QString& root, const QStringList& mirrors);
    Snapshot installation(const QString& root) const;

    XvfbDisplay display;
    std::unique_ptr<QTemporaryDir> work;
    std::unique_ptr<NginxMirrors> nginx;
    std::unique_ptr<TestHttpServer> faulty;
    // Serves version 3012's validly signed product ini under 3013.
    std::unique_ptr<TestHttpServer> swapped;
    std::unique_ptr<QProcess> updater;
    Snapshot oldSnapshot;
    Snapshot newSnapshot;
    QStringList table;
    int installations = 0;
};

void TestFaultMatrix::initTestCase()
{
    if (NginxMirrors::program().isEmpty())
        QFAIL("nginx is missing: run scripts/setup");
    QVERIFY2(display.start(), "Xvfb is missing: run scripts/setup");
    QVERIFY2(QFile::exists(QStringLiteral("/usr/bin/time")), "time is missing: run scripts/setup");
    work = std::make_unique<QTemporaryDir>();
    QVERIFY(work->isValid());
    // nginx workers of another user must be able to read the mirror folder.
    QVERIFY(QFile::setPermissions(work->path(),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
            | QFile::ReadOther | QFile::ExeOther));

    for (const QString& version : { oldVersion, newVersion }) {
        const QString dir = work->filePath(QStringLiteral("release/") + version);
        const quint32 seed = version.toUInt();
        QVERIFY(TestFiles::write(dir + QStringLiteral("/files/data/readme.txt"), "same", 0644));
        QVERIFY(TestFiles::write(dir + QStringLiteral("/files/data/config.xml"),
            "<config version=\"" + version.toLatin1() + "\"/>", 0644));
        QVERIFY(TestFiles::write(dir + QStringLiteral("/files/lib/libcore.dylib"),
            TestFiles::noise(200000, seed), 0755));
        QVERIFY(TestFiles::write(dir + QStringLiteral("/bin/MacOS/crvclient_mac"),
            "#!/bin/sh\necho " + version.toLatin1() + "\n", 0755));
        if (version == newVersion)
            QVERIFY(TestFiles::write(
                dir + QStringLiteral("/files/data/added.bin"), TestFiles::noise(300000, 9), 0644));
    }
    QVERIFY(publish(work->path(), oldVersion, newVersion, {}, &oldSnapshot));
    QVERIFY(publish(work->path(), newVersion, oldVersion, {}, &newSnapshot));

    // A mirror whose 3013 folder holds the product ini (and its signatures) of 3012.
    const QString mirror = work->filePath(QStringLiteral("mirror"));
    const QString other = work->filePath(QStringLiteral("swapped"));
    QProcess copy;
    copy.start(QStringLiteral("sh"),
        { QStringLiteral("-c"),
            QStringLiteral("mkdir -p \"$2\" && cp -a \"$1/3013\" \"$2/\" && "
                           "for f in \"$1\"/3012/client_macosx.ini*; do cp \"$f\" \"$2/3013/\"; "
                           "done"),
            QStringLiteral("sh"), mirror, other });
    QVERIFY(copy.waitForFinished(30000) && copy.exitCode() == 0);

    nginx = std::make_unique<NginxMirrors>(work->filePath(QStringLiteral("nginx")), mirror);
    QVERIFY(nginx->start(3));
    faulty = std::make_unique<TestHttpServer>(mirror);
    QVERIFY(faulty->start());
    swapped = std::make_unique<TestHttpServer>(other);
    QVERIFY(swapped->start());
    // 1 byte every second: just often enough to beat any silence time-out.
    faulty->setTrickle(1, 1000);
}

void TestFaultMatrix::cleanupTestCase()
{
    qInfo("%s", qPrintable(QStringLiteral("fault | where | outcome | message | peak RSS")));
    for (const QString& line : std::as_const(table))
        qInfo("%s", qPrintable(line));
}

void TestFaultMatrix::cleanup()
{
    if (updater && updater->state() != QProcess::NotRunning) {
        updater->kill();
        updater->waitForFinished();
    }
    updater.reset();
    faulty->clearFaults();
}

QString TestFaultMatrix::install(const QString& name)
{
    const QString app
        = work->filePath(QStringLiteral("%1-%2/Corvanta.app").arg(name).arg(++installations));
    if (!layOut(work->filePath(QStringLiteral("release/") + oldVersion), app))
        return QString();
    const QString root = app + QStringLiteral("/Contents/Resources");
    const QString programDir = root + QStringLiteral("/Updater.app/Contents/MacOS");
    if (!QDir().mkpath(programDir)
        || !QFile::copy(QStringLiteral(CRV_UPDATE_PROGRAM), programDir + QStringLiteral("/update"))
        || !ProgramEnvironment::installOpener(app + QStringLiteral("/../bin"))
        || !QDir().mkpath(app + QStringLiteral("/../tmp")))
        return QString();
    return root;
}

Run TestFaultMatrix::runUpdater(const QString& root, const QStringList& mirrors)
{
    writeMirrorList(root, mirrors, timeoutTicks);
    const QString base = QDir::cleanPath(root + QStringLiteral("/../../.."));
    const QString rss = base + QStringLiteral("/peak-rss");
    updater = std::make_unique<QProcess>();
    updater->setProcessEnvironment(ProgramEnvironment::make(
        display, base + QStringLiteral("/tmp"), base + QStringLiteral("/bin")));
    // time(1) waits for the updater itself and reports its peak resident set in KiB.
    updater->start(QStringLiteral("/usr/bin/time"),
        { QStringLiteral("-f"), QStringLiteral("%M"), QStringLiteral("-o"), rss,
            root + QStringLiteral("/Updater.app/Contents/MacOS/update"), QStringLiteral("--nouser"),
            clientType, newVersion });
    Run run;
    // The event loop runs meanwhile: the faulty servers answer from this thread.
    if (!QTest::qWaitFor([&] { return updater->state() == QProcess::NotRunning; }, 120000)) {
        qWarning("the updater did not end");
        return run;
    }
    run.exitCode = updater->exitStatus() == QProcess::NormalExit ? updater->exitCode() : -1;
    run.lines = QString::fromUtf8(updater->readAllStandardOutput())
                    .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    run.errors = QString::fromUtf8(updater->readAllStandardError());
    bool ok = false;
    // time(1) puts "Command exited with non-zero status N" before the figure.
    run.peakRssKiB = TestFiles::read(rss).trimmed().split('\n').constLast().toLong(&ok);
    if (!ok)
        run.peakRssKiB = -1;
    return run;
}

Snapshot TestFaultMatrix::installation(const QString& root) const
{
    return snapshot(QDir::cleanPath(root + QStringLiteral("/../..")),
        { QStringLiteral("Contents/Resources/Updater.app/"),
            QStringLiteral("Contents/Resources/mirrors.ini"),
            QStringLiteral("Contents/Resources/update.ini"),
            QStringLiteral("Contents/Resources/update.lock"),
            QStringLiteral("Contents/Resources/update.statcache") });
}

void TestFaultMatrix::mirrorFault_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("path");
    // The faulty mirror serves the 3012 product ini under 3013 instead of misbehaving.
    QTest::addColumn<bool>("otherVersion");

    using S = TestHttpServer;
    const struct
    {
        const char* name;
        S::Fault fault;
        QString path;
    } rows[] = {
        { "404", S::NotFound, QStringLiteral("*") },
        { "500", S::InternalError, QStringLiteral("*") },
        { "403", S::Forbidden, sigPath },
        { "301", S::MovedPermanently, QStringLiteral("*") },
        { "302", S::Found, QStringLiteral("*") },
        { "302 to file://", S::RedirectToFile, filePath },
        { "stall after headers", S::StallAfterHeaders, filePath },
        { "stall mid-body", S::StallMidBody, filePath },
        { "reset mid-body", S::ResetMidBody, filePath },
        { "short body", S::ShortBody, filePath },
        { "long Content-Length", S::LongContentLength, filePath },
        { "wrong bytes", S::WrongBytes, filePath },
        { "endless body", S::EndlessBody, filePath },
        { "endless body", S::EndlessBody, iniPath },
        { "endless body", S::EndlessBody, sigPath },
        { "1 byte/s trickle", S::Trickle, filePath },
        { "huge headers", S::OversizedHeaders, iniPath },
        { "gzip-labelled plain bytes", S::GzipLabelled, QStringLiteral("*") },
        { "broken chunked encoding", S::BrokenChunks, filePath },
    };
    for (const auto& row : rows)
        QTest::addRow("%s on %s", row.name, qPrintable(row.path))
            << int(row.fault) << row.path << false;
    QTest::addRow("another version's signed ini on %s", qPrintable(iniPath))
        << int(S::Serve) << iniPath << true;
}

void TestFaultMatrix::mirrorFault()
{
    QFETCH(int, fault);
    QFETCH(QString, path);
    QFETCH(bool, otherVersion);
    const TestHttpServer* server = otherVersion ? swapped.get() : faulty.get();
    faulty->setFault(path, TestHttpServer::Fault(fault));
    const QString bad = server->url();
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    QStringList problems;
    const auto record = [&](const QString& mirrors, const Run& run, const QString& outcome) {
        table << QStringLiteral("%1 | %2 | %3 | exit %4: %5 | %6 KiB")
                     .arg(name, mirrors, outcome, QString::number(run.exitCode), shownMessage(run),
                         QString::number(run.peakRssKiB));
        if (run.peakRssKiB < 0 || run.peakRssKiB > peakRssLimitKiB)
            problems << mirrors + QStringLiteral(": peak RSS %1 KiB").arg(run.peakRssKiB);
    };

    // Two faulty mirrors and one good one: the update completes exactly.
    {
        const QString root = install(QStringLiteral("one-good"));
        QVERIFY(!root.isEmpty());
        const Run run = runUpdater(root, { bad, bad, nginx->url(0) });
        const bool exact = run.exitCode == 0 && installation(root) == newSnapshot;
        record(QStringLiteral("2 faulty + 1 good"), run,
            exact ? QStringLiteral("updated") : QStringLiteral("NOT UPDATED"));
        if (!exact)
            problems << QStringLiteral("one good mirror: ")
                    + describe(installation(root), newSnapshot) + QLatin1Char('\n')
                    + run.lines.join(QLatin1Char('\n'));
    }

    // All three faulty: the run fails with a message and leaves the old version; a later run
    // against healthy mirrors completes.
    const QString root = install(QStringLiteral("all-faulty"));
    QVERIFY(!root.isEmpty());
    const Run failed = runUpdater(root, { bad, bad, bad });
    const Snapshot after = installation(root);
    // A fault that corrupts nothing may also end in the exact new version.
    const bool refused = failed.exitCode != 0 && after == oldSnapshot
        && !shownMessage(failed).isEmpty()
        && !failed.lines.contains(QStringLiteral("Update successfully finished"));
    const bool harmless = failed.exitCode == 0 && after == newSnapshot;
    record(QStringLiteral("3 faulty"), failed,
        refused        ? QStringLiteral("failed, unchanged")
            : harmless ? QStringLiteral("updated")
                       : QStringLiteral("BROKEN"));
    if (!refused && !harmless)
        problems << QStringLiteral("all faulty: ") + describe(after, oldSnapshot)
                + QLatin1Char('\n') + failed.lines.join(QLatin1Char('\n'));

    const Run healthy = runUpdater(root, { nginx->url(0), nginx->url(1), nginx->url(2) });
    const bool exact = healthy.exitCode == 0 && installation(root) == newSnapshot;
    record(QStringLiteral("then 3 good"), healthy,
        exact ? QStringLiteral("updated") : QStringLiteral("NOT UPDATED"));
    if (!exact)
        problems << QStringLiteral("healthy after faulty: ")
                + describe(installation(root), newSnapshot) + QLatin1Char('\n')
                + healthy.lines.join(QLatin1Char('\n'));

    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"
