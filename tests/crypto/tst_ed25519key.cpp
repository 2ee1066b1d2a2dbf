// Ed25519 keys interoperate with openssl (keys and signatures made by either side are accepted
// by the other), key ids follow their definition, and a role's key list finds only its own keys.

#include "ed25519key.h"
#include "testfiles.h"
#include "trustedkeys.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {
QByteArray openssl(const QStringList& arguments, int* exitCode)
{
    QProcess process;
    process.start(QStandardPaths::findExecutable(QStringLiteral("openssl")), arguments);
    process.waitForFinished(30000);
    *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return process.readAllStandardOutput();
}
}

class TestEd25519Key : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void opensslSignatureVerifies_data();
    void opensslSignatureVerifies();
    void signatureVerifiesInOpenssl();
    void keyIdIsTheHashOfTheRawKey();
    void importRefusesOtherKeys_data();
    void importRefusesOtherKeys();
    void rotation_data();
    void rotation();

private:
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    QByteArray makeKey(const char* name);

    QTemporaryDir dir { QCoreApplication::applicationDirPath() + QStringLiteral("/tmp-XXXXXX") };
};

QByteArray TestEd25519Key::makeKey(const char* name)
{
    int code = 0;
    const QString file = path(name);
    openssl({ "genpkey", "-algorithm", "ed25519", "-out", file }, &code);
    return code == 0 ? TestFiles::read(file) : QByteArray();
}

void TestEd25519Key::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
        QFAIL("openssl is missing; scripts/setup installs it");
    QVERIFY(!makeKey("a.pem").isEmpty());
    int code = 0;
    openssl({ "pkey", "-in", path("a.pem"), "-pubout", "-out", path("a.pub.pem") }, &code);
    QCOMPARE(code, 0);
    QVERIFY(TestFiles::write(path("message"), QByteArray("crv1 message\n\0with a NUL", 25)));
}

void TestEd25519Key::opensslSignatureVerifies_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<int>("flippedByte");
    QTest::addColumn<bool>("valid");

    const QByteArray signedMessage("crv1 message\n\0with a NUL", 25);
    QTest::newRow("the signed bytes") << signedMessage << -1 << true;
    QTest::newRow("one byte more") << signedMessage + '\n' << -1 << false;
    QTest::newRow("cut at the NUL") << signedMessage.left(13) << -1 << false;
    QTest::newRow("a flipped signature bit") << signedMessage << 17 << false;
}

void TestEd25519Key::opensslSignatureVerifies()
{
    QFETCH(QByteArray, message);
    QFETCH(int, flippedByte);
    QFETCH(bool, valid);

    int code = 0;
    openssl({ "pkeyutl", "-sign", "-rawin", "-inkey", path("a.pem"), "-in", path("message"), "-out",
                path("message.sig") },
        &code);
    QCOMPARE(code, 0);
    QByteArray signature = TestFiles::read(path("message.sig"));
    QCOMPARE(signature.size(), Ed25519Key::SignatureSize);
    if (flippedByte >= 0)
        signature[flippedByte] = char(signature[flippedByte] ^ 0x01);

    const Ed25519Key key = Ed25519Key::fromPem(TestFiles::read(path("a.pub.pem")));
    QVERIFY(!key.isNull());
    QVERIFY(!key.isPrivate());
    QCOMPARE(key.verify(message, signature), valid);
    QVERIFY(!key.verify(message, signature.left(63)));
    QVERIFY(key.sign(message).isEmpty());
}

void TestEd25519Key::signatureVerifiesInOpenssl()
{
    const Ed25519Key key = Ed25519Key::generate();
    QVERIFY(key.isPrivate());
    QVERIFY(TestFiles::write(path("made.pub.pem"), key.publicPem()));
    QVERIFY(TestFiles::write(path("message.sig2"), key.sign(TestFiles::read(path("message")))));
    int code = 0;
    openssl({ "pkeyutl", "-verify", "-rawin", "-pubin", "-inkey", path("made.pub.pem"), "-in",
                path("message"), "-sigfile", path("message.sig2") },
        &code);
    QCOMPARE(code, 0);
    // The private PEM is what openssl reads as a signing key, and it keeps its public half.
    QCOMPARE(Ed25519Key::fromPem(key.privatePem()).keyId(), key.keyId());
}

