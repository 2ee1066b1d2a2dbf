#pragma once

#include "fastfileoptaskspecification.h"

// Removes one file, or a directory that a replacement set aside under an "_old_" name (a
// directory the new version replaced by a file) with all it holds. Not undoable, so nothing is
// journalled. With failOnError false the task always finishes and reports nothing (a file that
// is already gone is no failure then).
class FileDeleteTaskSpecification : public FastFileOpTaskSpecification
{
    Q_OBJECT
public:
    FileDeleteTaskSpecification(
        bool failOnError, const QString& path, QObject* parent, double progressRange);

    bool failOnError;

    bool doOp() override;
    static bool remove(const QString& path);
};
