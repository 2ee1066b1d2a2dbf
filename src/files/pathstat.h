#pragma once

#include <QString>

struct stat;

// What a name in the installation is, without following a symbolic link: a dangling link or a
// link to a directory is itself an entry that is moved aside or replaced, never its target.
namespace PathStat {
bool exists(const QString& path, struct stat* info = nullptr);
bool isDirectory(const QString& path);
}
