#include "nginxmirrors.h"
#include "programenvironment.h"
#include "ed25519key.h"
#include "ed25519signaturefile.h"
#include "releasefixture.h"
#include "testfiles.h"
#include "testhttpserver.h"
#include "testsigning.h"
#include "xvfbdisplay.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

namespace {

const QString oldVersion = QStringLiteral("3012");
const QString newVersion = QStringLiteral("3013");
const QString clientType = QStringLiteral("client_macosx");
const QString iniPath = QStringLiteral("/3013/client_macosx.ini");
const QString sigPath = iniPath + QStringLiteral(".sig");
const QString filePath = QStringLiteral("/3013/files/data/added.bin");
// The silence time-out of a faulty mirror: one tick, so that a stall costs two seconds, not
// sixteen; its length is not what is under test.
constexpr int faultyTimeoutTicks = 1;
// For faults that never stall, whose reason names what the mirror sent: the answer must come,
// and with some forty runs at once a start one tick late would read as a stall.
constexpr int patientTimeoutTicks = 8;
// Far above what the updater needs for these small releases. The address sanitizer keeps up to
// 256 MiB of freed memory in quarantine besides its shadow, so its builds get a bound of their
// own: there the row still catches memory that grows with what a mirror sends.
#if defined(__SANITIZE_ADDRESS__)
constexpr long peakRssLimitKiB = 1024 * 1024;
#else
constexpr long peakRssLimitKiB = 256 * 1024;
#endif
// A run that has not ended by then hangs: a fault the table reports.
constexpr int runLimitMs = 180000;

// One run of the updater as the table shows it.
struct Run
{
    int exitCode = -1;
    QStringList lines;
    QStringList errors;
    long peakRssKiB = -1;
};

// One line of a table.
struct Row
{
    QString fault;
    QString where;
    QString outcome;
    QString message;
    long peakRssKiB = -1;
    // Empty when the row is sound; else what is wrong, with the run's log.
    QString problem;
};

// The text a user sees of a run: its errors, or else its last log line.
QString shownMessage(const Run& run)
{
    if (!run.errors.isEmpty())
        return run.errors.join(QStringLiteral(" / "));
    return run.lines.isEmpty() ? QString() : run.lines.constLast();
}

// "md5::size" of content as a product ini lists a file.
QByteArray listed(const QByteArray& content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex() + "::"
        + QByteArray::number(content.size());
}

QByteArray sha256(const QByteArray& content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex();
}

// Signs a product ini the way a vendor does: ".sig" with the RSA key, ".sig2" with Ed25519.
bool sign(const QString& ini)
{
    return TestSigning::signFile(ini)
        && TestFiles::write(ini + QStringLiteral(".sig2"),
            Ed25519SignatureFile::line(TestSigning::demoReleaseKey(), TestFiles::read(ini)));
}

// Whether a failed run says why: an unattended run has no window to look in.
bool givesReason(const Run& run)
{
    return std::any_of(run.errors.cbegin(), run.errors.cend(),
        [](const QString& line) { return line.startsWith(QLatin1String("Reason: ")); });
}

// Whether a failed run gives exactly this reason, and says it only once.
bool givesOnce(const Run& run, const QString& reason)
{
    return run.errors.count(QStringLiteral("Reason: ") + reason) == 1
        && run.errors.filter(reason).size() == 1;
}

} // namespace

// Whole unattended runs against mirrors that misbehave in one way each (two of three mirrors
// faulty, then all three, then a rerun against healthy ones), and against hostile releases
// that are validly signed: an installation ends as the old version or the new one, never a
// mix, and a refusal says why. The runs go side by side, each in an installation of its own;
// one table per matrix, with the peak memory of every run, comes before the verdict.
class TestFaultMatrix : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void mirrorFaults();
    void hostileReleases();

