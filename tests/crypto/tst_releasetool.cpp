#include "checksigfunc.h"
#include "crypt.h"
#include "ed25519key.h"
#include "ed25519signaturefile.h"
#include "testfiles.h"
#include "trustedkeys.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <zlib.h>

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run releaseTool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(CRV_RELEASE_TOOL), arguments);
    Run result;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = process.exitCode();
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.err = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray randomBytes(int size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (char& c : data)
        c = char(QRandomGenerator::global()->generate());
    return data;
}

QString md5(const QByteArray& data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
}

QByteArray gunzip(const QString& path)
{
    QByteArray result;
    gzFile in = gzopen(QFile::encodeName(path).constData(), "rb");
    if (in == nullptr)
        return QByteArray("<not gzip>");
    char buffer[65536];
    int n = 0;
    while ((n = gzread(in, buffer, sizeof buffer)) > 0)
        result.append(buffer, n);
    gzclose(in);
    return n < 0 ? QByteArray("<corrupt>") : result;
}

// Everything in a directory, hidden entries included: what a failed run must leave unchanged.
QStringList listing(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

const QString demoPrivate = QStringLiteral(CRV_TEST_PRIVATE_KEY_FILE);
const QString demoPublic = QStringLiteral(CRV_SOURCE_DIR "/keys/demo-public.key");
const QString demoEd25519Private
    = QStringLiteral(CRV_SOURCE_DIR "/keys/demo-ed25519-release-private.pem");
const QString demoEd25519Public
    = QStringLiteral(CRV_SOURCE_DIR "/keys/demo-ed25519-release-public.pem");

} // namespace

class TestReleaseTool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void keygenSignVerify();
    void keygenEd25519();
    void signRefuses_data();
    void signRefuses();
    void publish();
    void publishDeltas_data();
    void publishDeltas();
    void publishRefuses_data();
    void publishRefuses();
    void versionsRefuses_data();
    void versionsRefuses();

private:
    QString path(const QString& name) const { return dir.filePath(name); }
    QStringList publishArguments(const QString& output) const;

    QTemporaryDir dir { QCoreApplication::applicationDirPath() + QStringLiteral("/tmp-XXXXXX") };
    QMap<QString, QByteArray> tree; // the new version, install-relative
};

void TestReleaseTool::initTestCase()
{
    QVERIFY(dir.isValid());
    crypt_init();
    tree[QStringLiteral("app.bin")] = randomBytes(3000);
    tree[QStringLiteral("lib/libcore.dylib")] = QByteArray(200000, 'x') + randomBytes(100);
    tree[QStringLiteral("Contents/Resources/a b%c,d.txt")] = "odd name";
    tree[QStringLiteral("data/config.xml")] = "<config/>";
    tree[QStringLiteral(".hidden")] = "";
    for (auto it = tree.cbegin(); it != tree.cend(); ++it)
        QVERIFY(TestFiles::write(path(QStringLiteral("tree/") + it.key()), it.value()));
    QVERIFY(TestFiles::write(path(QStringLiteral("bin/MacOS/launcher")), "launcher"));
    for (const char* old : { "app.bin", "removed.txt", "lib/libcore.dylib", "lib/gone.dylib" })
        QVERIFY(TestFiles::write(path(QStringLiteral("old/") + QLatin1String(old)), "old"));
    QVERIFY(TestFiles::write(path(QStringLiteral("changes.txt")), "3013: faster updates\n"));
    QVERIFY(TestFiles::write(path(QStringLiteral("clash/app.bin")), "same download name"));
    QVERIFY(TestFiles::write(path(QStringLiteral("linked/real")), "real"));
    QVERIFY(QFile::link(QStringLiteral("real"), path(QStringLiteral("linked/link"))));
    QVERIFY(TestFiles::write(path(QStringLiteral("line break/a\nb")), "unlistable"));
}

