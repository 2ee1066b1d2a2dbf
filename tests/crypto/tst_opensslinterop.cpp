// Peers sign and verify with standard tools: a signature made by openssl must pass the updater's
// check, and one made by crv-release must pass openssl's; a public key made by openssl builds
// into the updater, and no other kind of key does. The same holds for the Ed25519 .sig2 lines.

#include "checksigfunc.h"
#include "crypt.h"
#include "ed25519signaturefile.h"
#include "testfiles.h"
#include "trustedkeys.h"

#include <QCryptographicHash>

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QStringList pssOptions
    = { QStringLiteral("-sha1"), QStringLiteral("-sigopt"), QStringLiteral("rsa_padding_mode:pss"),
          QStringLiteral("-sigopt"), QStringLiteral("rsa_pss_saltlen:8") };

struct Run
{
    int exitCode = -1;
    QByteArray output;
};

Run run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = process.exitCode();
    result.output = process.readAll();
    return result;
}

// A key file holds its DER SEQUENCE followed by zeros, which openssl does not accept.
QByteArray leadingDer(const QByteArray& keyFile)
{
    if (keyFile.size() < 4 || uchar(keyFile[0]) != 0x30)
        return QByteArray();
    const uchar first = uchar(keyFile[1]);
    if (first < 0x80)
        return keyFile.left(2 + first);
    if (first == 0x81)
        return keyFile.left(3 + uchar(keyFile[2]));
    if (first == 0x82)
        return keyFile.left(4 + (uchar(keyFile[2]) << 8 | uchar(keyFile[3])));
    return QByteArray();
}

} // namespace

class TestOpensslInterop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void publicKeyIsPkcs1();
    void opensslSignatureVerifiesInTheUpdater();
    void releaseToolSignatureVerifiesInOpenssl();
    void opensslEd25519SignatureVerifiesInTheUpdater();
    void releaseToolEd25519SignatureVerifiesInOpenssl();
    void versionListSignatureVerifiesInOpenssl();
    void buildEmbedsOnlyA1024BitPublicKey_data();
    void buildEmbedsOnlyA1024BitPublicKey();

private:
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir dir { QCoreApplication::applicationDirPath() + QStringLiteral("/tmp-XXXXXX") };
    QString openssl;
};

void TestOpensslInterop::initTestCase()
{
    openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (openssl.isEmpty())
        QFAIL("openssl is missing; scripts/setup installs it");
    crypt_init();
    QVERIFY(TestFiles::write(path("private.der"),
        leadingDer(TestFiles::read(QStringLiteral(CRV_TEST_PRIVATE_KEY_FILE)))));
    QVERIFY(TestFiles::write(path("public.der"),
        leadingDer(TestFiles::read(QStringLiteral(CRV_SOURCE_DIR "/keys/demo-public.key")))));
    QCOMPARE(
        run(openssl,
            { "rsa", "-inform", "DER", "-in", path("private.der"), "-out", path("private.pem") })
            .exitCode,
        0);
    QCOMPARE(run(openssl,
                 { "rsa", "-RSAPublicKey_in", "-inform", "DER", "-in", path("public.der"),
                     "-pubout", "-out", path("public.pem") })
                 .exitCode,
        0);
    QByteArray content(300 * 1000 + 7, Qt::Uninitialized);
    for (char& c : content)
        c = char(QRandomGenerator::global()->generate());
    QVERIFY(TestFiles::write(path("payload.bin"), content));
}

void TestOpensslInterop::publicKeyIsPkcs1()
{
    QCOMPARE(run(openssl,
                 { "rsa", "-inform", "DER", "-in", path("private.der"), "-RSAPublicKey_out",
                     "-outform", "DER", "-out", path("derived.der") })
                 .exitCode,
        0);
    QCOMPARE(TestFiles::read(path("derived.der")), TestFiles::read(path("public.der")));
    QCOMPARE(TestFiles::read(path("public.der")).size(), 140);
}

