#include "nginxmirrors.h"
#include "programenvironment.h"
#include "releasefixture.h"
#include "testfiles.h"
#include "xvfbdisplay.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <functional>
#include <memory>

namespace {

const QString oldVersion = QStringLiteral("3012");
const QString newVersion = QStringLiteral("3013");
const QString clientType = QStringLiteral("client_macosx");
// A name the updater keeps an "_old_" copy of until its next start.
const QString specialFile = QStringLiteral("lib/libqjpeg.so");
// What the healthy run is traced for, to choose the points from.
const QString probedCalls = QStringLiteral(
    "write,openat,rename,renameat,renameat2,link,linkat,unlink,unlinkat,rmdir,mkdir,mkdirat,"
    "fsync,fdatasync,syncfs,chmod,fchmod,fchmodat,ftruncate");
// The calls that move an interrupted update's files back or forward.
const QString recoveryCalls = QStringLiteral("rename,renameat,renameat2,unlink,unlinkat,rmdir");
// Each run waits for its automatic start: the points run side by side, each in a folder of its
// own, the machine's two cores stay busy.
constexpr int parallelPoints = 12;

// Undo: after a failure that the run undoes; Recovery: a start that recovers a journal, until
// the journal goes.
enum class Phase { Download, Replacement, Commit, Deletion, Finish, Undo, Recovery };

const char* phaseName(Phase phase)
{
    switch (phase) {
    case Phase::Download:
        return "download";
    case Phase::Replacement:
        return "replacement";
    case Phase::Commit:
        return "commit";
    case Phase::Deletion:
        return "deletion";
    case Phase::Finish:
        return "finish";
    case Phase::Undo:
        return "undo";
    case Phase::Recovery:
        return "recovery";
    }
    return "";
}

// One system call of the healthy run.
struct Call
{
    QString name;
    // Among the calls of its name in its thread, from 1: strace counts injections that way.
    int ordinal;
    Phase phase;
    QString line;
    // Set for the writes of the file writes: ordinal then counts the writes to that file
    // (strace -P counts only those).
    QString file;
};

// Where a run is broken, and what comes after it.
struct Point
{
    QString name;
    // strace options of the broken run.
    QStringList fault;
    // strace options of a second run that is killed while it recovers the first's journal;
    // empty: none.
    QStringList recoveryFault;
};

struct Row
{
    QString point;
    QString happened;
    QString afterFault;
    QString afterOffline;
    QString afterHealthy;
    QString litter;
    bool killed = false;
    bool ok = true;
};

struct RunResult
{
    bool killed = false;
    int exitCode = -1;
    QString lastLine;
};

// The call an injection hit in the trace a broken run wrote (strace -y), with the file it
// names relative to dir, e.g. "unlink Corvanta.app/Contents/Resources/data/_old_big.bin";
// empty when none was hit.
QString injectedCall(const QString& traceFile, const QString& dir)
{
    // A call on a descriptor names its file in <>, a call on a path in quotes.
    static const QRegularExpression onFile(QStringLiteral("^\\d+ +([a-z0-9_]+)\\(\\d+<([^>]+)>"));
    static const QRegularExpression onPath(QStringLiteral("^\\d+ +([a-z0-9_]+)\\([^\"]*\"([^\"]+)\""));
    const QList<QByteArray> lines = TestFiles::read(traceFile).split('\n');
    // The kill comes after the failure it follows.
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        QString line = QString::fromUtf8(*it);
        if (!line.endsWith(QLatin1String("= ?")) && !line.endsWith(QLatin1String("(INJECTED)")))
            continue;
        // "1234 <... unlink resumed>) = ?": the call began on the thread's "<unfinished ...>".
        if (line.contains(QLatin1String(" resumed>"))) {
            const QString thread = line.section(QLatin1Char(' '), 0, 0) + QLatin1Char(' ');
            for (auto begun = it; begun != lines.crend(); ++begun) {
                const QString earlier = QString::fromUtf8(*begun);
                if (earlier.startsWith(thread) && earlier.endsWith(QLatin1String("<unfinished ...>"))) {
                    line = earlier;
                    break;
                }
            }
        }
        QRegularExpressionMatch match = onFile.match(line);
        if (!match.hasMatch())
            match = onPath.match(line);
        if (!match.hasMatch())
            return line.left(60);
        QString path = match.captured(2);
        path.remove(dir + QLatin1Char('/'));
        path.remove(QStringLiteral("Corvanta.app/Contents/Resources/"));
        return match.captured(1) + QLatin1Char(' ') + path;
    }
    return QString();
}

QStringList injectionOnly(const QString& call, const QString& action, int when)
{
    return { QStringLiteral("-e"), QStringLiteral("inject=%1:%2:when=%3").arg(call, action).arg(when) };
}

