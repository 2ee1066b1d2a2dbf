// The temporary-arguments file the client leaves in the shared temp directory: read as the
// argument list, then its client type and version checked the way a run checks them.
#include "configuration.h"
#include "fuzzscratch.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzScratch::initialize(argc, argv);
    // The file lies in the temp directory: one inside the target's root.
    qputenv("TMPDIR", QFile::encodeName(FuzzScratch::freshFolder(QStringLiteral("tmp"))));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    if (!FuzzScratch::write(Configuration::tempArgsFileName(), text))
        abort();
    const QStringList args = Configuration::checkTempArgs();
    if (args.isEmpty() || !args.first().isEmpty())
        abort();
    // Both forms: "TYPE VERSION" and "--nouser TYPE VERSION ...".
    for (int index = 1; index <= 2; ++index) {
        Configuration configuration;
        if (configuration.getClientTypeVersion(args, index)
            && (configuration.clientType.isEmpty() || configuration.clientType.contains(QLatin1Char('/'))))
            abort();
    }
    return 0;
}
