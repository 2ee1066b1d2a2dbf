#include "newsbanner.h"
#include "newsdocument.h"
#include "urlclicklabel.h"
#include "urlrecorder.h"

#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

// The news ticker and the click label as the user meets them: what a click opens, where the
// pointer turns into a hand, what of the news's markup is shown, and the blank pause between two
// passes.
class TestNewsBanner : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void clicks_data();
    void clicks();
    void markup_data();
    void markup();
    void noResourceIsLoaded();
    void pauseAfterPass();
    void labelClicks_data();
    void labelClicks();

private:
    // Files the news may name: an image and a style sheet, both of which would change the
    // ticker's height if they were loaded.
    QTemporaryDir files;
    QString imageFile;
    QString styleSheetFile;
};

namespace {
const QString link = u"https://example.com/link"_s;
const QString target = u"https://example.com/target"_s;
const QString program = u"file:///usr/bin/xterm"_s;
const QString customScheme = u"crvtest://start"_s;

// A widget that paints nothing but its background.
bool isBlank(QWidget& widget)
{
    const QImage image = widget.grab().toImage();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != image.pixel(0, 0))
                return false;
        }
    }
    return true;
}
} // namespace

void TestNewsBanner::initTestCase()
{
    QVERIFY(files.isValid());
    imageFile = files.filePath(u"tall.png"_s);
    QImage image(40, 120, QImage::Format_RGB32);
    image.fill(Qt::red);
    QVERIFY(image.save(imageFile, "PNG"));
    styleSheetFile = files.filePath(u"big.css"_s);
    QFile css(styleSheetFile);
    QVERIFY(css.open(QIODevice::WriteOnly));
    QVERIFY(css.write("p, a, span { font-size: 60px; }\n") > 0);
}

void TestNewsBanner::clicks_data()
{
    QTest::addColumn<QString>("news");
    // Where the click goes: on the link at the start of the text, or left of the text, where
    // there is nothing.
    QTest::addColumn<bool>("onLink");
    // The link target under the pointer, which turns into a hand there.
    QTest::addColumn<QString>("anchor");
    QTest::addColumn<QString>("opened");

    const QString linked = u"<a href=\"%1\">Read more</a> about it"_s.arg(link);
    const QString comment = u"<!--URL=%1-->"_s.arg(target);
    QTest::newRow("comment, outside any link")
        << u"Plain news"_s + comment << false << QString() << target;
    QTest::newRow("lower-case key opens nothing")
        << u"Plain news<!--url=%1-->"_s.arg(target) << false << QString() << QString();
    QTest::newRow("link wins over the comment") << linked + comment << true << link << link;
    QTest::newRow("comment beside a link") << linked + comment << false << QString() << target;
    QTest::newRow("link without comment") << linked << true << link << link;
    QTest::newRow("no link, no comment") << u"Plain news"_s << false << QString() << QString();
    QTest::newRow("link to a program is no link") << u"<a href=\"%1\">Read more</a> about it"_s.arg(
        program) << true << QString() << QString();
    QTest::newRow("link of a custom scheme is no link")
        << u"<a href=\"%1\">Read more</a> about it"_s.arg(customScheme) << true << QString()
        << QString();
    QTest::newRow("comment naming a program opens nothing")
        << u"Plain news<!--URL=%1-->"_s.arg(program) << false << QString() << QString();
    QTest::newRow("comment of a custom scheme opens nothing")
        << u"Plain news<!--URL=%1-->"_s.arg(customScheme) << false << QString() << QString();
}

void TestNewsBanner::clicks()
{
    QFETCH(QString, news);
    QFETCH(bool, onLink);
    QFETCH(QString, anchor);
    QFETCH(QString, opened);

    UrlRecorder browser;
    NewsBanner banner;
    banner.setFixedWidth(400);
    banner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&banner));
    banner.setNews(news);

    // A pass starts 10 pixels inside the right edge; no timer has moved it yet.
    const QPoint point = onLink ? QPoint(395, banner.height() / 2) : QPoint(5, banner.height() / 2);
    QCOMPARE(banner.anchorAt(point), anchor);

    QCursor::setPos(banner.mapToGlobal(point));
    banner.grab();
    QCOMPARE(banner.cursor().shape(), anchor.isEmpty() ? Qt::ArrowCursor : Qt::PointingHandCursor);

    QTest::mouseClick(&banner, Qt::LeftButton, {}, point);
    QCOMPARE(browser.opened, opened.isEmpty() ? QStringList() : QStringList { opened });
}