void TestOpensslInterop::opensslSignatureVerifiesInTheUpdater()
{
    const QString file = path("payload.bin");
    QStringList args = { QStringLiteral("dgst") };
    args << pssOptions << QStringLiteral("-sign") << path("private.pem") << QStringLiteral("-out")
         << file + QStringLiteral(".sig") << file;
    const Run signing = run(openssl, args);
    QVERIFY2(signing.exitCode == 0, signing.output.constData());
    QCOMPARE(QFileInfo(file + QStringLiteral(".sig")).size(), 128);

    CheckSigFunc check(file, QString());
    QVERIFY(check.run());

    const Run tool = run(QStringLiteral(CRV_RELEASE_TOOL),
        { "verify", "--key", QStringLiteral(CRV_SOURCE_DIR "/keys/demo-public.key"), file });
    QVERIFY2(tool.exitCode == 0, tool.output.constData());
}

void TestOpensslInterop::releaseToolSignatureVerifiesInOpenssl()
{
    const QString file = path("payload.bin");
    const Run signing = run(QStringLiteral(CRV_RELEASE_TOOL),
        { "sign", "--key", QStringLiteral(CRV_TEST_PRIVATE_KEY_FILE), file });
    QVERIFY2(signing.exitCode == 0, signing.output.constData());

    QStringList args = { QStringLiteral("dgst") };
    args << pssOptions << QStringLiteral("-verify") << path("public.pem")
         << QStringLiteral("-signature") << file + QStringLiteral(".sig") << file;
    const Run verifying = run(openssl, args);
    QCOMPARE(verifying.output.trimmed(), QByteArray("Verified OK"));
    QCOMPARE(verifying.exitCode, 0);

    // And openssl notices a changed byte, so the check above is not vacuous.
    QByteArray content = TestFiles::read(file);
    content[1000] = char(content[1000] ^ 1);
    QVERIFY(TestFiles::write(file, content));
    QVERIFY(run(openssl, args).exitCode != 0);
}

void TestOpensslInterop::opensslEd25519SignatureVerifiesInTheUpdater()
{
    QCOMPARE(
        run(openssl, { "genpkey", "-algorithm", "ed25519", "-out", path("ed.pem") }).exitCode, 0);
    QCOMPARE(run(openssl, { "pkey", "-in", path("ed.pem"), "-pubout", "-out", path("edpub.pem") })
                 .exitCode,
        0);
    QCOMPARE(run(openssl,
                 { "pkey", "-pubin", "-in", path("edpub.pem"), "-outform", "DER", "-out",
                     path("edpub.der") })
                 .exitCode,
        0);
    // The key id from openssl's own output: the raw key ends the SubjectPublicKeyInfo.
    const QByteArray keyId = QCryptographicHash::hash(
        TestFiles::read(path("edpub.der")).right(32), QCryptographicHash::Sha256)
                                 .left(8)
                                 .toHex();
    const QString file = path("payload.bin");
    const Run signing = run(openssl,
        { "pkeyutl", "-sign", "-rawin", "-inkey", path("ed.pem"), "-in", file, "-out",
            path("ed.sig") });
    QVERIFY2(signing.exitCode == 0, signing.output.constData());
    const QByteArray line = "ed25519 " + keyId + ' ' + TestFiles::read(path("ed.sig")).toBase64();
    QVERIFY(TestFiles::write(file + QStringLiteral(".sig2"), line + '\n'));

    const TrustedKeys trusted({ TestFiles::read(path("edpub.pem")) });
    QVERIFY(Ed25519SignatureFile::verifies(line, TestFiles::read(file), trusted));
    QVERIFY(!Ed25519SignatureFile::verifies(line, TestFiles::read(file) + "x", trusted));
    const Run tool = run(
        QStringLiteral(CRV_RELEASE_TOOL), { "verify-ed25519", "--key", path("edpub.pem"), file });
    QVERIFY2(tool.exitCode == 0, tool.output.constData());
}

