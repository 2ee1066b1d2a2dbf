// Peers sign and verify with standard tools: a signature made by openssl must pass the updater's
// check, and one made by crv-release must pass openssl's.

#include "checksigfunc.h"
#include "crypt.h"
#include "testfiles.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
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

QTEST_GUILESS_MAIN(TestOpensslInterop)
#include "tst_opensslinterop.moc"