// A later "-e trace=" replaces an earlier one: a run traces only what it injects into.
QStringList injection(const QString& call, const QString& action, int when)
{
    return QStringList { QStringLiteral("-e"), QStringLiteral("trace=") + call }
        + injectionOnly(call, action, when);
}

} // namespace

// The promise an update makes to an installation, tried on the whole program: broken off by
// SIGKILL or by a failing system call at points spread over the download, the replacement, the
// commit, the deletion and the end of a run, and while a later run recovers or a failed run
// undoes, every installed file is whole (its old or its new content), the next run without
// mirrors leaves exactly the old or exactly the new version, and the next run with mirrors
// exactly the new one, with nothing left behind. One table per kind of break, printed before
// the verdict so that it is there when a row fails.
class TestKillMatrix : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void killedAnywhere();
    void failedCalls();
    void killedWhileRecovering();
    void killedWhileUndoing();

private:
    void writeTree(const QString& dir, const QString& version);
    // A run under strace with the injections given (none: a healthy run): its calls, with the
    // phase each falls in, into found. A broken run with the strace options before comes first
    // where they are given, and the traced run recovers after it.
    bool probe(const QString& name, const QStringList& injections, QList<Call>* found,
        const QStringList& before = {}, QList<Call>* fileWrites = nullptr);
    // The point that breaks the run at call.
    static Point pointAt(const Call& call, const QString& action, const QString& label);
    // Evenly spread over the calls of phase that match; at most count of them.
    QList<Call> pick(Phase phase, int count, const std::function<bool(const Call&)>& match,
        const QList<Call>& from) const;
    QList<Call> pick(Phase phase, int count, const std::function<bool(const Call&)>& match) const
    {
        return pick(phase, count, match, calls);
    }
    // The first call of the phase by that name whose line contains part, or the last.
    Call find(Phase phase, const QString& name, const QString& part, bool last = false) const;
    // The first write of the phase to a file whose line contains part.
    Call findWrite(Phase phase, const QString& part) const;
    QList<Row> runPoints(const QList<Point>& points);
    Row runPoint(const Point& point, const QString& dir) const;
    RunResult runUpdater(const QString& dir, const QStringList& straceOptions) const;
    // "old", "new", or what is wrong; every installed name whole when whole is set.
    QString stateOf(const QString& dir, bool* exact, bool* whole) const;
    QString litterOf(const QString& dir) const;
    static bool report(const char* title, const QList<Row>& rows);

    XvfbDisplay display;
    QTemporaryDir work;
    std::unique_ptr<NginxMirrors> nginx;
    QString pristine;
    Snapshot oldSnapshot;
    Snapshot newSnapshot;
    QList<Call> calls;
    QList<Call> fileWrites;
    int pointCount = 0;
};

void TestKillMatrix::initTestCase()
{
    if (NginxMirrors::program().isEmpty())
        QFAIL("nginx is missing: run scripts/setup");
    if (QStandardPaths::findExecutable(QStringLiteral("strace")).isEmpty())
        QFAIL("strace is missing: run scripts/setup");
    QVERIFY2(display.start(), "Xvfb is missing: run scripts/setup");
    QVERIFY(work.isValid());
    // nginx workers of another user must be able to read the mirror folder.
    QVERIFY(QFile::setPermissions(work.path(),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
            | QFile::ReadOther | QFile::ExeOther));

    writeTree(work.filePath(QStringLiteral("release/") + oldVersion), oldVersion);
    writeTree(work.filePath(QStringLiteral("release/") + newVersion), newVersion);
    QVERIFY(publish(work.path(), newVersion, oldVersion,
        { QStringLiteral("libcore.dylib"), QStringLiteral("packed.txt") }, &newSnapshot));
    QVERIFY(QDir().mkpath(work.filePath(QStringLiteral("nginx"))));
    nginx = std::make_unique<NginxMirrors>(
        work.filePath(QStringLiteral("nginx")), work.filePath(QStringLiteral("mirror")));
    QVERIFY(nginx->start(3));

    // The installation every point starts from, copied for each.
    pristine = work.filePath(QStringLiteral("pristine"));
    const QString app = pristine + QStringLiteral("/Corvanta.app");
    QVERIFY(layOut(work.filePath(QStringLiteral("release/") + oldVersion), app));
    const QString root = app + QStringLiteral("/Contents/Resources");
    const QString programDir = root + QStringLiteral("/Updater.app/Contents/MacOS");
    QVERIFY(QDir().mkpath(programDir));
    QVERIFY(
        QFile::copy(QStringLiteral(CRV_UPDATE_PROGRAM), programDir + QStringLiteral("/update")));
    writeMirrorList(root, { nginx->url(0), nginx->url(1), nginx->url(2) });
    QVERIFY(QDir().mkpath(pristine + QStringLiteral("/tmp")));
    QVERIFY(ProgramEnvironment::installOpener(pristine + QStringLiteral("/bin")));
    QVERIFY(layOut(work.filePath(QStringLiteral("release/") + oldVersion),
        work.filePath(QStringLiteral("expected-old"))));
    oldSnapshot = snapshot(work.filePath(QStringLiteral("expected-old")), {});

    QVERIFY(probe(QStringLiteral("probe"), {}, &calls, {}, &fileWrites));
}

