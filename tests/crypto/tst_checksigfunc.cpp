#include "checksigfunc.h"
#include "crypt.h"
#include "testfiles.h"
#include "testsigning.h"
#include "testspies.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

} // namespace

class TestCheckSigFunc : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void md5_data();
    void md5();
    void md5OfMissingFile();
    void sha256WithTheOtherCheck_data();
    void sha256WithTheOtherCheck();
    void signature_data();
    void signature();

private:
    QTemporaryDir dir { QCoreApplication::applicationDirPath() + QStringLiteral("/tmp-XXXXXX") };
};

void TestCheckSigFunc::initTestCase()
{
    QVERIFY(dir.isValid());
    crypt_init();
}

void TestCheckSigFunc::md5_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expectedMd5");
    QTest::addColumn<bool>("pass");

    const QByteArray small("the client binary");
    const QString digest
        = QString::fromLatin1(QCryptographicHash::hash(small, QCryptographicHash::Md5).toHex());
    QTest::newRow("lower case") << small << digest << true;
    QTest::newRow("upper case") << small << digest.toUpper() << true;
    QTest::newRow("leading blank") << small << QLatin1Char(' ') + digest << false;
    QTest::newRow("trailing blank") << small << digest + QLatin1Char(' ') << false;
    QTest::newRow("other digest") << small << QStringLiteral("0123456789abcdef0123456789abcdef")
                                  << false;
    QTest::newRow("empty file") << QByteArray()
                                << QStringLiteral("d41d8cd98f00b204e9800998ecf8427e") << true;
    // Larger than the read block and not a multiple of it.
    const QByteArray large = TestFiles::noise(3 * 1024 * 1024 + 17);
    QTest::newRow("several blocks")
        << large
        << QString::fromLatin1(QCryptographicHash::hash(large, QCryptographicHash::Md5).toHex())
        << true;
}

void TestCheckSigFunc::md5()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expectedMd5);
    QFETCH(bool, pass);

    const QString path = dir.filePath(QStringLiteral("file.bin"));
    QVERIFY(TestFiles::write(path, content));
    CheckSigFunc func(path, expectedMd5);
    QSignalSpy messages(&func, &ASyncFunc::message);
    QCOMPARE(func.run(), pass);
    QCOMPARE(messages.count(), 0);
}

void TestCheckSigFunc::md5OfMissingFile()
{
    const QString path = dir.filePath(QStringLiteral("absent.bin"));
    CheckSigFunc func(path, QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
    QSignalSpy messages(&func, &ASyncFunc::message);
    QVERIFY(!func.run());
    QCOMPARE(messages.count(), 1);
    QCOMPARE(messages.at(0).at(0).toString(),
        QStringLiteral("Could not open file %1 for reading").arg(path));
}

void TestCheckSigFunc::sha256WithTheOtherCheck_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("bySignature"); // otherwise by MD5
    QTest::addColumn<QString>("expectedSha256");
    QTest::addColumn<bool>("pass");

    const QByteArray small("the client binary");
    const QString digest
        = QString::fromLatin1(QCryptographicHash::hash(small, QCryptographicHash::Sha256).toHex());
    const QString other(64, QLatin1Char('0'));
    QTest::newRow("MD5 and SHA-256 match") << small << false << digest << true;
    QTest::newRow("SHA-256 upper case") << small << false << digest.toUpper() << true;
    QTest::newRow("MD5 matches, SHA-256 does not") << small << false << other << false;
    QTest::newRow("signature and SHA-256 match") << small << true << digest << true;
    QTest::newRow("signature matches, SHA-256 does not") << small << true << other << false;
    const QByteArray large = TestFiles::noise(3 * 1024 * 1024 + 17);
    QTest::newRow("several blocks")
        << large << false
        << QString::fromLatin1(QCryptographicHash::hash(large, QCryptographicHash::Sha256).toHex())
        << true;
}

