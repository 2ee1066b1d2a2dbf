#include "configuration.h"
#include "crypt.h"
#include "filecopytaskspecification.h"
#include "filedeletelisttaskspecification.h"
#include "filedeletetaskspecification.h"
#include "filereplacelisttaskspecification.h"
#include "filereplacetaskspecification.h"
#include "filespecifications.h"
#include "forkcheck.h"
#include "installationsynctaskspecification.h"
#include "makedownloadreplacelisttaskspecification.h"
#include "rollbackjournalcommittaskspecification.h"
#include "rollbackjournalfile.h"
#include "statcache.h"
#include "testfiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {
const QString clientType = QStringLiteral("client_macosx");
const QString treeDir = QStringLiteral("tree");
constexpr int fileCount = 50;
constexpr int faultyEntry = 24;
constexpr int faultyPackedEntry = 48;
constexpr rlim_t fileSizeLimit = 1 << 20;
const char* const childOption = "--apply-in-child";
const char* const recoverOption = "--recover-in-child";
// The calls by which an undo changes the installation.
const QString undoCalls = QStringLiteral("rename,renameat,renameat2,unlink,unlinkat,rmdir");
// 0666 and 0775: a file others may write is replaced by one only its owner may write.
const uint installedModes[] = { 0644, 0755, 0600, 0640, 0666, 0775 };
constexpr int modeCount = 6;

struct UpdateRun
{
    qint32 state = TaskSpecification::TaskIdle;
    QStringList messages;
    // Of the replacement (not recorded by a run in a child process).
    QStringList errors;
};

// LeakSanitizer cannot run under a tracer; the rest of the sanitizers can.
QProcessEnvironment tracedEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString asan = environment.value(QStringLiteral("ASAN_OPTIONS"));
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
        asan + (asan.isEmpty() ? "" : ":") + QStringLiteral("detect_leaks=0"));
    return environment;
}

// Ends the child at once, as kill -9 or a crash would: no destructor, no undo, no flush.
[[noreturn]] void die(int = 0)
{
    std::raise(SIGKILL);
    std::abort();
}

// The n-th subtask of type T of a composed task kills the process when it has finished.
template <class T> void dieAfter(const ComposedTaskSpecification& parent, int n)
{
    int seen = 0;
    for (TaskSpecification* task : parent.subTasks) {
        if (qobject_cast<T*>(task) && ++seen == n)
            QObject::connect(task, &TaskSpecification::finished, [] { die(); });
    }
}

// A kill point is "STEP:N": the child dies after the N-th subtask of that step has finished
// ("replaced", "copied", "deleted"), or after the step ("planned", "committed"). A write that
// crosses the file size limit (in the middle of a copy or gunzip) kills it too.
void armKillPoint(const QString& killPoint, ComposedTaskSpecification& step)
{
    const QString what = killPoint.section(QLatin1Char(':'), 0, 0);
    const int n = killPoint.section(QLatin1Char(':'), 1).toInt();
    if (what == QStringLiteral("replaced")
        && qobject_cast<FileReplaceListTaskSpecification*>(&step))
        dieAfter<FileReplaceTaskSpecification>(step, n);
    if (what == QStringLiteral("copied")
        && qobject_cast<FileReplaceListTaskSpecification*>(&step)) {
        // Armed when the list has planned every file, before the first one starts.
        for (TaskSpecification* task : step.subTasks) {
            if (auto* file = qobject_cast<FileReplaceTaskSpecification*>(task))
                dieAfter<FileCopyTaskSpecification>(*file, n);
        }
    }
    if ((what == QStringLiteral("flushed") || what == QStringLiteral("committed"))
        && qobject_cast<FileReplaceListTaskSpecification*>(&step)) {
        // The flush and the commit are added once every file is in place.
        auto armed = std::make_shared<bool>(false);
        QObject::connect(
            &step, &ComposedTaskSpecification::startNextTask, &step, [&step, what, armed] {
                if (*armed || !static_cast<FileReplaceListTaskSpecification&>(step).committing)
                    return;
                *armed = true;
                if (what == QStringLiteral("flushed"))
                    dieAfter<InstallationSyncTaskSpecification>(step, 1);
                else
                    dieAfter<RollbackJournalCommitTaskSpecification>(step, 1);
            });
    }
    if (qobject_cast<FileDeleteListTaskSpecification*>(&step) && what == QStringLiteral("deleted"))
        dieAfter<FileDeleteTaskSpecification>(step, n);
}

