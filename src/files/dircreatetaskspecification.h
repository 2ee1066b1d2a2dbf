#pragma once

#include "fastfileoptaskspecification.h"

// Creates a directory and every missing parent, journalling one CreateDir entry per directory
// it created, parents first. A directory that already exists is not journalled, so an undo
// never removes what was there before.
class DirCreateTaskSpecification : public FastFileOpTaskSpecification
{
    Q_OBJECT
public:
    DirCreateTaskSpecification(
        const QString& path, RollbackDataList* rollbackList, QObject* parent, double progressRange);

    bool doOp() override;
    bool tryCreateDir(const QString& dir);
};
