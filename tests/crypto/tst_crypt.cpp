#include "crypt.h"
#include "ownedrsakey.h"
#include "publickey.h"
#include "sha1state.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::vector<unsigned char> bytes(const char* text)
{
    return std::vector<unsigned char>(text, text + std::strlen(text));
}

std::vector<unsigned char> signMessage(Rsa_key* key, const std::vector<unsigned char>& message)
{
    std::vector<unsigned char> signature(KEY_FILE_SIZE);
    unsigned long length = signature.size();
    sign_msg(key, message.data(), message.size(), signature.data(), &length);
    signature.resize(length);
    return signature;
}

// The library reports some invalid signatures as a failed check and others (a wrong key, say)
// as a malformed packet; either way the signature is not valid.
bool isValid(Rsa_key* key, const QByteArray& message, const std::vector<unsigned char>& signature)
{
    try {
        return verify_msg(key, reinterpret_cast<const unsigned char*>(message.data()),
            message.size(), signature.data(), signature.size());
    } catch (const crypt_exception&) {
        return false;
    }
}

} // namespace

class TestCrypt : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void initTwiceIsHarmless();
    void sha1InPieces_data();
    void sha1InPieces();
    void signVerify_data();
    void signVerify();
    void wrongSignatureLengthThrows_data();
    void wrongSignatureLengthThrows();
    void keyFilesRoundTrip();
    void badKeyThrows_data();
    void badKeyThrows();
    void embeddedKeyIsTheConfiguredFile();
    void readWriteFile_data();
    void readWriteFile();
    void fileErrorsNameThePath();
    void checkErrCarriesLabelAndLibraryText();

private:
    QTemporaryDir dir { QCoreApplication::applicationDirPath() + QStringLiteral("/tmp-XXXXXX") };
    OwnedRsaKey demoPrivate;
};

void TestCrypt::initTestCase()
{
    // Before crypt_init() the library would abort; the wrapper must throw instead.
    OwnedRsaKey key;
    QVERIFY_THROWS_EXCEPTION(crypt_exception, load_key(key.get(), PUBLIC_KEY, sizeof PUBLIC_KEY));
    crypt_init();
    load_key(demoPrivate.get(), CRV_TEST_PRIVATE_KEY_FILE);
    QVERIFY(demoPrivate.isPrivate());
}

void TestCrypt::initTwiceIsHarmless()
{
    const int hash = hash_idx;
    const int prng = prng_idx;
    crypt_init();
    QCOMPARE(hash_idx, hash);
    QCOMPARE(prng_idx, prng);
    QVERIFY(hash_idx >= 0 && prng_idx >= 0);
}

void TestCrypt::sha1InPieces_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("piece"); // bytes handed to process() at a time
    // Around the 64-byte block and the 56-byte padding limit, whole and in odd pieces.
    for (int size : { 0, 1, 55, 56, 63, 64, 65, 119, 120, 128, 1000, 1048576 + 13 }) {
        for (int piece : { 1, 7, 64, 65, 1 << 30 }) {
            if (piece == 1 && size > 1000)
                continue;
            QTest::addRow("%d bytes by %d", size, piece) << size << piece;
        }
    }
}

void TestCrypt::sha1InPieces()
{
    QFETCH(int, size);
    QFETCH(int, piece);
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char(i * 31 + i / 251);
    Sha1_state sha1;
    for (int at = 0; at < size; at += piece)
        sha1.process(reinterpret_cast<const unsigned char*>(data.constData()) + at,
            std::min(piece, size - at));
    unsigned char digest[HASH_SIZE];
    sha1.done(digest);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(digest), HASH_SIZE),
        QCryptographicHash::hash(data, QCryptographicHash::Sha1));
}

void TestCrypt::signVerify_data()
{
    QTest::addColumn<QByteArray>("verified");
    QTest::addColumn<bool>("otherKey");
    QTest::addColumn<bool>("valid");
    QTest::newRow("same message, same key") << QByteArray("release 3013") << false << true;
    QTest::newRow("tampered message") << QByteArray("release 3014") << false << false;
    QTest::newRow("other key") << QByteArray("release 3013") << true << false;
}

void TestCrypt::signVerify()
{
    QFETCH(QByteArray, verified);
    QFETCH(bool, otherKey);
    QFETCH(bool, valid);

    const std::vector<unsigned char> signature
        = signMessage(demoPrivate.get(), bytes("release 3013"));
    QCOMPARE(signature.size(), size_t(128));
    OwnedRsaKey publicKey;
    if (otherKey)
        create_key(publicKey.get());
    else
        load_key(publicKey.get(), PUBLIC_KEY, sizeof PUBLIC_KEY);
    QCOMPARE(isValid(publicKey.get(), verified, signature), valid);
}

void TestCrypt::wrongSignatureLengthThrows_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("empty") << 0;
    QTest::newRow("127") << 127;
    QTest::newRow("129") << 129;
}

void TestCrypt::wrongSignatureLengthThrows()
{
    QFETCH(int, length);
    const std::vector<unsigned char> message = bytes("x");
    std::vector<unsigned char> signature = signMessage(demoPrivate.get(), message);
    signature.resize(length + 1); // keeps data() valid for the empty case
    QVERIFY_THROWS_EXCEPTION(crypt_exception,
        verify_msg(demoPrivate.get(), message.data(), message.size(), signature.data(), length));
}

