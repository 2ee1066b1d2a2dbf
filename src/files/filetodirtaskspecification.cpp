#include "filetodirtaskspecification.h"

#include "filereplacetaskspecification.h"
#include "nameswap.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>

FileToDirTaskSpecification::FileToDirTaskSpecification(const QString& path, const QString& aside,
    RollbackDataList* rollbackList, QObject* parent, double progressRange)
    : FastFileOpTaskSpecification(path, rollbackList, parent, progressRange)
    , aside(aside)
{
}

bool FileToDirTaskSpecification::doOp()
{
    const QFileInfo info(path);
    const QString fresh = FileReplaceTaskSpecification::unusedName(
        info.dir().filePath(QStringLiteral(".new_") + info.fileName()));
    RollbackData made(RollbackData::CreateDir, fresh);
    if (!writeAhead(made))
        return false;
    if (!info.dir().mkdir(QFileInfo(fresh).fileName())) {
        forgetRollbackOp(made);
        emit message(QStringLiteral("unable to create dir %1").arg(fresh));
        return false;
    }
    addRollbackOp(made);

    RollbackData swap(RollbackData::Exchange, fresh, path);
    if (!writeAhead(swap))
        return false;
    if (!NameSwap::swap(fresh, path)) {
        const int error = errno;
        forgetRollbackOp(swap);
        if (!NameSwap::isUnsupported(error)) {
            emit message(QStringLiteral("Could not rename '%1' to '%2'").arg(path, fresh));
            return false;
        }
        // The file goes aside first; the directory tasks create the directory after it.
        return journalledRename(path, aside);
    }
    addRollbackOp(swap);
    // The file now has the temporary name.
    return journalledRename(fresh, aside);
}
