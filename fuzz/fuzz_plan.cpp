// The product ini through the plan builder, in a scratch installation (the target's root) with
// a few installed files, a directory, an "_old_" copy and a download left in the session
// directory. Input: the ini's bytes.
#include "configuration.h"
#include "crypt.h"
#include "filespecifications.h"
#include "fuzzscratch.h"
#include "makedownloadreplacelistfunc.h"
#include "planpathcheck.h"

#include <QFileInfo>

namespace {
void makeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    if (!FuzzScratch::write(path, bytes))
        abort();
}
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzScratch::initialize(argc, argv);
    crypt_init();
    const QString root = FuzzScratch::root();
    for (const char* name : { "inst", "lib", "bin_macosx", "session" })
        QDir(root + QLatin1Char('/') + QLatin1String(name)).removeRecursively();
    makeFile(root + QStringLiteral("/inst/a.txt"), "a\n");
    makeFile(root + QStringLiteral("/inst/same.txt"), "same");
    makeFile(root + QStringLiteral("/inst/_old_same.txt"), "older");
    makeFile(root + QStringLiteral("/lib/a.dylib"), "library");
    makeFile(root + QStringLiteral("/bin_macosx/update"), "updater");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // QSettings keeps what it read of a path: a fresh session folder per input.
    static int serial = 0;
    const QString session = FuzzScratch::freshFolder(QStringLiteral("session/%1").arg(++serial));
    Configuration configuration;
    configuration.tempDir = session;
    configuration.clientType = Configuration::getUpdateType();
    makeFile(session + QLatin1Char('/') + configuration.clientType + QStringLiteral(".ini"),
        QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    makeFile(session + QStringLiteral("/inst/a.txt"), "downloaded");

    FileSpecifications plan;
    MakeDownloadReplaceListFunc make(&configuration, plan);
    if (make.run()) {
        // Whatever the ini says, the plan names nothing outside the installation, the level
        // above it and the session directory.
        for (const FileReplaceSpecification& replace : std::as_const(plan.replaceList)) {
            if (!PlanPathCheck::isContainedOrOneUp(replace.destFileName(QString()))
                || !PlanPathCheck::isContained(replace.fileName))
                abort();
        }
        for (const FileDownloadSpecification& download : std::as_const(plan.downloadList)) {
            if (!PlanPathCheck::isContained(download.fileName))
                abort();
        }
        for (const QString& deletion : std::as_const(plan.deleteList)) {
            if (!PlanPathCheck::isContainedOrOneUp(deletion))
                abort();
        }
    }
    QFile::remove(FuzzScratch::root() + QLatin1Char('/') + StatCache::fileName());
    QDir(session).removeRecursively();
    return 0;
}