private:
    // A fresh installation of the old version in work/<name>-<n>; its root.
    QString install(const QString& name);
    // Starts the updater on the installation at root against mirrors (each with its silence
    // time-out, 0: the default); done gets the run once it has ended.
    void startUpdater(const QString& root, const QStringList& mirrors, const QList<int>& timeouts,
        const std::function<void(const Run&)>& done);
    // Until every run started has ended (false: some did not end although killed); a run
    // still going after runLimitMs is killed.
    bool waitForRuns();
    Snapshot installation(const QString& root) const;
    static bool report(const char* title, const QList<Row>& rows);

    XvfbDisplay display;
    std::unique_ptr<QTemporaryDir> work;
    std::unique_ptr<NginxMirrors> nginx;
    QString mirror;
    // 3013's files with 3012's validly signed product ini and its signatures.
    QString swapped;
    Snapshot oldSnapshot;
    Snapshot newSnapshot;
    int installations = 0;
    int runsGoing = 0;
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
    mirror = work->filePath(QStringLiteral("mirror"));

    swapped = work->filePath(QStringLiteral("swapped"));
    QVERIFY(runShell(QStringLiteral("mkdir -p \"$2\" && cp -a \"$1/3013\" \"$2/\" && "
                                    "for f in \"$1\"/3012/client_macosx.ini*; do "
                                    "cp \"$f\" \"$2/3013/\"; done"),
        { mirror, swapped }));

    nginx = std::make_unique<NginxMirrors>(work->filePath(QStringLiteral("nginx")), mirror);
    QVERIFY(nginx->start(3));
}

void TestFaultMatrix::cleanupTestCase()
{
    // A function that failed half-way may leave runs behind.
    QVERIFY(waitForRuns());
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

void TestFaultMatrix::startUpdater(const QString& root, const QStringList& mirrors,
    const QList<int>& timeouts, const std::function<void(const Run&)>& done)
{
    writeMirrorList(root, mirrors, timeouts);
    const QString base = QDir::cleanPath(root + QStringLiteral("/../../.."));
    const QString rss = base + QStringLiteral("/peak-rss");
    auto* updater = new QProcess(this);
    updater->setProcessEnvironment(ProgramEnvironment::make(
        display, base + QStringLiteral("/tmp"), base + QStringLiteral("/bin")));
    auto* limit = new QTimer(updater);
    limit->setSingleShot(true);
    connect(limit, &QTimer::timeout, updater, &QProcess::kill);
    connect(updater, &QProcess::finished, this, [this, updater, rss, done] {
        Run run;
        run.exitCode = updater->exitStatus() == QProcess::NormalExit ? updater->exitCode() : -1;
        run.lines = QString::fromUtf8(updater->readAllStandardOutput())
                        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        // Qt's own notes about the environment are no message of the updater's.
        const QStringList errors = QString::fromUtf8(updater->readAllStandardError())
                                       .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString& line : errors) {
            if (!line.startsWith(QLatin1String("QStandardPaths:")))
                run.errors << line;
        }
        bool ok = false;
        // time(1) puts "Command exited with non-zero status N" before the figure.
        run.peakRssKiB = TestFiles::read(rss).trimmed().split('\n').constLast().toLong(&ok);
        if (!ok)
            run.peakRssKiB = -1;
        updater->deleteLater();
        done(run);
        --runsGoing;
    });
    ++runsGoing;
    // time(1) waits for the updater itself and reports its peak resident set in KiB.
    updater->start(QStringLiteral("/usr/bin/time"),
        { QStringLiteral("-f"), QStringLiteral("%M"), QStringLiteral("-o"), rss,
            root + QStringLiteral("/Updater.app/Contents/MacOS/update"), QStringLiteral("--nouser"),
            clientType, newVersion });
    limit->start(runLimitMs);
}

