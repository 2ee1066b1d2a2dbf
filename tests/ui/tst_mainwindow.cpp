#include "changelogviewer.h"
#include "configuration.h"
#include "mainwindow.h"
#include "processtools.h"
#include "testfiles.h"
#include "testhttpserver.h"
#include "updateengine.h"
#include "urlrecorder.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTextEdit>
#include <QtTest>

using namespace Qt::StringLiterals;

// The window as the user sees it: the start button through a run's states, the texts of the
// version label and the download figures, the boxes, and closing during a run. Runs are real:
// the engine talks to a test HTTP server whose every answer stalls, so a run stays running
// until it is cancelled. The system temp directory (TMPDIR) is a folder of the test.
class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void buttonStates_data();
    void buttonStates();
    void versionLabel_data();
    void versionLabel();
    void downloadFigures_data();
    void downloadFigures();
    void timeLeft_data();
    void timeLeft();
    void progress_data();
    void progress();
    void errorBoxes_data();
    void errorBoxes();
    void closeDuringRun();
    void runStates_data();
    void runStates();
    void detailsScrollsToEnd();
    void logShowsLinesAsTheyAre();
    void bannerFound_data();
    void bannerFound();

private:
    QTemporaryDir tmp;
};

namespace {
template <typename T> T* child(QWidget& window, const char* name)
{
    T* widget = window.findChild<T*>(QString::fromLatin1(name));
    Q_ASSERT(widget);
    return widget;
}

QString plain(const QString& richText)
{
    QTextDocument document;
    document.setHtml(richText);
    return document.toPlainText();
}

// The message boxes open now, with their texts.
QStringList openBoxes()
{
    QStringList boxes;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            boxes.append(box->windowTitle() + u": "_s + box->text());
    }
    return boxes;
}

QMessageBox* modalBox()
{
    return qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
}

void answer(QMessageBox::StandardButton button)
{
    QMessageBox* box = modalBox();
    QVERIFY(box);
    QTest::mouseClick(box->button(button), Qt::LeftButton);
}

QString rootFile(const QString& name)
{
    return Configuration::getAppRootFilePath(name);
}

QString recordFile()
{
    return QDir::tempPath() + u"/opener-called"_s;
}

// A mirror whose every answer stalls after the headers, so that a run stays running until it is
// cancelled; it announces the product ini of version 42 and is the one mirror of mirrors.ini.
class StalledMirror
{
public:
    StalledMirror()
        : server(served.path())
    {
    }

    bool start()
    {
        if (!TestFiles::write(served.filePath(u"42/client_macosx.ini"_s), "[files]\n")
            || !server.start())
            return false;
        server.setFault(u"*"_s, TestHttpServer::StallAfterHeaders);
        return TestFiles::write(rootFile(u"mirrors.ini"_s),
            u"[mirrors]\nsize=1\n1\\mirror=one\n[one]\nurl=%1\n"_s.arg(server.url()).toUtf8());
    }

    QTemporaryDir served;
    TestHttpServer server;
};

// The event loop as the program runs it, until something ends it; its exit code.
int runEventLoop()
{
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(-1); });
    watchdog.start(20000);
    return QApplication::exec();
}

QMessageBox* boxTitled(const QString& title)
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box && box->isVisible() && box->windowTitle() == title)
            return box;
    }
    return nullptr;
}
} // namespace

void TestMainWindow::initTestCase()
{
    QVERIFY(tmp.isValid());
    qputenv("TMPDIR", QFile::encodeName(tmp.path()));
    // The client opener is looked up in PATH: a script of its name records the call instead.
    const QString opener = QFileInfo(QStringLiteral(CRV_CLIENT_OPENER)).fileName();
    QVERIFY(TestFiles::write(tmp.filePath(u"bin/"_s + opener),
        "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$TMPDIR/opener-called\"\n", 0755));
    qputenv("PATH", QFile::encodeName(tmp.filePath(u"bin"_s)) + ':' + qgetenv("PATH"));
}

void TestMainWindow::cleanup()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<QMessageBox*>(widget))
            delete widget;
    }
    QFile::remove(rootFile(u"mirrors.ini"_s));
    QFile::remove(rootFile(u"update.ini"_s));
    QFile::remove(recordFile());
}

