#include "configuration.h"
#include "installedrecord.h"
#include "testfiles.h"
#include "testsigning.h"
#include "testspies.h"
#include "updatechecker.h"
#include "updateinidata.h"
#include "updateserverprocess.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString ServerVersions = QStringLiteral("3012#3.0.12,3013#3.1 beta,3014");
const QString ServerNews = QStringLiteral("server news");

// What the user saw in one Retry/Abort question.
struct SeenBox
{
    QString title;
    QString text;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    bool hasDefaultButton;
    bool modal;
    bool hasParent;
};

} // namespace

// The whole command-line evaluation, including the version query of the build's update server on
// its fixed port (the reference server runs there, on 127.0.0.1), and the Retry/Abort question.
class TestConfigurationCommandLine : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void commandLine_data();
    void commandLine();
    void allowDowngrade_data();
    void allowDowngrade();
    void signedVersionList_data();
    void signedVersionList();
    void serverSendsInvalidVersion();
    void alphaMissingFromTwoEntryList();
    void abortGivesUp();
    void retryThenSuccess();
    void unattendedGivesUpWithoutAsking();

private:
    bool startServer(const QStringList& flags);
    // Answers the next message boxes, in order, with the given buttons; `beforeAnswer` runs
    // while a box is open, before it is answered.
    void answerBoxes(const QList<QMessageBox::StandardButton>& answers,
        const std::function<void()>& beforeAnswer = {});
    void pollForBox();

    QTemporaryDir m_tmp;
    std::unique_ptr<UpdateServerProcess> m_server;
    QStringList m_serverFlags;
    QList<QMessageBox::StandardButton> m_answers;
    std::function<void()> m_beforeAnswer;
    QPointer<QMessageBox> m_lastBox;
    QList<SeenBox> m_seenBoxes;
};

void TestConfigurationCommandLine::initTestCase()
{
    const QString host = UpdateChecker::defaultHost();
    if (host != QLatin1String("localhost") && host != QLatin1String("127.0.0.1"))
        QSKIP("the build's update server host is not this machine");
    QVERIFY(m_tmp.isValid());
    qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
}

void TestConfigurationCommandLine::init()
{
    m_seenBoxes.clear();
    m_answers.clear();
    m_beforeAnswer = nullptr;
}

void TestConfigurationCommandLine::cleanup()
{
    QFile::remove(UpdateIniData::filename());
    QFile::remove(Configuration::tempArgsFileName());
    // An unanswered question would block the next test.
    QVERIFY(m_answers.isEmpty());
}

bool TestConfigurationCommandLine::startServer(const QStringList& flags)
{
    if (m_server && m_serverFlags == flags)
        return true;
    m_server.reset(new UpdateServerProcess);
    m_serverFlags = flags;
    return m_server->start(flags
        + QStringList { QStringLiteral("--address"), QStringLiteral("127.0.0.1"),
            QStringLiteral("--version-port"), QString::number(UpdateChecker::defaultPort()) });
}

void TestConfigurationCommandLine::answerBoxes(
    const QList<QMessageBox::StandardButton>& answers, const std::function<void()>& beforeAnswer)
{
    m_answers = answers;
    m_beforeAnswer = beforeAnswer;
    QTimer::singleShot(0, this, &TestConfigurationCommandLine::pollForBox);
}

void TestConfigurationCommandLine::pollForBox()
{
    if (m_answers.isEmpty())
        return;
    QMessageBox* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || box == m_lastBox) {
        QTimer::singleShot(10, this, &TestConfigurationCommandLine::pollForBox);
        return;
    }
    m_lastBox = box;
    m_seenBoxes.append({ box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
        box->defaultButton() != nullptr, box->isModal(), box->parentWidget() != nullptr });
    if (m_beforeAnswer)
        m_beforeAnswer();
    box->button(m_answers.takeFirst())->click();
    if (!m_answers.isEmpty())
        QTimer::singleShot(0, this, &TestConfigurationCommandLine::pollForBox);
}

