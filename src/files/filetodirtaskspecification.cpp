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
    , fresh(FileReplaceTaskSpecification::unusedName(QFileInfo(path).dir().filePath(
          QStringLiteral(".new_") + QFileInfo(path).fileName())))
{
}

QList<RollbackData> FileToDirTaskSpecification::plannedEntries() const
{
    // The file is what moves: first to the temporary name, then aside.
    const FileIdentity file = FileIdentity::ofEntry(path);
    RollbackData swap(RollbackData::Exchange, fresh, path);
    swap.moved = file;
    RollbackData goAside(RollbackData::Rename, fresh, aside);
    goAside.moved = file;
    return { RollbackData(RollbackData::CreateDir, fresh), swap, goAside };
}

bool FileToDirTaskSpecification::doOp()
{
    const QFileInfo info(path);
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
