#include "slowfileopfunc.h"

SlowFileOpFunc::SlowFileOpFunc(const QString& sourcePath, const QString& destinationPath)
    : sourcePath(sourcePath)
    , destinationPath(destinationPath)
{
}