void waitForEnd(TaskSpecification& task)
{
    QEventLoop loop;
    QObject::connect(&task, &TaskSpecification::finished, &loop, &QEventLoop::quit);
    QObject::connect(&task, &TaskSpecification::canceled, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    if (task.state == TaskSpecification::TaskRunning)
        loop.exec();
}

// The files steps of one update: plan, replacement, then (after a success) the delete step.
// cancelAt names a product ini key: the user cancels when its replacement starts.
UpdateRun runUpdate(Configuration& configuration, const QString& cancelAt = QString(),
    const QString& killPoint = QString())
{
    UpdateRun run;
    const auto log = [&run](const QString& text) { run.messages.append(text); };
    FileSpecifications plan;
    MakeDownloadReplaceListTaskSpecification planTask(&configuration, plan, nullptr, 0.05);
    QObject::connect(&planTask, &TaskSpecification::message, log);
    planTask.execute();
    waitForEnd(planTask);
    run.state = planTask.state;
    if (run.state != TaskSpecification::TaskFinished)
        return run;

    FileReplaceListTaskSpecification replace(
        &plan.replaceList, &plan.deleteList, &plan.statCache, &configuration, nullptr, 0.4);
    QObject::connect(&replace, &TaskSpecification::message, log);
    QObject::connect(&replace, &TaskSpecification::error,
        [&run](const QString& text) { run.errors.append(text); });
    QObject::connect(&replace, &TaskSpecification::message, [&](const QString& text) {
        if (!cancelAt.isEmpty() && text == QStringLiteral("add/replace %1").arg(cancelAt))
            replace.userCanceled();
    });
    replace.execute();
    armKillPoint(killPoint, replace);
    waitForEnd(replace);
    run.state = replace.state;
    if (run.state != TaskSpecification::TaskFinished)
        return run;

    FileDeleteListTaskSpecification remove(&plan.deleteList, nullptr, 0.05);
    QObject::connect(&remove, &TaskSpecification::message, log);
    remove.execute();
    armKillPoint(killPoint, remove);
    waitForEnd(remove);
    run.state = remove.state;
    return run;
}

int applyInChild(const QString& sessionDir, const QString& killPoint)
{
    crypt_init();
    Configuration configuration;
    configuration.tempDir = sessionDir;
    configuration.clientType = clientType;
    if (!killPoint.isEmpty())
        std::signal(SIGXFSZ, die);
    const UpdateRun run = runUpdate(configuration, QString(), killPoint);
    for (const QString& line : run.messages)
        std::printf("%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
    return run.state;
}

QString md5(const QByteArray& content)
{
    return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex());
}

uint modeOf(const QString& path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? uint(info.st_mode) : 0;
}

// Every entry below dir: its type and permission bits, and a file's bytes.
using Snapshot = QMap<QString, QPair<uint, QByteArray>>;
Snapshot snapshot(const QString& dir)
{
    Snapshot result;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const uint mode = modeOf(path);
        result.insert(QDir(dir).relativeFilePath(path),
            { mode, S_ISREG(mode) ? TestFiles::read(path) : QByteArray() });
    }
    return result;
}

struct Entry
{
    QString key;
    QString destination; // install-relative
    QByteArray newContent;
    bool installed;
    bool packed;
};
}

class tst_FileReplaceList : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void replacesEveryFile();
    void failureRestoresTheInstallation_data();
    void failureRestoresTheInstallation();
    void layoutChange_data();
    void layoutChange();
    void syncsComeInOrder_data();
    void syncsComeInOrder();
    void syncFailure_data();
    void syncFailure();
    void killedRunIsRecovered_data();
    void killedRunIsRecovered();
    void powerCutIsRecovered_data();
    void powerCutIsRecovered();

private:
    void buildInstallation();
    void writeProductIni(const QString& wrongUnpackedMd5Key = QString());
    UpdateRun runInChildWithFileSizeLimit(
        const QString& killPoint = QString(), const QString& traceFile = QString());
    bool killRecoveryAt(int n);
    UpdateRun runInChildTraced(const QStringList& straceOptions, QStringList* trace = nullptr);
    void verifyNewVersion();

    QString root;
    std::unique_ptr<QTemporaryDir> session;
    Configuration configuration;
    QList<Entry> entries;
};

void tst_FileReplaceList::initTestCase()
{
    crypt_init();
    root = Configuration::getAppRootPath() + QLatin1Char('/');
}

void tst_FileReplaceList::init()
{
    session = std::make_unique<QTemporaryDir>();
    QVERIFY(session->isValid());
    configuration.tempDir = session->path();
    configuration.clientType = clientType;
    entries.clear();
    for (int i = 0; i < fileCount; ++i) {
        Entry entry;
        entry.installed = i < 40 || i >= 46;
        entry.packed = i % 10 == 5;
        if (i < 40)
            entry.destination = QStringLiteral("tree/d%1/f%2.bin").arg(i % 4).arg(i);
        else if (i < 46)
            entry.destination = QStringLiteral("tree/add%1/sub/g%2.bin").arg(i % 2).arg(i);
        entry.newContent
            = QByteArray("new ") + QByteArray::number(i) + QByteArray(i * 97 % 3000, 'n');
        entries.append(entry);
    }
    entries[46].destination = QStringLiteral("tree/update");
    entries[47].destination = QStringLiteral("tree/lib/QtCore");
    entries[48].destination = QStringLiteral("tree/lib/libqjpeg.dylib");
    entries[48].packed = true;
    entries[49].destination = QStringLiteral("tree/lib/libqjpeg.1.dylib");
    for (Entry& entry : entries)
        entry.key = entry.packed ? QStringLiteral("packed/")
                + QFileInfo(entry.destination).fileName() + QStringLiteral(".gz")
                                 : entry.destination;
}

