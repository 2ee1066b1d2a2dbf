#pragma once

#include <QString>

// Swaps the entries that two names of one file system refer to, in one step, so that neither
// name is ever missing: how a directory and a file trade places when the new version turns one
// into the other. False with errno set when it failed; isUnsupported() tells a file system or
// system that cannot swap (the caller then moves the old entry aside first) from a real error.
namespace NameSwap {
bool swap(const QString& first, const QString& second);
bool isUnsupported(int error);
}
