#pragma once

#include "fastfileoptaskspecification.h"

// Puts an empty directory in the place of the file (or link) at path, which the new version
// has as a directory, and keeps the file under the name aside. The directory is made under a
// temporary name beside it and swapped in one step, so that path is never missing; where the
// system cannot swap, the file is only renamed aside and the directory is left to the
// directory tasks that follow. Every step is journalled, written ahead.
class FileToDirTaskSpecification : public FastFileOpTaskSpecification
{
    Q_OBJECT
public:
    FileToDirTaskSpecification(const QString& path, const QString& aside,
        RollbackDataList* rollbackList, QObject* parent, double progressRange);

    QString aside;
    // The temporary name of the new directory, chosen when the task is made.
    QString fresh;

    // Its operations in the order they happen, for the journal's plan.
    QList<RollbackData> plannedEntries() const;
    bool doOp() override;
};