void TestMainWindow::buttonStates_data()
{
    QTest::addColumn<int>("noUserMode");
    // What happens after the window is set up: nothing, finish, finish with a viewer open,
    // cancel.
    QTest::addColumn<QString>("event");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("clientStarted");

    QTest::newRow("ready") << 0 << QString() << u"Start Update"_s << true << false;
    QTest::newRow("ready, unattended") << 1 << QString() << u"Start Update"_s << false << false;
    QTest::newRow("done") << 0 << u"finish"_s << u"Start Corvanta"_s << true << false;
    QTest::newRow("done, unattended") << 1 << u"finish"_s << u"Start Update"_s << false << true;
    QTest::newRow("done, unattended, viewer open")
        << 1 << u"finish with viewer"_s << u"Start Corvanta"_s << true << false;
    QTest::newRow("cancelled") << 0 << u"cancel"_s << u"Try again"_s << true << false;
}

void TestMainWindow::buttonStates()
{
    QFETCH(int, noUserMode);
    QFETCH(QString, event);
    QFETCH(QString, text);
    QFETCH(bool, enabled);
    QFETCH(bool, clientStarted);

    Configuration configuration;
    configuration.noUserMode = noUserMode;
    configuration.clientVersion = 42;
    MainWindow window(configuration);
    window.setUIToConfigSpecs();
    window.show();
    auto* start = child<QPushButton>(window, "startButton");

    if (event == u"finish with viewer"_s) {
        ChangeLogViewer::showRemoteChangeLogDialog(&window, u"42"_s);
        QVERIFY(ChangeLogViewer::m_instance);
    }
    if (event.startsWith(u"finish"_s))
        window.onUpdateFinished();
    if (event == u"cancel"_s) {
        window.onUpdateCanceled();
        // Nothing was installed and no error came: the box says so and where to look.
        QCOMPARE(openBoxes(),
            QStringList { u"Update: The update failed; your installation is unchanged.\nPush "
                          "\"Details\" for the reason, then try again."_s });
        QVERIFY(child<QTextEdit>(window, "outputTextEdit")
                    ->toPlainText()
                    .endsWith(u"Update cancelled"_s));
    }

    QCOMPARE(start->text(), text);
    QCOMPARE(start->isEnabled(), enabled);
    if (text == u"Start Corvanta"_s && window.isActiveWindow())
        QCOMPARE(window.focusWidget(), start);

    if (clientStarted) {
        // A second later the client is started and the window closes by itself.
        QTRY_VERIFY(!window.isVisible());
        // The opener runs detached; its record may still be under way.
        QTRY_COMPARE(TestFiles::read(recordFile()),
            ProcessTools::clientBundlePath(QCoreApplication::applicationDirPath()).toUtf8() + '\n');
    } else if (event.startsWith(u"finish"_s)) {
        // Waiting for the user: the window stays past the second of the unattended start.
        QVERIFY(!QTest::qWaitFor([&] { return !window.isVisible(); }, 1500));
        QVERIFY(!QFile::exists(recordFile()));
    }
    delete ChangeLogViewer::m_instance;
}

void TestMainWindow::versionLabel_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("shown");

    QTest::newRow("stable, no name")
        << int(Stable) << QString() << u"You are currently on Stable channel."_s;
    QTest::newRow("beta, named") << int(Beta) << u"3.1"_s
                                 << u"Update to Corvanta 3.1\nYou are currently on Beta channel."_s;
    QTest::newRow("alpha, name with percent")
        << int(Alpha) << u"3.2 %1 off"_s
        << u"Update to Corvanta 3.2 %1 off\nYou are currently on Alpha channel."_s;
    QTest::newRow("unknown channel") << 7 << QString() << u"You are currently on channel."_s;
    QTest::newRow("markup in the name is text")
        << int(Stable) << u"3.3 <b>beta</b> <img src=\"x.png\"> &amp;"_s
        << u"Update to Corvanta 3.3 <b>beta</b> <img src=\"x.png\"> &amp;\nYou are currently on "
           "Stable channel."_s;
}

