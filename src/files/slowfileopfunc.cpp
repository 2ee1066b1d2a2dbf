#include "slowfileopfunc.h"

SlowFileOpFunc::SlowFileOpFunc(
    const QString& sourcePath, const QString& destinationPath, int permissions)
    : sourcePath(sourcePath)
    , destinationPath(destinationPath)
    , permissions(permissions)
{
}