void tst_FileReplaceList::cleanup()
{
    QDir(root + treeDir).removeRecursively();
    // A row that failed halfway must not make every later one fail too.
    QFile::remove(root + RollbackJournalFile::fileName());
    QFile::remove(root + StatCache::fileName());
}

void tst_FileReplaceList::buildInstallation()
{
    for (int i = 0; i < entries.size(); ++i) {
        const Entry& entry = entries.at(i);
        if (entry.installed)
            QVERIFY(TestFiles::write(root + entry.destination,
                QByteArray("old ") + QByteArray::number(i) + QByteArray(i * 13, 'o'),
                installedModes[i % modeCount]));
        QVERIFY(TestFiles::write(session->filePath(entry.key),
            entry.packed ? TestFiles::gzipped(entry.newContent) : entry.newContent));
    }
    QVERIFY(TestFiles::write(root + QStringLiteral("tree/untouched.txt"), "not in the plan", 0600));
}

// Written the way a publisher writes it: through the settings writer, keys with "/".
void tst_FileReplaceList::writeProductIni(const QString& wrongUnpackedMd5Key)
{
    QSettings ini(session->filePath(clientType + QStringLiteral(".ini")), QSettings::IniFormat);
    ini.beginGroup(QStringLiteral("files"));
    for (const Entry& entry : std::as_const(entries)) {
        const QByteArray downloaded = TestFiles::read(session->filePath(entry.key));
        QString value = md5(downloaded) + QStringLiteral("::") + QString::number(downloaded.size());
        if (entry.packed) {
            const QString unpackedMd5
                = entry.key == wrongUnpackedMd5Key ? md5("something else") : md5(entry.newContent);
            value += QStringLiteral("::%1::%2::%3")
                         .arg(unpackedMd5)
                         .arg(entry.newContent.size())
                         .arg(entry.destination);
        }
        ini.setValue(entry.key, value);
    }
    ini.endGroup();
    ini.sync();
    QCOMPARE(ini.status(), QSettings::NoError);
}

// A kill point makes the child die there (see armKillPoint); its state is then TaskIdle.
// With a traceFile, the child runs under strace, which writes the journal's writes and syncs
// to traceFile.TID, one file a thread, so that no call's line is cut by another thread's.
UpdateRun tst_FileReplaceList::runInChildWithFileSizeLimit(
    const QString& killPoint, const QString& traceFile)
{
    UpdateRun run;
    QProcess child;
    child.setChildProcessModifier([killed = !killPoint.isEmpty()] {
        const rlimit limit { fileSizeLimit, fileSizeLimit };
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const rlimit noCore { 0, 0 };
        ::setrlimit(RLIMIT_CORE, &noCore);
        // Without this the kernel kills the writer instead of failing the write.
        if (!killed)
            std::signal(SIGXFSZ, SIG_IGN);
    });
    const QStringList arguments { QString::fromLatin1(childOption), session->path(), killPoint };
    if (traceFile.isEmpty()) {
        child.start(QCoreApplication::applicationFilePath(), arguments);
    } else {
        child.setProcessEnvironment(tracedEnvironment());
        child.start(QStringLiteral("strace"),
            QStringList { QStringLiteral("-ff"), QStringLiteral("-qq"), QStringLiteral("-y"),
                QStringLiteral("-s"), QStringLiteral("0"), QStringLiteral("-e"),
                QStringLiteral("trace=write,fsync,fdatasync,ftruncate"), QStringLiteral("-o"),
                traceFile, QCoreApplication::applicationFilePath() }
                + arguments);
    }
    if (!child.waitForFinished(60000) || child.exitStatus() != QProcess::NormalExit)
        return run;
    run.state = child.exitCode();
    run.messages = QString::fromLocal8Bit(child.readAllStandardOutput())
                       .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return run;
}

void tst_FileReplaceList::replacesEveryFile()
{
    buildInstallation();
    // Left over from an earlier update: removed before the installed copy takes its name.
    QVERIFY(TestFiles::write(root + QStringLiteral("tree/d3/_old_f3.bin"), "left over"));
    writeProductIni();

    const UpdateRun run = runUpdate(configuration);
    QCOMPARE(run.state, qint32(TaskSpecification::TaskFinished));
    QVERIFY(!run.messages.contains(QStringLiteral("rolling back file updates")));
    verifyNewVersion();
    // The next plan learns what was written: each file with the content it was given.
    const QByteArray cache = TestFiles::read(root + StatCache::fileName());
    for (const Entry& entry : std::as_const(entries))
        QVERIFY2(cache.contains(' '
                     + QCryptographicHash::hash(entry.newContent, QCryptographicHash::Md5).toHex()
                     + " - " + entry.destination.toUtf8() + '\n'),
            qPrintable(entry.destination));

    // A current file still gets the executable rule: its mode is no part of its checksum.
    QVERIFY(QFile::setPermissions(
        root + QStringLiteral("tree/lib/QtCore"), QFile::ReadOwner | QFile::WriteOwner));
    QCOMPARE(runUpdate(configuration).state, qint32(TaskSpecification::TaskFinished));
    verifyNewVersion();
}

