#include "sha256sums.h"

#include "filedigest.h"

#include <QFile>
#include <QSettings>

namespace {
constexpr int digestLength = 64;

// Undoes sha256sum's escaping of a name that holds a backslash or a line break; false for
// an escape it never writes.
bool unescape(const QByteArray& name, QByteArray& out)
{
    out.clear();
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name.at(i) != '\\') {
            out.append(name.at(i));
            continue;
        }
        if (++i == name.size())
            return false;
        switch (name.at(i)) {
        case '\\':
            out.append('\\');
            break;
        case 'n':
            out.append('\n');
            break;
        case 'r':
            out.append('\r');
            break;
        default:
            return false;
        }
    }
    return true;
}
}

QString Sha256Sums::digestInIni(const QString& iniPath)
{
    const QSettings ini(iniPath, QSettings::IniFormat);
    return ini.value(QLatin1String(iniKey)).toString();
}

bool Sha256Sums::isDigest(const QString& text)
{
    if (text.size() != digestLength)
        return false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F')))
            return false;
    }
    return true;
}

Sha256Sums::Result Sha256Sums::load(const QString& path, const QString& expectedSha256)
{
    digests.clear();
    QByteArray text;
    const Result read = readPinned(path, expectedSha256, text);
    if (read != Ok)
        return read;
    return parse(text) ? Ok : Malformed;
}

Sha256Sums::Result Sha256Sums::readPinned(
    const QString& path, const QString& expectedSha256, QByteArray& text)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Unreadable;
    text = file.read(maxFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        return Unreadable;
    if (text.size() > maxFileSize)
        return TooLarge;
    try {
        if (QString::fromLatin1(FileDigest::sha256(text))
                .compare(expectedSha256, Qt::CaseInsensitive)
            != 0)
            return Mismatch;
    } catch (const std::exception&) {
        return Unreadable;
    }
    return Ok;
}

bool Sha256Sums::parse(const QByteArray& text)
{
    digests.clear();
    QList<QByteArray> lines = text.split('\n');
    // The newline that ends the last line leaves an empty piece behind it.
    if (lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray line : std::as_const(lines)) {
        if (!parseLine(line)) {
            digests.clear();
            return false;
        }
    }
    return true;
}

bool Sha256Sums::parseLine(QByteArray line)
{
    if (line.endsWith('\r'))
        line.chop(1);
    if (line.startsWith('#'))
        return true;
    const bool escaped = line.startsWith('\\');
    if (escaped)
        line.remove(0, 1);
    // The digest, a space, a space or "*" (the mode sha256sum -b marks), a name.
    if (line.size() < digestLength + 3 || line.at(digestLength) != ' '
        || (line.at(digestLength + 1) != ' ' && line.at(digestLength + 1) != '*'))
        return false;
    const QString hex = QString::fromLatin1(line.left(digestLength)).toLower();
    QByteArray name = line.mid(digestLength + 2);
    if (!isDigest(hex) || (escaped && !unescape(line.mid(digestLength + 2), name)))
        return false;
    if (name.startsWith("./"))
        name.remove(0, 2);
    const QString path = QString::fromUtf8(name);
    const auto listed = digests.constFind(path);
    if (path.isEmpty() || (listed != digests.cend() && *listed != hex))
        return false;
    digests.insert(path, hex);
    return true;
}

QString Sha256Sums::digest(const QString& path) const
{
    return digests.value(path);
}
