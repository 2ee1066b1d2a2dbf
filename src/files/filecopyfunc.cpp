#include "filecopyfunc.h"

#include <QFile>

FileCopyFunc::FileCopyFunc(const QString& sourcePath, const QString& destinationPath)
    : SlowFileOpFunc(sourcePath, destinationPath)
{
}

bool FileCopyFunc::run()
{
    return QFile::copy(sourcePath, destinationPath);
}