void TestKillMatrix::writeTree(const QString& dir, const QString& version)
{
    const bool next = version == newVersion;
    const quint32 seed = version.toUInt();
    const QString files = dir + QStringLiteral("/files/");
    QVERIFY(TestFiles::write(files + QStringLiteral("data/readme.txt"), "the same in both", 0644));
    QVERIFY(TestFiles::write(files + QStringLiteral("data/config.xml"),
        "<config version=\"" + version.toLatin1() + "\"/>", 0644));
    QVERIFY(TestFiles::write(
        files + QStringLiteral("data/big.bin"), TestFiles::noise(1 << 20, seed), 0644));
    QVERIFY(TestFiles::write(
        files + QStringLiteral("lib/libcore.dylib"), TestFiles::noise(200000, seed), 0755));
    QVERIFY(TestFiles::write(files + specialFile, TestFiles::noise(3000, seed + 1), 0755));
    QVERIFY(TestFiles::write(files + QStringLiteral("data/packed.txt"),
        QByteArray(50000, char('a' + seed % 7)), 0600));
    for (int i = 0; i < 6; ++i)
        QVERIFY(TestFiles::write(files + QStringLiteral("data/many/f%1.txt").arg(i),
            version.toLatin1() + QByteArray(i * 300, 'm'), i % 2 ? 0640 : 0644));
    QVERIFY(TestFiles::write(dir + QStringLiteral("/bin/MacOS/crvclient_mac"),
        "#!/bin/sh\necho " + version.toLatin1() + "\n", 0755));
    if (next) {
        QVERIFY(TestFiles::write(
            files + QStringLiteral("data/added.bin"), TestFiles::noise(5000, 9), 0644));
        QVERIFY(TestFiles::write(files + QStringLiteral("fresh/sub/new.txt"), "a new folder", 0644));
    } else {
        QVERIFY(TestFiles::write(files + QStringLiteral("data/obsolete.txt"), "only in the old", 0644));
        QVERIFY(TestFiles::write(files + QStringLiteral("gone/old.txt"), "a folder that goes", 0644));
    }
}

