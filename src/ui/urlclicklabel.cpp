#include "urlclicklabel.h"

#include "weblink.h"

#include <QMouseEvent>

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
        WebLink::open(url);
    event->accept();
}
