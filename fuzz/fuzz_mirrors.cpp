// mirrors.ini through the mirror list: loading, then handing out, failing and releasing mirrors
// until none is left. Input: the file's bytes.
#include "fuzzscratch.h"
#include "mirrors.h"
#include "randomgenerator.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzScratch::initialize(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // QSettings keeps what it read of a path: a fresh name per input, so each is read anew.
    static int serial = 0;
    const QString folder = FuzzScratch::freshFolder(QStringLiteral("work"));
    const QString path = folder + QStringLiteral("/mirrors%1.ini").arg(++serial);
    if (!FuzzScratch::write(path, QByteArray(reinterpret_cast<const char*>(data), qsizetype(size))))
        abort();
    RandomGenerator::seed(1);
    Mirrors mirrors(nullptr);
    mirrors.initDefault(path, 3013);
    for (const FTPSiteAccessData& mirror : std::as_const(mirrors.mirrorList)) {
        if (mirror.retries < 0 || mirror.retries > Mirrors::maxRetries)
            abort();
    }
    // Every mirror is removed after at most maxRetries + 1 errors.
    const int bound = (int(mirrors.mirrorList.size()) + 1) * (Mirrors::maxRetries + 2);
    for (int round = 0; round < bound; ++round) {
        FTPSiteAccessData chosen;
        const int result = mirrors.getRandomMirror(chosen);
        if (result == Mirrors::NoMirrorLeft)
            break;
        if (result == Mirrors::AllMirrorsBusy) {
            for (const FTPSiteAccessData& mirror : std::as_const(mirrors.mirrorList))
                mirrors.releaseMirror(mirror.name);
            continue;
        }
        int capacity = 0, inUse = 0;
        mirrors.calcUseStats(capacity, inUse);
        mirrors.releaseMirror(chosen.name);
        mirrors.addMirrorError(chosen.name);
    }
    QFile::remove(path);
    return 0;
}
