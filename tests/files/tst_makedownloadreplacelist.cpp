#include "configuration.h"
#include "crypt.h"
#include "filespecifications.h"
#include "forkcheck.h"
#include "makedownloadreplacelisttaskspecification.h"
#include "statcache.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {
const QString clientType = QStringLiteral("client_macosx");
// Installed files live below root/inst; the "bin_macosx" level below root/../tst_files_up.
const QString installDir = QStringLiteral("inst");
const QString upperDir = QStringLiteral("../tst_files_up");

QString md5(const QByteArray& content)
{
    return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex());
}

// "{md5:TEXT}" and "{MD5:TEXT}" stand for the lower- and upper-case MD5 of TEXT,
// "{sha256:TEXT}" for its SHA-256.
QString expand(QString text)
{
    static const QRegularExpression placeholder(QStringLiteral("\\{(md5|MD5|sha256):([^{}]*)\\}"));
    QRegularExpressionMatch match;
    while ((match = placeholder.match(text)).hasMatch()) {
        QString sum = match.captured(1) == QStringLiteral("sha256")
            ? QString::fromLatin1(
                QCryptographicHash::hash(match.captured(2).toUtf8(), QCryptographicHash::Sha256)
                    .toHex())
            : md5(match.captured(2).toUtf8());
        if (match.captured(1) == QStringLiteral("MD5"))
            sum = sum.toUpper();
        text.replace(match.capturedStart(), match.capturedLength(), sum);
    }
    return text;
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// "path=content" entries below dir.
bool writeFiles(const QString& dir, const QStringList& entries)
{
    for (const QString& entry : entries) {
        const int split = entry.indexOf(QLatin1Char('='));
        if (!writeFile(dir + QLatin1Char('/') + entry.left(split), entry.mid(split + 1).toUtf8()))
            return false;
    }
    return true;
}

FileSpecifications sentinelPlan()
{
    FileSpecifications plan;
    plan.deleteList.append(QStringLiteral("sentinel"));
    FileDownloadSpecification sentinel;
    sentinel.section = QStringLiteral("s");
    sentinel.fileName = QStringLiteral("sentinel");
    sentinel.size = 1;
    plan.downloadList.append(sentinel);
    return plan;
}
}

class tst_MakeDownloadReplaceList : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void destinationNames_data();
    void destinationNames();
    void plan_data();
    void plan();
    void unsafePathsStopThePlan_data();
    void unsafePathsStopThePlan();
    void linksOnTheWay_data();
    void linksOnTheWay();
    void fileList_data();
    void fileList();
    void deltas_data();
    void deltas();
    void productIniFromReleaseTool();
    void checksEndingOutOfOrderKeepTheIniOrder();
    void statCache_data();
    void statCache();

private:
    struct Result
    {
        qint32 state;
        // All but the count of hashed files, which has a field (and a test) of its own.
        QStringList messages;
        QString hashed;
        QStringList errors;
        // The one error a refused plan ends with: its last message, which says why.
        QStringList refusal() const
        {
            QString reason = messages.value(messages.size() - 1);
            if (reason.startsWith(QLatin1String("Warning: ")))
                reason.remove(0, 9);
            return { QStringLiteral("The update plan was refused: ") + reason };
        }
    };
    Result runPlan(FileSpecifications& plan);
    void writeIni(const QString& text);

    QString root;
    std::unique_ptr<QTemporaryDir> session;
    Configuration configuration;
};

void tst_MakeDownloadReplaceList::initTestCase()
{
    crypt_init();
    root = Configuration::getAppRootPath() + QLatin1Char('/');
}

void tst_MakeDownloadReplaceList::init()
{
    session = std::make_unique<QTemporaryDir>();
    QVERIFY(session->isValid());
    configuration.tempDir = session->path();
    configuration.clientType = clientType;
}

void tst_MakeDownloadReplaceList::cleanup()
{
    QDir(root + installDir).removeRecursively();
    QDir(root + upperDir).removeRecursively();
    QFile::remove(root + StatCache::fileName());
    configuration.verifyAll = false;
}

void tst_MakeDownloadReplaceList::writeIni(const QString& text)
{
    QVERIFY(
        writeFile(session->filePath(clientType + QStringLiteral(".ini")), expand(text).toUtf8()));
}

tst_MakeDownloadReplaceList::Result tst_MakeDownloadReplaceList::runPlan(FileSpecifications& plan)
{
    Result result;
    MakeDownloadReplaceListTaskSpecification task(&configuration, plan, nullptr, 0.05);
    connect(&task, &TaskSpecification::message, this, [&result](const QString& text) {
        if (text.startsWith(QStringLiteral("Hashed ")))
            result.hashed = text;
        else
            result.messages.append(text);
    });
    connect(&task, &TaskSpecification::error, this,
        [&result](const QString& text) { result.errors.append(text); });
    task.execute();
    [&] { QTRY_VERIFY_WITH_TIMEOUT(task.state != TaskSpecification::TaskRunning, 20000); }();
    result.state = task.state;
    return result;
}

void tst_MakeDownloadReplaceList::destinationNames_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("unzippedFileName");
    QTest::addColumn<QString>("pure");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<QString>("old");

    QTest::newRow("plain") << "files"
                           << "a/b/name" << QString() << "a/b/name"
                           << "a/b/name"
                           << "a/b/_old_name";
    QTest::newRow("top level") << "files"
                               << "name" << QString() << "name"
                               << "name"
                               << "_old_name";
    QTest::newRow("one level up") << "bin_macosx"
                                  << "MacOS/app" << QString() << "MacOS/app"
                                  << "../MacOS/app"
                                  << "../MacOS/_old_app";
    QTest::newRow("packed") << "files"
                            << "a.gz"
                            << "lib/a.dylib"
                            << "lib/a.dylib"
                            << "lib/a.dylib"
                            << "lib/_old_a.dylib";
    QTest::newRow("section name compared exactly") << "Bin_macosx"
                                                   << "app" << QString() << "app"
                                                   << "app"
                                                   << "_old_app";
}

