#pragma once

#include "fastfileoptaskspecification.h"

#include <QList>
#include <QSet>

// Creates a directory and every missing parent, journalling one CreateDir entry per directory
// it created, parents first. A directory that already exists is not journalled, so an undo
// never removes what was there before.
class DirCreateTaskSpecification : public FastFileOpTaskSpecification
{
    Q_OBJECT
public:
    DirCreateTaskSpecification(
        const QString& path, RollbackDataList* rollbackList, QObject* parent, double progressRange);

    // The entries the task will journal for path, parents first, for the journal's plan;
    // existing names the directories already there or to be made by earlier tasks, and gains
    // the ones planned.
    static void plan(const QString& path, QSet<QString>& existing, QList<RollbackData>& entries);
    bool doOp() override;
    bool tryCreateDir(const QString& dir);
};