void TestConfigurationCommandLine::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("tempArgs"); // null: no file
    QTest::addColumn<QByteArray>("ini"); // null: no update.ini
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("news");
    QTest::addColumn<int>("noUser");
    QTest::addColumn<QStringList>("fatalErrors");

    const QByteArray none;
    const QString defaultType = QStringLiteral("client_macosx");
    const QStringList noErrors;
    const QByteArray alphaIni("[Channel]\nalpha=http://alpha.example/\n");
    const QByteArray alphaRevnoIni("[Channel]\nalpha=http://alpha.example/\nalphaRevno=5000\n");

    QTest::newRow("none") << QStringList { "p" } << none << none << true << defaultType << 3012
                          << "3.0.12" << ServerNews << 0 << noErrors;
    QTest::newRow("one argument is ignored")
        << QStringList { "p", "client_linux" } << none << none << true << defaultType << 3012
        << "3.0.12" << ServerNews << 0 << noErrors;
    QTest::newRow("three arguments are ignored")
        << QStringList { "p", "client_linux", "42", "x" } << none << none << true << defaultType
        << 3012 << "3.0.12" << ServerNews << 0 << noErrors;
    QTest::newRow("--verify-all stands anywhere")
        << QStringList { "p", "client_linux", "--verify-all", "42" } << none << none << true
        << "client_linux" << 42 << ""
        << "" << 0 << noErrors;
    QTest::newRow("TYPE VERSION") << QStringList { "p", "client_linux", "42" } << none << none
                                  << true << "client_linux" << 42 << ""
                                  << "" << 0 << noErrors;
    QTest::newRow("bad version") << QStringList { "p", "client_macosx", "12ab" } << none << none
                                 << false << "client_macosx" << 0 << ""
                                 << "" << 0 << QStringList { "Invalid version nr (12ab)" };
    QTest::newRow("version beyond 32 bits")
        << QStringList { "p", "client_macosx", "2147483648" } << none << none << false
        << "client_macosx" << 0 << ""
        << "" << 0 << QStringList { "Invalid version nr (2147483648)" };
    QTest::newRow("--nouser") << QStringList { "p", "--nouser" } << none << none << true
                              << defaultType << 3012 << "3.0.12" << ServerNews << 1 << noErrors;
    QTest::newRow("--nouser X") << QStringList { "p", "--nouser", "x" } << none << none << true
                                << defaultType << 3012 << "3.0.12" << ServerNews << 1 << noErrors;
    QTest::newRow("--nouser TYPE VERSION") << QStringList { "p", "--nouser", "client_linux", "42" }
                                           << none << none << true << "client_linux" << 42 << ""
                                           << "" << 1 << noErrors;
    QTest::newRow("--nouser, # for no name")
        << QStringList { "p", "--nouser", "client_linux", "42", "#", "hello" } << none << none
        << true << "client_linux" << 42 << ""
        << "hello" << 1 << noErrors;
    QTest::newRow("--nouser, name, news, extra ignored")
        << QStringList { "p", "--nouser", "client_linux", "42", "4.2 final", "hello", "extra" }
        << none << none << true << "client_linux" << 42 << "4.2 final"
        << "hello" << 1 << noErrors;
    QTest::newRow("--nouser, bad version")
        << QStringList { "p", "--nouser", "client_linux", "12ab" } << none << none << false
        << "client_linux" << 0 << ""
        << "" << 0 << QStringList { "Invalid version nr (12ab)" };
    QTest::newRow("--NOUSER is no flag")
        << QStringList { "p", "--NOUSER" } << none << none << true << defaultType << 3012
        << "3.0.12" << ServerNews << 0 << noErrors;
    QTest::newRow("temporary-arguments file")
        << QStringList { "p" } << QByteArray("client_linux\r\n\r\n42\r\n") << none << true
        << "client_linux" << 42 << ""
        << "" << 0 << noErrors;
    QTest::newRow("temporary-arguments file, --nouser, NUL")
        << QStringList { "p" } << "--nouser\r\nclient_linux\r\n42\r\n#\r\nhello\0junk\r\nmore"_ba
        << none << true << "client_linux" << 42 << ""
        << "hello" << 1 << noErrors;
    QTest::newRow("temporary-arguments file unread when arguments given")
        << QStringList { "p", "x" } << QByteArray("client_linux\r\n42\r\n") << none << true
        << defaultType << 3012 << "3.0.12" << ServerNews << 0 << noErrors;
    QTest::newRow("beta channel") << QStringList { "p" } << none
                                  << QByteArray("[Channel]\nbeta=true\n") << true << defaultType
                                  << 3013 << "3.1 beta" << ServerNews << 0 << noErrors;
    QTest::newRow("alpha without revno")
        << QStringList { "p" } << none << alphaIni << true << defaultType << 3014 << ""
        << ServerNews << 0 << noErrors;
    QTest::newRow("alpha revno, no query")
        << QStringList { "p" } << none << alphaRevnoIni << true << defaultType << 5000 << ""
        << "" << 0 << noErrors;
    for (const char* type : { "../x", ".hidden", "client linux", "" })
        QTest::newRow(qPrintable(QStringLiteral("client type \"%1\"").arg(type)))
            << QStringList { "p", type, "42" } << none << none << false << "" << 0 << ""
            << "" << 0 << QStringList { QStringLiteral("Invalid client type (%1)").arg(type) };
    QTest::newRow("--nouser, client type with a path")
        << QStringList { "p", "--nouser", "a/b", "42" } << none << none << false << "" << 0 << ""
        << "" << 0 << QStringList { "Invalid client type (a/b)" };
    QTest::newRow("a line break in the version is shown escaped")
        << QStringList { "p", "client", "1\nInstalled" } << none << none << false << "client" << 0
        << ""
        << "" << 0 << QStringList { "Invalid version nr (1\\nInstalled)" };
    QTest::newRow("client type of digits, dots, - and _")
        << QStringList { "p", "9-client_linux.x86", "42" } << none << none << true
        << "9-client_linux.x86" << 42 << ""
        << "" << 0 << noErrors;
    QTest::newRow("alpha revno wins, version unchecked")
        << QStringList { "p", "client_linux", "12ab" } << none << alphaRevnoIni << true
        << "client_linux" << 5000 << ""
        << "" << 0 << noErrors;
}