void tst_MakeDownloadReplaceList::destinationNames()
{
    QFETCH(QString, section);
    QFETCH(QString, fileName);
    QFETCH(QString, unzippedFileName);
    QFETCH(QString, pure);
    QFETCH(QString, destination);
    QFETCH(QString, old);
    FileReplaceSpecification entry;
    entry.section = section;
    entry.fileName = fileName;
    entry.unzippedFileName = unzippedFileName;
    QCOMPARE(entry.hasUnzip(), !unzippedFileName.isEmpty());
    QCOMPARE(entry.pureDestFilePath(), pure);
    QCOMPARE(entry.destFileName(QString()), destination);
    QCOMPARE(entry.oldDestFileName(), old);
}

void tst_MakeDownloadReplaceList::plan_data()
{
    QTest::addColumn<QString>("ini"); // null: no product ini at all
    QTest::addColumn<QStringList>("installed"); // path=content below the root
    QTest::addColumn<QStringList>("downloaded"); // name=content in the session directory
    QTest::addColumn<QStringList>("downloads"); // section/fileName
    QTest::addColumn<QStringList>("replaces"); // destination names
    QTest::addColumn<QStringList>("deletes");
    QTest::addColumn<QString>("failure"); // the last message of a failed plan
    QTest::addColumn<QStringList>("notes"); // the messages of a plan that succeeds, after the first

    QTest::newRow("delete only")
        << "[delete]\ninst\\gone.txt=1\ninst\\absent.txt=1\n..\\tst_files_up\\y=1\n"
        << QStringList { "inst/gone.txt=x", "../tst_files_up/y=1" } << QStringList()
        << QStringList() << QStringList() << QStringList { "inst/gone.txt", "../tst_files_up/y" }
        << QString() << QStringList();
    QTest::newRow("current and changed files")
        << "[files]\ninst\\same.txt={MD5:same}::4\ninst\\changed.txt={md5:new}::3\n"
           "inst\\added.txt={md5:add}::3\n"
        << QStringList { "inst/same.txt=same", "inst/changed.txt=old" } << QStringList()
        << QStringList { "files/inst/changed.txt", "files/inst/added.txt" }
        << QStringList { "inst/changed.txt", "inst/added.txt" } << QStringList() << QString()
        << QStringList();
    QTest::newRow("five fields, empty fifth: checked against the first")
        << "[files]\ninst\\a.txt={md5:a}::1::{md5:other}::5::\n"
        << QStringList { "inst/a.txt=a" } << QStringList() << QStringList() << QStringList()
        << QStringList() << QString() << QStringList();
    QTest::newRow("one level up") << "[bin_macosx]\ntst_files_up\\MacOS\\app={md5:new}::3\n"
                                     "tst_files_up\\MacOS\\same={md5:same}::4\n"
                                  << QStringList { "../tst_files_up/MacOS/app=old",
                                         "../tst_files_up/MacOS/same=same" }
                                  << QStringList()
                                  << QStringList { "bin_macosx/tst_files_up/MacOS/app" }
                                  << QStringList { "../tst_files_up/MacOS/app" } << QStringList()
                                  << QString() << QStringList();
    QTest::newRow("packed: installed checked unpacked, download checked packed")
        << "[files]\npk\\a.gz={md5:gza}::3::{md5:unpacked}::8::inst/lib/a.dylib\n"
           "pk\\b.gz={md5:gzb}::3::{md5:newb}::4::inst/lib/b.dylib\n"
           "pk\\c.gz={md5:gzc}::3::{md5:newc}::4::inst/lib/c.dylib\n"
        << QStringList { "inst/lib/a.dylib=unpacked", "inst/lib/b.dylib=oldb",
               "inst/lib/c.dylib=oldc" }
        << QStringList { "pk/c.gz=gzc" } << QStringList { "files/pk/b.gz" }
        << QStringList { "inst/lib/b.dylib", "inst/lib/c.dylib" } << QStringList() << QString()
        << QStringList();
    QTest::newRow("complete download reused, stale one fetched again")
        << "[files]\ninst\\n.txt={md5:new}::3\ninst\\s.txt={md5:fresh}::5\n"
        << QStringList() << QStringList { "inst/n.txt=new", "inst/s.txt=stale" }
        << QStringList { "files/inst/s.txt" } << QStringList { "inst/n.txt", "inst/s.txt" }
        << QStringList() << QString() << QStringList();
    QTest::newRow("a signed file brings its signature, which is still installed")
        << "[files]\ninst\\tool=::3\ninst\\tool.sig={md5:sig}::4\ninst\\other.sig={md5:o}::1\n"
        << QStringList() << QStringList()
        << QStringList { "files/inst/tool", "files/inst/other.sig" }
        << QStringList { "inst/tool", "inst/tool.sig", "inst/other.sig" } << QStringList()
        << QString() << QStringList();
    QTest::newRow("comma in the fifth field, read as text")
        << "[files]\npk\\a.gz={md5:gz}::3::{md5:new}::3::inst/a,b.txt\n"
        << QStringList() << QStringList() << QStringList { "files/pk/a.gz" }
        << QStringList { "inst/a,b.txt" } << QStringList() << QString() << QStringList();
    QTest::newRow("installed and deleted: kept")
        << "[delete]\ninst\\x.txt=1\n[files]\ninst\\x.txt={md5:new}::3\n"
        << QStringList { "inst/x.txt=old" } << QStringList() << QStringList { "files/inst/x.txt" }
        << QStringList { "inst/x.txt" } << QStringList() << QString()
        << QStringList {
               "Warning: product ini installs and deletes inst/x.txt; it is not deleted"
           };
    QTest::newRow("old copy of a current file deleted, of the updater kept")
        << "[files]\ninst\\same.txt={md5:same}::4\ninst\\update={md5:u}::1\n"
           "inst\\changed.txt={md5:new}::3\n"
        << QStringList { "inst/same.txt=same", "inst/_old_same.txt=old", "inst/update=u",
               "inst/_old_update=old", "inst/changed.txt=old", "inst/_old_changed.txt=older" }
        << QStringList() << QStringList { "files/inst/changed.txt" }
        << QStringList { "inst/changed.txt" } << QStringList { "inst/_old_same.txt" } << QString()
        << QStringList();
    QTest::newRow("three fields") << "[files]\ninst\\ok.txt={md5:x}::1\ninst\\bad.txt=x::1::2\n"
                                  << QStringList() << QStringList() << QStringList()
                                  << QStringList() << QStringList()
                                  << "Warning: product ini contains invalid line in section files"
                                  << QStringList();
    QTest::newRow("two entries for one file, across sections")
        << "[a]\ninst\\x={md5:x}::1\n[b]\ninst\\x={md5:x}::1\n"
        << QStringList() << QStringList() << QStringList() << QStringList() << QStringList()
        << "Warning: product ini installs inst/x twice (section b)" << QStringList();
    QTest::newRow("packed entry unpacked onto a plain one")
        << "[files]\ninst\\a.dylib={md5:x}::1\npk\\a.gz={md5:x}::1::{md5:y}::1::inst/a.dylib\n"
        << QStringList() << QStringList() << QStringList() << QStringList() << QStringList()
        << "Warning: product ini installs inst/a.dylib twice (section files)" << QStringList();
    QTest::newRow("no product ini")
        << QString() << QStringList() << QStringList() << QStringList() << QStringList()
        << QStringList() << "No files in product ini" << QStringList();
    QTest::newRow("only keys outside sections")
        << "x=a::1\n[General]\ny=b::2\n"
        << QStringList() << QStringList() << QStringList() << QStringList() << QStringList()
        << "No files in product ini" << QStringList();
}

