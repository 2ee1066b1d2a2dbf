#include "fileblockreader.h"

#include <QFile>

#include <memory>

FileBlockReader::Result FileBlockReader::read(const QString& path, const Consumer& consume)
{
    QFile file(path);
    // Unbuffered: the blocks are large, a second copy through QFile's buffer would only cost.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return OpenFailed;
    const qint64 size = file.size();
    const std::unique_ptr<char[]> block(new char[blockSize]);
    qint64 done = 0;
    while (done < size) {
        const qint64 n = file.read(block.get(), qMin(blockSize, size - done));
        if (n <= 0)
            return ReadFailed;
        done += n;
        if (!consume(block.get(), n))
            return Stopped;
    }
    return Ok;
}