void TestOpensslInterop::releaseToolEd25519SignatureVerifiesInOpenssl()
{
    QVERIFY(TestFiles::write(path("tree/app.bin"), "the new version"));
    const Run publishing = run(QStringLiteral(CRV_RELEASE_TOOL),
        { "publish", "--key", QStringLiteral(CRV_TEST_PRIVATE_KEY_FILE), "--ed25519-key",
            QStringLiteral(CRV_SOURCE_DIR "/keys/demo-ed25519-release-private.pem"), "--input",
            path("tree"), "--version", "9", "--output", path("mirror") });
    QVERIFY2(publishing.exitCode == 0, publishing.output.constData());
    const QString ini = path("mirror/9/client_macosx.ini");
    const QList<QByteArray> fields = TestFiles::read(ini + QStringLiteral(".sig2")).split(' ');
    QCOMPARE(fields.size(), 3);
    QVERIFY(TestFiles::write(path("ini.sig"), QByteArray::fromBase64(fields.at(2).trimmed())));

    const QStringList args = { "pkeyutl", "-verify", "-rawin", "-pubin", "-inkey",
        QStringLiteral(CRV_SOURCE_DIR "/keys/demo-ed25519-release-public.pem"), "-in", ini,
        "-sigfile", path("ini.sig") };
    const Run verifying = run(openssl, args);
    QVERIFY2(verifying.exitCode == 0, verifying.output.constData());
    QVERIFY(verifying.output.contains("Signature Verified Successfully"));

    // And openssl notices a changed byte, so the check above is not vacuous.
    QVERIFY(TestFiles::write(ini, TestFiles::read(ini) + "\n"));
    QVERIFY(run(openssl, args).exitCode != 0);
}

// The signed message is rebuilt here from its documented form, independently of the updater.
void TestOpensslInterop::versionListSignatureVerifiesInOpenssl()
{
    const QString publicKey
        = QStringLiteral(CRV_SOURCE_DIR "/keys/demo-ed25519-versions-public.pem");
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    const Run tool = run(QStringLiteral(CRV_RELEASE_TOOL),
        { "versions", "--key", CRV_SOURCE_DIR "/keys/demo-ed25519-versions-private.pem", "--list",
            "3014#3.0.14,3015#3.1 beta,3016", "--valid-days", "7", "--serial", "42" });
    QVERIFY2(tool.exitCode == 0, tool.output.constData());
    QVERIFY(tool.output.endsWith('\n'));
    const QList<QByteArray> entries = tool.output.trimmed().split(',');
    QCOMPARE(entries.size(), 4);
    QCOMPARE(entries.mid(0, 3), (QList<QByteArray> { "3014#3.0.14", "3015#3.1 beta", "3016" }));
    const QList<QByteArray> fields = entries.at(3).split(':');
    QCOMPARE(fields.size(), 5);
    QCOMPARE(fields.at(0), QByteArray("crv1"));
    QCOMPARE(fields.at(1), QByteArray("42"));
    const qint64 expires = fields.at(2).toLongLong();
    QVERIFY(expires >= before + 7 * 86400 && expires <= before + 7 * 86400 + 60);

    // The key id: the first 8 bytes of SHA-256 over the raw public key (the end of its DER).
    QVERIFY(
        run(openssl,
            { "pkey", "-pubin", "-in", publicKey, "-outform", "DER", "-out", path("versions.der") })
            .exitCode
        == 0);
    const QByteArray raw = TestFiles::read(path("versions.der")).right(32);
    QCOMPARE(
        fields.at(3), QCryptographicHash::hash(raw, QCryptographicHash::Sha256).left(8).toHex());

    QVERIFY(TestFiles::write(path("list.sig"), QByteArray::fromBase64(fields.at(4))));
    QVERIFY(TestFiles::write(path("list.msg"),
        "crv1 version list\n3014#3.0.14\n3015#3.1 beta\n3016\n42\n" + fields.at(2) + "\n"));
    const QStringList args { "pkeyutl", "-verify", "-rawin", "-pubin", "-inkey", publicKey, "-in",
        path("list.msg"), "-sigfile", path("list.sig") };
    const Run verifying = run(openssl, args);
    QVERIFY2(verifying.exitCode == 0, verifying.output.constData());

    QVERIFY(TestFiles::write(path("list.msg"),
        "crv1 version list\n3014#3.0.14\n3015#3.1 beta\n3016\n43\n" + fields.at(2) + "\n"));
    QVERIFY(run(openssl, args).exitCode != 0);
}