void TestReleaseTool::keygenSignVerify()
{
    const QString keys = path(QStringLiteral("keys"));
    QCOMPARE(releaseTool({ "keygen", keys }).exitCode, 0);
    const QString privateKey = keys + QStringLiteral("/private.key");
    const QString publicKey = keys + QStringLiteral("/public.key");
    QCOMPARE(QFileInfo(privateKey).size(), 2048);
    QCOMPARE(QFileInfo(publicKey).size(), 2048);
    QCOMPARE(QFile::permissions(privateKey)
            & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
        QFile::Permissions());

    const QByteArray before = readAll(privateKey);
    const Run again = releaseTool({ "keygen", keys });
    QVERIFY(again.exitCode != 0);
    QVERIFY2(again.err.contains(QLatin1String("already exists")), qPrintable(again.err));
    QCOMPARE(readAll(privateKey), before);

    const QString a = path(QStringLiteral("a.bin"));
    const QString b = path(QStringLiteral("b.bin"));
    QVERIFY(TestFiles::write(a, randomBytes(5000)));
    QVERIFY(TestFiles::write(b, QByteArray()));
    QCOMPARE(releaseTool({ "sign", "--key", privateKey, a, b }).exitCode, 0);
    QCOMPARE(QFileInfo(a + QStringLiteral(".sig")).size(), 128);

    const Run verified = releaseTool({ "verify", "--key", publicKey, a, b });
    QCOMPARE(verified.exitCode, 0);
    QCOMPARE(verified.out.count(QLatin1String("OK")), 2);
    QVERIFY(releaseTool({ "verify", "--key", demoPublic, a }).exitCode != 0);
    const Run withPrivate = releaseTool({ "verify", "--key", privateKey, a });
    QCOMPARE(withPrivate.exitCode, 1);
    QCOMPARE(withPrivate.err,
        "crv-release: " + privateKey + " is a private key; verify takes the public key\n");

    QVERIFY(QFile::remove(b + QStringLiteral(".sig")));
    const Run partly = releaseTool({ "verify", "--key", publicKey, a, b });
    QCOMPARE(partly.exitCode, 1);
    QVERIFY2(partly.out.contains(QStringLiteral("OK      ") + a), qPrintable(partly.out));
    QVERIFY2(partly.out.contains(QStringLiteral("FAILED  ") + b), qPrintable(partly.out));
}

void TestReleaseTool::keygenEd25519()
{
    const QString keys = path(QStringLiteral("ed25519"));
    const Run made = releaseTool({ "keygen", "--ed25519", keys });
    QVERIFY2(made.exitCode == 0, qPrintable(made.err));
    const QString privateKey = keys + QStringLiteral("/ed25519-private.pem");
    const QString publicKey = keys + QStringLiteral("/ed25519-public.pem");
    QCOMPARE(QFile::permissions(privateKey)
            & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
        QFile::Permissions());
    const Ed25519Key secret = Ed25519Key::fromPem(readAll(privateKey));
    const Ed25519Key known = Ed25519Key::fromPem(readAll(publicKey));
    QVERIFY(secret.isPrivate());
    QVERIFY(!known.isNull() && !known.isPrivate());
    QCOMPARE(known.rawPublicKey(), secret.rawPublicKey());
    QVERIFY2(made.out.contains(QStringLiteral("key id ") + known.keyId()), qPrintable(made.out));

    const QByteArray before = readAll(privateKey);
    const Run again = releaseTool({ "keygen", "--ed25519", keys });
    QVERIFY(again.exitCode != 0);
    QVERIFY2(again.err.contains(QLatin1String("already exists")), qPrintable(again.err));
    QCOMPARE(readAll(privateKey), before);

    // verify-ed25519 checks a .sig2 with the public half only.
    const QString file = path(QStringLiteral("signed2.bin"));
    QVERIFY(TestFiles::write(file, randomBytes(700)));
    QVERIFY(TestFiles::write(
        file + QStringLiteral(".sig2"), Ed25519SignatureFile::line(secret, readAll(file))));
    const Run verified = releaseTool({ "verify-ed25519", "--key", publicKey, file });
    QVERIFY2(verified.exitCode == 0, qPrintable(verified.out + verified.err));
    QCOMPARE(releaseTool({ "verify-ed25519", "--key", demoEd25519Public, file }).exitCode, 1);
    const Run withPrivate = releaseTool({ "verify-ed25519", "--key", privateKey, file });
    QCOMPARE(withPrivate.exitCode, 1);
    QCOMPARE(withPrivate.err,
        "crv-release: " + privateKey + " is a private key; verify takes the public key\n");
}

void TestReleaseTool::signRefuses_data()
{
    QTest::addColumn<QByteArray>("keyContent"); // empty: no key file at all
    QTest::addColumn<bool>("fileExists");
    const QByteArray key = readAll(demoPrivate);
    QTest::newRow("key missing") << QByteArray() << true;
    QTest::newRow("key truncated") << key.left(100) << true;
    QTest::newRow("key not DER") << randomBytes(2048) << true;
    QTest::newRow("public key") << readAll(demoPublic) << true;
    QTest::newRow("file missing") << key << false;
}

