#include "mirrorurl.h"

QString MirrorUrl::versionUrl(QString baseUrl, const QString& version)
{
    if (!baseUrl.endsWith(QLatin1Char('/')))
        baseUrl += QLatin1Char('/');
    return baseUrl + version;
}

QUrl MirrorUrl::fileUrl(const QString& versionUrl, const QString& remotePath)
{
    QUrl url(versionUrl);
    const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(remotePath, "/"));
    url.setPath(url.path(QUrl::FullyEncoded) + QLatin1Char('/') + encoded, QUrl::TolerantMode);
    return url;
}

QUrl MirrorUrl::fileUrl(const QString& baseUrl, const QString& version, const QString& remotePath)
{
    return fileUrl(versionUrl(baseUrl, version), remotePath);
}