void TestEd25519Key::keyIdIsTheHashOfTheRawKey()
{
    int code = 0;
    const QByteArray der
        = openssl({ "pkey", "-pubin", "-in", path("a.pub.pem"), "-outform", "DER" }, &code);
    QCOMPARE(code, 0);
    const QByteArray raw = der.right(Ed25519Key::RawPublicKeySize);
    const Ed25519Key key = Ed25519Key::fromPem(TestFiles::read(path("a.pub.pem")));
    QCOMPARE(key.rawPublicKey(), raw);
    QCOMPARE(key.keyId(),
        QString::fromLatin1(
            QCryptographicHash::hash(raw, QCryptographicHash::Sha256).left(8).toHex()));
    QCOMPARE(key.keyId().size(), 16);
}

void TestEd25519Key::importRefusesOtherKeys_data()
{
    QTest::addColumn<QStringList>("genpkey");
    QTest::newRow("an RSA key") << QStringList { "genpkey", "-algorithm", "RSA", "-pkeyopt",
        "rsa_keygen_bits:1024" };
    QTest::newRow("an Ed448 key") << QStringList { "genpkey", "-algorithm", "ed448" };
}

void TestEd25519Key::importRefusesOtherKeys()
{
    QFETCH(QStringList, genpkey);
    int code = 0;
    openssl(genpkey << "-out" << path("other.pem"), &code);
    QCOMPARE(code, 0);
    QVERIFY(Ed25519Key::fromPem(TestFiles::read(path("other.pem"))).isNull());
    openssl({ "pkey", "-in", path("other.pem"), "-pubout", "-out", path("other.pub.pem") }, &code);
    QVERIFY(Ed25519Key::fromPem(TestFiles::read(path("other.pub.pem"))).isNull());
    QVERIFY(Ed25519Key::fromPem("-----BEGIN PUBLIC KEY-----\nnot base64\n").isNull());
}

void TestEd25519Key::rotation_data()
{
    QTest::addColumn<QStringList>("trusted");
    QTest::addColumn<QStringList>("found");

    QTest::newRow("[A,B]") << QStringList { "A", "B" } << QStringList { "A", "B" };
    QTest::newRow("[B,C]") << QStringList { "B", "C" } << QStringList { "B", "C" };
    QTest::newRow("[C] alone") << QStringList { "C" } << QStringList { "C" };
}

void TestEd25519Key::rotation()
{
    QFETCH(QStringList, trusted);
    QFETCH(QStringList, found);

    static const QList<Ed25519Key> keys
        = { Ed25519Key::generate(), Ed25519Key::generate(), Ed25519Key::generate() };
    QList<QByteArray> pems;
    for (const QString& name : trusted)
        pems << keys.at(name.at(0).unicode() - 'A').publicPem();
    // A private key is never trusted: it must not sit in a shipped program.
    pems << Ed25519Key::generate().privatePem();
    const TrustedKeys list(pems);
    for (int i = 0; i < keys.size(); ++i) {
        const QString name(QChar('A' + i));
        const Ed25519Key key = list.find(keys.at(i).keyId());
        QCOMPARE(!key.isNull(), found.contains(name));
        if (!key.isNull())
            QVERIFY(key.verify("list", keys.at(i).sign("list")));
    }
    QVERIFY(!TrustedKeys::builtIn(TrustedKeys::Release).isEmpty());
    QVERIFY(!TrustedKeys::builtIn(TrustedKeys::Versions).isEmpty());
}

QTEST_GUILESS_MAIN(TestEd25519Key)
#include "tst_ed25519key.moc"
