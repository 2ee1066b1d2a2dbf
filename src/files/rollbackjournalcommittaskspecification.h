#pragma once

#include "fastfileoptaskspecification.h"

#include <QList>
#include <QString>

class RollbackJournalFile;

// Marks the rollback journal of a replacement as committed, listing the deletions of the delete
// step, so that a run killed from here on is completed, not undone. Must run only after the new
// files are on disk. Reports "Could not commit the rollback journal %1" and error-cancels when
// the commit does not stand (the replacement is then undone); a commit that stands although its
// sync failed only warns, since the next start would complete the update anyway.
class RollbackJournalCommitTaskSpecification : public FastFileOpTaskSpecification
{
    Q_OBJECT
public:
    RollbackJournalCommitTaskSpecification(
        RollbackJournalFile* journal, const QList<QString>* deleteList, QObject* parent);

    RollbackJournalFile* journal;
    const QList<QString>* deleteList;

    bool doOp() override;
};
