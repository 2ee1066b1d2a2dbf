#pragma once

#include "slowfileopfunc.h"

// Unpacks the gzip file sourcePath into the new file destinationPath, streaming through a
// fixed buffer. A source that is not gzip is copied unchanged (zlib's transparent mode); the
// content is judged by the MD5 check that follows every unpack. Refuses an existing
// destination, and a failure leaves no destination behind.
class FileUnzipFunc : public SlowFileOpFunc
{
    Q_OBJECT
public:
    FileUnzipFunc(const QString& sourcePath, const QString& destinationPath, int permissions);

    bool run() override;
    bool unzipFile(const QString& destination, const QString& source);
};
