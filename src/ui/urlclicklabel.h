#pragma once

#include <QLabel>
#include <QString>

// A label that opens its URL in the user's browser when clicked with any button. An empty URL
// opens nothing (the banner label has none until its image has arrived), nor does one that is
// no web address (see WebLink).
class UrlClickLabel : public QLabel
{
public:
    explicit UrlClickLabel(QWidget* parent = nullptr);

    void setUrl(const QString& url);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QString url;
};