bool TestKillMatrix::probe(const QString& name, const QStringList& injections, QList<Call>* found,
    const QStringList& before, QList<Call>* fileWrites)
{
    const QString dir = work.filePath(name);
    const QString trace = dir + QStringLiteral(".trace");
    QProcess copy;
    copy.start(QStringLiteral("cp"), { QStringLiteral("-a"), pristine, dir });
    if (!copy.waitForFinished(30000) || copy.exitCode() != 0)
        return false;
    if (!before.isEmpty() && !runUpdater(dir, before).killed)
        return false;
    const RunResult run = runUpdater(dir,
        QStringList { QStringLiteral("-y"), QStringLiteral("-o"), trace, QStringLiteral("-e"),
            QStringLiteral("trace=") + probedCalls }
            + injections);
    if (run.killed || (injections.isEmpty() && before.isEmpty() && run.exitCode != 0)) {
        qWarning("the traced run failed: %s", qPrintable(run.lastLine));
        return false;
    }

    // "1234 renameat2(AT_FDCWD</...>, ..." starts a call; "1234 <... renameat2 resumed>" ends
    // one that another thread's line interrupted.
    static const QRegularExpression start(QStringLiteral("^(\\d+) +([a-z0-9_]+)\\("));
    QHash<QString, int> counts;
    // The first line at which some thread makes its n-th call of a name: an injection at n
    // breaks the run there.
    QHash<QString, int> firstReached;
    Phase phase = before.isEmpty() ? Phase::Download : Phase::Recovery;
    const QString journal = QStringLiteral("/update.journal");
    const QList<QByteArray> lines = TestFiles::read(trace).split('\n');
    QList<QPair<int, Call>> seen;
    for (int index = 0; index < lines.size(); ++index) {
        const QString line = QString::fromUtf8(lines.at(index));
        const QRegularExpressionMatch match = start.match(line);
        if (!match.hasMatch())
            continue;
        const QString name = match.captured(2);
        const int ordinal = ++counts[match.captured(1) + QLatin1Char(' ') + name];
        const QString reached = name + QLatin1Char('#') + QString::number(ordinal);
        if (!firstReached.contains(reached))
            firstReached.insert(reached, index);
        // The opener that starts the client writes below the folder too: it is no part of
        // the update.
        if (!line.contains(dir) || line.contains(QStringLiteral("opener-called")))
            continue;
        const bool toJournal = line.contains(journal + QLatin1Char('>'));
        if (phase == Phase::Recovery) {
            if (name.startsWith(QLatin1String("unlink")) && line.contains(journal + QLatin1Char('"'))) {
                seen.append({ index, { name, ordinal, phase, line, QString() } });
                break;
            }
        } else if (line.contains(QStringLiteral("(INJECTED)")))
            phase = Phase::Undo;
        else if (phase == Phase::Download && toJournal && name == QLatin1String("write"))
            phase = Phase::Replacement;
        // The commit begins with the flush of everything it stands for.
        else if (phase == Phase::Replacement
            && (name == QLatin1String("syncfs")
                || (toJournal && line.contains(QStringLiteral("\"commit")))))
            phase = Phase::Commit;
        else if (phase == Phase::Commit && name.startsWith(QLatin1String("unlink")))
            phase = Phase::Deletion;
        else if (phase == Phase::Deletion && name.startsWith(QLatin1String("unlink"))
            && line.contains(journal + QLatin1Char('"')))
            phase = Phase::Finish;
        seen.append({ index, { name, ordinal, phase, line, QString() } });
        static const QRegularExpression written(QStringLiteral("^\\d+ +write\\(\\d+<([^>]+)>"));
        const QRegularExpressionMatch file = written.match(line);
        if (file.hasMatch() && fileWrites) {
            const QString path = file.captured(1);
            // strace counts per thread too.
            const int written = ++counts[match.captured(1) + QStringLiteral(" file ") + path];
            fileWrites->append({ name, written, phase, line, path });
        }
    }
    // Only calls that no other thread's call of the same count comes before: the others would
    // break the run somewhere else.
    for (const auto& [index, call] : std::as_const(seen)) {
        if (firstReached.value(call.name + QLatin1Char('#') + QString::number(call.ordinal)) == index)
            found->append(call);
    }
    const QList<Phase> phases = !before.isEmpty() ? QList<Phase> { Phase::Recovery }
        : injections.isEmpty()
        ? QList<Phase> { Phase::Download, Phase::Replacement, Phase::Commit, Phase::Deletion,
              Phase::Finish }
        : QList<Phase> { Phase::Undo };
    for (const Phase phase : phases) {
        const auto inPhase = std::count_if(
            found->cbegin(), found->cend(), [&](const Call& call) { return call.phase == phase; });
        qInfo("%s: %lld calls in the %s", qPrintable(name), qlonglong(inPhase), phaseName(phase));
        if (inPhase == 0)
            return false;
    }
    return true;
}

QList<Call> TestKillMatrix::pick(Phase phase, int count,
    const std::function<bool(const Call&)>& match, const QList<Call>& from) const
{
    QList<Call> candidates;
    for (const Call& call : from) {
        if (call.phase == phase && match(call))
            candidates.append(call);
    }
    QList<Call> picked;
    for (int i = 0; i < count && i < candidates.size(); ++i) {
        const Call& call = candidates.at(qsizetype(i) * candidates.size() / count);
        const bool known = std::any_of(picked.cbegin(), picked.cend(), [&](const Call& other) {
            return other.name == call.name && other.ordinal == call.ordinal
                && other.file == call.file;
        });
        if (!known)
            picked.append(call);
    }
    return picked;
}

Call TestKillMatrix::find(Phase phase, const QString& name, const QString& part, bool last) const
{
    Call found { name, 0, phase, QString(), QString() };
    for (const Call& call : calls) {
        if (call.phase == phase && call.name == name && call.line.contains(part)) {
            found = call;
            if (!last)
                break;
        }
    }
    // The calls of threads that raced others are left out of the probe: another call of the
    // kind in the phase is as good.
    if (found.ordinal == 0 && !part.isEmpty())
        return find(phase, name, QString(), last);
    return found;
}

Call TestKillMatrix::findWrite(Phase phase, const QString& part) const
{
    for (const Call& call : fileWrites) {
        if (call.phase == phase && call.line.contains(part))
            return call;
    }
    return { QStringLiteral("write"), 0, phase, QString(), QString() };
}

