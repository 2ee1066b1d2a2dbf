#pragma once

#include "slowfileopfunc.h"

// Unpacks the gzip file sourcePath into the new file destinationPath, streaming through a
// fixed buffer. A source that is not gzip is copied unchanged (zlib's transparent mode); the
// content is judged by the MD5 check that follows every unpack. Unpacking stops as soon as the
// output grows past maxSize: a small packed file can unpack to far more than the disk holds,
// and the check would only see it once the disk is full. Refuses an existing destination, and
// a failure leaves no destination behind.
class FileUnzipFunc : public SlowFileOpFunc
{
    Q_OBJECT
public:
    // maxSize 0: no limit.
    FileUnzipFunc(const QString& sourcePath, const QString& destinationPath, int permissions,
        quint64 maxSize = 0);

    bool run() override;
    bool unzipFile(const QString& destination, const QString& source);

private:
    quint64 maxSize;
};
