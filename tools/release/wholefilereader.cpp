#include "wholefilereader.h"

#include <QFile>

bool WholeFileReader::read(const QString& path, QByteArray& content, QString& error, qint64 maxSize)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1").arg(path);
        return false;
    }
    if (maxSize >= 0 && file.size() > maxSize) {
        error = QStringLiteral("%1 is far too large").arg(path);
        return false;
    }
    content = file.readAll();
    if (content.size() != file.size()) {
        error = QStringLiteral("cannot read %1 completely").arg(path);
        return false;
    }
    return true;
}