Point TestKillMatrix::pointAt(const Call& call, const QString& action, const QString& label)
{
    Point point;
    point.name = QStringLiteral("%1: %2 at %3 #%4")
                     .arg(QLatin1String(phaseName(call.phase)), label, call.name)
                     .arg(call.ordinal);
    point.fault = injection(call.name, action, call.ordinal);
    if (!call.file.isEmpty()) {
        point.name += QStringLiteral(" to ") + QFileInfo(call.file).fileName();
        point.fault = QStringList { QStringLiteral("-P"), call.file } + point.fault;
    }
    return point;
}

RunResult TestKillMatrix::runUpdater(const QString& dir, const QStringList& straceOptions) const
{
    QProcessEnvironment environment = ProgramEnvironment::make(
        display, dir + QStringLiteral("/tmp"), dir + QStringLiteral("/bin"));
    const QString program = dir
        + QStringLiteral("/Corvanta.app/Contents/Resources/Updater.app/Contents/MacOS/update");
    const QStringList arguments { QStringLiteral("--nouser"), clientType, newVersion };
    QProcess process;
    if (straceOptions.isEmpty()) {
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
    } else {
        // The leak checker cannot run in a traced process.
        const QString asan = environment.value(QStringLiteral("ASAN_OPTIONS"));
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
            asan + (asan.isEmpty() ? "" : ":") + QStringLiteral("detect_leaks=0"));
        process.setProcessEnvironment(environment);
        QStringList options { QStringLiteral("-f"), QStringLiteral("-qq") };
        if (!straceOptions.contains(QStringLiteral("-o")))
            options << QStringLiteral("-o") << QStringLiteral("/dev/null");
        process.start(QStringLiteral("strace"),
            options + straceOptions + QStringList { program } + arguments);
    }
    RunResult result;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        result.lastLine = QStringLiteral("hung");
        return result;
    }
    // strace ends the way its tracee ended.
    result.killed = process.exitStatus() == QProcess::CrashExit;
    result.exitCode = result.killed ? -1 : process.exitCode();
    const QStringList lines = QString::fromUtf8(process.readAllStandardOutput())
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    result.lastLine = lines.isEmpty() ? QString() : lines.constLast();
    return result;
}

QString TestKillMatrix::stateOf(const QString& dir, bool* exact, bool* whole) const
{
    const QStringList skipped { QStringLiteral("Contents/Resources/Updater.app/"),
        QStringLiteral("Contents/Resources/mirrors.ini"),
        QStringLiteral("Contents/Resources/update."),
        QStringLiteral("Contents/Resources/lib/_old_libqjpeg.so") };
    const Snapshot actual = snapshot(dir + QStringLiteral("/Corvanta.app"), skipped);
    *exact = actual == oldSnapshot || actual == newSnapshot;
    *whole = true;
    if (*exact)
        return QLatin1String(actual == oldSnapshot ? "old" : "new");
    QStringList keys = oldSnapshot.keys() + newSnapshot.keys();
    keys.removeDuplicates();
    int newer = 0;
    QStringList broken;
    for (const QString& key : std::as_const(keys)) {
        const auto has = [&](const Snapshot& tree) {
            return tree.contains(key) == actual.contains(key)
                && (!tree.contains(key) || tree.value(key) == actual.value(key));
        };
        if (has(newSnapshot) && !has(oldSnapshot))
            ++newer;
        else if (!has(oldSnapshot) && !has(newSnapshot))
            broken << key;
    }
    if (!broken.isEmpty()) {
        *whole = false;
        return QStringLiteral("BROKEN ") + broken.join(QLatin1Char(','));
    }
    return QStringLiteral("whole files, %1 of %2 new").arg(newer).arg(keys.size());
}

QString TestKillMatrix::litterOf(const QString& dir) const
{
    QStringList litter;
    const QString app = dir + QStringLiteral("/Corvanta.app");
    QDirIterator it(app, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    static const QRegularExpression settingsTemp(QStringLiteral("^update\\.ini\\..+"));
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = it.fileName();
        const bool oldCopy = name.startsWith(QLatin1String("_old_"))
            && name != QLatin1String("_old_") + QFileInfo(specialFile).fileName();
        if (oldCopy || name.startsWith(QLatin1String(".new_"))
            || name.startsWith(QLatin1String("update.journal"))
            || name == QLatin1String("update.statcache.new") || settingsTemp.match(name).hasMatch())
            litter << QDir(app).relativeFilePath(path);
    }
    const QStringList sessions = QDir(dir + QStringLiteral("/tmp"))
                                     .entryList({ QStringLiteral("corvanta_temp_*") },
                                         QDir::AllEntries | QDir::Hidden);
    for (const QString& session : sessions)
        litter << QStringLiteral("tmp/") + session;
    QSettings ini(app + QStringLiteral("/Contents/Resources/update.ini"), QSettings::IniFormat);
    if (ini.childGroups().contains(QStringLiteral("current")))
        litter << QStringLiteral("[current]");
    return litter.join(QLatin1Char(','));
}

