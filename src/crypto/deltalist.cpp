#include "deltalist.h"

#include <QSettings>

QString DeltaList::digestInIni(const QString& iniPath)
{
    const QSettings ini(iniPath, QSettings::IniFormat);
    return ini.value(QLatin1String(iniKey)).toString();
}

QString DeltaList::remotePath(const QString& path)
{
    return QStringLiteral("deltas/") + path + QStringLiteral(".zst");
}

QByteArray DeltaList::header()
{
    return "# <base sha256> <delta size> <delta sha256> <result sha256> <section/key>\n"
           "# the delta of section/key is deltas/<section/key>.zst, made with zstd --patch-from "
           "the base\n";
}

QByteArray DeltaList::line(const QString& path, const Delta& delta)
{
    return delta.baseSha256.toLatin1() + ' ' + QByteArray::number(delta.size) + ' '
        + delta.sha256.toLatin1() + ' ' + delta.resultSha256.toLatin1() + ' ' + path.toUtf8()
        + '\n';
}

Sha256Sums::Result DeltaList::load(const QString& path, const QString& expectedSha256)
{
    deltas.clear();
    QByteArray text;
    const Sha256Sums::Result read = Sha256Sums::readPinned(path, expectedSha256, text);
    if (read != Sha256Sums::Ok)
        return read;
    return parse(text) ? Sha256Sums::Ok : Sha256Sums::Malformed;
}

bool DeltaList::parse(const QByteArray& text)
{
    deltas.clear();
    QList<QByteArray> lines = text.split('\n');
    // The newline that ends the last line leaves an empty piece behind it.
    if (lines.last().isEmpty())
        lines.removeLast();
    for (const QByteArray& line : std::as_const(lines)) {
        if (!parseLine(line)) {
            deltas.clear();
            return false;
        }
    }
    return true;
}

bool DeltaList::parseLine(QByteArray line)
{
    if (line.endsWith('\r'))
        line.chop(1);
    if (line.startsWith('#'))
        return true;
    // Four fields, then the path with whatever spaces it holds.
    QList<QByteArray> fields;
    qsizetype start = 0;
    for (int i = 0; i < 4; ++i) {
        const qsizetype space = line.indexOf(' ', start);
        if (space < 0)
            return false;
        fields.append(line.mid(start, space - start));
        start = space + 1;
    }
    Delta delta;
    delta.baseSha256 = QString::fromLatin1(fields.at(0)).toLower();
    delta.sha256 = QString::fromLatin1(fields.at(2)).toLower();
    delta.resultSha256 = QString::fromLatin1(fields.at(3)).toLower();
    bool sizeOk = false;
    delta.size = fields.at(1).toLongLong(&sizeOk);
    const QString path = QString::fromUtf8(line.mid(start));
    if (!Sha256Sums::isDigest(delta.baseSha256) || !Sha256Sums::isDigest(delta.sha256)
        || !Sha256Sums::isDigest(delta.resultSha256) || !sizeOk || delta.size <= 0
        || fields.at(1).startsWith('+') || path.isEmpty() || deltas.contains(path))
        return false;
    deltas.insert(path, delta);
    return true;
}

const DeltaList::Delta* DeltaList::find(const QString& path) const
{
    const auto found = deltas.constFind(path);
    return found == deltas.cend() ? nullptr : &*found;
}