void tst_FileReplaceList::verifyNewVersion()
{
    for (const Entry& entry : std::as_const(entries))
        QVERIFY2(TestFiles::read(root + entry.destination) == entry.newContent,
            qPrintable(entry.destination));
    const Snapshot after = snapshot(root + treeDir);
    QStringList oldCopies;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        const QString name = QFileInfo(it.key()).fileName();
        if (name.startsWith(QStringLiteral("_old_")) || name.startsWith(QStringLiteral(".new_")))
            oldCopies.append(it.key());
    }
    // The updater's own files keep their copy for the next start to remove.
    QCOMPARE(oldCopies, QStringList { QStringLiteral("_old_update") });
    QCOMPARE(TestFiles::read(root + QStringLiteral("tree/_old_update")),
        QByteArray("old 46") + QByteArray(46 * 13, 'o'));
    QCOMPARE(after.value(QStringLiteral("untouched.txt")).second, QByteArray("not in the plan"));

    // The executable rule gives 0755; every other file keeps the installed file's mode.
    for (int i = 0; i < entries.size(); ++i) {
        const Entry& entry = entries.at(i);
        const bool executable = i >= 46 && i <= 48;
        const uint mode = executable ? 0755
            : entry.installed        ? installedModes[i % modeCount] & 0755
                                     : 0644;
        QCOMPARE(modeOf(root + entry.destination) & 07777, mode);
    }
    QVERIFY(!QFile::exists(root + RollbackJournalFile::fileName()));
}

// A directory that becomes a file, and a file that becomes a directory: both go aside inside the
// journalled replacement, so a failure brings them back and a success leaves no old copy.
void tst_FileReplaceList::layoutChange_data()
{
    QTest::addColumn<bool>("laterFileFails");
    QTest::newRow("applied") << false;
    QTest::newRow("undone when a later file fails") << true;
}

void tst_FileReplaceList::layoutChange()
{
    QFETCH(bool, laterFileFails);
    entries = { { QStringLiteral("tree/x"), QStringLiteral("tree/x"), "now a file", false, false },
        { QStringLiteral("tree/y/z.txt"), QStringLiteral("tree/y/z.txt"), "in a new dir", false,
            false },
        { QStringLiteral("tree/zz.txt"), QStringLiteral("tree/zz.txt"), "last", true, false } };
    buildInstallation();
    QVERIFY(TestFiles::write(root + QStringLiteral("tree/x/inner.txt"), "x was a dir", 0600));
    QVERIFY(TestFiles::write(root + QStringLiteral("tree/y"), "y was a file", 0640));
    if (laterFileFails)
        QVERIFY(QFile::remove(session->filePath(QStringLiteral("tree/zz.txt"))));
    writeProductIni();
    const Snapshot before = snapshot(root + treeDir);

    const UpdateRun run = runUpdate(configuration);

    QCOMPARE(run.state,
        qint32(laterFileFails ? TaskSpecification::TaskErrorCanceled
                              : TaskSpecification::TaskFinished));
    if (laterFileFails) {
        QVERIFY(snapshot(root + treeDir) == before);
        return;
    }
    const Snapshot after = snapshot(root + treeDir);
    QCOMPARE(after.keys(), QStringList({ "untouched.txt", "x", "y", "y/z.txt", "zz.txt" }));
    QCOMPARE(after.value(QStringLiteral("x")),
        qMakePair(uint(S_IFREG | 0644), QByteArray("now a file")));
    QCOMPARE(after.value(QStringLiteral("y/z.txt")).second, QByteArray("in a new dir"));
    QVERIFY(!QFile::exists(root + RollbackJournalFile::fileName()));
}

void tst_FileReplaceList::killedRunIsRecovered_data()
{
    QTest::addColumn<QString>("killPoint");
    QTest::addColumn<bool>("committed"); // else the old version comes back
    // The first recovery is killed too, before its n-th rename, unlink or rmdir (each counted
    // on its own); 0: it is not.
    QTest::addColumn<int>("recoveryKilledAt");
    QTest::newRow("in the middle of a copy") << "copy" << false << 0;
    QTest::newRow("in the middle of a gunzip") << "gunzip" << false << 0;
    QTest::newRow("after a copy, before its file is put in place") << "copied:1" << false << 0;
    QTest::newRow("after the first file's renames") << "replaced:1" << false << 0;
    QTest::newRow("after the renames of 30 files") << "replaced:30" << false << 0;
    QTest::newRow("after the flush, before the commit") << "flushed" << false << 0;
    QTest::newRow("after the commit") << "committed" << true << 0;
    QTest::newRow("during the delete step") << "deleted:3" << true << 0;
    for (const int n : { 1, 2, 3, 5, 8, 13, 21, 34 })
        QTest::addRow("after the renames of 30 files, recovery killed at %d", n)
            << "replaced:30" << false << n;
    for (const int n : { 1, 2, 3 })
        QTest::addRow("during the delete step, recovery killed at %d", n)
            << "deleted:3" << true << n;
}