Row TestKillMatrix::runPoint(const Point& point, const QString& dir) const
{
    Row row;
    row.point = point.name;
    QProcess copy;
    copy.start(QStringLiteral("cp"), { QStringLiteral("-a"), pristine, dir });
    if (!copy.waitForFinished(30000) || copy.exitCode() != 0) {
        row.happened = QStringLiteral("could not copy the installation");
        row.ok = false;
        return row;
    }
    const QString root = dir + QStringLiteral("/Corvanta.app/Contents/Resources");
    const QString journal = root + QStringLiteral("/update.journal");
    const auto describeRun = [](const RunResult& run) {
        return (run.killed ? QStringLiteral("killed") : QStringLiteral("exit %1").arg(run.exitCode))
            + QStringLiteral(" after \"") + run.lastLine.left(40) + QLatin1Char('"');
    };

    const QString trace = dir + QStringLiteral(".trace");
    // A file a point names (strace -P) is the probe's: the same file in this installation.
    QStringList fault = point.fault;
    for (QString& option : fault)
        option.replace(work.filePath(QStringLiteral("probe/")), dir + QLatin1Char('/'));
    const RunResult broken = runUpdater(
        dir, QStringList { QStringLiteral("-y"), QStringLiteral("-o"), trace } + fault);
    row.killed = broken.killed;
    const QString hit = injectedCall(trace, dir);
    row.happened = (hit.isEmpty() ? QStringLiteral("not hit") : hit) + QStringLiteral(", ")
        + describeRun(broken);
    bool exact = false;
    bool whole = false;
    row.afterFault = stateOf(dir, &exact, &whole);
    const bool journalLeft = QFileInfo::exists(journal);
    if (journalLeft)
        row.afterFault += QStringLiteral(" +journal");
    row.ok = whole;
    // A run that ended on its own leaves exactly one version, the new one where it says it
    // succeeded, or else the journal for the next start to settle.
    if (!broken.killed && !exact && !journalLeft)
        row.ok = false;
    if (!broken.killed && broken.exitCode == 0 && row.afterFault.startsWith(QLatin1String("old")))
        row.ok = false;

    if (!point.recoveryFault.isEmpty()) {
        const RunResult recovering = runUpdater(dir, point.recoveryFault);
        row.happened += QStringLiteral("; then ") + describeRun(recovering)
            + (journalLeft ? QStringLiteral(" recovering") : QStringLiteral(" with nothing to recover"));
        row.afterFault += QStringLiteral(" -> ") + stateOf(dir, &exact, &whole);
        if (QFileInfo::exists(journal))
            row.afterFault += QStringLiteral(" +journal");
        row.ok = row.ok && whole;
    }

    writeMirrorList(root, { QStringLiteral("http://127.0.0.1:1") });
    const RunResult offline = runUpdater(dir, {});
    row.afterOffline = stateOf(dir, &exact, &whole)
        + QStringLiteral(" (exit %1)").arg(offline.killed ? -1 : offline.exitCode);
    row.ok = row.ok && exact && !QFileInfo::exists(journal);
    if (QFileInfo::exists(journal))
        row.afterOffline += QStringLiteral(" +journal");

    writeMirrorList(root, { nginx->url(0), nginx->url(1), nginx->url(2) });
    const RunResult healthy = runUpdater(dir, {});
    row.afterHealthy = stateOf(dir, &exact, &whole)
        + QStringLiteral(" (exit %1)").arg(healthy.killed ? -1 : healthy.exitCode);
    row.litter = litterOf(dir);
    row.ok = row.ok && healthy.exitCode == 0 && row.afterHealthy.startsWith(QLatin1String("new "))
        && row.litter.isEmpty();
    return row;
}

QList<Row> TestKillMatrix::runPoints(const QList<Point>& points)
{
    QList<Row> rows(points.size());
    QThreadPool pool;
    pool.setMaxThreadCount(parallelPoints);
    for (qsizetype i = 0; i < points.size(); ++i) {
        const QString dir = work.filePath(QStringLiteral("point%1").arg(pointCount++));
        pool.start([this, &rows, &points, i, dir] { rows[i] = runPoint(points.at(i), dir); });
    }
    pool.waitForDone();
    return rows;
}

