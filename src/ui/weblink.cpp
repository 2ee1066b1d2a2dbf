#include "weblink.h"

#include <QDesktopServices>
#include <QUrl>
#include <QtGlobal>

bool WebLink::isWebUrl(const QUrl& url)
{
    const QString scheme = url.scheme();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        && !url.host().isEmpty();
}

bool WebLink::open(const QString& url)
{
    const QUrl target(url);
    if (!isWebUrl(target)) {
        qWarning("Link not opened, it is no web address: %s", qUtf8Printable(url));
        return false;
    }
    return QDesktopServices::openUrl(target);
}