void TestMainWindow::versionLabel()
{
    QFETCH(int, channel);
    QFETCH(QString, name);
    QFETCH(QString, shown);

    Configuration configuration;
    configuration.channel = UpdateChannel(channel);
    configuration.clientVersionName = name;
    MainWindow window(configuration);
    window.setUIToConfigSpecs();
    QCOMPARE(plain(child<QLabel>(window, "versionLabel")->text()), shown);
}

void TestMainWindow::downloadFigures_data()
{
    QTest::addColumn<quint64>("done");
    QTest::addColumn<quint64>("total");
    QTest::addColumn<quint64>("speed");
    QTest::addColumn<bool>("downloading");
    QTest::addColumn<QString>("size");
    QTest::addColumn<QString>("rate");

    QTest::newRow("kilobytes of 1000 bytes") << quint64(1999) << quint64(1000000) << quint64(999)
                                             << true << u"1 KB / 1000 KB"_s << u"0 KB/s"_s;
    QTest::newRow("beyond 32 bits")
        << quint64(8000000000000) << quint64(9000000000000) << quint64(5000000000) << true
        << u"8000000000 KB / 9000000000 KB"_s << u"5000000 KB/s"_s;
    // A mirror that accepted the request but sends nothing is no download at 0 KB/s.
    QTest::newRow("nothing this second is waiting")
        << quint64(0) << quint64(1000000) << quint64(0) << true << u"0 KB / 1000 KB"_s
        << u"Waiting for the mirrors..."_s;
    QTest::newRow("not downloading hides both")
        << quint64(5000) << quint64(6000) << quint64(7000) << false << QString() << QString();
}

void TestMainWindow::downloadFigures()
{
    QFETCH(quint64, done);
    QFETCH(quint64, total);
    QFETCH(quint64, speed);
    QFETCH(bool, downloading);
    QFETCH(QString, size);
    QFETCH(QString, rate);

    Configuration configuration;
    MainWindow window(configuration);
    auto* sizeLabel = child<QLabel>(window, "downloadSizeLabel");
    auto* speedLabel = child<QLabel>(window, "downloadSpeedLabel");
    QVERIFY(!sizeLabel->isVisibleTo(&window));

    window.onDownloadProgress(done, total, speed, downloading);
    QCOMPARE(sizeLabel->isVisibleTo(&window), downloading);
    QCOMPARE(speedLabel->isVisibleTo(&window), downloading);
    if (downloading) {
        QCOMPARE(plain(sizeLabel->text()), size);
        QCOMPARE(plain(speedLabel->text()), rate);
    }
}

void TestMainWindow::timeLeft_data()
{
    // Bytes per tick, one tick a second, of a download of 10 MB.
    QTest::addColumn<QList<quint64>>("ticks");
    QTest::addColumn<QString>("rate");

    QTest::newRow("too early to tell") << QList<quint64> { 100000, 100000, 100000 } << u"100 KB/s"_s;
    // 600 kB done after six steady ticks: 9.4 MB left at 100 kB/s.
    QTest::newRow("steady")
        << QList<quint64> { 100000, 100000, 100000, 100000, 100000, 100000 }
        << u"100 KB/s, 1 min 34 s left"_s;
    QTest::newRow("erratic rate stays hidden")
        << QList<quint64> { 1000000, 1000, 1000000, 1000, 1000000, 1000 } << u"1 KB/s"_s;
}

void TestMainWindow::timeLeft()
{
    QFETCH(QList<quint64>, ticks);
    QFETCH(QString, rate);

    Configuration configuration;
    MainWindow window(configuration);
    quint64 done = 0;
    for (const quint64 bytes : std::as_const(ticks)) {
        done += bytes;
        window.onDownloadProgress(done, 10000000, bytes, true);
    }
    QCOMPARE(plain(child<QLabel>(window, "downloadSpeedLabel")->text()), rate);
}

void TestMainWindow::progress_data()
{
    QTest::addColumn<qreal>("doneFrac");
    QTest::addColumn<int>("value");

    QTest::newRow("truncated, not rounded") << qreal(0.9999) << 999;
    QTest::newRow("done") << qreal(1.0) << 1000;
    QTest::newRow("start") << qreal(0.0) << 0;
}

