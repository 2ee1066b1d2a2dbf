#pragma once

#include "fastfileoptaskspecification.h"

// Renames fromPath to path (the base's path); fails when path exists.
class FileRenameTaskSpecification : public FastFileOpTaskSpecification
{
    Q_OBJECT
public:
    FileRenameTaskSpecification(const QString& from, const QString& to,
        RollbackDataList* rollbackList, QObject* parent, double progressRange);

    QString fromPath;

    bool doOp() override;
};
