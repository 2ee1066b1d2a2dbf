#pragma once

#include <QString>

// Text from outside (a name in a product ini, a mirror's reply) made safe to show in one log
// line: a backslash, control characters, line and paragraph separators and the invisible
// format characters (such as direction overrides) are written as escapes ("\\", "\n", "\r",
// "\t", "\u001B"), and so is half of a broken surrogate pair. A line break can then not forge a
// second line, nor a NUL cut the message short. Any other text comes back as it is, so an
// ordinary name reads the same in the log as on disk.
QString escapedForLog(const QString& text);
