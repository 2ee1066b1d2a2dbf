#include "changelogviewer.h"
#include "configuration.h"
#include "testfiles.h"
#include "testhttpserver.h"

#include <QFile>
#include <QMetaEnum>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

using namespace Qt::StringLiterals;

// The changelog viewer against a real HTTP server: which mirrors it asks, in how many requests,
// and what the user reads in the end. Each mirror is a folder of its own on one server, so
// that faults can be set per mirror.
class TestChangeLogViewer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void fetch_data();
    void fetch();
    void oneViewerAtATime();

private:
    QString text(ChangeLogViewer* viewer) const;
    void writeSettings(const QString& alpha, const QStringList& mirrors);

    QTemporaryDir served;
    std::unique_ptr<TestHttpServer> server;
};

namespace {
const QString version = u"42"_s;
const QString failed = u"Failed to load changelog."_s;

QString changes(const QString& mirror)
{
    return u"Changes of 42 on %1\n\n- a longer second line with a fix"_s.arg(mirror);
}

// A changelog that looks like HTML; a file it names as an image must not be read.
const QString markup
    = u"<h1>Changes of 42</h1>\n<img src=\"/nonexistent/changes.png\"><b>fix</b>"_s;
// Plain lines of exactly the size limit of a changelog.
const QByteArray fullSize = QByteArray("a changelog line\n").repeated(1024 * 1024 / 17)
    + QByteArray(1024 * 1024 % 17, 'x');

QString iniPath(const QString& name)
{
    return Configuration::getAppRootFilePath(name);
}
} // namespace

void TestChangeLogViewer::initTestCase()
{
    QVERIFY(served.isValid());
    for (const QString& mirror : { u"m1"_s, u"m2"_s, u"m3"_s }) {
        QVERIFY(TestFiles::write(
            served.filePath(mirror + u"/42/changelog_client.txt"_s), changes(mirror).toUtf8()));
    }
    // What some servers answer with status 200 in place of the file.
    QVERIFY(TestFiles::write(served.filePath(u"moved/42/changelog_client.txt"_s),
        "<html><body>The document has moved <a href=\"/x\">here</a>.</body></html>"));
    QVERIFY(
        TestFiles::write(served.filePath(u"markup/42/changelog_client.txt"_s), markup.toUtf8()));
    QVERIFY(TestFiles::write(served.filePath(u"full/42/changelog_client.txt"_s), fullSize));
    QVERIFY(TestFiles::write(served.filePath(u"over/42/changelog_client.txt"_s), fullSize + 'x'));
    server = std::make_unique<TestHttpServer>(served.path());
    QVERIFY(server->start());
}

void TestChangeLogViewer::cleanup()
{
    server->clearFaults();
    QFile::remove(iniPath(u"update.ini"_s));
    QFile::remove(iniPath(u"mirrors.ini"_s));
}

QString TestChangeLogViewer::text(ChangeLogViewer* viewer) const
{
    return viewer->findChild<QTextEdit*>(u"changeLogTextEdit"_s)->toPlainText();
}

// Mirror entries are folder names on the server, optionally with a trailing "/"; an empty one
// is a mirror without a URL.
void TestChangeLogViewer::writeSettings(const QString& alpha, const QStringList& mirrors)
{
    if (!alpha.isEmpty()) {
        QVERIFY(TestFiles::write(iniPath(u"update.ini"_s),
            u"[Channel]\nalpha=%1/%2\n"_s.arg(server->url(), alpha).toUtf8()));
    }
    if (mirrors.isEmpty())
        return;
    QString ini = u"[mirrors]\nsize=%1\n"_s.arg(mirrors.size());
    for (int i = 0; i < mirrors.size(); ++i)
        ini += u"%1\\mirror=mirror%1\n"_s.arg(i + 1);
    for (int i = 0; i < mirrors.size(); ++i) {
        const QString url
            = mirrors.at(i).isEmpty() ? QString() : server->url() + u'/' + mirrors.at(i);
        ini += u"[mirror%1]\nurl=%2\n"_s.arg(i + 1).arg(url);
    }
    QVERIFY(TestFiles::write(iniPath(u"mirrors.ini"_s), ini.toUtf8()));
}