void TestReleaseTool::signRefuses()
{
    QFETCH(QByteArray, keyContent);
    QFETCH(bool, fileExists);
    const QString key = path(QStringLiteral("sign.key"));
    QFile::remove(key);
    if (!keyContent.isEmpty())
        QVERIFY(TestFiles::write(key, keyContent));
    const QString file = path(QStringLiteral("unsigned.bin"));
    QFile::remove(file);
    if (fileExists)
        QVERIFY(TestFiles::write(file, "content"));

    const Run run = releaseTool({ "sign", "--key", key, file });
    QVERIFY(run.exitCode != 0);
    QVERIFY2(run.err.startsWith(QLatin1String("crv-release: ")), qPrintable(run.err));
    QVERIFY(!QFile::exists(file + QStringLiteral(".sig")));
}

QStringList TestReleaseTool::publishArguments(const QString& output) const
{
    return { "publish", "--key", demoPrivate, "--input", path(QStringLiteral("tree")), "--version",
        "3013", "--output", output };
}

void TestReleaseTool::publish()
{
    const QString output = path(QStringLiteral("mirror"));
    QStringList args = publishArguments(output);
    args << "--bin-dir" << path(QStringLiteral("bin")) << "--pack"
         << "*.dylib"
         << "--signed-files"
         << "data/*.xml"
         << "--previous" << path(QStringLiteral("old")) << "--changelog"
         << path(QStringLiteral("changes.txt"));
    // The active and a standby key.
    const QString standby = path(QStringLiteral("standby"));
    QCOMPARE(releaseTool({ "keygen", "--ed25519", standby }).exitCode, 0);
    args << "--ed25519-key" << demoEd25519Private << "--ed25519-key"
         << standby + QStringLiteral("/ed25519-private.pem");
    const Run run = releaseTool(args);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(listing(output), QStringList { "3013" });
    const QString version = output + QStringLiteral("/3013");
    QVERIFY(QFile::permissions(version) & QFile::ReadOther);

    const QString ini = version + QStringLiteral("/client_macosx.ini");
    QVERIFY(CheckSigFunc(ini, QString()).run());
    const QByteArray lines = readAll(ini + QStringLiteral(".sig2"));
    QCOMPARE(lines.count('\n'), 2);
    QVERIFY(Ed25519SignatureFile::verifies(
        lines, readAll(ini), TrustedKeys::builtIn(TrustedKeys::Release)));
    QVERIFY(Ed25519SignatureFile::verifies(lines, readAll(ini),
        TrustedKeys({ readAll(standby + QStringLiteral("/ed25519-public.pem")) })));
    QCOMPARE(readAll(version + QStringLiteral("/changelog_client.txt")),
        readAll(path(QStringLiteral("changes.txt"))));

    // The version, the type and the file list's digest come first, outside every section,
    // where the plan never looks.
    const QByteArray fileList = readAll(ini + QStringLiteral(".sha256"));
    QVERIFY(readAll(ini).startsWith("version=3013\ntype=client_macosx\nsha256sums="
        + QCryptographicHash::hash(fileList, QCryptographicHash::Sha256).toHex() + "\n["));
    // The list is what sha256sum -c checks a mirror's copy with: every file but the ini's own.
    // macOS ships shasum, which reads the same format.
    const bool gnu = !QStandardPaths::findExecutable(QStringLiteral("sha256sum")).isEmpty();
    QProcess sha256sum;
    sha256sum.setWorkingDirectory(version);
    sha256sum.start(gnu ? QStringLiteral("sha256sum") : QStringLiteral("shasum"),
        gnu ? QStringList { "-c", "--strict", "client_macosx.ini.sha256" }
            : QStringList { "-a", "256", "-c", "client_macosx.ini.sha256" });
    QVERIFY(sha256sum.waitForFinished(30000));
    QVERIFY2(sha256sum.exitCode() == 0, sha256sum.readAllStandardOutput().constData());
    QStringList listed;
    for (const QByteArray& line : fileList.split('\n')) {
        if (!line.isEmpty())
            listed.append(QString::fromUtf8(line.mid(66)));
    }
    QCOMPARE(listed,
        QStringList({ "bin_macosx/MacOS/launcher", "changelog_client.txt", "files/.hidden",
            "files/Contents/Resources/a b%c,d.txt", "files/app.bin", "files/data/config.xml",
            "files/data/config.xml.sig", "files/lib/libcore.dylib.gz" }));
    // Read the product ini the way the update plan does.
    QSettings settings(ini, QSettings::IniFormat);
    QCOMPARE(settings.childGroups(), QStringList({ "bin_macosx", "delete", "files" }));
    QMap<QString, QStringList> entries;
    for (const QString& section : { QStringLiteral("files"), QStringLiteral("bin_macosx") }) {
        settings.beginGroup(section);
        for (const QString& key : settings.allKeys()) {
            const QStringList fields = settings.value(key).toString().split(QStringLiteral("::"));
            entries[section + QLatin1Char('/') + key] = fields;
            // Every listed file lies on the mirror as section/fileName, as listed.
            const QByteArray remote
                = readAll(version + QLatin1Char('/') + section + QLatin1Char('/') + key);
            QCOMPARE(fields.at(1), QString::number(remote.size()));
            if (!fields.at(0).isEmpty())
                QCOMPARE(fields.at(0), md5(remote));
        }
        settings.endGroup();
    }
    settings.beginGroup(QStringLiteral("delete"));
    QCOMPARE(settings.allKeys(), QStringList({ "lib/gone.dylib", "removed.txt" }));
    settings.endGroup();

    QCOMPARE(entries.keys(),
        QStringList({ "bin_macosx/MacOS/launcher", "files/.hidden",
            "files/Contents/Resources/a b%c,d.txt", "files/app.bin", "files/data/config.xml",
            "files/data/config.xml.sig", "files/lib/libcore.dylib.gz" }));
    for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
        if (it.key() == QLatin1String("lib/libcore.dylib")
            || it.key() == QLatin1String("data/config.xml"))
            continue;
        QCOMPARE(entries.value(QStringLiteral("files/") + it.key()).size(), 2);
    }
    QCOMPARE(entries.value(QStringLiteral("bin_macosx/MacOS/launcher")).size(), 2);

    const QStringList packed = entries.value(QStringLiteral("files/lib/libcore.dylib.gz"));
    const QByteArray library = tree.value(QStringLiteral("lib/libcore.dylib"));
    QCOMPARE(packed.size(), 5);
    QCOMPARE(packed.at(2), md5(library));
    QCOMPARE(packed.at(3), QString::number(library.size()));
    QCOMPARE(packed.at(4), QStringLiteral("lib/libcore.dylib"));
    QCOMPARE(gunzip(version + QStringLiteral("/files/lib/libcore.dylib.gz")), library);
    QVERIFY(packed.at(1).toInt() < library.size() / 10);

    QCOMPARE(entries.value(QStringLiteral("files/data/config.xml")),
        QStringList({ QString(), QStringLiteral("9") }));
    QVERIFY(CheckSigFunc(version + QStringLiteral("/files/data/config.xml"), QString()).run());
}