void TestConfigurationCommandLine::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, tempArgs);
    QFETCH(QByteArray, ini);
    QFETCH(bool, ok);
    QFETCH(QString, type);
    QFETCH(int, version);
    QFETCH(QString, name);
    QFETCH(QString, news);
    QFETCH(int, noUser);
    QFETCH(QStringList, fatalErrors);

    QVERIFY(startServer(
        { QStringLiteral("--versions"), ServerVersions, QStringLiteral("--news"), ServerNews }));
    if (!tempArgs.isNull())
        QVERIFY(TestFiles::write(Configuration::tempArgsFileName(), tempArgs));
    if (!ini.isNull())
        QVERIFY(TestFiles::write(UpdateIniData::filename(), ini));

    Configuration config;
    QSignalSpy fatal(&config, &Configuration::fatalError);
    QCOMPARE(config.parseArguments(args), ok);
    QCOMPARE(config.clientType, type);
    QCOMPARE(config.clientVersion, version);
    QCOMPARE(config.clientVersionName, name);
    QCOMPARE(config.newsText, news);
    QCOMPARE(config.noUserMode, noUser);
    QCOMPARE(config.verifyAll, args.contains(QStringLiteral("--verify-all")));
    QCOMPARE(TestSpies::texts(fatal), fatalErrors);
    QVERIFY(m_seenBoxes.isEmpty());
}

void TestConfigurationCommandLine::allowDowngrade_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("tempArgs");
    QTest::addColumn<bool>("allowed");
    QTest::addColumn<int>("noUser");
    QTest::addColumn<QStringList>("messages");

    const QByteArray none;
    const QStringList quiet;
    QTest::newRow("not given") << QStringList { "p", "--nouser", "client_linux", "42" } << none
                               << false << 1 << quiet;
    QTest::newRow("first") << QStringList { "p", "--allow-downgrade", "--nouser", "client_linux",
        "42" } << none << true
                           << 1 << quiet;
    QTest::newRow("last") << QStringList { "p", "client_linux", "42", "--allow-downgrade" } << none
                          << true << 0 << quiet;
    QTest::newRow("alone, the rest from the arguments file")
        << QStringList { "p", "--allow-downgrade" } << QByteArray("--nouser\nclient_linux\n42\n")
        << true << 1 << quiet;
    QTest::newRow("in the arguments file")
        << QStringList { "p" } << QByteArray("--allow-downgrade\n--nouser\nclient_linux\n42\n")
        << false << 1
        << QStringList { "--allow-downgrade is only honoured on the command line; ignored" };
}