// The update in a child under strace with the given options; trace receives what it traced,
// one call a line, with the paths of file descriptors (-y).
UpdateRun tst_FileReplaceList::runInChildTraced(
    const QStringList& straceOptions, QStringList* trace)
{
    UpdateRun run;
    QTemporaryDir traceDir;
    const QString traceFile = traceDir.filePath(QStringLiteral("trace"));
    QProcess child;
    child.setProcessEnvironment(tracedEnvironment());
    child.start(QStringLiteral("strace"),
        QStringList { QStringLiteral("-f"), QStringLiteral("-qq"), QStringLiteral("-y"),
            QStringLiteral("-s"), QStringLiteral("24"), QStringLiteral("-o"), traceFile }
            + straceOptions
            + QStringList { QCoreApplication::applicationFilePath(),
                QString::fromLatin1(childOption), session->path() });
    if (!child.waitForFinished(60000) || child.exitStatus() != QProcess::NormalExit)
        return run;
    run.state = child.exitCode();
    run.messages = QString::fromLocal8Bit(child.readAllStandardOutput())
                       .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (trace)
        *trace = QString::fromLocal8Bit(TestFiles::read(traceFile)).split(QLatin1Char('\n'));
    return run;
}

namespace {
// The first line at or after from that contains every one of parts, or -1.
qsizetype findCall(const QStringList& trace, const QStringList& parts, qsizetype from = 0)
{
    for (qsizetype i = qMax<qsizetype>(from, 0); i < trace.size(); ++i) {
        if (std::all_of(parts.cbegin(), parts.cend(),
                [&](const QString& part) { return trace.at(i).contains(part); }))
            return i;
    }
    return -1;
}

qsizetype findLastCall(const QStringList& trace, const QStringList& parts, qsizetype before)
{
    for (qsizetype i = before - 1; i >= 0; --i) {
        if (std::all_of(parts.cbegin(), parts.cend(),
                [&](const QString& part) { return trace.at(i).contains(part); }))
            return i;
    }
    return -1;
}
}

// What must reach the disk before what, seen in the system calls of a real run: the journal
// and its name before the first operation; the installation before the commit, the commit
// before the first deletion; after an undo, the restored installation before the journal goes,
// and the journal's removal itself.
void tst_FileReplaceList::syncsComeInOrder_data()
{
    QTest::addColumn<bool>("undone");
    QTest::newRow("an update") << false;
    QTest::newRow("an undone update") << true;
}

void tst_FileReplaceList::syncsComeInOrder()
{
    CRV_SKIP_CHILD_PROCESS_UNDER_TSAN();
    QFETCH(bool, undone);
    buildInstallation();
    if (undone)
        QVERIFY(QFile::remove(session->filePath(entries.at(faultyEntry).key)));
    writeProductIni();
    QStringList trace;
    const UpdateRun run = runInChildTraced({ QStringLiteral("-e"),
                                               QStringLiteral("trace=write,fsync,syncfs,linkat,"
                                                              "rename,renameat,renameat2,unlink,"
                                                              "unlinkat,ftruncate") },
        &trace);
    QCOMPARE(run.state,
        qint32(undone ? TaskSpecification::TaskErrorCanceled : TaskSpecification::TaskFinished));
    const QString journal = RollbackJournalFile::fileName() + QLatin1Char('>');
    const QString rootFd = QDir::cleanPath(root) + QLatin1Char('>');

    const qsizetype header = findCall(trace, { QStringLiteral("write("), journal });
    const qsizetype headerSynced = findCall(trace, { QStringLiteral("fsync("), journal }, header);
    const qsizetype nameSynced
        = findCall(trace, { QStringLiteral("fsync("), rootFd }, headerSynced);
    const qsizetype firstLink = findCall(trace, { QStringLiteral("linkat(") });
    QVERIFY(header >= 0 && headerSynced > header && nameSynced > headerSynced);
    QVERIFY(firstLink > nameSynced);

    if (!undone) {
        const qsizetype commit
            = findCall(trace, { QStringLiteral("write("), journal, QStringLiteral("\"commit") });
        const qsizetype flushed = findLastCall(trace, { QStringLiteral("syncfs(") }, commit);
        const qsizetype lastRename = findLastCall(trace, { QStringLiteral("rename") }, commit);
        const qsizetype commitSynced
            = findCall(trace, { QStringLiteral("fsync("), journal }, commit);
        const qsizetype firstDeletion
            = findCall(trace, { QStringLiteral("unlink"), QStringLiteral("_old_") });
        QVERIFY(commit > 0 && flushed > lastRename && commitSynced > commit);
        QVERIFY2(firstDeletion > commitSynced, qPrintable(trace.value(firstDeletion)));
        return;
    }
    const qsizetype removed = findCall(trace,
        { QStringLiteral("unlink"),
            QDir::cleanPath(root) + QLatin1Char('/') + RollbackJournalFile::fileName()
                + QLatin1Char('"') });
    const qsizetype flushed = findLastCall(trace, { QStringLiteral("syncfs(") }, removed);
    const qsizetype lastUndo = findLastCall(trace, { QStringLiteral("rename") }, removed);
    const qsizetype removalSynced = findCall(trace, { QStringLiteral("fsync("), rootFd }, removed);
    QVERIFY(removed > 0 && lastUndo > firstLink);
    QVERIFY2(flushed > lastUndo, "the restored files are flushed before the journal goes");
    QVERIFY2(removalSynced > removed, "the journal's removal is made durable");
}