void TestOpensslInterop::buildEmbedsOnlyA1024BitPublicKey_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QString>("refusal"); // empty: embedded

    const auto der = [this](const QStringList& args) {
        const QString out = path("made.der");
        QFile::remove(out);
        const Run made = run(openssl, args + QStringList { "-outform", "DER", "-out", out });
        if (made.exitCode != 0)
            qWarning("openssl: %s", made.output.constData());
        return TestFiles::read(out);
    };
    const QByteArray demoPublic
        = TestFiles::read(QStringLiteral(CRV_SOURCE_DIR "/keys/demo-public.key"));
    QVERIFY(run(openssl, { "genrsa", "-out", path("other.pem"), "1024" }).exitCode == 0);
    QVERIFY(run(openssl, { "genrsa", "-out", path("large.pem"), "2048" }).exitCode == 0);
    const QByteArray other = der({ "rsa", "-in", path("other.pem"), "-RSAPublicKey_out" });
    QCOMPARE(other.size(), 140);
    QByteArray padded = other + QByteArray(2048 - other.size(), '\0');
    QByteArray garbage = padded;
    garbage[1000] = 'x';

    QTest::newRow("demo key file") << demoPublic << QString();
    QTest::newRow("openssl public key") << other << QString();
    QTest::newRow("openssl public key padded") << padded << QString();
    QTest::newRow("demo private key")
        << TestFiles::read(QStringLiteral(CRV_TEST_PRIVATE_KEY_FILE)) << "this is a private key";
    QTest::newRow("openssl private key")
        << der({ "rsa", "-in", path("other.pem") }) << "this is a private key";
    QTest::newRow("SubjectPublicKeyInfo")
        << der({ "rsa", "-in", path("other.pem"), "-pubout" }) << "X.509 SubjectPublicKeyInfo";
    QTest::newRow("2048-bit key") << der({ "rsa", "-in", path("large.pem"), "-RSAPublicKey_out" })
                                  << "about 2048 bits";
    QTest::newRow("garbage after the key") << garbage << "not the zeros";
    QTest::newRow("longer than a key file") << padded + '\0' << "at most 2048 bytes";
    QTest::newRow("truncated") << demoPublic.left(100) << "complete DER SEQUENCE";
}

void TestOpensslInterop::buildEmbedsOnlyA1024BitPublicKey()
{
    QFETCH(QByteArray, key);
    QFETCH(QString, refusal);
    const QString keyFile = path("candidate.key");
    const QString source = path("publickey.cpp");
    QFile::remove(source);
    QVERIFY(TestFiles::write(keyFile, key));

    const Run embed = run(QStringLiteral(CRV_CMAKE_COMMAND),
        { "-DKEY_FILE=" + keyFile, "-DOUTPUT=" + source, "-P",
            QStringLiteral(CRV_SOURCE_DIR "/src/crypto/embedkey.cmake") });
    // CMake wraps its messages; the reason is compared as one line.
    const QString output = QString::fromUtf8(embed.output).simplified();
    if (!refusal.isEmpty()) {
        QVERIFY(embed.exitCode != 0);
        QVERIFY2(output.contains(keyFile) && output.contains(refusal), qPrintable(output));
        QVERIFY(!QFile::exists(source));
        return;
    }
    QVERIFY2(embed.exitCode == 0, qPrintable(output));
    QByteArray embedded;
    const QRegularExpression hexByte(QStringLiteral("0x([0-9a-f]{2}),"));
    for (const QRegularExpressionMatch& m :
        hexByte.globalMatch(QString::fromLatin1(TestFiles::read(source))))
        embedded += char(m.captured(1).toInt(nullptr, 16));
    QCOMPARE(embedded.size(), 2048);
    QCOMPARE(embedded, key + QByteArray(2048 - key.size(), '\0'));
}

QTEST_GUILESS_MAIN(TestOpensslInterop)
#include "tst_opensslinterop.moc"