void TestMainWindow::progress()
{
    QFETCH(qreal, doneFrac);
    QFETCH(int, value);

    Configuration configuration;
    MainWindow window(configuration);
    window.onProgressUpdate(doneFrac);
    QCOMPARE(child<QProgressBar>(window, "totalProgressBar")->value(), value);
}

void TestMainWindow::errorBoxes_data()
{
    QTest::addColumn<QString>("slot");
    QTest::addColumn<bool>("windowIsParent");
    QTest::addColumn<bool>("logged");

    QTest::newRow("run error") << u"onError"_s << true << true;
    QTest::newRow("fatal engine error") << u"onFatalError"_s << true << false;
    QTest::newRow("fatal configuration error") << u"onFatalConfigError"_s << false << false;
}

void TestMainWindow::errorBoxes()
{
    QFETCH(QString, slot);
    QFETCH(bool, windowIsParent);
    QFETCH(bool, logged);

    Configuration configuration;
    MainWindow window(configuration);
    window.show();

    // The slot returns with the box open: it runs no event loop of its own, so the run that
    // reported the error goes on to cancel itself before anything else happens.
    QVERIFY(QMetaObject::invokeMethod(&window, slot.toLatin1().constData(), Qt::DirectConnection,
        Q_ARG(QString, u"Disk full"_s)));
    QMessageBox* box = modalBox();
    QVERIFY(box);
    QCOMPARE(openBoxes(), QStringList { u"Error: Disk full"_s });
    QCOMPARE(box->parentWidget() == &window, windowIsParent);
    QCOMPARE(box->standardButtons(), QMessageBox::Ok);
    QCOMPARE(child<QTextEdit>(window, "outputTextEdit")->toPlainText(),
        logged ? u"Disk full"_s : QString());

    if (logged) {
        answer(QMessageBox::Ok);
        QTRY_VERIFY(openBoxes().isEmpty());
    }
    // Confirming a fatal box ends the event loop; the whole-program tests see its exit code.
}

void TestMainWindow::closeDuringRun()
{
    StalledMirror mirror;
    QVERIFY(mirror.start());
    TestHttpServer& server = mirror.server;

    Configuration configuration;
    configuration.clientType = u"client_macosx"_s;
    configuration.clientVersion = 42;
    MainWindow window(configuration);
    window.setUIToConfigSpecs();
    window.show();
    auto* start = child<QPushButton>(window, "startButton");

    QTest::mouseClick(start, Qt::LeftButton);
    QVERIFY2(!start->isEnabled(), qPrintable(openBoxes().join(u' ')));
    QTRY_VERIFY(server.totalRequestCount() > 0);
    // Pressing start again while running does nothing (the button is disabled anyway).
    window.on_startButton_clicked();
    QCOMPARE(server.totalRequestCount(), 1);

    const QString question
        = u"Question: <p>Update in progress.</p><p>Are you sure you want to abort?</p>"_s;
    window.close();
    QCOMPARE(openBoxes(), QStringList { question });
    // Enter keeps the run going.
    QCOMPARE(modalBox()->defaultButton(), modalBox()->button(QMessageBox::No));
    answer(QMessageBox::No);
    QTRY_VERIFY(openBoxes().isEmpty());
    QVERIFY(window.isVisible());

    window.close();
    // A second close while the question is open asks nothing more.
    window.close();
    QCOMPARE(openBoxes(), QStringList { question });
    answer(QMessageBox::Yes);
    QTRY_VERIFY(openBoxes().isEmpty());
    QVERIFY(!start->isEnabled());
    // Nor does one while the cancellation is under way.
    window.close();
    QVERIFY(openBoxes().isEmpty());

    QTRY_VERIFY(!window.isVisible());
    QVERIFY(openBoxes().isEmpty());
    QVERIFY(
        !child<QTextEdit>(window, "outputTextEdit")->toPlainText().contains(u"Update cancelled"_s));
}

