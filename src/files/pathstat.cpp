#include "pathstat.h"

#include <QFile>

#include <sys/stat.h>

bool PathStat::exists(const QString& path, struct stat* info)
{
    struct stat unused;
    return ::lstat(QFile::encodeName(path).constData(), info ? info : &unused) == 0;
}

bool PathStat::isDirectory(const QString& path)
{
    struct stat info;
    return exists(path, &info) && S_ISDIR(info.st_mode);
}
