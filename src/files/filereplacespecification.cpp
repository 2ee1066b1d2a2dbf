#include "filereplacespecification.h"

#include <QFileInfo>

namespace {
// Files of this section live in the bundle's parent folder, one level above the root.
const QString upperLevelSection = QStringLiteral("bin_macosx");
}

bool FileReplaceSpecification::hasUnzip() const
{
    return !unzippedFileName.isEmpty();
}

QString FileReplaceSpecification::pureDestFilePath() const
{
    return hasUnzip() ? unzippedFileName : fileName;
}

QString FileReplaceSpecification::destFileName(const QString& prefix) const
{
    QString name = pureDestFilePath();
    if (!prefix.isEmpty()) {
        const QFileInfo info(name);
        const QString dir = info.path();
        name = prefix + info.fileName();
        if (dir != QStringLiteral("."))
            name = dir + QLatin1Char('/') + name;
    }
    if (section == upperLevelSection)
        name.prepend(QStringLiteral("../"));
    return name;
}

QString FileReplaceSpecification::oldDestFileName() const
{
    return destFileName(QStringLiteral("_old_"));
}
