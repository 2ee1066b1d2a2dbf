#pragma once

#include <QByteArray>
#include <QString>

// Reads a file of a release whole (a product ini, a signature list: small files); false, with
// the reason in error, when it cannot be opened, is larger than maxSize or is not read through.
namespace WholeFileReader {
bool read(const QString& path, QByteArray& content, QString& error, qint64 maxSize = -1);
}
