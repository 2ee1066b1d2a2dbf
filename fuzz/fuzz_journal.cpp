// The rollback journal through recovery, in a scratch installation: work/contents/root, whose
// journal may name paths below it and one level up (work/contents). Beside them lies
// work/sentinel, which no journal can name: after every input it must be exactly as it was,
// or recovery touched a path outside the installation. The root holds the files a replacement
// leaves ("_old_" copies, ".new_" downloads, a directory) and a symbolic link leading into the
// sentinel, as a person or another program might have put there.
#include "fuzzscratch.h"
#include "rollbackjournalfile.h"

#include <QDirIterator>
#include <QFileInfo>

#include <cstdio>

namespace {
QString work;

QString contents()
{
    return work + QStringLiteral("/contents");
}

QString installRoot()
{
    return contents() + QStringLiteral("/root");
}

QString sentinel()
{
    return work + QStringLiteral("/sentinel");
}

void makeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    if (!FuzzScratch::write(path, bytes))
        abort();
}

void layOutInstallation()
{
    QDir(contents()).removeRecursively();
    const QString root = installRoot();
    makeFile(root + QStringLiteral("/a"), "new a");
    makeFile(root + QStringLiteral("/_old_a"), "old a");
    makeFile(root + QStringLiteral("/.new_b.1"), "new b");
    makeFile(root + QStringLiteral("/b"), "old b");
    makeFile(root + QStringLiteral("/d/c"), "c");
    makeFile(root + QStringLiteral("/_old_d/c"), "old c");
    makeFile(contents() + QStringLiteral("/up"), "up");
    if (!QFile::link(QStringLiteral("../../sentinel"), root + QStringLiteral("/out")))
        abort();
}

// Every entry of the sentinel tree with its type, mode, size, bytes or link target.
QByteArray snapshot()
{
    QByteArray result;
    QDirIterator it(sentinel(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    QStringList paths;
    while (it.hasNext())
        paths << it.next();
    paths.sort();
    for (const QString& path : std::as_const(paths)) {
        const QFileInfo info(path);
        result += QFile::encodeName(path) + ' ' + QByteArray::number(int(info.permissions())) + ' ';
        if (info.isSymLink()) {
            result += "link " + QFile::encodeName(info.symLinkTarget());
        } else if (info.isDir()) {
            result += "dir";
        } else {
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            result += "file " + file.readAll().toHex();
        }
        result += '\n';
    }
    QFile beside(work + QStringLiteral("/a"));
    beside.open(QIODevice::ReadOnly);
    return result + "beside " + beside.readAll().toHex() + '\n';
}

QByteArray before;
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzScratch::initialize(argc, argv);
    work = FuzzScratch::freshFolder(QStringLiteral("work"));
    makeFile(sentinel() + QStringLiteral("/a"), "sentinel a");
    makeFile(sentinel() + QStringLiteral("/_old_a"), "sentinel old a");
    makeFile(sentinel() + QStringLiteral("/d/c"), "sentinel c");
    makeFile(work + QStringLiteral("/a"), "beside a");
    before = snapshot();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    layOutInstallation();
    makeFile(installRoot() + QLatin1Char('/') + RollbackJournalFile::fileName(),
        QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    RollbackJournalFile::recover(installRoot(), nullptr);
    const QByteArray after = snapshot();
    if (after != before) {
        std::fprintf(stderr, "recovery changed a path outside the installation:\nbefore:\n%s\nafter:\n%s\n",
            before.constData(), after.constData());
        abort();
    }
    return 0;
}