void tst_MakeDownloadReplaceList::plan()
{
    QFETCH(QString, ini);
    QFETCH(QStringList, installed);
    QFETCH(QStringList, downloaded);
    QFETCH(QStringList, downloads);
    QFETCH(QStringList, replaces);
    QFETCH(QStringList, deletes);
    QFETCH(QString, failure);
    QFETCH(QStringList, notes);
    if (!ini.isNull())
        writeIni(ini);
    QVERIFY(writeFiles(root, installed));
    QVERIFY(writeFiles(session->path(), downloaded));

    FileSpecifications plan = sentinelPlan();
    const Result result = runPlan(plan);

    QCOMPARE(result.messages.value(0), QStringLiteral("Compiling download and replace list"));
    if (!failure.isEmpty()) {
        QCOMPARE(result.state, qint32(TaskSpecification::TaskErrorCanceled));
        QCOMPARE(result.messages.last(), failure);
        QCOMPARE(result.errors, result.refusal());
        QCOMPARE(plan.deleteList, sentinelPlan().deleteList);
        QCOMPARE(plan.downloadList.size(), 1);
        QVERIFY(plan.replaceList.isEmpty());
        return;
    }
    QCOMPARE(result.state, qint32(TaskSpecification::TaskFinished));
    QCOMPARE(result.messages.mid(1), notes);
    QStringList actualDownloads;
    for (const FileDownloadSpecification& entry : std::as_const(plan.downloadList))
        actualDownloads.append(entry.section + QLatin1Char('/') + entry.fileName);
    QStringList actualReplaces;
    for (const FileReplaceSpecification& entry : std::as_const(plan.replaceList))
        actualReplaces.append(entry.destFileName(QString()));
    // The plan does not depend on the order in which the settings reader lists keys.
    actualDownloads.sort();
    downloads.sort();
    actualReplaces.sort();
    replaces.sort();
    plan.deleteList.sort();
    deletes.sort();
    QCOMPARE(actualDownloads, downloads);
    QCOMPARE(actualReplaces, replaces);
    QCOMPARE(plan.deleteList, deletes);
}

void tst_MakeDownloadReplaceList::unsafePathsStopThePlan_data()
{
    QTest::addColumn<QString>("ini");
    QTest::addColumn<QString>("path"); // as the log shows it
    QTest::addColumn<QString>("section");

    QTest::newRow("key climbing out") << "[files]\n..\\evil={md5:x}::1\n"
                                      << "../evil"
                                      << "files";
    QTest::newRow("key climbing out midway") << "[files]\ninst\\..\\..\\evil={md5:x}::1\n"
                                             << "inst/../../evil"
                                             << "files";
    QTest::newRow("key with a dot component") << "[files]\n.\\dot={md5:x}::1\n"
                                              << "./dot"
                                              << "files";
    QTest::newRow("absolute key") << "[files]\n/etc/evil={md5:x}::1\n"
                                  << "/etc/evil"
                                  << "files";
    QTest::newRow("key climbing out of the upper level") << "[bin_macosx]\n..\\evil={md5:x}::1\n"
                                                         << "../evil"
                                                         << "bin_macosx";
    QTest::newRow("absolute fifth field") << "[files]\na.gz={md5:x}::1::{md5:y}::1::/etc/passwd\n"
                                          << "/etc/passwd"
                                          << "files";
    QTest::newRow("fifth field climbing out")
        << "[files]\na.gz={md5:x}::1::{md5:y}::1::../../evil\n"
        << "../../evil"
        << "files";
    QTest::newRow("fifth field with a dot component")
        << "[files]\na.gz={md5:x}::1::{md5:y}::1::inst/./a\n"
        << "inst/./a"
        << "files";
    QTest::newRow("delete two levels up") << "[delete]\n..\\..\\evil=1\n"
                                          << "../../evil"
                                          << "delete";
    QTest::newRow("delete climbing out midway") << "[delete]\ninst\\..\\..\\..\\evil=1\n"
                                                << "inst/../../../evil"
                                                << "delete";
    QTest::newRow("delete of the parent itself") << "[delete]\n..=1\n"
                                                 << ".."
                                                 << "delete";
    QTest::newRow("section climbing out") << "[..]\nevil={md5:x}::1\n"
                                          << ".."
                                          << "..";
    QTest::newRow("two entries for one session file")
        << "[a]\nk.gz={md5:x}::1::{md5:y}::1::inst/one\n[b]\nk.gz={md5:x}::1::{md5:y}::1::inst/"
           "two\n"
        << "k.gz"
        << "b";
    QTest::newRow("backslash in the fifth field")
        << "[files]\na.gz={md5:x}::1::{md5:y}::1::lib\\libfoo.dylib\n"
        << "lib\\\\libfoo.dylib"
        << "files";
    QTest::newRow("control character in the fifth field")
        << "[files]\na.gz={md5:x}::1::{md5:y}::1::lib/a\tb\n"
        << "lib/a\\tb"
        << "files";
    QTest::newRow("line break in a key, forging a log line")
        << "[files]\ninst\\a%0AWarning%3A forged={md5:x}::1\n"
        << "inst/a\\nWarning: forged"
        << "files";
    QTest::newRow("NUL in a key, cutting the message") << "[files]\nb%00c={md5:x}::1\n"
                                                       << "b\\u0000c"
                                                       << "files";
    QTest::newRow("line break in a section") << "[s%0At]\nk={md5:x}::1\n"
                                             << "s\\nt"
                                             << "s\\nt";
    QTest::newRow("absolute section") << "[%2Fetc]\nevil={md5:x}::1\n" << QString() << QString();
}