void TestReleaseTool::publishDeltas_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("before"); // empty: the file is new
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<bool>("delta");

    const QByteArray big = randomBytes(256 * 1024);
    QByteArray edited = big;
    // One per cent of the bytes, spread over the file.
    for (int i = 0; i < edited.size(); i += 100)
        edited[i] = char(~edited.at(i));
    QTest::newRow("changed little") << "lib/engine.bin" << big << edited << true;
    QTest::newRow("name with spaces") << "Contents/a b c.bin" << big << edited << true;
    QTest::newRow("grown") << "grown.bin" << big << big + randomBytes(4096) << true;
    QTest::newRow("unchanged") << "same.bin" << big << big << false;
    QTest::newRow("new") << "new.bin" << QByteArray() << edited << false;
    QTest::newRow("changed wholly") << "other.bin" << big << randomBytes(big.size()) << false;
    // Below 64 KiB a delta saves less than its request costs.
    const QByteArray small = big.left(64 * 1024 - 1);
    QTest::newRow("below the threshold")
        << "small.bin" << small << QByteArray(small).replace(0, 1, "!") << false;
    QTest::newRow("packed") << "lib/libpacked.dylib" << big << edited << false;
    QTest::newRow("signed") << "data/signed.xml" << big << edited << false;
}

// The release tool alone decides which files get a delta; what it writes must be what the zstd
// command line restores, so that deltas are checked with other tools than ours.
void TestReleaseTool::publishDeltas()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QFETCH(bool, delta);

    const QString root = path(QStringLiteral("deltas-") + QTest::currentDataTag());
    QVERIFY(TestFiles::write(root + QStringLiteral("/new/") + name, after));
    QVERIFY(TestFiles::write(root + QStringLiteral("/old/other"), "keeps the tree"));
    if (!before.isEmpty())
        QVERIFY(TestFiles::write(root + QStringLiteral("/old/") + name, before));
    const Run run = releaseTool({ "publish", "--key", demoPrivate, "--input",
        root + QStringLiteral("/new"), "--version", "3014", "--output",
        root + QStringLiteral("/mirror"), "--previous", root + QStringLiteral("/old"), "--deltas",
        "--pack", "*.dylib", "--signed-files", "data/*.xml" });
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY2(run.out.contains(QStringLiteral(" with %1 deltas").arg(delta ? 1 : 0)),
        qPrintable(run.out));
    const QString version = root + QStringLiteral("/mirror/3014");
    const QString ini = version + QStringLiteral("/client_macosx.ini");
    const QByteArray list = readAll(ini + QStringLiteral(".deltas"));
    const QString deltaPath = version + QStringLiteral("/deltas/files/") + name
        + QStringLiteral(".zst");
    // The file's own entry is what an updater without deltas downloads.
    QSettings settings(ini, QSettings::IniFormat);
    if (!name.endsWith(QLatin1String(".dylib")) && !name.endsWith(QLatin1String(".xml")))
        QCOMPARE(settings.value(QStringLiteral("files/") + name).toString(),
            md5(after) + QStringLiteral("::") + QString::number(after.size()));
    if (!delta) {
        QCOMPARE(list, QByteArray("<missing>"));
        QVERIFY(!settings.contains(QStringLiteral("deltas")));
        QVERIFY(!QFileInfo::exists(version + QStringLiteral("/deltas")));
        return;
    }
    QCOMPARE(settings.value(QStringLiteral("deltas")).toString(),
        QString::fromLatin1(QCryptographicHash::hash(list, QCryptographicHash::Sha256).toHex()));
    QVERIFY(list.startsWith('#'));
    const QByteArray zst = readAll(deltaPath);
    QVERIFY(zst.size() < after.size() / 10);
    const auto sha256 = [](const QByteArray& data) {
        return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
    };
    QVERIFY2(list.contains('\n' + sha256(before) + ' ' + QByteArray::number(zst.size()) + ' '
                 + sha256(zst) + ' ' + sha256(after) + " files/" + name.toUtf8() + '\n'),
        list.constData());
    // The delta and its list are files of the release like any other.
    const QByteArray fileList = readAll(ini + QStringLiteral(".sha256"));
    QVERIFY(fileList.contains(sha256(list) + "  client_macosx.ini.deltas\n"));
    QVERIFY(fileList.contains(sha256(zst) + "  deltas/files/" + name.toUtf8() + ".zst\n"));

    if (QStandardPaths::findExecutable(QStringLiteral("zstd")).isEmpty())
        QSKIP("no zstd command to restore the delta with");
    QProcess zstd;
    zstd.start(QStringLiteral("zstd"),
        { "-q", "-d", "--long=31", "--patch-from=" + root + QStringLiteral("/old/") + name,
            deltaPath, "-o", root + QStringLiteral("/restored") });
    QVERIFY(zstd.waitForFinished(30000));
    QVERIFY2(zstd.exitCode() == 0, zstd.readAllStandardError().constData());
    QVERIFY(readAll(root + QStringLiteral("/restored")) == after);
}