void TestCrypt::keyFilesRoundTrip()
{
    OwnedRsaKey key;
    create_key(key.get());
    const QByteArray privatePath = QFile::encodeName(dir.filePath(QStringLiteral("p.key")));
    const QByteArray publicPath = QFile::encodeName(dir.filePath(QStringLiteral("q.key")));
    save_key(key.get(), PK_PRIVATE, privatePath.constData());
    save_key(key.get(), PK_PUBLIC, publicPath.constData());

    QFile publicFile(QString::fromLocal8Bit(publicPath));
    QVERIFY(publicFile.open(QIODevice::ReadOnly));
    const QByteArray content = publicFile.readAll();
    QCOMPARE(content.size(), 2048);
    // SEQUENCE of 137 bytes: 1024-bit modulus and exponent 65537, zeros after.
    QCOMPARE(content.left(3), QByteArray("\x30\x81\x89", 3));
    QCOMPARE(content.mid(135, 5), QByteArray("\x02\x03\x01\x00\x01", 5));
    QCOMPARE(content.mid(140), QByteArray(2048 - 140, '\0'));
    QCOMPARE(QFileInfo(QString::fromLocal8Bit(privatePath)).size(), 2048);

    OwnedRsaKey signer;
    OwnedRsaKey verifier;
    load_key(signer.get(), privatePath.constData());
    load_key(verifier.get(), publicPath.constData());
    QVERIFY(signer.isPrivate());
    QVERIFY(!verifier.isPrivate());
    const std::vector<unsigned char> message = bytes("payload");
    const std::vector<unsigned char> signature = signMessage(signer.get(), message);
    QVERIFY(verify_msg(
        verifier.get(), message.data(), message.size(), signature.data(), signature.size()));
}

void TestCrypt::badKeyThrows_data()
{
    QTest::addColumn<QByteArray>("content");
    QFile demo(QStringLiteral(CRV_SOURCE_DIR "/keys/demo-public.key"));
    QVERIFY(demo.open(QIODevice::ReadOnly));
    const QByteArray key = demo.readAll();
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("truncated inside the modulus") << key.left(70);
    QTest::newRow("text") << QByteArray("-----BEGIN PUBLIC KEY-----\n");
    QByteArray noise(2048, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 131 + 7) % 251);
    QTest::newRow("not DER") << noise;
}

void TestCrypt::badKeyThrows()
{
    QFETCH(QByteArray, content);
    const QString path = dir.filePath(QStringLiteral("bad.key"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
    file.close();
    OwnedRsaKey key;
    QVERIFY_THROWS_EXCEPTION(crypt_exception, load_key(key.get(), QFile::encodeName(path)));
    QVERIFY_THROWS_EXCEPTION(crypt_exception,
        load_key(key.get(), reinterpret_cast<const unsigned char*>(content.constData()),
            content.size()));
    // A failed import leaves an empty key that signs and verifies nothing.
    unsigned char out[256];
    unsigned long outLength = sizeof out;
    QVERIFY_THROWS_EXCEPTION(crypt_exception, sign_msg(key.get(), out, 1, out, &outLength));
}

void TestCrypt::embeddedKeyIsTheConfiguredFile()
{
    QFile demo(QStringLiteral(CRV_SOURCE_DIR "/keys/demo-public.key"));
    QVERIFY(demo.open(QIODevice::ReadOnly));
    QCOMPARE(demo.readAll(), QByteArray(reinterpret_cast<const char*>(PUBLIC_KEY), 2048));
}

void TestCrypt::readWriteFile_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("empty") << 0;
    QTest::newRow("one read") << 100;
    QTest::newRow("exactly one chunk") << 2048;
    QTest::newRow("several chunks") << 2048 * 3 + 5;
}

void TestCrypt::readWriteFile()
{
    QFETCH(int, size);
    std::vector<unsigned char> data(size);
    for (int i = 0; i < size; ++i)
        data[i] = static_cast<unsigned char>(i * 7);
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("rw.bin")));
    write_file(path.constData(), data.data(), data.size());
    unsigned char* buffer = nullptr;
    unsigned long length = 12345;
    read_file(path.constData(), &buffer, &length);
    QCOMPARE(length, static_cast<unsigned long>(size));
    QVERIFY(size == 0 || std::memcmp(buffer, data.data(), size) == 0);
    std::free(buffer);
}

void TestCrypt::fileErrorsNameThePath()
{
    const QByteArray missing = QFile::encodeName(dir.filePath(QStringLiteral("none/x")));
    unsigned char* buffer = nullptr;
    unsigned long length = 0;
    try {
        read_file(missing.constData(), &buffer, &length);
        QFAIL("no exception");
    } catch (const crypt_exception& e) {
        QCOMPARE(QByteArray(e.what()), "Cannot open file for reading: " + missing);
    }
    try {
        write_file(missing.constData(), nullptr, 0);
        QFAIL("no exception");
    } catch (const crypt_exception& e) {
        QCOMPARE(QByteArray(e.what()), "Cannot open file for writing: " + missing);
    }
    try {
        save_key(demoPrivate.get(), PK_PUBLIC, missing.constData());
        QFAIL("no exception");
    } catch (const crypt_exception& e) {
        QCOMPARE(QByteArray(e.what()), "Cannot open file for writing: " + missing);
    }
}

void TestCrypt::checkErrCarriesLabelAndLibraryText()
{
    check_err("anything", CRYPT_OK);
    try {
        check_err("rsa_import", CRYPT_INVALID_PACKET);
        QFAIL("no exception");
    } catch (const crypt_exception& e) {
        QCOMPARE(QByteArray(e.what()),
            QByteArray("rsa_import: ") + error_to_string(CRYPT_INVALID_PACKET));
    }
}

QTEST_GUILESS_MAIN(TestCrypt)
#include "tst_crypt.moc"
