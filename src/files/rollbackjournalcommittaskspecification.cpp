#include "rollbackjournalcommittaskspecification.h"

#include "rollbackjournalfile.h"

RollbackJournalCommitTaskSpecification::RollbackJournalCommitTaskSpecification(
    const QString& rootPath, const QList<QString>* deleteList, QObject* parent)
    : FastFileOpTaskSpecification(rootPath, nullptr, parent, 0.0)
    , deleteList(deleteList)
{
}

bool RollbackJournalCommitTaskSpecification::doOp()
{
    RollbackJournalFile journal(path);
    if (journal.commit(*deleteList))
        return true;
    emit message(
        QStringLiteral("Could not commit the rollback journal %1").arg(journal.errorString()));
    return false;
}