void TestChangeLogViewer::fetch_data()
{
    QTest::addColumn<QString>("alpha");
    QTest::addColumn<QStringList>("mirrors");
    // "folder=Fault" for every request to that mirror's changelog.
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("maxRequests");

    QTest::newRow("no settings, no request")
        << QString() << QStringList() << QStringList() << failed << 0;
    QTest::newRow("alpha only, even with mirrors.ini")
        << u"m1"_s << QStringList { u"m2"_s } << QStringList { u"m1=NotFound"_s } << failed << 1;
    QTest::newRow("alpha served") << u"m3"_s << QStringList() << QStringList() << changes(u"m3"_s)
                                  << 1;
    QTest::newRow("three mirrors, two fail")
        << QString() << QStringList { u"m1"_s, u"m2"_s, u"m3"_s }
        << QStringList { u"m1=NotFound"_s, u"m2=InternalError"_s } << changes(u"m3"_s) << 3;
    QTest::newRow("every mirror fails")
        << QString() << QStringList { u"m1"_s, u"m2"_s }
        << QStringList { u"m1=ResetMidBody"_s, u"m2=Unauthorized"_s } << failed << 2;
    QTest::newRow("stall past the limit") << QString() << QStringList { u"m1"_s }
                                          << QStringList { u"m1=StallMidBody"_s } << failed << 1;
    QTest::newRow("stall, then a working mirror")
        << QString() << QStringList { u"m1"_s, u"m2"_s }
        << QStringList { u"m1=StallAfterHeaders"_s } << changes(u"m2"_s) << 2;
    QTest::newRow("document has moved page")
        << QString() << QStringList { u"moved"_s } << QStringList() << failed << 1;
    QTest::newRow("redirect is not followed")
        << QString() << QStringList { u"m1"_s } << QStringList { u"m1=MovedPermanently"_s }
        << failed << 1;
    QTest::newRow("trailing slash")
        << QString() << QStringList { u"m2/"_s } << QStringList() << changes(u"m2"_s) << 1;
    QTest::newRow("empty url skipped") << QString() << QStringList { QString(), u"m1"_s }
                                       << QStringList() << changes(u"m1"_s) << 1;
    QTest::newRow("markup is shown as text")
        << QString() << QStringList { u"markup"_s } << QStringList() << markup << 1;
    QTest::newRow("exactly the size limit") << QString() << QStringList { u"full"_s }
                                            << QStringList() << QString::fromLatin1(fullSize) << 1;
    QTest::newRow("one byte over the limit")
        << QString() << QStringList { u"over"_s } << QStringList() << failed << 1;
    QTest::newRow("over the limit, no length announced")
        << QString() << QStringList { u"over"_s } << QStringList { u"over=NoContentLength"_s }
        << failed << 1;
}

void TestChangeLogViewer::fetch()
{
    QFETCH(QString, alpha);
    QFETCH(QStringList, mirrors);
    QFETCH(QStringList, faults);
    QFETCH(QString, shown);
    QFETCH(int, maxRequests);

    writeSettings(alpha, mirrors);

    const QMetaEnum faultNames = QMetaEnum::fromType<TestHttpServer::Fault>();
    for (const QString& fault : std::as_const(faults)) {
        const QStringList parts = fault.split(u'=');
        server->setFault(u"/%1/42/changelog_client.txt"_s.arg(parts.at(0)),
            TestHttpServer::Fault(faultNames.keyToValue(parts.at(1).toLatin1().constData())));
    }
    const int before = server->totalRequestCount();

    ChangeLogViewer viewer(nullptr);
    viewer.requestRemote(version);
    // The stalling mirror takes the 2000 ms limit before the next one is asked.
    QTRY_VERIFY_WITH_TIMEOUT(text(&viewer) != u"Loading..."_s, 10000);
    QCOMPARE(text(&viewer), shown);

    const QStringList requests = server->requestLog().mid(before);
    QVERIFY2(requests.size() <= maxRequests, qPrintable(requests.join(u' ')));
    QCOMPARE(requests.size(), QSet<QString>(requests.begin(), requests.end()).size());
    for (const QString& path : requests) {
        QVERIFY2(path.endsWith(u"/42/changelog_client.txt"_s) && !path.contains(u"//"_s),
            qPrintable(path));
    }
}

void TestChangeLogViewer::oneViewerAtATime()
{
    writeSettings(u"m1"_s, {});
    const int before = server->totalRequestCount();
    QWidget window;

    ChangeLogViewer::showRemoteChangeLogDialog(&window, version);
    QPointer<ChangeLogViewer> viewer = ChangeLogViewer::m_instance;
    QVERIFY(viewer);
    QTRY_COMPARE(text(viewer), changes(u"m1"_s));

    // A second click only raises the open viewer; it fetches nothing.
    ChangeLogViewer::showRemoteChangeLogDialog(&window, u"43"_s);
    QCOMPARE(ChangeLogViewer::m_instance, viewer.data());
    QCOMPARE(server->totalRequestCount(), before + 1);

    viewer->close();
    QTRY_VERIFY(!viewer);
    QVERIFY(!ChangeLogViewer::m_instance);
}

QTEST_MAIN(TestChangeLogViewer)
#include "tst_changelogviewer.moc"