// A sync that fails decides on the spot: before the commit stands the replacement is undone at
// once; a commit that stands although its sync failed completes the update. Either way no
// journal is left, the run says what happened, and a later run completes the update.
void tst_FileReplaceList::syncFailure_data()
{
    QTest::addColumn<QStringList>("injections");
    QTest::addColumn<bool>("completed");
    QTest::addColumn<QString>("report");
    // fsync calls of a run: the journal, the installation root, then the commit.
    QTest::newRow("the journal's creation cannot be synced")
        << QStringList { "fsync:error=EIO:when=1" } << false
        << "Could not create the rollback journal";
    QTest::newRow("the flush before the commit fails")
        << QStringList { "syncfs:error=EIO:when=1" } << false << "Could not flush the installation";
    QTest::newRow("the commit cannot be synced, and is cut off")
        << QStringList { "fsync:error=EIO:when=3" } << false
        << "Could not commit the rollback journal";
    QTest::newRow("the commit cannot be synced nor cut off: it stands")
        << QStringList { "fsync:error=EIO:when=3", "ftruncate:error=EIO:when=1" } << true
        << "warning: ";
}

void tst_FileReplaceList::syncFailure()
{
    CRV_SKIP_CHILD_PROCESS_UNDER_TSAN();
    QFETCH(QStringList, injections);
    QFETCH(bool, completed);
    QFETCH(QString, report);
    buildInstallation();
    writeProductIni();
    const Snapshot before = snapshot(root + treeDir);
    QStringList options;
    for (const QString& injection : std::as_const(injections))
        options << QStringLiteral("-e") << QStringLiteral("inject=") + injection;
    const UpdateRun run = runInChildTraced(options);
    QCOMPARE(run.state,
        qint32(completed ? TaskSpecification::TaskFinished : TaskSpecification::TaskErrorCanceled));
    QVERIFY2(std::any_of(run.messages.cbegin(), run.messages.cend(),
                 [&](const QString& line) { return line.startsWith(report); }),
        qPrintable(run.messages.join(QLatin1Char('\n'))));
    if (completed) {
        QVERIFY(!QFile::exists(root + RollbackJournalFile::fileName()));
        verifyNewVersion();
        return;
    }
    // Undone at once; a journal is left only where the undo could not be flushed either, and
    // then the next start finds nothing left to undo.
    QVERIFY(snapshot(root + treeDir) == before);
    QVERIFY(RollbackJournalFile::recover(root, nullptr));
    QVERIFY(snapshot(root + treeDir) == before);
    QCOMPARE(runUpdate(configuration).state, qint32(TaskSpecification::TaskFinished));
    verifyNewVersion();
}

// Recovery in a child traced by strace, which kills it before its n-th call of each kind.
bool tst_FileReplaceList::killRecoveryAt(int n)
{
    QProcess child;
    child.setProcessEnvironment(tracedEnvironment());
    child.start(QStringLiteral("strace"),
        { QStringLiteral("-f"), QStringLiteral("-qq"), QStringLiteral("-o"),
            QStringLiteral("/dev/null"), QStringLiteral("-e"), QStringLiteral("trace=") + undoCalls,
            QStringLiteral("-e"),
            QStringLiteral("inject=%1:signal=KILL:when=%2").arg(undoCalls).arg(n),
            QCoreApplication::applicationFilePath(), QString::fromLatin1(recoverOption), root });
    return child.waitForFinished(60000);
}

// The child is killed at the chosen point; the next start's recovery must leave the old version
// or the new one, byte for byte with modes, and a later update must go through.
void tst_FileReplaceList::killedRunIsRecovered()
{
    CRV_SKIP_CHILD_PROCESS_UNDER_TSAN();
    QFETCH(QString, killPoint);
    QFETCH(bool, committed);
    QFETCH(int, recoveryKilledAt);
    if (killPoint == QStringLiteral("copy"))
        entries[faultyEntry].newContent = TestFiles::noise(2 * fileSizeLimit);
    if (killPoint == QStringLiteral("gunzip"))
        entries[faultyPackedEntry].newContent = QByteArray(2 * fileSizeLimit, 'z');
    buildInstallation();
    writeProductIni();
    const Snapshot before = snapshot(root + treeDir);

    const UpdateRun killed = runInChildWithFileSizeLimit(killPoint);
    QCOMPARE(killed.state, qint32(TaskSpecification::TaskIdle));
    QVERIFY(QFile::exists(root + RollbackJournalFile::fileName()));
    if (recoveryKilledAt > 0)
        QVERIFY(killRecoveryAt(recoveryKilledAt));

    FileDeleteTaskSpecification reporter(false, QString(), nullptr, 1.0);
    QStringList log;
    connect(&reporter, &TaskSpecification::message, this,
        [&log](const QString& text) { log.append(text); });
    // A killed recovery may have got as far as removing the journal.
    const bool journalLeft = QFile::exists(root + RollbackJournalFile::fileName());
    QVERIFY2(
        RollbackJournalFile::recover(root, &reporter), qPrintable(log.join(QLatin1Char('\n'))));
    QCOMPARE(log.size(), journalLeft ? 1 : 0);
    if (journalLeft)
        QVERIFY2(
            log.first().startsWith(committed ? QStringLiteral("completed an interrupted update")
                                             : QStringLiteral("undoing an interrupted update")),
            qPrintable(log.first()));
    QVERIFY(!QFile::exists(root + RollbackJournalFile::fileName()));
    if (committed) {
        verifyNewVersion();
        return;
    }
    QVERIFY(snapshot(root + treeDir) == before);
    QCOMPARE(runUpdate(configuration).state, qint32(TaskSpecification::TaskFinished));
    verifyNewVersion();
}

