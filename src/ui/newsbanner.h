#pragma once

#include <QBasicTimer>
#include <QString>
#include <QWidget>

class NewsDocument;

// The one-line news ticker: text scrolling from right to left at 50 pixels per second, entering
// 10 pixels inside the right edge, with a blank pause of 3 s after each pass. Of the news's
// HTML only the text and its web links are shown (see NewsDocument). Links in the text open in
// the browser; an HTML comment "<!--URL=target-->" in the news names the target of a click that
// hits no link. Only web addresses are ever opened (see WebLink). Main thread only.
class NewsBanner : public QWidget
{
public:
    explicit NewsBanner(QWidget* parent = nullptr);

    // Takes a news text (HTML) and starts a new pass with it.
    void setNews(const QString& news);
    // The link target under a widget position, empty when there is none.
    QString anchorAt(const QPoint& pos) const;

protected:
    void timerEvent(QTimerEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QBasicTimer scrollTimer;
    NewsDocument* document;
    float offset = 0;
    int textWidth = 0;
    int textHeight = 0;
    bool paused = false;
    QString linkUrl;
};
