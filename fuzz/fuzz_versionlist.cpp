// The update server's replies: the version list (parsed, then checked against the built-in
// versions keys, the clock and the serials seen) and the news text. Input parts: the
// version-list datagram, the news datagram, and lines "keyid serial" of serials seen before.
#include "fuzzscratch.h"
#include "trustedkeys.h"
#include "updatechecker.h"
#include "versionlistcheck.h"
#include "versionlistsignature.h"

#include <QMap>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzScratch::initialize(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> input = FuzzScratch::parts(data, size, 3);
    UpdateChecker checker(QStringLiteral("127.0.0.1"), 1);
    checker.parseVersionList(UpdateChecker::replyText(input.at(0)));
    checker.news = UpdateChecker::replyText(input.at(1));
    for (const UpdateChannel channel : { Stable, Beta, Alpha })
        checker.getClientVersionByChannel(channel);

    QMap<QString, qint64> serials;
    for (const QByteArray& line : input.at(2).split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 2)
            serials.insert(QString::fromLatin1(fields.at(0)), fields.at(1).toLongLong());
    }
    // A fixed clock inside the validity of the seeds, so that an input checks the same each run.
    const qint64 now = 1800000000;
    for (const bool requireSigned : { false, true }) {
        VersionListCheck check(
            TrustedKeys::builtIn(TrustedKeys::Versions), now, serials, requireSigned);
        // A refusal always says why: the log line is all a user gets.
        if (!check.check(checker.versionEntries) && check.reason().isEmpty())
            abort();
    }
    for (const QString& entry : std::as_const(checker.versionEntries)) {
        VersionListSignature signature;
        VersionListSignature::parse(entry, &signature);
    }
    return 0;
}