void tst_MakeDownloadReplaceList::unsafePathsStopThePlan()
{
    QFETCH(QString, ini);
    QFETCH(QString, path);
    QFETCH(QString, section);
    writeIni(ini);
    FileSpecifications plan = sentinelPlan();
    const Result result = runPlan(plan);
    QCOMPARE(result.state, qint32(TaskSpecification::TaskErrorCanceled));
    QCOMPARE(result.messages.last(),
        QStringLiteral("Warning: product ini contains unsafe path %1 in section %2")
            .arg(path, section));
    QCOMPARE(result.errors, result.refusal());
    QCOMPARE(plan.deleteList, sentinelPlan().deleteList);
    QCOMPARE(plan.downloadList.size(), 1);
    QVERIFY(plan.replaceList.isEmpty());
}

// Symbolic links planted in the installation, beside it or in the session directory: a link
// that would carry a write or a deletion elsewhere refuses the whole plan, one that stays
// inside is followed, and a link in place of a listed file is replaced, never written through.
// "{root}", "{up}" (the root's parent), "{session}" and "{canary}" (a folder outside all of
// them) stand for real paths.
void tst_MakeDownloadReplaceList::linksOnTheWay_data()
{
    QTest::addColumn<QString>("ini");
    QTest::addColumn<QStringList>("installed"); // path=content below the root
    QTest::addColumn<QStringList>("links"); // link=target
    QTest::addColumn<QStringList>("canary"); // name=content in the canary folder
    QTest::addColumn<QString>("failure"); // the last message of a refused plan
    QTest::addColumn<QStringList>("replaces");
    QTest::addColumn<QStringList>("deletes");
    QTest::addColumn<QStringList>("notes");

    const QStringList outOfRoot { "{root}/inst/out={canary}" };
    const QStringList insideRoot { "{root}/inst/alias={root}/inst/real" };
    const QStringList outOfUp { "{up}/tst_files_up/MacOS={canary}" };

    QTest::newRow("folder link leaving the root")
        << "[files]\ninst\\out\\x={md5:new}::3\n"
        << QStringList() << outOfRoot << QStringList { "x=old" }
        << "Warning: product ini path inst/out/x in section files resolves to {canary}/x, "
           "outside {root}"
        << QStringList() << QStringList() << QStringList();
    QTest::newRow("folder link leaving the root, folders still to make below it")
        << "[files]\ninst\\out\\new\\deep\\x={md5:new}::3\n"
        << QStringList() << outOfRoot << QStringList()
        << "Warning: product ini path inst/out/new/deep/x in section files resolves to "
           "{canary}/new/deep/x, outside {root}"
        << QStringList() << QStringList() << QStringList();
    QTest::newRow("packed file unpacked through a link leaving the root")
        << "[files]\npk\\a.gz={md5:gz}::3::{md5:u}::1::inst/out/a.dylib\n"
        << QStringList() << outOfRoot << QStringList()
        << "Warning: product ini path inst/out/a.dylib in section files resolves to "
           "{canary}/a.dylib, outside {root}"
        << QStringList() << QStringList() << QStringList();
    QTest::newRow("link to the root's parent, for a file of the root")
        << "[files]\ninst\\up\\x={md5:new}::3\n"
        << QStringList() << QStringList { "{root}/inst/up={up}" } << QStringList()
        << "Warning: product ini path inst/up/x in section files resolves to {up}/x, outside "
           "{root}"
        << QStringList() << QStringList() << QStringList();
    QTest::newRow("one level up, through a link leaving the root's parent")
        << "[bin_macosx]\ntst_files_up\\MacOS\\app={md5:new}::3\n"
        << QStringList() << outOfUp << QStringList()
        << "Warning: product ini path tst_files_up/MacOS/app in section bin_macosx resolves to "
           "{canary}/app, outside {up}"
        << QStringList() << QStringList() << QStringList();
    QTest::newRow("deletion through a link leaving the root")
        << "[delete]\ninst\\out\\victim=1\n"
        << QStringList() << outOfRoot << QStringList { "victim=precious" }
        << "Warning: product ini path inst/out/victim in section delete resolves to "
           "{canary}/victim, outside {root}"
        << QStringList() << QStringList() << QStringList();
    QTest::newRow("deletion one level up, through a link leaving the root's parent")
        << "[delete]\n..\\tst_files_up\\MacOS\\victim=1\n"
        << QStringList() << outOfUp << QStringList { "victim=precious" }
        << "Warning: product ini path ../tst_files_up/MacOS/victim in section delete resolves "
           "to {canary}/victim, outside {up}"
        << QStringList() << QStringList() << QStringList();
    QTest::newRow("broken link on the way")
        << "[files]\ninst\\gone\\x={md5:new}::3\n"
        << QStringList() << QStringList { "{root}/inst/gone={canary}/missing" } << QStringList()
        << "Warning: product ini path inst/gone/x in section files leads through a broken "
           "symbolic link"
        << QStringList() << QStringList() << QStringList();
    QTest::newRow("session folder link leaving the session directory")
        << "[files]\ninst\\x={md5:new}::3\n"
        << QStringList() << QStringList { "{session}/inst={canary}" } << QStringList { "x=old" }
        << "Warning: product ini path inst/x in section files resolves to {canary}/x, outside "
           "{session}"
        << QStringList() << QStringList() << QStringList();
    QTest::newRow("download itself a link leaving the session directory")
        << "[files]\ninst\\x={md5:new}::3\n"
        << QStringList() << QStringList { "{session}/inst/x={canary}/x" } << QStringList { "x=old" }
        << "Warning: product ini path inst/x in section files resolves to {canary}/x, outside "
           "{session}"
        << QStringList() << QStringList() << QStringList();
    QTest::newRow("signature of a signed download a link leaving the session directory")
        << "[files]\ninst\\tool=::3\n"
        << QStringList() << QStringList { "{session}/inst/tool.sig={canary}/sig" }
        << QStringList { "sig=old" }
        << "Warning: product ini path inst/tool.sig in section files resolves to {canary}/sig, "
           "outside {session}"
        << QStringList() << QStringList() << QStringList();
    QTest::newRow("two names of one file through a link inside the root")
        << "[a]\ninst\\real\\x={md5:x}::1\n[b]\ninst\\alias\\x={md5:x}::1\n"
        << QStringList { "inst/real/x=old" } << insideRoot << QStringList()
        << "Warning: product ini installs inst/alias/x twice (section b)" << QStringList()
        << QStringList() << QStringList();
    QTest::newRow("folder link inside the root: followed")
        << "[files]\ninst\\alias\\x={md5:new}::3\n"
        << QStringList { "inst/real/x=old" } << insideRoot << QStringList() << QString()
        << QStringList { "inst/alias/x" } << QStringList() << QStringList();
    QTest::newRow("installed through one name, deleted through another: kept")
        << "[delete]\ninst\\alias\\x=1\n[files]\ninst\\real\\x={md5:new}::3\n"
        << QStringList { "inst/real/x=old" } << insideRoot << QStringList() << QString()
        << QStringList { "inst/real/x" } << QStringList()
        << QStringList {
               "Warning: product ini installs and deletes inst/alias/x; it is not deleted"
           };
    QTest::newRow("link leaving the root in place of a listed file: replaced, never current")
        << "[files]\ninst\\update={md5:same}::4\n"
        << QStringList() << QStringList { "{root}/inst/update={canary}/update" }
        << QStringList { "update=same" } << QString() << QStringList { "inst/update" }
        << QStringList() << QStringList();
    QTest::newRow("link leaving the root, listed for deletion: the link goes")
        << "[delete]\ninst\\link=1\n"
        << QStringList() << QStringList { "{root}/inst/link={canary}/victim" }
        << QStringList { "victim=precious" } << QString() << QStringList()
        << QStringList { "inst/link" } << QStringList();
}