void TestMainWindow::runStates_data()
{
    QTest::addColumn<int>("noUserMode");
    // What the user and the run do, in order: "start" (the button, or the unattended auto-start),
    // "request" (wait until the run has asked the mirror), "close", "yes" and "no" (answer the
    // abort question), "ok" (confirm the cancelled box), "run ends" (the run cancels itself,
    // as after an error).
    QTest::addColumn<QStringList>("steps");
    // Right after the last step, before the event loop runs: the titles of the open boxes, the
    // start button, whether the window is shown and whether a run is under way.
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<bool>("busy");
    // The program's exit code once the event loop has run, -1 when it is not run.
    QTest::addColumn<int>("exitCode");

    const QString ready = u"Start Update"_s;
    QTest::newRow("cancelled run")
        << 0 << QStringList { u"start"_s, u"request"_s, u"run ends"_s }
        << QStringList { u"Update"_s } << u"Try again"_s << true << true << false << -1;
    QTest::newRow("restarted run") << 0
                                   << QStringList { u"start"_s, u"request"_s, u"run ends"_s,
                                          u"ok"_s, u"start"_s, u"request"_s }
                                   << QStringList() << u"Try again"_s << false << true << true << -1;
    // The abort is asked for before the run's first task has started, so the cancellation
    // completes in the event loop.
    QTest::newRow("abort confirmed") << 0 << QStringList { u"start"_s, u"close"_s, u"yes"_s }
                                     << QStringList() << ready << false << true << true << 0;
    QTest::newRow("abort confirmed, unattended")
        << 1 << QStringList { u"start"_s, u"close"_s, u"yes"_s } << QStringList() << ready << false
        << true << true << 3;
    QTest::newRow("close during the cancellation asks nothing")
        << 0 << QStringList { u"start"_s, u"close"_s, u"yes"_s, u"close"_s } << QStringList()
        << ready << false << true << true << 0;
    QTest::newRow("abort declined") << 0 << QStringList { u"start"_s, u"close"_s, u"no"_s }
                                    << QStringList() << ready << false << true << true << -1;
    QTest::newRow("yes after the run ended closes the window")
        << 0 << QStringList { u"start"_s, u"request"_s, u"close"_s, u"run ends"_s, u"yes"_s }
        << QStringList { u"Update"_s } << u"Try again"_s << true << false << false << -1;
}

void TestMainWindow::runStates()
{
    QFETCH(int, noUserMode);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, boxes);
    QFETCH(QString, text);
    QFETCH(bool, enabled);
    QFETCH(bool, visible);
    QFETCH(bool, busy);
    QFETCH(int, exitCode);

    StalledMirror mirror;
    QVERIFY(mirror.start());
    Configuration configuration;
    configuration.noUserMode = noUserMode;
    configuration.clientType = u"client_macosx"_s;
    configuration.clientVersion = 42;
    MainWindow window(configuration);
    window.setUIToConfigSpecs();
    window.show();
    auto* start = child<QPushButton>(window, "startButton");
    auto* engine = window.findChild<UpdateEngine*>();
    QVERIFY(engine);
    // A run left running is ended before the window goes.
    const auto endRun = qScopeGuard([engine] {
        if (engine->busy()) {
            engine->cancelUpdate();
            QTRY_VERIFY(!engine->busy());
        }
    });

    int requests = 0;
    for (const QString& step : std::as_const(steps)) {
        if (step == u"start"_s) {
            if (noUserMode == 1)
                window.onAutoStartUpdate();
            else
                QTest::mouseClick(start, Qt::LeftButton);
            QVERIFY2(engine->busy(), qPrintable(openBoxes().join(u' ')));
            QVERIFY(!start->isEnabled());
        } else if (step == u"request"_s) {
            ++requests;
            QTRY_COMPARE(mirror.server.totalRequestCount(), requests);
        } else if (step == u"close"_s) {
            window.close();
        } else if (step == u"yes"_s || step == u"no"_s || step == u"ok"_s) {
            QMessageBox* box = boxTitled(step == u"ok"_s ? u"Update"_s : u"Question"_s);
            QVERIFY2(box, qPrintable(step));
            const auto button = step == u"yes"_s ? QMessageBox::Yes
                : step == u"no"_s                ? QMessageBox::No
                                                 : QMessageBox::Ok;
            QTest::mouseClick(box->button(button), Qt::LeftButton);
        } else if (step == u"run ends"_s) {
            engine->cancelUpdate();
            QTRY_VERIFY(!engine->busy());
        } else {
            QFAIL(qPrintable(step));
        }
    }

    QStringList titles;
    for (const QString& box : openBoxes())
        titles.append(box.section(u':', 0, 0));
    QCOMPARE(titles, boxes);
    QCOMPARE(start->text(), text);
    QCOMPARE(start->isEnabled(), enabled);
    QCOMPARE(window.isVisible(), visible);
    QCOMPARE(engine->busy(), busy);
    if (exitCode >= 0) {
        QCOMPARE(runEventLoop(), exitCode);
        QVERIFY(!engine->busy());
        QVERIFY(openBoxes().isEmpty());
    }
}

