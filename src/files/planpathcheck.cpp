#include "planpathcheck.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

bool PlanPathCheck::isContained(const QString& path)
{
    if (path.isEmpty() || QDir::isAbsolutePath(path))
        return false;
    // A backslash is no separator here, and a control character has no place in a file name
    // (a line break would forge log lines).
    for (const QChar c : path) {
        if (c == QLatin1Char('\\') || c.category() == QChar::Other_Control)
            return false;
    }
    const QStringList components = path.split(QLatin1Char('/'));
    for (const QString& component : components) {
        if (component.isEmpty() || component == QStringLiteral(".")
            || component == QStringLiteral(".."))
            return false;
    }
    return true;
}

bool PlanPathCheck::isContainedOrOneUp(const QString& path)
{
    const QString oneUp = QStringLiteral("../");
    return isContained(path.startsWith(oneUp) ? path.mid(oneUp.size()) : path);
}

QString PlanPathCheck::realPath(const QString& absolutePath)
{
    QString existing = QDir::cleanPath(absolutePath);
    QString rest;
    for (;;) {
        const QFileInfo info(existing);
        if (info.exists())
            return rest.isEmpty() ? info.canonicalFilePath()
                                  : QDir(info.canonicalFilePath()).filePath(rest);
        if (info.isSymLink())
            return {};
        rest = rest.isEmpty() ? info.fileName() : info.fileName() + QLatin1Char('/') + rest;
        existing = info.path();
    }
}

bool PlanPathCheck::isWithin(const QString& realPath, const QString& realFolder)
{
    if (realFolder.isEmpty())
        return false;
    const QString prefix
        = realFolder.endsWith(QLatin1Char('/')) ? realFolder : realFolder + QLatin1Char('/');
    return realPath == realFolder || realPath.startsWith(prefix);
}