bool TestFaultMatrix::waitForRuns()
{
    // The faulty servers answer from this thread's event loop meanwhile.
    return QTest::qWaitFor([this] { return runsGoing == 0; }, 2 * runLimitMs);
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

bool TestFaultMatrix::report(const char* title, const QList<Row>& rows)
{
    qInfo("%s", title);
    qInfo("   %-52s | %-18s | %-18s | %-10s | %s", "fault", "where", "outcome", "peak RSS",
        "message");
    bool ok = true;
    for (const Row& row : rows) {
        qInfo("%s %-52s | %-18s | %-18s | %6ld KiB | %s", row.problem.isEmpty() ? "  " : "!!",
            qPrintable(row.fault), qPrintable(row.where), qPrintable(row.outcome), row.peakRssKiB,
            qPrintable(row.message));
        ok = ok && row.problem.isEmpty();
    }
    for (const Row& row : rows) {
        if (!row.problem.isEmpty())
            qWarning("%s, %s: %s", qPrintable(row.fault), qPrintable(row.where),
                qPrintable(row.problem));
    }
    return ok;
}

// Each fault on two of three mirrors (the third healthy nginx): the update completes exactly.
// On all three: the run fails with a message and leaves the old version, unless the fault
// harms nothing and it completes exactly; a later run against healthy mirrors completes.
void TestFaultMatrix::mirrorFaults()
{
    using S = TestHttpServer;
    // What a run gives when its mirrors failed as a broken network would make them fail.
    const QString noMirror
        = QStringLiteral("No mirror could deliver the update; check the network connection.");
    const struct
    {
        const char* name;
        S::Fault fault;
        QString path;
        // The folder the faulty mirror serves: the release, or the one with the swapped ini.
        bool swappedIni;
        // The reason a run against three faulty mirrors gives, exactly and once; empty where
        // it depends on the order the mirrors were tried in.
        QString reason;
    } faults[] = {
        { "404", S::NotFound, QStringLiteral("*"), false,
            QStringLiteral("No mirror has client_macosx.ini of this version (each answered "
                           "\"not found\"): the version is not completely published yet.") },
        { "500", S::InternalError, QStringLiteral("*"), false, noMirror },
        { "403", S::Forbidden, sigPath, false, noMirror },
        { "301 back to the path", S::MovedPermanently, QStringLiteral("*"), false, noMirror },
        { "302 back to the path", S::Found, QStringLiteral("*"), false, noMirror },
        { "302 to file://", S::RedirectToFile, filePath, false, noMirror },
        { "stall after headers", S::StallAfterHeaders, filePath, false, noMirror },
        { "stall mid-body", S::StallMidBody, filePath, false, noMirror },
        { "reset mid-body", S::ResetMidBody, filePath, false, noMirror },
        { "short body", S::ShortBody, filePath, false, noMirror },
        { "long Content-Length", S::LongContentLength, filePath, false, noMirror },
        { "wrong bytes", S::WrongBytes, filePath, false, {} },
        { "endless body", S::EndlessBody, filePath, false,
            QStringLiteral("files/data/added.bin on the mirrors is larger than the 300000 bytes "
                           "listed for it") },
        { "endless body", S::EndlessBody, iniPath, false,
            QStringLiteral("client_macosx.ini on the mirrors is larger than the limit of 16 MiB") },
        { "endless body", S::EndlessBody, sigPath, false,
            QStringLiteral(
                "client_macosx.ini.sig on the mirrors is larger than the limit of 64 KiB") },
        { "1 byte/s trickle", S::Trickle, filePath, false, noMirror },
        { "huge headers", S::OversizedHeaders, iniPath, false, noMirror },
        { "gzip-labelled plain bytes", S::GzipLabelled, QStringLiteral("*"), false, {} },
        { "broken chunked encoding", S::BrokenChunks, filePath, false, noMirror },
        { "another version's signed ini", S::Serve, iniPath, true,
            QStringLiteral("Could not verify the product ini file on any mirror: The product ini "
                           "is for client_macosx version 3012, not client_macosx version 3013; "
                           "refusing it") },
    };
    constexpr int rowsPerFault = 3;
    QList<Row> rows(std::size(faults) * rowsPerFault);
    std::vector<std::unique_ptr<TestHttpServer>> servers;
    const QList<int> oneGood { faultyTimeoutTicks, faultyTimeoutTicks, 0 };
    const QList<int> allFaulty { faultyTimeoutTicks, faultyTimeoutTicks, faultyTimeoutTicks };
    const QList<int> allPatient { patientTimeoutTicks, patientTimeoutTicks, patientTimeoutTicks };
    const QStringList healthy { nginx->url(0), nginx->url(1), nginx->url(2) };

    // Everything that may fail the test comes before the first run: the runs fill rows.
    QStringList installed;
    for (const auto& fault : faults) {
        servers.push_back(std::make_unique<TestHttpServer>(fault.swappedIni ? swapped : mirror));
        QVERIFY(servers.back()->start());
        servers.back()->setFault(fault.path, fault.fault);
        // 1 byte a second: just often enough to beat the silence time-out.
        servers.back()->setTrickle(1, 1000);
        for (const char* name : { "one-good", "all-faulty" }) {
            installed << install(QLatin1String(name));
            QVERIFY(!installed.constLast().isEmpty());
        }
    }

    for (qsizetype i = 0; i < qsizetype(std::size(faults)); ++i) {
        const auto& fault = faults[i];
        const QString bad = servers.at(i)->url();
        const QString name = QStringLiteral("%1 on %2").arg(QLatin1String(fault.name), fault.path);
        Row* const row = &rows[i * rowsPerFault];
        const auto fill = [name](Row* row, const QString& where, const Run& run) {
            row->fault = name;
            row->where = where;
            row->message = QStringLiteral("exit %1: %2").arg(run.exitCode).arg(shownMessage(run));
            row->peakRssKiB = run.peakRssKiB;
            if (run.peakRssKiB < 0 || run.peakRssKiB > peakRssLimitKiB)
                row->problem = QStringLiteral("peak RSS %1 KiB; ").arg(run.peakRssKiB);
        };

        const QString one = installed.at(2 * i);
        startUpdater(one, { bad, bad, nginx->url(0) }, oneGood, [=](const Run& run) {
            fill(row, QStringLiteral("2 faulty + 1 good"), run);
            const bool exact = run.exitCode == 0 && installation(one) == newSnapshot;
            row->outcome = exact ? QStringLiteral("updated") : QStringLiteral("NOT UPDATED");
            if (!exact)
                row->problem += describe(installation(one), newSnapshot) + QLatin1Char('\n')
                    + run.lines.join(QLatin1Char('\n'));
        });

        const QString all = installed.at(2 * i + 1);
        const QString reason = fault.reason;
        const QList<int>& ticks = !reason.isEmpty() && reason != noMirror ? allPatient : allFaulty;
        startUpdater(all, { bad, bad, bad }, ticks, [=](const Run& run) {
            fill(row + 1, QStringLiteral("3 faulty"), run);
            const Snapshot after = installation(all);
            const bool refused = run.exitCode != 0 && after == oldSnapshot
                && (reason.isEmpty() ? givesReason(run) : givesOnce(run, reason))
                && !run.lines.contains(QStringLiteral("Update successfully finished"));
            // A fault that corrupts nothing may also end in the exact new version.
            const bool harmless = run.exitCode == 0 && after == newSnapshot;
            row[1].outcome = refused ? QStringLiteral("failed, unchanged")
                : harmless           ? QStringLiteral("updated")
                : after == oldSnapshot ? (givesReason(run) ? QStringLiteral("WRONG REASON")
                                                           : QStringLiteral("NO REASON GIVEN"))
                                       : QStringLiteral("BROKEN");
            if (!refused && !harmless)
                row[1].problem += describe(after, oldSnapshot) + QLatin1Char('\n')
                    + run.lines.join(QLatin1Char('\n'));

            startUpdater(all, healthy, {}, [=](const Run& run) {
                fill(row + 2, QStringLiteral("then 3 good"), run);
                const bool exact = run.exitCode == 0 && installation(all) == newSnapshot;
                row[2].outcome = exact ? QStringLiteral("updated") : QStringLiteral("NOT UPDATED");
                if (!exact)
                    row[2].problem += describe(installation(all), newSnapshot)
                        + QLatin1Char('\n') + run.lines.join(QLatin1Char('\n'));
            });
        });
    }
    QVERIFY(waitForRuns());
    QVERIFY(report("Mirror faults in whole unattended runs", rows));
}

// Releases whose product ini is validly signed but names what no release tool would write:
// refused with a reason and the installation unchanged, or applied without touching anything
// outside the installation. The ini of each is written by hand, as an attacker holding a
// signed ini of their own making (or a vendor's broken tool) would.
void TestFaultMatrix::hostileReleases()
{
    const QByteArray header = "version=3013\ntype=client_macosx\n";
    const QByteArray text = "hostile content\n";
    const QByteArray zeros(64 << 20, '\0');
    // 64 MiB of zeros in a gzip of some 64 KiB, listed as unpacking to 1000 bytes.
    const QByteArray bomb = TestFiles::gzipped(zeros);
    const QByteArray packedText = TestFiles::gzipped("packed content\n");
    const QByteArray fileList = sha256(text) + "  files/data/listed.txt\n";
    // A valid list, padded with a comment line past the 16 MiB a list may have.
    const QByteArray hugeList = fileList + "#" + QByteArray(17 << 20, 'x') + "\n";
    QByteArray manyEntries = "[delete]\n";
    for (int i = 0; i < 20000; ++i)
        manyEntries += "gone\\f" + QByteArray::number(i) + ".txt=\n";
    const QString outside = work->filePath(QStringLiteral("outside"));
    const QString victim = outside + QStringLiteral("/victim.txt");

    const struct
    {
        const char* name;
        // Below the header; the mirror serves files[path] at 3013/<path>.
        QByteArray ini;
        QMap<QString, QByteArray> files;
        // Planted in the installation first: its path below the root -> where it points.
        QString link;
        QString linkTarget;
        // What an installation that took the release safely holds beyond the old version
        // (path below the bundle -> content); empty: it must be refused.
        QList<QMap<QString, QByteArray>> applied;
        // The reason a refusal gives, exactly and once; empty where it names a temporary path.
        QString reason;
    } releases[] = {
        { "../ in a name", "[files]\n..\\..\\..\\..\\escaped-key.txt=" + listed(text) + "\n",
            { { QStringLiteral("escaped-key.txt"), text } }, {}, {}, {},
            QStringLiteral("The update plan was refused: product ini contains unsafe path "
                           "../../../../escaped-key.txt in section files") },
        { "../ in an unpacked name",
            "[files]\np.gz=" + listed(packedText) + "::" + listed("packed content\n")
                + "::../../../../escaped-unpacked.txt\n",
            { { QStringLiteral("files/p.gz"), packedText } }, {}, {}, {},
            QStringLiteral("The update plan was refused: product ini contains unsafe path "
                           "../../../../escaped-unpacked.txt in section files") },
        { "absolute unpacked name",
            "[files]\np.gz=" + listed(packedText) + "::" + listed("packed content\n")
                + "::" + work->filePath(QStringLiteral("escaped-absolute.txt")).toUtf8() + "\n",
            { { QStringLiteral("files/p.gz"), packedText } }, {}, {}, {}, {} },
        { "backslashes in a name",
            "[files]\np.gz=" + listed(packedText) + "::" + listed("packed content\n")
                + "::..\\\\..\\\\..\\\\..\\\\escaped-backslash.txt\n",
            { { QStringLiteral("files/p.gz"), packedText } }, {}, {}, {}, {} },
        { "control character in a name",
            "[files]\ndata\\evil%0Aname.txt=" + listed(text) + "\n",
            { { QStringLiteral("files/data/evil\nname.txt"), text } }, {}, {}, {},
            QStringLiteral("The update plan was refused: product ini contains unsafe path "
                           "data/evil\\nname.txt in section files") },
        { "symlink to a folder outside",
            "[files]\ndata\\link\\victim.txt=" + listed(text) + "\n",
            { { QStringLiteral("files/data/link/victim.txt"), text } },
            QStringLiteral("data/link"), outside,
            { { { QStringLiteral("Contents/Resources/data/link/victim.txt"), text } } }, {} },
        { "symlink to a file outside",
            "[files]\ndata\\config.xml=" + listed(text) + "\n",
            { { QStringLiteral("files/data/config.xml"), text } },
            QStringLiteral("data/config.xml"), victim,
            { { { QStringLiteral("Contents/Resources/data/config.xml"), text } } }, {} },
        { "two entries, one destination",
            "[files]\ndata\\dup.txt=" + listed(text) + "\np.gz=" + listed(packedText)
                + "::" + listed("packed content\n") + "::data/dup.txt\n",
            { { QStringLiteral("files/data/dup.txt"), text },
                { QStringLiteral("files/p.gz"), packedText } },
            {}, {}, {},
            QStringLiteral("The update plan was refused: product ini installs data/dup.txt twice "
                           "(section files)") },
        { "gzip bomb",
            "[files]\nbomb.gz=" + listed(bomb) + "::" + listed(zeros.left(1000))
                + "::data/bomb.bin\n",
            { { QStringLiteral("files/bomb.gz"), bomb } }, {}, {}, {}, {} },
        { "30 MB ini",
            "[files]\ndata\\big-ini.txt=" + listed(text) + "\n;" + QByteArray(30 << 20, 'x')
                + "\n",
            { { QStringLiteral("files/data/big-ini.txt"), text } }, {}, {}, {},
            QStringLiteral("client_macosx.ini on the mirrors is larger than the limit of 16 MiB") },
        { "file list that does not match the ini",
            "sha256sums=" + sha256("another list") + "\n[files]\ndata\\listed.txt=" + listed(text)
                + "\n",
            { { QStringLiteral("files/data/listed.txt"), text },
                { QStringLiteral("client_macosx.ini.sha256"), fileList } },
            {}, {}, {},
            QStringLiteral("The file list of the product ini failed its check on mirror0, and no "
                           "other mirror is left") },
        { "malformed file list",
            "sha256sums=" + sha256("not a list\n") + "\n[files]\ndata\\listed.txt=" + listed(text)
                + "\n",
            { { QStringLiteral("files/data/listed.txt"), text },
                { QStringLiteral("client_macosx.ini.sha256"), "not a list\n" } },
            {}, {}, {},
            QStringLiteral("The file list of the product ini is malformed; refusing it") },
        { "17 MiB file list",
            "sha256sums=" + sha256(hugeList) + "\n[files]\ndata\\listed.txt=" + listed(text) + "\n",
            { { QStringLiteral("files/data/listed.txt"), text },
                { QStringLiteral("client_macosx.ini.sha256"), hugeList } },
            {}, {}, {},
            QStringLiteral(
                "client_macosx.ini.sha256 on the mirrors is larger than the limit of 16 MiB") },
        { "20,000 entries",
            "[files]\ndata\\many.txt=" + listed(text) + "\n" + manyEntries,
            { { QStringLiteral("files/data/many.txt"), text } }, {}, {},
            { { { QStringLiteral("Contents/Resources/data/many.txt"), text } } }, {} },
    };

    // Everything that may fail the test comes before the first run: the runs fill rows.
    QList<Row> rows(std::size(releases));
    std::vector<std::unique_ptr<TestHttpServer>> servers;
    QStringList roots;
    for (qsizetype i = 0; i < qsizetype(std::size(releases)); ++i) {
        const auto& release = releases[i];
        const QString served = work->filePath(QStringLiteral("hostile%1").arg(i));
        const QString ini = served + QStringLiteral("/3013/client_macosx.ini");
        QVERIFY(TestFiles::write(ini, header + release.ini));
        QVERIFY(sign(ini));
        for (auto it = release.files.cbegin(); it != release.files.cend(); ++it)
            QVERIFY(TestFiles::write(served + QStringLiteral("/3013/") + it.key(), it.value()));
        servers.push_back(std::make_unique<TestHttpServer>(served));
        QVERIFY(servers.back()->start());
        roots << install(QStringLiteral("hostile"));
        QVERIFY(!roots.constLast().isEmpty());
        if (!release.link.isEmpty()) {
            const QString link = roots.constLast() + QLatin1Char('/') + release.link;
            QFile::remove(link);
            QVERIFY(QFile::link(release.linkTarget, link));
        }
    }
    QVERIFY(TestFiles::write(victim, "the victim's own content"));
    const Snapshot outsideBefore = snapshot(outside, {});

    for (qsizetype i = 0; i < qsizetype(std::size(releases)); ++i) {
        const auto& release = releases[i];
        const QString root = roots.at(i);
        const Snapshot before = installation(root);
        QList<Snapshot> safe;
        for (const auto& changes : release.applied) {
            Snapshot expected = before;
            for (auto it = changes.cbegin(); it != changes.cend(); ++it)
                expected.insert(it.key(),
                    { QCryptographicHash::hash(it.value(), QCryptographicHash::Md5).toHex(),
                        0644 });
            safe << expected;
        }
        Row* const row = &rows[i];
        row->fault = QLatin1String(release.name);
        row->where = QStringLiteral("signed ini");
        const QString reason = release.reason;
        startUpdater(root, { servers.at(i)->url() }, {}, [=](const Run& run) {
            row->message = QStringLiteral("exit %1: %2").arg(run.exitCode).arg(shownMessage(run));
            row->peakRssKiB = run.peakRssKiB;
            if (run.peakRssKiB < 0 || run.peakRssKiB > peakRssLimitKiB)
                row->problem = QStringLiteral("peak RSS %1 KiB; ").arg(run.peakRssKiB);
            const Snapshot after = installation(root);
            const bool refused = run.exitCode != 0 && after == before
                && (reason.isEmpty() ? givesReason(run) : givesOnce(run, reason));
            const bool applied = run.exitCode == 0 && safe.contains(after);
            row->outcome = refused ? QStringLiteral("refused, unchanged")
                : applied          ? QStringLiteral("applied safely")
                : after == before  ? (givesReason(run) ? QStringLiteral("WRONG REASON")
                                                       : QStringLiteral("NO REASON GIVEN"))
                                   : QStringLiteral("BROKEN");
            if (!refused && !applied)
                row->problem += describe(after, before) + QLatin1Char('\n')
                    + run.lines.join(QLatin1Char('\n'));
        });
    }
    QVERIFY(waitForRuns());
    // Nothing outside the installations: no escaped file, the link's target untouched.
    // (A name with four ".." leaves the installation's root for the work folder, and the
    // session folder for the one above.)
    const QStringList escaped = QDir(work->path()).entryList({ QStringLiteral("escaped-*") })
        + QDir(work->filePath(QStringLiteral(".."))).entryList({ QStringLiteral("escaped-*") });
    QVERIFY(report("Hostile releases with a valid signature", rows));
    QVERIFY2(escaped.isEmpty(), qPrintable(escaped.join(QLatin1Char(' '))));
    QVERIFY2(snapshot(outside, {}) == outsideBefore,
        qPrintable(describe(snapshot(outside, {}), outsideBefore)));
}

QTEST_GUILESS_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"