void TestNewsBanner::markup_data()
{
    QTest::addColumn<QString>("news");
    // News of plain text and web links that must look exactly the same.
    QTest::addColumn<QString>("same");
    QTest::addColumn<QString>("text");

    QTest::newRow("bold and sizes dropped")
        << u"<b style=\"font-size:40px\">Big</b> <i>news</i>"_s << u"Big news"_s << u"Big news"_s;
    QTest::newRow("image not shown")
        << u"News<img src=\"%1\">"_s.arg(imageFile) << u"News"_s << u"News"_s;
    QTest::newRow("linked style sheet not loaded")
        << u"<html><head><link rel=\"stylesheet\" type=\"text/css\" href=\"%1\"></head>"
           "<body><p>News</p></body></html>"_s.arg(styleSheetFile)
        << u"News"_s << u"News"_s;
    QTest::newRow("paragraphs and line breaks on one line")
        << u"<p>One</p><p>Two<br>Three</p>"_s << u"One Two Three"_s << u"One Two Three"_s;
    QTest::newRow("web link kept, its markup dropped")
        << u"<a href=\"%1\" style=\"font-size:30px\"><b>Read</b></a> more"_s.arg(link)
        << u"<a href=\"%1\">Read</a> more"_s.arg(link) << u"Read more"_s;
    QTest::newRow("link to a program is plain text")
        << u"<a href=\"%1\">Run</a> me"_s.arg(program) << u"Run me"_s << u"Run me"_s;
    QTest::newRow("entities and the URL comment") << u"Tom &amp; Jerry<!--URL=%1-->"_s.arg(target)
                                                  << u"Tom &amp; Jerry"_s << u"Tom & Jerry"_s;
}

void TestNewsBanner::markup()
{
    QFETCH(QString, news);
    QFETCH(QString, same);
    QFETCH(QString, text);

    NewsDocument document;
    document.setNews(news);
    NewsDocument expected;
    expected.setNews(same);
    QCOMPARE(document.toPlainText(), text);
    QCOMPARE(document.toHtml(), expected.toHtml());

    // The ticker keeps the height of one line of plain text.
    NewsBanner banner;
    banner.setNews(news);
    NewsBanner plain;
    plain.setNews(text.toHtmlEscaped());
    QCOMPARE(banner.minimumHeight(), plain.minimumHeight());
}

void TestNewsBanner::noResourceIsLoaded()
{
    // Not even a file the news names directly is read (a device such as /dev/zero never ends).
    NewsDocument document;
    document.setNews(u"News<img src=\"%1\">"_s.arg(imageFile));
    QVERIFY(
        document.resource(QTextDocument::ImageResource, QUrl::fromLocalFile(imageFile)).isNull());
    QVERIFY(
        document.resource(QTextDocument::StyleSheetResource, QUrl::fromLocalFile(styleSheetFile))
            .isNull());
}

void TestNewsBanner::pauseAfterPass()
{
    NewsBanner banner;
    banner.setFixedWidth(40);
    banner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&banner));
    banner.setNews(u"<a href=\"%1\">ab</a>"_s.arg(link));
    const QPoint start(banner.width() - 8, banner.height() / 2);
    QCOMPARE(banner.anchorAt(start), link);
    QVERIFY(!isBlank(banner));

    // After the pass the text is back at its start, but nothing is painted for a while.
    QTRY_VERIFY_WITH_TIMEOUT(isBlank(banner) && banner.anchorAt(start) == link, 10000);
    QElapsedTimer pause;
    pause.start();
    QTRY_VERIFY_WITH_TIMEOUT(!isBlank(banner), 10000);
    QVERIFY2(pause.elapsed() >= 2500, qPrintable(QString::number(pause.elapsed())));
    QCOMPARE(banner.anchorAt(start), link);
}

void TestNewsBanner::labelClicks_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<bool>("opens");

    QTest::newRow("left button") << target << Qt::LeftButton << true;
    QTest::newRow("right button") << target << Qt::RightButton << true;
    QTest::newRow("no URL yet opens nothing") << QString() << Qt::LeftButton << false;
    QTest::newRow("a program is not started") << program << Qt::LeftButton << false;
    QTest::newRow("a custom scheme opens nothing") << customScheme << Qt::LeftButton << false;
    QTest::newRow("a web address without host opens nothing")
        << u"https:///etc/passwd"_s << Qt::LeftButton << false;
}

void TestNewsBanner::labelClicks()
{
    QFETCH(QString, url);
    QFETCH(Qt::MouseButton, button);
    QFETCH(bool, opens);

    UrlRecorder browser;
    UrlClickLabel label;
    label.setUrl(url);
    QTest::mouseClick(&label, button);
    QCOMPARE(browser.opened, opens ? QStringList { url } : QStringList());
}

QTEST_MAIN(TestNewsBanner)
#include "tst_newsbanner.moc"