void TestReleaseTool::publishRefuses_data()
{
    QTest::addColumn<QStringList>("extra"); // replaces or adds to the arguments
    QTest::addColumn<QString>("error");
    QTest::newRow("key missing") << QStringList { "--key", path("none.key") } << "cannot load key";
    QTest::newRow("public key") << QStringList { "--key", demoPublic } << "not a private key";
    QTest::newRow("Ed25519 public key")
        << QStringList { "--ed25519-key", demoEd25519Public } << "is not an Ed25519 private key";
    QTest::newRow("RSA key as the Ed25519 key")
        << QStringList { "--ed25519-key", demoPrivate } << "is not an Ed25519 private key";
    QTest::newRow("Ed25519 key missing")
        << QStringList { "--ed25519-key", path("none.pem") } << "cannot read key";
    QTest::newRow("input missing")
        << QStringList { "--input", path("none") } << "is not a directory";
    QTest::newRow("version exists") << QStringList() << "already exists";
    QTest::newRow("version not a number")
        << QStringList { "--version", "30a" } << "invalid version";
    QTest::newRow("previous tree missing")
        << QStringList { "--previous", path("none") } << "is not a directory";
    QTest::newRow("installed and deleted")
        << QStringList { "--delete", "app.bin" } << "both published and listed for deletion";
    QTest::newRow("two files, one download name")
        << QStringList { "--bin-dir", path("clash") } << "same place as another file";
    QTest::newRow("symbolic link") << QStringList { "--input", path("linked") } << "symbolic link";
    QTest::newRow("line break in a file name")
        << QStringList { "--input", path("line break") } << "cannot be stored in the file list";
    QTest::newRow("output inside the input")
        << QStringList { "--input", path("refused-output inside the input") } << "lies inside";
    QTest::newRow("reserved section") << QStringList { "--section", "delete" } << "invalid section";
    QTest::newRow("deltas without a previous tree")
        << QStringList { "--deltas", "--deltas" } << "deltas need the previous version's tree";
    QTest::newRow("deltas beside a section of that name")
        << QStringList { "--previous", path("old"), "--deltas", "--deltas", "--section", "deltas" }
        << "cannot be named \"deltas\"";
}

