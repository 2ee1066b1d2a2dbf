#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>

// What every fuzz target shares: the application object the installation root is derived from,
// scratch folders inside the target's own root, and inputs made of several parts.
namespace FuzzScratch {

// The application object; created once, in LLVMFuzzerInitialize.
inline void initialize(int* argc, char*** argv)
{
    static QCoreApplication* application = new QCoreApplication(*argc, *argv);
    Q_UNUSED(application);
}

// The target's own root (three levels above the executable, as for the program itself).
inline QString root()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../../.."));
}

// An empty folder of that name below the target's root.
inline QString freshFolder(const QString& name)
{
    const QString path = root() + QLatin1Char('/') + name;
    QDir(path).removeRecursively();
    QDir().mkpath(path);
    return path;
}

inline bool write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// The input cut at every line "--part--" into at most count parts (missing parts are empty),
// so that one input can carry, say, a key, a file and its signature.
inline QList<QByteArray> parts(const uint8_t* data, size_t size, int count)
{
    static const QByteArray separator("\n--part--\n");
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    QList<QByteArray> result;
    qsizetype from = 0;
    while (result.size() < count - 1) {
        const qsizetype at = input.indexOf(separator, from);
        if (at < 0)
            break;
        result.append(input.mid(from, at - from));
        from = at + separator.size();
    }
    result.append(input.mid(from));
    while (result.size() < count)
        result.append(QByteArray());
    return result;
}

} // namespace FuzzScratch
