// update.statcache through StatCache::load, then a look-up of a file of the installation.
// An input starting with "F" is framed by the target: the rest becomes the entry lines between
// a header naming this root and the closing digest, which no fuzzer would find by itself.
#include "fuzzscratch.h"
#include "statcache.h"

#include <QCryptographicHash>

#include <sys/stat.h>

namespace {
QString installRoot;
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzScratch::initialize(argc, argv);
    installRoot = FuzzScratch::freshFolder(QStringLiteral("install"));
    FuzzScratch::write(installRoot + QStringLiteral("/a.txt"), "a\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray content(reinterpret_cast<const char*>(data), qsizetype(size));
    if (content.startsWith('F')) {
        struct stat rootStatus;
        if (::stat(QFile::encodeName(installRoot).constData(), &rootStatus) != 0)
            abort();
        const QByteArray lines = content.mid(1);
        const QByteArray body = "crv-statcache 2 " + QByteArray::number(quint64(rootStatus.st_dev))
            + ' ' + QByteArray::number(quint64(rootStatus.st_ino)) + ' '
            + QByteArray::number(lines.count('\n')) + '\n' + lines;
        content = body + "end " + QCryptographicHash::hash(body, QCryptographicHash::Md5).toHex()
            + '\n';
    }
    const QString path = installRoot + QLatin1Char('/') + StatCache::fileName();
    if (!FuzzScratch::write(path, content))
        abort();
    StatCache cache;
    QString problem;
    cache.load(installRoot, &problem);
    struct stat status;
    if (::stat(QFile::encodeName(installRoot + QStringLiteral("/a.txt")).constData(), &status) != 0)
        abort();
    const StatCache::Digests digests = cache.lookup(QStringLiteral("a.txt"), status);
    // A cached digest stands for the file's bytes: it must look like one.
    if ((!digests.md5.isEmpty() && digests.md5.size() != 32)
        || (!digests.sha256.isEmpty() && digests.sha256.size() != 64))
        abort();
    return 0;
}