void tst_MakeDownloadReplaceList::linksOnTheWay()
{
    QFETCH(QString, ini);
    QFETCH(QStringList, installed);
    QFETCH(QStringList, links);
    QFETCH(QStringList, canary);
    QFETCH(QString, failure);
    QFETCH(QStringList, replaces);
    QFETCH(QStringList, deletes);
    QFETCH(QStringList, notes);
    QTemporaryDir canaryDir;
    QVERIFY(canaryDir.isValid());
    const auto real = [](const QString& path) { return QFileInfo(path).canonicalFilePath(); };
    const QString canaryPath = real(canaryDir.path());
    const auto place = [&](QString text) {
        return text.replace(QStringLiteral("{root}"), real(root))
            .replace(QStringLiteral("{up}"), real(root + QStringLiteral("..")))
            .replace(QStringLiteral("{session}"), real(session->path()))
            .replace(QStringLiteral("{canary}"), canaryPath);
    };
    writeIni(ini);
    QVERIFY(writeFiles(root, installed));
    QVERIFY(writeFiles(canaryPath, canary));
    // A plan must not change even the mode of a file outside.
    QHash<QString, QFile::Permissions> canaryModes;
    for (const QString& entry : std::as_const(canary)) {
        const QString path = canaryPath + QLatin1Char('/') + entry.section(QLatin1Char('='), 0, 0);
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
        canaryModes.insert(path, QFile::permissions(path));
    }
    for (const QString& link : std::as_const(links)) {
        const QString path = place(link.section(QLatin1Char('='), 0, 0));
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QVERIFY(QFile::link(place(link.section(QLatin1Char('='), 1)), path));
    }

    FileSpecifications plan = sentinelPlan();
    const Result result = runPlan(plan);

    for (const QString& entry : std::as_const(canary)) {
        const int split = entry.indexOf(QLatin1Char('='));
        QFile file(canaryPath + QLatin1Char('/') + entry.left(split));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), entry.mid(split + 1).toUtf8());
        QCOMPARE(file.permissions(), canaryModes.value(file.fileName()));
    }
    if (!failure.isEmpty()) {
        QCOMPARE(result.state, qint32(TaskSpecification::TaskErrorCanceled));
        QCOMPARE(result.messages.last(), place(failure));
        QCOMPARE(result.errors, result.refusal());
        QCOMPARE(plan.deleteList, sentinelPlan().deleteList);
        QVERIFY(plan.replaceList.isEmpty());
        return;
    }
    QCOMPARE(result.state, qint32(TaskSpecification::TaskFinished));
    QCOMPARE(result.messages.mid(1), notes);
    QStringList actualReplaces;
    for (const FileReplaceSpecification& entry : std::as_const(plan.replaceList))
        actualReplaces.append(entry.destFileName(QString()));
    QCOMPARE(actualReplaces, replaces);
    QCOMPARE(plan.deleteList, deletes);
}