bool TestKillMatrix::report(const char* title, const QList<Row>& rows)
{
    qInfo("%s", title);
    qInfo("%-44s | %-100s | %-30s | %-28s | %-14s | %s", "point", "what happened", "after it",
        "offline rerun", "healthy rerun", "litter");
    bool ok = true;
    for (const Row& row : rows) {
        qInfo("%s %-42s | %-100s | %-30s | %-28s | %-14s | %s", row.ok ? "  " : "!!",
            qPrintable(row.point), qPrintable(row.happened), qPrintable(row.afterFault),
            qPrintable(row.afterOffline), qPrintable(row.afterHealthy),
            qPrintable(row.litter.isEmpty() ? QStringLiteral("none") : row.litter));
        ok = ok && row.ok;
    }
    return ok;
}

// SIGKILL before a call, at points spread over every phase of the run.
void TestKillMatrix::killedAnywhere()
{
    const auto ofKind = [](const QStringList& names) {
        return [names](const Call& call) { return names.contains(call.name); };
    };
    // Writes are picked by file: the event loop's writes to its wake-up descriptors vary from
    // run to run. The names of temporary files vary too: those are broken at their other calls.
    const auto toFile = [](const QString& part) {
        return [part](const Call& call) { return call.file.contains(part); };
    };
    const QString journal = QStringLiteral("/update.journal");
    const QStringList others { QStringLiteral("openat"), QStringLiteral("rename"),
        QStringLiteral("renameat"), QStringLiteral("renameat2"), QStringLiteral("link"),
        QStringLiteral("linkat"), QStringLiteral("unlink"), QStringLiteral("unlinkat"),
        QStringLiteral("rmdir"), QStringLiteral("mkdir"), QStringLiteral("mkdirat"),
        QStringLiteral("fsync"), QStringLiteral("fdatasync"), QStringLiteral("syncfs"),
        QStringLiteral("chmod"), QStringLiteral("fchmod"), QStringLiteral("fchmodat"),
        QStringLiteral("ftruncate") };
    const QList<Call> chosen
        = pick(Phase::Download, 3, toFile(QStringLiteral("/corvanta_temp_0/")), fileWrites)
        + pick(Phase::Download, 5, ofKind(others))
        // The journal is written once in the replacement: with every step planned.
        + pick(Phase::Replacement, 1, toFile(journal), fileWrites)
        + pick(Phase::Replacement, 12, ofKind(others))
        + pick(Phase::Commit, 2, toFile(QStringLiteral("/update.")), fileWrites)
        + pick(Phase::Commit, 2, ofKind(others)) + pick(Phase::Deletion, 4, ofKind(others))
        + pick(Phase::Finish, 3, ofKind(others));
    QList<Point> points;
    for (const Call& call : chosen)
        points.append(pointAt(call, QStringLiteral("signal=KILL"), QStringLiteral("kill")));
    const QList<Row> rows = runPoints(points);
    const bool ok = report("SIGKILL at points of a whole run", rows);
    const auto killed
        = std::count_if(rows.cbegin(), rows.cend(), [](const Row& row) { return row.killed; });
    QVERIFY2(killed >= 30, qPrintable(QStringLiteral("only %1 points killed the run").arg(killed)));
    QVERIFY(ok);
}

// A call that fails with an errno the system gives when the disk is full, the device fails, the
// permissions or the descriptors run out: the run reports it and leaves one whole version.
void TestKillMatrix::failedCalls()
{
    const QString session = QStringLiteral("corvanta_temp_0/");
    const QString journal = QStringLiteral("update.journal>");
    // (Writes are picked by file, see killedAnywhere.)
    struct Failure
    {
        Call call;
        const char* error;
    };
    const QList<Failure> failures {
        { findWrite(Phase::Download, session + QStringLiteral("data/big.bin")), "ENOSPC" },
        { findWrite(Phase::Replacement, QStringLiteral("\"crv-rollback-journal")), "ENOSPC" },
        { findWrite(Phase::Commit, QStringLiteral("\"commit")), "ENOSPC" },
        { findWrite(Phase::Commit, QStringLiteral("update.statcache.new")), "EIO" },
        { findWrite(Phase::Finish, QStringLiteral("update.ini.lock")), "ENOSPC" },
        { find(Phase::Replacement, QStringLiteral("fsync"), journal), "EIO" },
        { find(Phase::Commit, QStringLiteral("syncfs"), QString()), "EIO" },
        { find(Phase::Commit, QStringLiteral("fsync"), journal), "EIO" },
        { find(Phase::Replacement, QStringLiteral("linkat"), QStringLiteral("libcore"), true),
            "EIO" },
        { find(Phase::Download, QStringLiteral("mkdir"), session + QStringLiteral("data")),
            "EACCES" },
        { find(Phase::Deletion, QStringLiteral("unlink"), QStringLiteral("_old_")), "EACCES" },
        { find(Phase::Download, QStringLiteral("openat"), session + QStringLiteral("data/added")),
            "EMFILE" },
        { find(Phase::Replacement, QStringLiteral("openat"), QStringLiteral(".new_config")),
            "EMFILE" },
        { find(Phase::Finish, QStringLiteral("openat"), QStringLiteral("update.ini")), "EMFILE" },
    };
    QList<Point> points;
    for (const Failure& failure : failures) {
        QVERIFY2(failure.call.ordinal > 0,
            qPrintable(QStringLiteral("no %1 call in the %2 of the healthy run")
                           .arg(failure.call.name, QLatin1String(phaseName(failure.call.phase)))));
        Point point = pointAt(failure.call, QStringLiteral("error=") + failure.error,
            QLatin1String(failure.error));
        // Only the failing call stops the run: it keeps its pace.
        point.fault.prepend(QStringLiteral("--seccomp-bpf"));
        points.append(point);
    }
    const bool ok = report("Failing system calls in a whole run", runPoints(points));
    QVERIFY(ok);
}