void TestConfigurationCommandLine::allowDowngrade()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, tempArgs);
    QFETCH(bool, allowed);
    QFETCH(int, noUser);
    QFETCH(QStringList, messages);

    if (!tempArgs.isNull())
        QVERIFY(TestFiles::write(Configuration::tempArgsFileName(), tempArgs));
    Configuration config;
    QSignalSpy fatal(&config, &Configuration::fatalError);
    QSignalSpy message(&config, &Configuration::message);
    QVERIFY(config.parseArguments(args));
    // The option is no positional argument wherever it stands.
    QCOMPARE(config.clientType, QStringLiteral("client_linux"));
    QCOMPARE(config.clientVersion, 42);
    QCOMPARE(config.noUserMode, noUser);
    QCOMPARE(config.allowDowngrade, allowed);
    QCOMPARE(TestSpies::texts(message), messages);
    QCOMPARE(fatal.count(), 0);
}

void TestConfigurationCommandLine::signedVersionList_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<qint64>("recordedSerial"); // -1: none
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("problem"); // after the query-failed text; empty: no error
    QTest::addColumn<qint64>("serialAfter"); // -1: none
    QTest::addColumn<bool>("signedList");

    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QByteArray valid = TestSigning::signedVersionList(ServerVersions, 7, now + 3600);
    const QString none;
    QTest::newRow("signed") << valid << qint64(-1) << true << none << qint64(7) << true;
    QTest::newRow("signed, serial raised")
        << valid << qint64(3) << true << none << qint64(7) << true;
    QTest::newRow("signed, same serial") << valid << qint64(7) << true << none << qint64(7) << true;
    QTest::newRow("signed, replayed older serial")
        << valid << qint64(8) << false
        << "The version list is older (serial 7) than one seen before (8)" << qint64(8) << false;
    const qint64 expiry = now - 2 * 3600;
    QTest::newRow("signed, expired")
        << TestSigning::signedVersionList(ServerVersions, 7, expiry) << qint64(-1) << false
        << QStringLiteral("The version list expired on %1, check the system clock")
               .arg(QDateTime::fromSecsSinceEpoch(expiry, Qt::UTC).toString(Qt::ISODate))
        << qint64(-1) << false;
    QTest::newRow("unsigned after a signed one")
        << ServerVersions.toLatin1() << qint64(7) << false
        << "The version list is not signed, but signed ones were seen before" << qint64(7) << false;
    QTest::newRow("unsigned, never signed")
        << ServerVersions.toLatin1() << qint64(-1) << true << none << qint64(-1) << false;
}

// Unattended, so that a refused list ends in the fatal error after the last attempt.
void TestConfigurationCommandLine::signedVersionList()
{
    QFETCH(QByteArray, reply);
    QFETCH(qint64, recordedSerial);
    QFETCH(bool, ok);
    QFETCH(QString, problem);
    QFETCH(qint64, serialAfter);
    QFETCH(bool, signedList);

    QVERIFY(startServer({ QStringLiteral("--versions"), QString::fromLatin1(reply),
        QStringLiteral("--news"), ServerNews }));
    const QString keyId = TestSigning::versionsKeyId();
    if (recordedSerial >= 0) {
        InstalledRecord record;
        record.serials.insert(keyId, recordedSerial);
        QVERIFY(record.save());
    }

    Configuration config;
    QSignalSpy fatal(&config, &Configuration::fatalError);
    QSignalSpy messages(&config, &Configuration::message);
    QCOMPARE(config.parseArguments({ QStringLiteral("p"), QStringLiteral("--nouser") }), ok);
    QCOMPARE(config.clientVersion, ok ? 3012 : 0);
    QCOMPARE(config.versionListSigned, signedList);
    QCOMPARE(InstalledRecord::load().serials.value(keyId, -1), serialAfter);
    if (ok) {
        QVERIFY(TestSpies::texts(fatal).isEmpty());
        QVERIFY(TestSpies::texts(messages).isEmpty());
        return;
    }
    QCOMPARE(TestSpies::texts(fatal),
        QStringList { "Failed to query latest client\nversion from update server.\n" + problem });
    // Each attempt logs why its list was refused.
    QCOMPARE(TestSpies::texts(messages), QStringList(3, problem));
}

