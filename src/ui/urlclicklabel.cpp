#include "urlclicklabel.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

UrlClickLabel::UrlClickLabel(QWidget* parent)
    : QLabel(parent)
{
}

void UrlClickLabel::setUrl(const QString& url)
{
    this->url = url;
}

void UrlClickLabel::mousePressEvent(QMouseEvent* event)
{
    // The banner label has no URL until its image has arrived; a click then opens nothing.
    if (!url.isEmpty())
        QDesktopServices::openUrl(QUrl(url));
    event->accept();
}
