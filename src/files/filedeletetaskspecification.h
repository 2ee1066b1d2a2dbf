#pragma once

#include "fastfileoptaskspecification.h"

// Removes one file. Not undoable, so nothing is journalled. With failOnError false the task
// always finishes and reports nothing (a file that is already gone is no failure then).
class FileDeleteTaskSpecification : public FastFileOpTaskSpecification
{
    Q_OBJECT
public:
    FileDeleteTaskSpecification(
        bool failOnError, const QString& path, QObject* parent, double progressRange);

    bool failOnError;

    bool doOp() override;
};
