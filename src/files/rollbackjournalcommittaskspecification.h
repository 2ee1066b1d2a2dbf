#pragma once

#include "fastfileoptaskspecification.h"

#include <QList>
#include <QString>

// Marks the rollback journal of the installation root (path) as committed, listing the
// deletions of the delete step, so that a run killed from here on is completed, not undone.
// Must run only after the new files are on disk. Reports "Could not commit the rollback
// journal %1" and error-cancels when the journal cannot be written.
class RollbackJournalCommitTaskSpecification : public FastFileOpTaskSpecification
{
    Q_OBJECT
public:
    RollbackJournalCommitTaskSpecification(
        const QString& rootPath, const QList<QString>* deleteList, QObject* parent);

    const QList<QString>* deleteList;

    bool doOp() override;
};