void tst_MakeDownloadReplaceList::fileList_data()
{
    QTest::addColumn<QString>("ini"); // the sections; the key of the list is added before them
    QTest::addColumn<QString>("sums"); // the list the ini names
    QTest::addColumn<QString>("sessionSums"); // the list in the session; null: sums
    QTest::addColumn<QStringList>("downloaded"); // name=content in the session directory
    QTest::addColumn<QStringList>("downloads"); // section/fileName=sha256
    QTest::addColumn<QString>("failure"); // the last message of a failed plan

    const QString ini = QStringLiteral(
        "[files]\ninst\\a.txt={md5:a}::1\ninst\\b.txt={md5:b}::1\n[delete]\ninst\\c=1\n");
    const QString sums
        = QStringLiteral("{sha256:a}  files/inst/a.txt\n{sha256:b}  files/inst/b.txt\n");
    QTest::newRow("each download gets its listed digest")
        << ini << sums << QString() << QStringList()
        << QStringList { "files/inst/a.txt=" + expand("{sha256:a}"),
               "files/inst/b.txt=" + expand("{sha256:b}") }
        << QString();
    QTest::newRow("a download left behind whose SHA-256 differs is fetched again")
        << ini << QStringLiteral("{sha256:a}  files/inst/a.txt\n{sha256:B}  files/inst/b.txt\n")
        << QString() << QStringList { "inst/a.txt=a", "inst/b.txt=b" }
        << QStringList { "files/inst/b.txt=" + expand("{sha256:B}") } << QString();
    QTest::newRow("a file the list does not name refuses the ini")
        << ini << QStringLiteral("{sha256:a}  files/inst/a.txt\n") << QString() << QStringList()
        << QStringList()
        << "Warning: the file list does not name inst/b.txt in section files; refusing the "
           "product ini";
    QTest::newRow("a list the ini does not name refuses the ini")
        << ini << sums << sums + QStringLiteral("{sha256:c}  files/inst/c\n") << QStringList()
        << QStringList()
        << "The file list of the product ini could not be verified; refusing the product ini";
}

void tst_MakeDownloadReplaceList::fileList()
{
    QFETCH(QString, ini);
    QFETCH(QString, sums);
    QFETCH(QString, sessionSums);
    QFETCH(QStringList, downloaded);
    QFETCH(QStringList, downloads);
    QFETCH(QString, failure);
    const QByteArray list = expand(sums).toUtf8();
    writeIni(QStringLiteral("version=7\nsha256sums=")
        + QString::fromLatin1(QCryptographicHash::hash(list, QCryptographicHash::Sha256).toHex())
        + QLatin1Char('\n') + ini);
    QVERIFY(writeFile(session->filePath(clientType + QStringLiteral(".ini.sha256")),
        sessionSums.isNull() ? list : expand(sessionSums).toUtf8()));
    QVERIFY(writeFiles(session->path(), downloaded));

    FileSpecifications plan = sentinelPlan();
    const Result result = runPlan(plan);
    if (!failure.isEmpty()) {
        QCOMPARE(result.state, qint32(TaskSpecification::TaskErrorCanceled));
        QCOMPARE(result.messages.last(), failure);
        QCOMPARE(plan.downloadList.size(), 1);
        return;
    }
    QCOMPARE(result.state, qint32(TaskSpecification::TaskFinished));
    QStringList actual;
    for (const FileDownloadSpecification& entry : std::as_const(plan.downloadList))
        actual.append(
            entry.section + QLatin1Char('/') + entry.fileName + QLatin1Char('=') + entry.sha256);
    actual.sort();
    QCOMPARE(actual, downloads);
}

void tst_MakeDownloadReplaceList::deltas_data()
{
    QTest::addColumn<QString>("ini"); // the sections; the key of the delta list is added
    QTest::addColumn<QString>("deltas"); // the list the ini names
    QTest::addColumn<QString>("sessionDeltas"); // the list in the session; null: deltas
    QTest::addColumn<QStringList>("installed"); // name=content below the root
    QTest::addColumn<QStringList>("downloads"); // section/fileName=delta remote path
    QTest::addColumn<QString>("message"); // logged by the plan, which never fails for deltas

    const QString ini = QStringLiteral("[files]\ninst\\a.txt={md5:new}::3\n");
    const QString deltas
        = QStringLiteral("# format\n{sha256:old} 9 {sha256:delta} {sha256:new} files/inst/a.txt\n");
    const QString taken = QStringLiteral("files/inst/a.txt=deltas/files/inst/a.txt.zst");
    QTest::newRow("installed file is the base: the delta is taken")
        << ini << deltas << QString() << QStringList { "inst/a.txt=old" } << QStringList { taken }
        << QString();
    QTest::newRow("installed file changed locally: the whole file")
        << ini << deltas << QString() << QStringList { "inst/a.txt=mine" }
        << QStringList { "files/inst/a.txt=" } << QString();
    QTest::newRow("no installed file: the whole file")
        << ini << deltas << QString() << QStringList() << QStringList { "files/inst/a.txt=" }
        << QString();
    QTest::newRow("list in the session differs from the pinned one: whole files")
        << ini << deltas << deltas + QStringLiteral("# more\n")
        << QStringList { "inst/a.txt=old" } << QStringList { "files/inst/a.txt=" }
        << "No usable delta list; downloading whole files";
    QTest::newRow("malformed line: whole files")
        << ini << deltas + QStringLiteral("{sha256:old} nine {sha256:d} {sha256:n} files/x\n")
        << QString() << QStringList { "inst/a.txt=old" } << QStringList { "files/inst/a.txt=" }
        << "No usable delta list; downloading whole files";
    QTest::newRow("packed file: the whole file")
        << QStringLiteral("[files]\ninst\\a.txt.gz={md5:gz}::2::{md5:new}::3::inst/a.txt\n")
        << QStringLiteral("{sha256:old} 9 {sha256:delta} {sha256:new} files/inst/a.txt.gz\n")
        << QString() << QStringList { "inst/a.txt=old" } << QStringList { "files/inst/a.txt.gz=" }
        << QString();
    QTest::newRow("another file of the release where the delta would be kept")
        << ini + QStringLiteral("inst\\a.txt.delta={md5:other}::5\n") << deltas << QString()
        << QStringList { "inst/a.txt=old", "inst/a.txt.delta=other" }
        << QStringList { "files/inst/a.txt=" } << QString();
}

