// The version list's signature entry as the updater judges it, with a key pair of the test's own
// and a clock the test sets.

#include "ed25519key.h"
#include "trustedkeys.h"
#include "versionlistcheck.h"
#include "versionlistsignature.h"

#include <QTest>

namespace {

constexpr qint64 Now = 1800000000;
constexpr qint64 Hour = 3600;
const QStringList Channels { QStringLiteral("3014#3.0.14"), QStringLiteral("3015#3.1 beta"),
    QStringLiteral("3016") };

const Ed25519Key& versionsKey()
{
    static const Ed25519Key key = Ed25519Key::generate();
    return key;
}

const Ed25519Key& strangerKey()
{
    static const Ed25519Key key = Ed25519Key::generate();
    return key;
}

// The reply's entries: the channels and the signature entry of `signer` over `signedChannels`.
QStringList signedList(const QStringList& channels, qint64 serial, qint64 expires,
    const Ed25519Key& signer = versionsKey(), const QStringList& signedChannels = Channels)
{
    VersionListSignature signature;
    signature.serial = serial;
    signature.expires = expires;
    signature.keyId = signer.keyId();
    signature.signature
        = signer.sign(VersionListSignature::message(signedChannels, serial, expires));
    return channels + QStringList { signature.entry() };
}

using Serials = QMap<QString, qint64>;

} // namespace

class TestVersionListCheck : public QObject
{
    Q_OBJECT
private slots:
    void check_data();
    void check();
};

void TestVersionListCheck::check_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<Serials>("serials");
    QTest::addColumn<bool>("requireSigned");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<bool>("isSigned");
    QTest::addColumn<QString>("reason");

    const QString id = versionsKey().keyId();
    const Serials none;
    const Serials seen { { id, 500 } };
    const QString noReason;

    QTest::newRow("valid") << signedList(Channels, 500, Now + 7 * 24 * Hour) << none << false
                           << true << true << noReason;
    QTest::newRow("valid, required")
        << signedList(Channels, 500, Now + Hour) << none << true << true << true << noReason;
    QTest::newRow("equal serial") << signedList(Channels, 500, Now + Hour) << seen << false << true
                                  << true << noReason;
    QTest::newRow("higher serial")
        << signedList(Channels, 501, Now + Hour) << seen << false << true << true << noReason;
    QTest::newRow("serial of another key does not count")
        << signedList(Channels, 1, Now + Hour) << Serials { { "0011223344556677", 900 } } << false
        << true << true << noReason;
    QTest::newRow("lower serial") << signedList(Channels, 499, Now + Hour) << seen << false << false
                                  << false
                                  << "The version list is older (serial 499) than one seen "
                                     "before (500)";
    QTest::newRow("expired within the hour")
        << signedList(Channels, 500, Now - Hour) << none << false << true << true << noReason;
    QTest::newRow("expired") << signedList(Channels, 500, Now - Hour - 1) << none << false << false
                             << false
                             << "The version list expired on 2027-01-15T06:59:59Z, check the "
                                "system clock";
    QTest::newRow("unknown key") << signedList(Channels, 500, Now + Hour, strangerKey()) << none
                                 << false << false << false
                                 << QStringLiteral(
                                        "The version list is signed by an unknown key %1")
                                        .arg(strangerKey().keyId());
    QStringList changed = signedList(Channels, 500, Now + Hour);
    changed[0] = QStringLiteral("3012#3.0.12");
    QTest::newRow("one entry changed")
        << changed << none << false << false << false << "The version list has a bad signature";
    QStringList moved = signedList(Channels, 500, Now + Hour);
    moved[3].replace(QStringLiteral(":500:"), QStringLiteral(":900:"));
    QTest::newRow("serial changed")
        << moved << none << false << false << false << "The version list has a bad signature";
    const QStringList lines { QStringLiteral("3014#a\n3015"), QStringLiteral("b"),
        QStringLiteral("3016") };
    QTest::newRow("line break in an entry")
        << signedList(lines, 500, Now + Hour, versionsKey(), lines) << none << false << false
        << false
        << QStringLiteral("The version list has a malformed signature entry (%1)")
               .arg(signedList(lines, 500, Now + Hour, versionsKey(), lines).at(3));
    for (const char* entry : { "crv1:500:1800003600:0011223344556677:AAAA", "crv2:1:2:3:4", "",
             "crv1:-1:1800003600:0011223344556677:" })
        QTest::newRow(qPrintable(QStringLiteral("malformed \"%1\"").arg(entry)))
            << Channels + QStringList { entry } << none << false << false << false
            << QStringLiteral("The version list has a malformed signature entry (%1)").arg(entry);
    QTest::newRow("a fifth entry")
        << signedList(Channels, 500, Now + Hour) + QStringList { "x\n" } << none << false << false
        << false
        << QStringLiteral("The version list has a malformed signature entry (%1,x\\n)")
               .arg(signedList(Channels, 500, Now + Hour).at(3));
    QTest::newRow("unsigned, nothing seen")
        << Channels << none << false << true << false << noReason;
    QTest::newRow("unsigned, short list")
        << QStringList { "3014" } << none << false << true << false << noReason;
    QTest::newRow("unsigned after a signed one")
        << Channels << seen << false << false << false
        << "The version list is not signed, but signed ones were seen before";
    QTest::newRow("unsigned, signed lists required")
        << Channels << none << true << false << false << "The version list is not signed";
}

void TestVersionListCheck::check()
{
    QFETCH(QStringList, entries);
    QFETCH(Serials, serials);
    QFETCH(bool, requireSigned);
    QFETCH(bool, accepted);
    QFETCH(bool, isSigned);
    QFETCH(QString, reason);

    const TrustedKeys keys({ Ed25519Key::generate().publicPem(), versionsKey().publicPem() });
    VersionListCheck check(keys, Now, serials, requireSigned);
    QCOMPARE(check.check(entries), accepted);
    QCOMPARE(check.reason(), reason);
    QCOMPARE(check.isSigned(), isSigned);
    if (isSigned) {
        QCOMPARE(check.keyId(), versionsKey().keyId());
        VersionListSignature signature;
        QVERIFY(VersionListSignature::parse(entries.at(3), &signature));
        QCOMPARE(check.serial(), signature.serial);
    }
}

QTEST_GUILESS_MAIN(TestVersionListCheck)
#include "tst_versionlistcheck.moc"
