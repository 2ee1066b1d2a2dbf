#include "deltalist.h"
#include "sha256sums.h"
#include "testfiles.h"

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QByteArray a(64, 'a');
const QByteArray b(64, 'b');
} // namespace

// The release's file list as sha256sum writes it and as other tools may: what is accepted,
// what refuses the whole list, and that the list is only taken with the digest the ini names.
class TestSha256Sums : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void load_data();
    void load();
    void parseDeltaList_data();
    void parseDeltaList();
};

void TestSha256Sums::parse_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QStringList>("lookups"); // path=digest; an empty digest: not listed

    QTest::newRow("two lines") << a + "  files/app\n" + b + "  files/lib/x.gz\n"
                               << true
                               << QStringList { "files/app=" + a, "files/lib/x.gz=" + b,
                                      "files/other=" };
    QTest::newRow("binary mode, no final newline, upper case")
        << a.toUpper() + " *files/app" << true << QStringList { "files/app=" + a };
    QTest::newRow("comments, CRLF, leading ./") << "# made by hand\r\n" + a + "  ./files/a b\r\n"
                                                << true << QStringList { "files/a b=" + a };
    QTest::newRow("escaped name") << "\\" + a + "  files/a\\\\b\\nc\n"
                                  << true << QStringList { "files/a\\b\nc=" + a };
    QTest::newRow("one space") << a + " files/app\n" << false << QStringList();
    QTest::newRow("short digest") << a.left(63) + "  files/app\n" << false << QStringList();
    QTest::newRow("not hex") << QByteArray(64, 'g') + "  files/app\n" << false << QStringList();
    QTest::newRow("no name") << a + "  \n" << false << QStringList();
    QTest::newRow("blank line between") << a + "  x\n\n" + b + "  y\n" << false << QStringList();
    QTest::newRow("unknown escape") << "\\" + a + "  files/a\\tb\n" << false << QStringList();
    QTest::newRow("one name, two digests") << a + "  files/app\n" + b + "  files/app\n"
                                           << false << QStringList();
    QTest::newRow("one name twice, one digest") << a + "  files/app\n" + a + "  files/app\n"
                                                << true << QStringList { "files/app=" + a };
    QTest::newRow("bad line after good ones") << a + "  files/app\n" + "garbage\n"
                                              << false << QStringList { "files/app=" };
}

void TestSha256Sums::parse()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, accepted);
    QFETCH(QStringList, lookups);
    Sha256Sums sums;
    QCOMPARE(sums.parse(text), accepted);
    QCOMPARE(sums.isEmpty(), !accepted);
    for (const QString& lookup : std::as_const(lookups)) {
        const qsizetype split = lookup.lastIndexOf(QLatin1Char('='));
        QCOMPARE(sums.digest(lookup.left(split)), lookup.mid(split + 1));
    }
}

void TestSha256Sums::load_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file
    QTest::addColumn<QByteArray>("named"); // what the digest named is taken of
    QTest::addColumn<int>("result");

    const QByteArray list = a + "  files/app\n";
    QTest::newRow("named") << list << list << int(Sha256Sums::Ok);
    QTest::newRow("another list") << list + b + "  files/x\n" << list << int(Sha256Sums::Mismatch);
    QTest::newRow("named but malformed") << a + " x\n" << a + " x\n" << int(Sha256Sums::Malformed);
    QTest::newRow("missing") << QByteArray() << list << int(Sha256Sums::Unreadable);
    const QByteArray huge = list + QByteArray(Sha256Sums::maxFileSize, '#');
    QTest::newRow("too large") << huge << huge << int(Sha256Sums::TooLarge);
}

void TestSha256Sums::load()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, named);
    QFETCH(int, result);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("client.ini.sha256"));
    if (!content.isNull())
        QVERIFY(TestFiles::write(path, content));
    Sha256Sums sums;
    QCOMPARE(int(sums.load(path,
                 QString::fromLatin1(
                     QCryptographicHash::hash(named, QCryptographicHash::Sha256).toHex()))),
        result);
    QCOMPARE(sums.digest(QStringLiteral("files/app")).isEmpty(), result != Sha256Sums::Ok);
}

void TestSha256Sums::parseDeltaList_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QStringList>("lookups"); // path=size; empty size: no delta

    const QByteArray c(64, 'c');
    const QByteArray line = a + " 1234 " + b + ' ' + c + ' ';
    QTest::newRow("as written, with its header")
        << DeltaList::header() + DeltaList::line(QStringLiteral("files/a b"),
               { QString::fromLatin1(a), 1234, QString::fromLatin1(b), QString::fromLatin1(c) })
        << true << QStringList { "files/a b=1234", "files/a=" };
    QTest::newRow("CRLF, upper-case digests, no final newline")
        << "# x\r\n" + line.toUpper() + "files/app\r\n" + line + "files/b" << true
        << QStringList { "files/app=1234", "files/b=1234" };
    QTest::newRow("empty list") << QByteArray() << true << QStringList { "files/app=" };
    QTest::newRow("four fields") << a + " 1234 " + b + ' ' + c + "\n" << false << QStringList();
    QTest::newRow("empty path") << line + "\n" << false << QStringList();
    QTest::newRow("size not a number")
        << a + " 12x " + b + ' ' + c + " files/app\n" << false << QStringList();
    QTest::newRow("size zero") << a + " 0 " + b + ' ' + c + " files/app\n" << false << QStringList();
    QTest::newRow("signed size")
        << a + " +12 " + b + ' ' + c + " files/app\n" << false << QStringList();
    QTest::newRow("short digest")
        << a + " 12 " + b.left(63) + ' ' + c + " files/app\n" << false << QStringList();
    QTest::newRow("two spaces") << a + "  12 " + b + ' ' + c + " files/app\n" << false
                                << QStringList();
    QTest::newRow("one path twice") << line + "files/app\n" + line + "files/app\n" << false
                                    << QStringList();
    QTest::newRow("bad line after good ones")
        << line + "files/app\ngarbage\n" << false << QStringList();
}

// The delta list refuses itself whole on any line it does not understand: the updater then
// downloads whole files, which is always safe.
void TestSha256Sums::parseDeltaList()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, accepted);
    QFETCH(QStringList, lookups);
    DeltaList deltas;
    QCOMPARE(deltas.parse(text), accepted);
    for (const QString& lookup : std::as_const(lookups)) {
        const qsizetype split = lookup.lastIndexOf(QLatin1Char('='));
        const DeltaList::Delta* delta = deltas.find(lookup.left(split));
        QCOMPARE(delta ? QString::number(delta->size) : QString(), lookup.mid(split + 1));
        if (delta) {
            QCOMPARE(delta->baseSha256, QString::fromLatin1(a));
            QCOMPARE(delta->resultSha256, QString(64, QLatin1Char('c')));
        }
    }
}

QTEST_GUILESS_MAIN(TestSha256Sums)
#include "tst_sha256sums.moc"