// Deltas only save bytes: the plan attaches one where it can and otherwise plans whole files.
void tst_MakeDownloadReplaceList::deltas()
{
    QFETCH(QString, ini);
    QFETCH(QString, deltas);
    QFETCH(QString, sessionDeltas);
    QFETCH(QStringList, installed);
    QFETCH(QStringList, downloads);
    QFETCH(QString, message);
    const QByteArray list = expand(deltas).toUtf8();
    writeIni(QStringLiteral("version=7\ndeltas=")
        + QString::fromLatin1(QCryptographicHash::hash(list, QCryptographicHash::Sha256).toHex())
        + QLatin1Char('\n') + ini);
    QVERIFY(writeFile(session->filePath(clientType + QStringLiteral(".ini.deltas")),
        sessionDeltas.isNull() ? list : expand(sessionDeltas).toUtf8()));
    QVERIFY(writeFiles(root, installed));

    FileSpecifications plan;
    const Result result = runPlan(plan);
    QCOMPARE(result.state, qint32(TaskSpecification::TaskFinished));
    QCOMPARE(result.messages.contains(message), !message.isEmpty());
    QStringList actual;
    for (const FileDownloadSpecification& entry : std::as_const(plan.downloadList)) {
        actual.append(entry.section + QLatin1Char('/') + entry.fileName + QLatin1Char('=')
            + entry.deltaRemotePath);
        if (entry.hasDelta()) {
            QCOMPARE(entry.deltaSize, quint64(9));
            QCOMPARE(entry.deltaBasePath, root + QStringLiteral("inst/a.txt"));
            // The base's SHA-256 is kept, so the next release's delta needs no hashing.
            StatCache cache;
            cache.load(root);
            struct stat status;
            QCOMPARE(::lstat(QFile::encodeName(entry.deltaBasePath).constData(), &status), 0);
            QCOMPARE(QString::fromLatin1(cache.lookup(QStringLiteral("inst/a.txt"), status).sha256),
                entry.deltaBaseSha256);
        }
    }
    QCOMPARE(actual, downloads);
}

// A release published by the release tool, against the previous version as installed.
void tst_MakeDownloadReplaceList::productIniFromReleaseTool()
{
    CRV_SKIP_CHILD_PROCESS_UNDER_TSAN();
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString previous = work.filePath(QStringLiteral("previous"));
    const QString next = work.filePath(QStringLiteral("next"));
    const QStringList old { "inst/same.txt=same", "inst/changed.txt=old", "inst/gone.txt=gone",
        "inst/lib/libx.dylib=old library", "inst/lib/liby.dylib=same library" };
    QVERIFY(writeFiles(previous, old));
    QVERIFY(writeFiles(root, old));
    QVERIFY(writeFiles(next,
        { "inst/same.txt=same", "inst/changed.txt=new", "inst/added/new.txt=added",
            "inst/lib/libx.dylib=new library", "inst/lib/liby.dylib=same library" }));

    const QString mirror = work.filePath(QStringLiteral("mirror"));
    QProcess tool;
    tool.start(QStringLiteral(CRV_RELEASE_TOOL),
        { QStringLiteral("publish"), QStringLiteral("--key"),
            QStringLiteral(CRV_TEST_PRIVATE_KEY_FILE), QStringLiteral("--input"), next,
            QStringLiteral("--previous"), previous, QStringLiteral("--version"),
            QStringLiteral("7"), QStringLiteral("--output"), mirror, QStringLiteral("--pack"),
            QStringLiteral("*.dylib") });
    QVERIFY(tool.waitForFinished(30000));
    QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
    QVERIFY(QFile::copy(mirror + QStringLiteral("/7/") + clientType + QStringLiteral(".ini"),
        session->filePath(clientType + QStringLiteral(".ini"))));
    QVERIFY(QFile::copy(mirror + QStringLiteral("/7/") + clientType + QStringLiteral(".ini.sha256"),
        session->filePath(clientType + QStringLiteral(".ini.sha256"))));

    FileSpecifications plan;
    QCOMPARE(runPlan(plan).state, qint32(TaskSpecification::TaskFinished));

    QStringList replaces;
    for (const FileReplaceSpecification& entry : std::as_const(plan.replaceList)) {
        replaces.append(entry.destFileName(QString()));
        // Every file to fetch is on the mirror where the plan says.
        QVERIFY(QFile::exists(
            mirror + QStringLiteral("/7/") + entry.section + QLatin1Char('/') + entry.fileName));
    }
    replaces.sort();
    QCOMPARE(
        replaces, QStringList({ "inst/added/new.txt", "inst/changed.txt", "inst/lib/libx.dylib" }));
    QCOMPARE(plan.downloadList.size(), 3);
    for (const FileDownloadSpecification& entry : std::as_const(plan.downloadList)) {
        QFile served(
            mirror + QStringLiteral("/7/") + entry.section + QLatin1Char('/') + entry.fileName);
        QVERIFY(served.open(QIODevice::ReadOnly));
        QCOMPARE(entry.sha256,
            QString::fromLatin1(
                QCryptographicHash::hash(served.readAll(), QCryptographicHash::Sha256).toHex()));
    }
    QCOMPARE(plan.deleteList, QStringList { "inst/gone.txt" });
}

