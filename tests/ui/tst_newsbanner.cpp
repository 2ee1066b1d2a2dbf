#include "newsbanner.h"
#include "urlclicklabel.h"
#include "urlrecorder.h"

#include <QElapsedTimer>
#include <QImage>
#include <QtTest>

using namespace Qt::StringLiterals;

// The news ticker and the click label as the user meets them: what a click opens, where the
// pointer turns into a hand, and the blank pause between two passes.
class TestNewsBanner : public QObject
{
    Q_OBJECT
private slots:
    void clicks_data();
    void clicks();
    void pauseAfterPass();
    void labelClicks_data();
    void labelClicks();
};

namespace {
const QString link = u"https://example.com/link"_s;
const QString target = u"https://example.com/target"_s;

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

void TestNewsBanner::clicks_data()
{
    QTest::addColumn<QString>("news");
    // Where the click goes: on the link at the start of the text, or left of the text, where
    // there is nothing.
    QTest::addColumn<bool>("onLink");
    QTest::addColumn<QString>("opened");

    const QString linked = u"<a href=\"%1\">Read more</a> about it"_s.arg(link);
    const QString comment = u"<!--URL=%1-->"_s.arg(target);
    QTest::newRow("comment, outside any link") << u"Plain news"_s + comment << false << target;
    QTest::newRow("lower-case key opens nothing")
        << u"Plain news<!--url=%1-->"_s.arg(target) << false << QString();
    QTest::newRow("link wins over the comment") << linked + comment << true << link;
    QTest::newRow("comment beside a link") << linked + comment << false << target;
    QTest::newRow("link without comment") << linked << true << link;
    QTest::newRow("no link, no comment") << u"Plain news"_s << false << QString();
}

void TestNewsBanner::clicks()
{
    QFETCH(QString, news);
    QFETCH(bool, onLink);
    QFETCH(QString, opened);

    UrlRecorder browser;
    NewsBanner banner;
    banner.setFixedWidth(400);
    banner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&banner));
    banner.setNews(news);

    // A pass starts 10 pixels inside the right edge; no timer has moved it yet.
    const QPoint point = onLink ? QPoint(395, banner.height() / 2) : QPoint(5, banner.height() / 2);
    const bool overLink = news.contains(u"<a href"_s) && onLink;
    QCOMPARE(banner.anchorAt(point), overLink ? link : QString());

    QCursor::setPos(banner.mapToGlobal(point));
    banner.grab();
    QCOMPARE(banner.cursor().shape(), overLink ? Qt::PointingHandCursor : Qt::ArrowCursor);

    QTest::mouseClick(&banner, Qt::LeftButton, {}, point);
    QCOMPARE(browser.opened, opened.isEmpty() ? QStringList() : QStringList { opened });
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

    QTest::newRow("left button") << target << Qt::LeftButton;
    QTest::newRow("right button") << target << Qt::RightButton;
    QTest::newRow("no URL yet opens nothing") << QString() << Qt::LeftButton;
}

void TestNewsBanner::labelClicks()
{
    QFETCH(QString, url);
    QFETCH(Qt::MouseButton, button);

    UrlRecorder browser;
    UrlClickLabel label;
    label.setUrl(url);
    QTest::mouseClick(&label, button);
    QCOMPARE(browser.opened, url.isEmpty() ? QStringList() : QStringList { url });
}

QTEST_MAIN(TestNewsBanner)
#include "tst_newsbanner.moc"
