#pragma once

#include <QByteArray>
#include <QString>

// The files a test lays out and reads back.
namespace TestFiles {

// Writes content to path, creating the parent folders; a mode (e.g. 0600) sets the permission
// bits afterwards. False, with a warning that names the file, when any step fails.
bool write(const QString& path, const QByteArray& content, int mode = -1);
// The file's bytes; empty when it cannot be read.
QByteArray read(const QString& path);
// size bytes that look random but are the same for the same size and seed in every run.
QByteArray noise(qsizetype size, quint32 seed = 1);
// data packed the way a mirror serves a ".gz" file (gzip wrapper, fastest level).
QByteArray gzipped(const QByteArray& data);

} // namespace TestFiles