// Files are checked several at a time, so a small file's check ends before that of a large one
// listed ahead of it: the lists and the progress still follow the ini.
void tst_MakeDownloadReplaceList::checksEndingOutOfOrderKeepTheIniOrder()
{
    const int count = 24;
    QString ini = QStringLiteral("[delete]\n");
    for (int i = 0; i < count; ++i) {
        // Every other file to delete exists.
        const QString name = QStringLiteral("inst/gone%1").arg(i, 2, 10, QLatin1Char('0'));
        ini += QString(name).replace(QLatin1Char('/'), QLatin1Char('\\')) + QStringLiteral("=1\n");
        if (i % 2 == 0)
            QVERIFY(writeFile(root + name, "x"));
    }
    ini += QStringLiteral("[files]\n");
    for (int i = 0; i < count; ++i) {
        // Large and tiny installed files in turn, every one of them changed; every third
        // download is already complete in the session directory.
        const QString name = QStringLiteral("inst/f%1").arg(i, 2, 10, QLatin1Char('0'));
        const QByteArray fresh = "new " + QByteArray::number(i);
        ini += QString(name).replace(QLatin1Char('/'), QLatin1Char('\\')) + QLatin1Char('=')
            + md5(fresh) + QStringLiteral("::%1\n").arg(fresh.size());
        QVERIFY(writeFile(root + name, QByteArray(i % 2 == 0 ? 4 << 20 : 1, char('a' + i))));
        if (i % 3 == 0)
            QVERIFY(writeFile(session->filePath(name), fresh));
    }
    writeIni(ini);

    // The order in which the settings reader lists the keys is the order of the plan.
    QSettings settings(
        session->filePath(clientType + QStringLiteral(".ini")), QSettings::IniFormat);
    QStringList expectedDeletes, expectedReplaces, expectedDownloads;
    settings.beginGroup(QStringLiteral("delete"));
    for (const QString& key : settings.allKeys()) {
        if (QFile::exists(root + key))
            expectedDeletes.append(key);
    }
    settings.endGroup();
    settings.beginGroup(QStringLiteral("files"));
    for (const QString& key : settings.allKeys()) {
        expectedReplaces.append(key);
        if (!QFile::exists(session->filePath(key)))
            expectedDownloads.append(key);
    }
    settings.endGroup();
    QCOMPARE(settings.childGroups(), QStringList({ "delete", "files" }));

    FileSpecifications plan;
    MakeDownloadReplaceListTaskSpecification task(&configuration, plan, nullptr, 1.0);
    QList<qreal> progress;
    connect(&task, &TaskSpecification::updateProgress, this,
        [&progress](qreal value) { progress.append(value); });
    task.execute();
    QTRY_VERIFY_WITH_TIMEOUT(task.state != TaskSpecification::TaskRunning, 20000);
    QCOMPARE(task.state, qint32(TaskSpecification::TaskFinished));

    QStringList replaces, downloads;
    for (const FileReplaceSpecification& entry : std::as_const(plan.replaceList))
        replaces.append(entry.fileName);
    for (const FileDownloadSpecification& entry : std::as_const(plan.downloadList))
        downloads.append(entry.fileName);
    QCOMPARE(plan.deleteList, expectedDeletes);
    QCOMPARE(replaces, expectedReplaces);
    QCOMPARE(downloads, expectedDownloads);
    // Once per key, in order, then the finish.
    QList<qreal> expectedProgress;
    for (int i = 1; i <= 2 * count; ++i)
        expectedProgress.append(qreal(i) / (2 * count));
    expectedProgress.append(1.0);
    QCOMPARE(progress, expectedProgress);
}

void tst_MakeDownloadReplaceList::statCache_data()
{
    QTest::addColumn<QString>("cache");
    QTest::addColumn<bool>("replaced");
    QTest::addColumn<QString>("note");
    QTest::addColumn<int>("hashed");

    // A cache that claims other content for the file is what shows whether it was believed.
    QTest::newRow("a cache written after the file is trusted") << "false claim" << true << "" << 0;
    QTest::newRow("racily clean: written in the file's tick")
        << "false claim, same tick" << false << "" << 1;
    QTest::newRow("damaged") << "false claim, damaged" << false << "(damaged)" << 1;
    QTest::newRow("copied from another installation")
        << "false claim, other root" << false << "(another version's, or another installation's)"
        << 1;
    QTest::newRow("--verify-all") << "false claim, verify all" << false << "" << 1;
    // touch restores the modification time, never the change time.
    QTest::newRow("rewritten in place, size and time restored")
        << "true, then rewritten" << true << "" << 1;
}

void tst_MakeDownloadReplaceList::statCache()
{
    QFETCH(QString, cache);
    QFETCH(bool, replaced);
    QFETCH(QString, note);
    QFETCH(int, hashed);

    const QString file = root + QStringLiteral("inst/a.txt");
    QVERIFY(writeFile(file, "aaaa"));
    QFile installed(file);
    QVERIFY(installed.open(QIODevice::ReadWrite));
    const QDateTime past = QDateTime::currentDateTime().addSecs(-100);
    QVERIFY(installed.setFileTime(past, QFileDevice::FileModificationTime));
    installed.close();
    writeIni(QStringLiteral("[files]\ninst\\a.txt={md5:aaaa}::4\n"));

    FileSpecifications plan;
    if (cache.startsWith(QStringLiteral("true"))) {
        QCOMPARE(runPlan(plan).state, qint32(TaskSpecification::TaskFinished));
        QVERIFY(plan.replaceList.isEmpty());
        QVERIFY(installed.open(QIODevice::ReadWrite));
        QCOMPARE(installed.write("bbbb"), qint64(4));
        QVERIFY(installed.flush());
        QVERIFY(installed.setFileTime(past, QFileDevice::FileModificationTime));
        installed.close();
    } else {
        struct stat status;
        QCOMPARE(::lstat(QFile::encodeName(file).constData(), &status), 0);
        StatCache claim;
        claim.record(QStringLiteral("inst/a.txt"), status, md5("bbbb").toLatin1());
        QTemporaryDir other;
        QVERIFY(claim.save(cache.endsWith(QStringLiteral("other root")) ? other.path() : root));
        if (cache.endsWith(QStringLiteral("other root")))
            QVERIFY(
                QFile::copy(other.filePath(StatCache::fileName()), root + StatCache::fileName()));
        QFile written(root + StatCache::fileName());
        QVERIFY(written.open(QIODevice::ReadWrite));
        if (cache.endsWith(QStringLiteral("same tick")))
            QVERIFY(written.setFileTime(past, QFileDevice::FileModificationTime));
        if (cache.endsWith(QStringLiteral("damaged"))) {
            QVERIFY(written.seek(20));
            QCOMPARE(written.write("9"), qint64(1));
        }
        configuration.verifyAll = cache.endsWith(QStringLiteral("verify all"));
    }

    plan.clear();
    const Result result = runPlan(plan);
    QCOMPARE(result.state, qint32(TaskSpecification::TaskFinished));
    QCOMPARE(plan.replaceList.size(), replaced ? 1 : 0);
    const QStringList notes = result.messages.filter(QStringLiteral("stat cache"));
    QCOMPARE(notes.size(), note.isEmpty() ? 0 : 1);
    if (!note.isEmpty())
        QVERIFY2(notes.first().contains(note), qPrintable(notes.first()));
    QCOMPARE(result.hashed,
        QStringLiteral("Hashed %1 of 1 installed files (the others unchanged since last hashed)")
            .arg(hashed));
}

QTEST_GUILESS_MAIN(tst_MakeDownloadReplaceList)
#include "tst_makedownloadreplacelist.moc"
