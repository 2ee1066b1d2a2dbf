#include "rollbackjournalcommittaskspecification.h"

#include "rollbackjournalfile.h"

RollbackJournalCommitTaskSpecification::RollbackJournalCommitTaskSpecification(
    RollbackJournalFile* journal, const QList<QString>* deleteList, QObject* parent)
    : FastFileOpTaskSpecification(journal->filePath(), nullptr, parent, 0.0)
    , journal(journal)
    , deleteList(deleteList)
{
}

bool RollbackJournalCommitTaskSpecification::doOp()
{
    if (!journal->commit(*deleteList)) {
        emit message(QStringLiteral("Could not commit the rollback journal %1")
                         .arg(journal->errorString()));
        return false;
    }
    if (!journal->errorString().isEmpty())
        emit message(QStringLiteral("warning: %1").arg(journal->errorString()));
    return true;
}
