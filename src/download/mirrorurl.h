#pragma once

#include <QString>
#include <QUrl>

// Addresses on a mirror: a base URL, then the version's folder, then a remote path below it.
//
// Remote paths are file names from the product ini and the release tree, taken as they are
// (decoded): a name may hold "#", "?", "%", spaces or non-ASCII letters, which in URL text
// would start a fragment or a query or read as an escape, and so request another file. Every
// character of the remote path that is not plain is therefore percent-encoded when the URL is
// built; the base URL keeps the encoding it was configured with.
class MirrorUrl
{
public:
    // base + "/" (unless it ends with one) + version: the folder of one version on a mirror.
    static QString versionUrl(QString baseUrl, const QString& version);
    // The file remotePath (decoded, "/"-separated) in the version folder versionUrl.
    static QUrl fileUrl(const QString& versionUrl, const QString& remotePath);
    // The file remotePath in the folder of version on the mirror at baseUrl.
    static QUrl fileUrl(const QString& baseUrl, const QString& version, const QString& remotePath);
};