// A run killed in its replacement (nothing committed) or in its deletion step (committed), then
// the next start killed while it recovers the journal, at its n-th call that moves files back or
// forward.
void TestKillMatrix::killedWhileRecovering()
{
    const Call replacing = pick(Phase::Replacement, 2,
        [](const Call& call) { return call.name == QLatin1String("linkat"); }).constLast();
    const Call deleting = find(Phase::Deletion, QStringLiteral("unlink"), QStringLiteral("_old_"), true);
    QVERIFY(replacing.ordinal > 0 && deleting.ordinal > 0);
    QList<Point> points;
    int probes = 0;
    for (const Call& first : { replacing, deleting }) {
        const QStringList killed = injection(first.name, QStringLiteral("signal=KILL"), first.ordinal);
        QList<Call> recovering;
        QVERIFY(probe(QStringLiteral("recovery-probe%1").arg(probes++),
            {}, &recovering, killed));
        // The calls that move or delete a file of the journal (the start-up's own clean-up
        // finds nothing to delete).
        const QList<Call> chosen = pick(Phase::Recovery, 3, [&](const Call& call) {
            return recoveryCalls.split(QLatin1Char(',')).contains(call.name)
                && call.line.endsWith(QLatin1String(" = 0"));
        }, recovering);
        for (const Call& call : chosen) {
            Point point;
            point.name = QStringLiteral("%1 killed, recovery killed at %2 #%3")
                             .arg(QLatin1String(phaseName(first.phase)), call.name)
                             .arg(call.ordinal);
            point.fault = killed;
            point.recoveryFault = injection(call.name, QStringLiteral("signal=KILL"), call.ordinal);
            points.append(point);
        }
    }
    const QList<Row> rows = runPoints(points);
    const bool ok = report("Kills while the next start recovers", rows);
    QVERIFY(points.size() >= 5);
    QVERIFY(ok);
}

// A run whose last replacement fails, killed while it undoes the files it had replaced.
void TestKillMatrix::killedWhileUndoing()
{
    const Call last = find(Phase::Replacement, QStringLiteral("linkat"), QString(), true);
    QVERIFY(last.ordinal > 0);
    QList<Call> undoing;
    QVERIFY(probe(QStringLiteral("undo-probe"),
        injectionOnly(QStringLiteral("linkat"), QStringLiteral("error=EIO"), last.ordinal),
        &undoing));
    const QList<Call> chosen = pick(Phase::Undo, 4, [](const Call& call) {
        return call.name.startsWith(QLatin1String("rename"))
            || call.name.startsWith(QLatin1String("unlink"))
            || call.name == QLatin1String("fsync") || call.name == QLatin1String("syncfs");
    }, undoing);
    QList<Point> points;
    for (const Call& call : chosen) {
        Point point;
        point.name = QStringLiteral("undo: killed at %1 #%2").arg(call.name).arg(call.ordinal);
        // Both injections trace their calls; each counts its own.
        point.fault = QStringList { QStringLiteral("-e"),
            QStringLiteral("trace=linkat,") + call.name, QStringLiteral("-e"),
            QStringLiteral("inject=linkat:error=EIO:when=%1").arg(last.ordinal),
            QStringLiteral("-e"),
            QStringLiteral("inject=%1:signal=KILL:when=%2").arg(call.name).arg(call.ordinal) };
        points.append(point);
    }
    const QList<Row> rows = runPoints(points);
    const bool ok = report("Kills while a failed run undoes", rows);
    QVERIFY(std::all_of(rows.cbegin(), rows.cend(), [](const Row& row) { return row.killed; }));
    QVERIFY(ok);
}

QTEST_GUILESS_MAIN(TestKillMatrix)
#include "tst_killmatrix.moc"
