// Runs one file check exactly as the updater does, so the benchmark measures CheckSigFunc and
// nothing else: with an MD5 the MD5 check, without one the signature check of FILE.sig.

#include "checksigfunc.h"
#include "crypt.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2 || args.size() > 3) {
        std::fprintf(stderr, "usage: crv-bench-verify FILE [MD5]\n");
        return 2;
    }
    crypt_init();
    CheckSigFunc check(args.at(1), args.value(2));
    QObject::connect(&check, &ASyncFunc::message,
        [](const QString& text) { std::fprintf(stderr, "%s\n", qPrintable(text)); });
    return check.run() ? 0 : 1;
}