namespace {
// How much of the journal a power cut at the end of the trace would have left: its length at
// its last sync. Whatever was written after that may be lost, while the operations that
// followed may all have reached the disk. The journal is written on the main thread only, so
// one thread's trace holds all of its calls.
qint64 syncedJournalLengthIn(const QString& threadTrace, const QString& journal)
{
    const QString fd = QStringLiteral("<%1>").arg(journal);
    const QRegularExpression written(QStringLiteral("write\\(\\d+%1, .*\\) = (\\d+)$")
                                         .arg(QRegularExpression::escape(fd)));
    const QRegularExpression truncated(QStringLiteral("ftruncate\\(\\d+%1, (\\d+)\\) = 0$")
                                           .arg(QRegularExpression::escape(fd)));
    const QRegularExpression synced(
        QStringLiteral("f(data)?sync\\(\\d+%1\\) = 0$").arg(QRegularExpression::escape(fd)));
    qint64 length = 0;
    qint64 durable = 0;
    const QStringList lines = QString::fromLocal8Bit(TestFiles::read(threadTrace)).split('\n');
    for (const QString& line : lines) {
        if (const QRegularExpressionMatch match = written.match(line); match.hasMatch())
            length += match.captured(1).toLongLong();
        else if (const QRegularExpressionMatch cut = truncated.match(line); cut.hasMatch())
            length = cut.captured(1).toLongLong();
        else if (synced.match(line).hasMatch())
            durable = length;
    }
    return durable;
}

qint64 syncedJournalLength(const QString& traceFile, const QString& journal)
{
    const QFileInfo base(traceFile);
    qint64 durable = 0;
    for (const QFileInfo& thread : QDir(base.path()).entryInfoList({ base.fileName() + ".*" }))
        durable = qMax(durable, syncedJournalLengthIn(thread.filePath(), journal));
    return durable;
}
}

// A power cut keeps the journal only as far as it was synced, and maybe every operation done
// since: recovery from that journal must still bring back the old version (or, once committed,
// complete the new one) exactly.
void tst_FileReplaceList::powerCutIsRecovered_data()
{
    QTest::addColumn<QString>("killPoint");
    QTest::addColumn<bool>("committed");
    // A directory of the old version becomes a file, and a file a directory.
    QTest::addColumn<bool>("layoutChange");
    QTest::newRow("in the middle of a copy") << "copy" << false << false;
    QTest::newRow("after a copy, before its file is put in place") << "copied:1" << false << false;
    QTest::newRow("after the first file's renames") << "replaced:1" << false << false;
    QTest::newRow("after the renames of 30 files") << "replaced:30" << false << false;
    QTest::newRow("after the renames of 30 files, layout changed")
        << "replaced:30" << false << true;
    QTest::newRow("after the flush, before the commit") << "flushed" << false << true;
    QTest::newRow("after the commit") << "committed" << true << false;
    QTest::newRow("after the commit, layout changed") << "committed" << true << true;
    QTest::newRow("during the delete step") << "deleted:3" << true << true;
}

void tst_FileReplaceList::powerCutIsRecovered()
{
    CRV_SKIP_CHILD_PROCESS_UNDER_TSAN();
    QFETCH(QString, killPoint);
    QFETCH(bool, committed);
    QFETCH(bool, layoutChange);
    if (killPoint == QStringLiteral("copy"))
        entries[faultyEntry].newContent = TestFiles::noise(2 * fileSizeLimit);
    if (layoutChange)
        entries[42].destination = entries[42].key = QStringLiteral("tree/x");
    buildInstallation();
    if (layoutChange) {
        QVERIFY(TestFiles::write(root + QStringLiteral("tree/x/inner.txt"), "x was a dir", 0600));
        // In the way of tree/add0/sub, the new folder of entry 40.
        QVERIFY(TestFiles::write(root + QStringLiteral("tree/add0"), "add0 was a file", 0640));
    }
    // Left over from an earlier update: moving it out of the way is a step of the plan too.
    QVERIFY(TestFiles::write(root + QStringLiteral("tree/d3/_old_f3.bin"), "left over"));
    writeProductIni();
    const Snapshot before = snapshot(root + treeDir);

    QTemporaryDir traceDir;
    const QString traceFile = traceDir.filePath(QStringLiteral("trace"));
    const UpdateRun killed = runInChildWithFileSizeLimit(killPoint, traceFile);
    QCOMPARE(killed.state, qint32(TaskSpecification::TaskIdle));
    const QString journal = QDir::cleanPath(root) + QLatin1Char('/') + RollbackJournalFile::fileName();
    QVERIFY(QFile::exists(journal));
    // Every step was foreseen: none had to be journalled on its own after the plan.
    QVERIFY(!TestFiles::read(journal).contains("\nundone "));
    const qint64 synced = syncedJournalLength(traceFile, journal);
    QVERIFY(synced > 0);
    QVERIFY(QFileInfo(journal).size() >= synced);
    QVERIFY(QFile::resize(journal, synced));

    QVERIFY(RollbackJournalFile::recover(root, nullptr));
    QVERIFY(!QFile::exists(journal));
    if (committed) {
        verifyNewVersion();
        return;
    }
    const Snapshot after = snapshot(root + treeDir);
    QCOMPARE(after.keys(), before.keys());
    QVERIFY(after == before);
}