void TestReleaseTool::publishRefuses()
{
    QFETCH(QStringList, extra);
    QFETCH(QString, error);
    const QString output = path(QStringLiteral("refused-") + QTest::currentDataTag());
    QVERIFY(QDir().mkpath(output));
    if (extra.isEmpty())
        QVERIFY(TestFiles::write(output + QStringLiteral("/3013/client_macosx.ini"), "published"));
    const QStringList before = listing(output);

    QStringList args = publishArguments(output);
    for (int i = 0; i + 1 < extra.size(); i += 2) {
        const int at = args.indexOf(extra.at(i));
        if (at >= 0)
            args[at + 1] = extra.at(i + 1);
        else
            args << extra.at(i) << extra.at(i + 1);
    }
    const Run run = releaseTool(args);
    QVERIFY(run.exitCode != 0);
    QVERIFY2(run.err.startsWith(QLatin1String("crv-release: ")) && run.err.contains(error),
        qPrintable(run.err));
    QCOMPARE(listing(output), before);
    if (extra.isEmpty())
        QCOMPARE(readAll(output + QStringLiteral("/3013/client_macosx.ini")), "published");
}

void TestReleaseTool::versionsRefuses_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("reason");

    const QString key = QStringLiteral(CRV_SOURCE_DIR "/keys/demo-ed25519-versions-private.pem");
    const QString list = QStringLiteral("3014#3.0.14,3015#3.1 beta,3016");
    QTest::newRow("no key") << QStringList { "--list", list } << "versions needs --key";
    QTest::newRow("public key") << QStringList { "--key",
        CRV_SOURCE_DIR "/keys/demo-ed25519-versions-public.pem", "--list", list }
                                << "is not a private key";
    QTest::newRow("RSA key file") << QStringList { "--key", demoPrivate, "--list", list }
                                  << "is no Ed25519 key";
    QTest::newRow("two entries") << QStringList { "--key", key, "--list", "3014,3015" }
                                 << "exactly 3 entries";
    QTest::newRow("four entries") << QStringList { "--key", key, "--list", list + ",3017" }
                                  << "exactly 3 entries";
    QTest::newRow("no version number")
        << QStringList { "--key", key, "--list", "beta#3.1,3015,3016" } << "version number";
    QTest::newRow("line break in a name")
        << QStringList { "--key", key, "--list", "3014#a\nb,3015,3016" } << "control characters";
    QTest::newRow("beyond the 511 bytes") << QStringList { "--key", key, "--list",
        "3014#" + QString(380, QLatin1Char('n')) + ",3015,3016" }
                                          << "at most 511";
    QTest::newRow("no valid days")
        << QStringList { "--key", key, "--list", list, "--valid-days", "0" } << "at least 1";
    QTest::newRow("negative serial")
        << QStringList { "--key", key, "--list", list, "--serial", "-1" } << "invalid --serial";
}

void TestReleaseTool::versionsRefuses()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, reason);

    const Run run = releaseTool(QStringList { "versions" } + arguments);
    QVERIFY(run.exitCode != 0);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.err.startsWith(QLatin1String("crv-release: ")), qPrintable(run.err));
    QVERIFY2(run.err.contains(reason), qPrintable(run.err));
}

QTEST_GUILESS_MAIN(TestReleaseTool)
#include "tst_releasetool.moc"