// A log line is text, whatever it holds: a file name from a release that looks like markup is
// shown as it is, not rendered. Lines come a batch at a time, in their order.
void TestMainWindow::logShowsLinesAsTheyAre()
{
    Configuration configuration;
    MainWindow window(configuration);
    auto* log = child<QTextEdit>(window, "outputTextEdit");
    window.onAppendText(u"add/replace <b>bold</b>.txt"_s);
    window.onAppendText(u"<img src=\"x.png\"> & more"_s);
    QTRY_COMPARE(log->toPlainText(), u"add/replace <b>bold</b>.txt\n<img src=\"x.png\"> & more"_s);
}

void TestMainWindow::detailsScrollsToEnd()
{
    Configuration configuration;
    MainWindow window(configuration);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* log = child<QTextEdit>(window, "outputTextEdit");
    for (int i = 0; i < 60; ++i)
        window.onAppendText(u"line %1"_s.arg(i));
    const int closedHeight = window.height();

    auto* details = child<QPushButton>(window, "detailsButton");
    QTest::mouseClick(details, Qt::LeftButton);
    QVERIFY(log->isVisible());
    QTRY_VERIFY(window.height() > closedHeight);
    QScrollBar* bar = log->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QTRY_COMPARE(bar->value(), bar->maximum());

    QTest::mouseClick(details, Qt::LeftButton);
    QVERIFY(!log->isVisible());
    QTRY_COMPARE(window.height(), closedHeight);
}

void TestMainWindow::bannerFound_data()
{
    QTest::addColumn<bool>("image");
    QTest::addColumn<QString>("clickUrl");
    QTest::addColumn<QString>("tooltip");

    QTest::newRow("image") << true << u"https://shop.example.com/deal?x=1"_s
                           << u"Click to open \"https://shop.example.com\""_s;
    QTest::newRow("percent signs")
        << true << u"https://example.com/%251%252"_s << u"Click to open \"https://example.com\""_s;
    QTest::newRow("not an image") << false << u"https://shop.example.com/"_s << QString();
    // No link, and no tooltip promising one: the image alone.
    QTest::newRow("click URL of a program") << true << u"file:///usr/bin/xterm"_s << QString();
    QTest::newRow("click URL of a custom scheme") << true << u"crvtest://start"_s << QString();
}

void TestMainWindow::bannerFound()
{
    QFETCH(bool, image);
    QFETCH(QString, clickUrl);
    QFETCH(QString, tooltip);

    QByteArray data = "<html>502 Bad Gateway</html>";
    if (image) {
        QImage banner(468, 60, QImage::Format_RGB32);
        banner.fill(Qt::darkBlue);
        QBuffer buffer(&data);
        data.clear();
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(banner.save(&buffer, "PNG"));
    }

    UrlRecorder browser;
    Configuration configuration;
    MainWindow window(configuration);
    window.onBannerFound(data, clickUrl);
    auto* label = child<QLabel>(window, "banner");
    QCOMPARE(label->toolTip(), tooltip);
    QCOMPARE(label->pixmap().isNull(), !image);

    QTest::mouseClick(label, Qt::LeftButton);
    QCOMPARE(browser.opened, tooltip.isEmpty() ? QStringList() : QStringList { clickUrl });
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
