#include "configuration.h"
#include "installedrecord.h"
#include "targetversioncheck.h"

#include <QtTest>

// Which targets may be installed over a recorded version, with a floor of 3000.
class TestTargetVersionCheck : public QObject
{
    Q_OBJECT
private slots:
    void refusal_data();
    void refusal();
};

void TestTargetVersionCheck::refusal_data()
{
    QTest::addColumn<int>("installedVersion");
    QTest::addColumn<QString>("installedType");
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("target");
    QTest::addColumn<bool>("allowDowngrade");
    QTest::addColumn<QString>("refusal");

    const QString mac = QStringLiteral("client_macosx");
    const QString older = QStringLiteral(
        "Version 3012 is older than the installed version 3013; nothing to install");
    const QString belowFloor = QStringLiteral("Version %1 is older than the oldest version this "
                                              "updater installs, 3000; nothing to install");
    QTest::newRow("newer") << 3013 << mac << mac << 3014 << false << "";
    QTest::newRow("same version repairs") << 3013 << mac << mac << 3013 << false << "";
    QTest::newRow("older") << 3013 << mac << mac << 3012 << false << older;
    QTest::newRow("older, allowed") << 3013 << mac << mac << 3012 << true << "";
    QTest::newRow("older, record of another type")
        << 3013 << "client_linux" << mac << 3012 << false << "";
    QTest::newRow("older, record without a type") << 3013 << "" << mac << 3012 << false << older;
    QTest::newRow("nothing recorded") << 0 << "" << mac << 3012 << false << "";
    QTest::newRow("floor itself") << 0 << "" << mac << 3000 << false << "";
    QTest::newRow("below the floor") << 0 << "" << mac << 2999 << false << belowFloor.arg(2999);
    QTest::newRow("below the floor, allowed")
        << 0 << "" << mac << 2999 << true << belowFloor.arg(2999);
    QTest::newRow("negative") << 3013 << mac << mac << -1 << false << belowFloor.arg(-1);
}

void TestTargetVersionCheck::refusal()
{
    QFETCH(int, installedVersion);
    QFETCH(QString, installedType);
    QFETCH(QString, type);
    QFETCH(int, target);
    QFETCH(bool, allowDowngrade);
    QFETCH(QString, refusal);

    InstalledRecord installed;
    installed.version = installedVersion;
    installed.type = installedType;
    Configuration configuration;
    configuration.clientType = type;
    configuration.clientVersion = target;
    configuration.allowDowngrade = allowDowngrade;
    QCOMPARE(TargetVersionCheck::minimumVersion(), 3000);
    QCOMPARE(TargetVersionCheck::refusal(configuration, installed), refusal);
}

QTEST_GUILESS_MAIN(TestTargetVersionCheck)
#include "tst_targetversioncheck.moc"