void TestCheckSigFunc::sha256WithTheOtherCheck()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, bySignature);
    QFETCH(QString, expectedSha256);
    QFETCH(bool, pass);

    QTemporaryDir caseDir(dir.filePath(QStringLiteral("sha-XXXXXX")));
    const QString path = caseDir.filePath(QStringLiteral("file.bin"));
    QVERIFY(TestFiles::write(path, content));
    if (bySignature)
        QVERIFY(TestSigning::signFile(path));
    const QString md5 = bySignature
        ? QString()
        : QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex());
    CheckSigFunc func(path, md5, QString(), expectedSha256);
    QSignalSpy messages(&func, &ASyncFunc::message);
    QCOMPARE(func.run(), pass);
    QCOMPARE(TestSpies::texts(messages),
        pass
            ? QStringList()
            : QStringList {
                QStringLiteral("The SHA-256 of %1 is not the one the file list names").arg(path) });
}

void TestCheckSigFunc::signature_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("signature"); // how the .sig is made
    QTest::addColumn<bool>("pass");
    QTest::addColumn<QString>("message"); // %1: the file, %2: its .sig

    const QByteArray content("product ini contents");
    QTest::newRow("valid") << content << "valid" << true << QString();
    QTest::newRow("valid, several blocks")
        << TestFiles::noise(2 * 1024 * 1024 + 3) << "valid" << true << QString();
    QTest::newRow("valid, empty file") << QByteArray() << "valid" << true << QString();
    QTest::newRow("tampered file") << content << "tampered" << false << QString();
    QTest::newRow("missing file") << content << "no file" << false
                                  << "Could not open file %1 for reading";
    QTest::newRow("missing .sig") << content << "missing" << false
                                  << "Could not open file %2 for reading";
    QTest::newRow(".sig is a directory")
        << content << "directory" << false << "Could not open file %2 for reading";
    QTest::newRow("empty .sig") << content << "0" << false << QString();
    QTest::newRow("127 bytes") << content << "127" << false << QString();
    QTest::newRow("129 bytes") << content << "129" << false << QString();
    QTest::newRow("random 128 bytes") << content << "128" << false << QString();
    QTest::newRow("64 KiB + 1") << content << "65537" << false << QString();
    QTest::newRow("1 MiB") << content << "1048576" << false << QString();
}

void TestCheckSigFunc::signature()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, signature);
    QFETCH(bool, pass);
    QFETCH(QString, message);

    QTemporaryDir caseDir(dir.filePath(QStringLiteral("sig-XXXXXX")));
    const QString path = caseDir.filePath(QStringLiteral("client_macosx.ini"));
    const QString sigPath = path + QStringLiteral(".sig");
    QVERIFY(TestFiles::write(path, content));
    bool isLength = false;
    const int length = signature.toInt(&isLength);
    if (isLength) {
        QVERIFY(TestFiles::write(sigPath, TestFiles::noise(length)));
    } else if (signature == QLatin1String("valid") || signature == QLatin1String("tampered")) {
        QVERIFY(TestSigning::signFile(path));
        if (signature == QLatin1String("tampered"))
            QVERIFY(TestFiles::write(path, content + '\n'));
    } else if (signature == QLatin1String("no file")) {
        QVERIFY(TestSigning::signFile(path));
        QVERIFY(QFile::remove(path));
    } else if (signature == QLatin1String("directory")) {
        QVERIFY(QDir().mkdir(sigPath));
    }

    CheckSigFunc func(path, QString());
    QSignalSpy messages(&func, &ASyncFunc::message);
    QCOMPARE(func.run(), pass);
    QStringList expected;
    if (!message.isEmpty())
        expected << QString(message)
                        .replace(QLatin1String("%2"), sigPath)
                        .replace(QLatin1String("%1"), path);
    QCOMPARE(TestSpies::texts(messages), expected);
}

QTEST_GUILESS_MAIN(TestCheckSigFunc)
#include "tst_checksigfunc.moc"