void tst_FileReplaceList::failureRestoresTheInstallation_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<qint32>("state");
    QTest::addColumn<QString>("report"); // the start of the failing step's message
    const qint32 error = TaskSpecification::TaskErrorCanceled;
    QTest::newRow("source removed before its copy")
        << "source removed" << error << "Could not copy '{session}/tree/d0/f24.bin'";
    // The file goes aside for the directory, and comes back.
    QTest::newRow("a file in the way of a new directory")
        << "parent is a file" << error << "Could not copy '{session}/tree/blocker/f24.bin'";
    QTest::newRow("unpacked MD5 wrong")
        << "unpacked md5" << error
        << "Signature check failed for {root}tree/lib/.new_libqjpeg.dylib.";
    QTest::newRow("file size limit in a child process")
        << "file size limit" << error << "Could not copy '{session}/tree/d0/f24.bin'";
    QTest::newRow("user cancel") << "user cancel" << qint32(TaskSpecification::TaskUserCanceled)
                                 << QString();
}

void tst_FileReplaceList::failureRestoresTheInstallation()
{
    QFETCH(QString, fault);
    QFETCH(qint32, state);
    QFETCH(QString, report);
    if (fault == QStringLiteral("file size limit"))
        CRV_SKIP_CHILD_PROCESS_UNDER_TSAN();
    Entry& faulty = entries[faultyEntry];
    if (fault == QStringLiteral("parent is a file")) {
        faulty.destination = QStringLiteral("tree/blocker/f24.bin");
        faulty.key = faulty.destination;
        faulty.installed = false;
    } else if (fault == QStringLiteral("file size limit")) {
        faulty.newContent = QByteArray(int(2 * fileSizeLimit), 'L');
    }
    buildInstallation();
    if (fault == QStringLiteral("parent is a file"))
        QVERIFY(TestFiles::write(root + QStringLiteral("tree/blocker"), "a file in the way"));
    if (fault == QStringLiteral("source removed") || fault == QStringLiteral("parent is a file"))
        QVERIFY(QFile::remove(session->filePath(faulty.key)));
    writeProductIni(
        fault == QStringLiteral("unpacked md5") ? entries.at(faultyPackedEntry).key : QString());
    const Snapshot before = snapshot(root + treeDir);

    UpdateRun run;
    if (fault == QStringLiteral("file size limit"))
        run = runInChildWithFileSizeLimit();
    else
        run = runUpdate(
            configuration, fault == QStringLiteral("user cancel") ? entries.at(30).key : QString());

    QCOMPARE(run.state, state);
    QVERIFY2(run.messages.contains(QStringLiteral("rolling back file updates")),
        qPrintable(run.messages.join(QLatin1Char('\n'))));
    if (!report.isEmpty()) {
        const QString expected = QString(report)
                                     .replace(QStringLiteral("{session}"), session->path())
                                     .replace(QStringLiteral("{root}"), root);
        QVERIFY2(std::any_of(run.messages.cbegin(), run.messages.cend(),
                     [&](const QString& line) { return line.startsWith(expected); }),
            qPrintable(expected + QLatin1Char('\n') + run.messages.join(QLatin1Char('\n'))));
        // The failure is an error too, with that reason: a run reports it to the user.
        if (fault != QStringLiteral("file size limit")) {
            QCOMPARE(run.errors.size(), 1);
            QVERIFY2(run.errors.constFirst().startsWith(
                         QStringLiteral("The files could not be replaced: ") + expected),
                qPrintable(run.errors.constFirst()));
        }
    } else {
        QVERIFY(run.errors.isEmpty());
    }
    // Other files were replaced before the failure, and all of them were undone.
    QVERIFY(run.messages.filter(QStringLiteral("add/replace ")).size() > 2);
    const Snapshot after = snapshot(root + treeDir);
    QCOMPARE(after.keys(), before.keys());
    QVERIFY(after == before);
    QVERIFY(!QFileInfo::exists(root + QStringLiteral("tree/add0")));
}

int main(int argc, char* argv[])
{
    if (argc >= 3 && qstrcmp(argv[1], childOption) == 0) {
        QCoreApplication app(argc, argv);
        return applyInChild(QString::fromLocal8Bit(argv[2]),
            argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString());
    }
    if (argc == 3 && qstrcmp(argv[1], recoverOption) == 0) {
        QCoreApplication app(argc, argv);
        return RollbackJournalFile::recover(QString::fromLocal8Bit(argv[2]), nullptr) ? 0 : 1;
    }
    QCoreApplication app(argc, argv);
    tst_FileReplaceList test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_filereplacelist.moc"
