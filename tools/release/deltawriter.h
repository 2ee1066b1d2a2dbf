#pragma once

#include <QString>
#include <QtGlobal>

// Writes the zstd delta that turns a previous version's file (the base) into its new version:
// the base is the reference prefix of one frame ("patch from"), with long-distance matching and
// a window that covers base and file, so that any zstd 1.5 decoder given the base and a large
// enough window limit ("zstd -d --patch-from BASE --long=31") restores the file. Only worth it
// for files of a size between minSize and maxSize: below, a request costs more than the
// bytes; above, the window would exceed what zstd allows (2 GiB) and what an updater should
// map. A delta is kept only when it is smaller than maxShare of the file.
class DeltaWriter
{
public:
    static constexpr qint64 minSize = 64 * 1024;
    static constexpr qint64 maxSize = qint64(1) << 30;
    static constexpr double maxShare = 0.5;

    // Writes dest when the delta is worth it and sets written; no file is left at dest
    // otherwise. False with errorString on a read, write or library failure.
    bool write(const QString& base, const QString& file, const QString& dest, bool& written);
    QString errorString() const { return error; }

private:
    bool fail(const QString& message);

    QString error;
};