void TestConfigurationCommandLine::serverSendsInvalidVersion()
{
    QVERIFY(startServer({ QStringLiteral("--versions"), QStringLiteral("12ab#1.2") }));

    Configuration config;
    QSignalSpy fatal(&config, &Configuration::fatalError);
    QVERIFY(!config.parseArguments({ QStringLiteral("p") }));
    QCOMPARE(fatal.count(), 1);
    QCOMPARE(fatal.at(0).at(0).toString(),
        QStringLiteral("Update server returned invalid version nr (12ab)"));
    QVERIFY(config.clientVersionName.isEmpty());
}

void TestConfigurationCommandLine::alphaMissingFromTwoEntryList()
{
    QVERIFY(startServer({ QStringLiteral("--versions"), QStringLiteral("3012#a,3013#b") }));
    QVERIFY(
        TestFiles::write(UpdateIniData::filename(), "[Channel]\nalpha=http://alpha.example/\n"));

    Configuration config;
    QSignalSpy fatal(&config, &Configuration::fatalError);
    QVERIFY(!config.parseArguments({ QStringLiteral("p") }));
    QCOMPARE(config.channel, Alpha);
    QCOMPARE(config.clientVersion, 0);
    QCOMPARE(fatal.count(), 0);
    QVERIFY(m_seenBoxes.isEmpty());
}

void TestConfigurationCommandLine::abortGivesUp()
{
    m_server.reset(); // nobody answers: the attempt runs into its time-out

    Configuration config;
    config.newsText = QStringLiteral("previous news");
    QSignalSpy fatal(&config, &Configuration::fatalError);
    answerBoxes({ QMessageBox::Abort });
    QVERIFY(!config.parseArguments({ QStringLiteral("p") }));

    QCOMPARE(fatal.count(), 0);
    QCOMPARE(config.clientVersion, 0);
    QCOMPARE(config.newsText, QStringLiteral("previous news"));
    QCOMPARE(m_seenBoxes.size(), 1);
    const SeenBox& box = m_seenBoxes.constFirst();
    QCOMPARE(box.title, QStringLiteral("Error"));
    QCOMPARE(
        box.text, QStringLiteral("Failed to query latest client\nversion from update server."));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.buttons, QMessageBox::Retry | QMessageBox::Abort);
    QVERIFY(!box.hasDefaultButton);
    QVERIFY(box.modal);
    QVERIFY(!box.hasParent);
}

void TestConfigurationCommandLine::retryThenSuccess()
{
    m_server.reset();

    Configuration config;
    QSignalSpy fatal(&config, &Configuration::fatalError);
    answerBoxes({ QMessageBox::Retry }, [this] {
        QVERIFY(startServer({ QStringLiteral("--versions"), ServerVersions,
            QStringLiteral("--news"), ServerNews }));
    });
    QVERIFY(config.parseArguments({ QStringLiteral("p") }));

    QCOMPARE(m_seenBoxes.size(), 1);
    QCOMPARE(fatal.count(), 0);
    QCOMPARE(config.clientVersion, 3012);
    QCOMPARE(config.clientVersionName, QStringLiteral("3.0.12"));
    QCOMPARE(config.newsText, ServerNews);
}

void TestConfigurationCommandLine::unattendedGivesUpWithoutAsking()
{
    m_server.reset();

    Configuration config;
    QSignalSpy fatal(&config, &Configuration::fatalError);
    answerBoxes({ QMessageBox::Abort }); // only so that a question cannot hang the test
    QVERIFY(!config.parseArguments({ QStringLiteral("p"), QStringLiteral("--nouser") }));
    m_answers.clear();

    QVERIFY(m_seenBoxes.isEmpty());
    QCOMPARE(TestSpies::texts(fatal),
        QStringList { "Failed to query latest client\nversion from update server." });
    QCOMPARE(config.noUserMode, 0);
    QCOMPARE(config.clientVersion, 0);
}

QTEST_MAIN(TestConfigurationCommandLine)
#include "tst_configuration_commandline.moc"
