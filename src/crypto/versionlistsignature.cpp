#include "versionlistsignature.h"

#include "ed25519key.h"

#include <QRegularExpression>

namespace {
const QByteArray messagePrefix("crv1 version list\n");
} // namespace

const QString VersionListSignature::EntryPrefix = QStringLiteral("crv1:");

bool VersionListSignature::isSignableEntry(const QString& entry)
{
    for (const QChar c : entry) {
        if (c.unicode() > 0xff || c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0))
            return false;
    }
    return true;
}

QByteArray VersionListSignature::message(
    const QStringList& channelEntries, qint64 serial, qint64 expires)
{
    QByteArray text = messagePrefix;
    for (const QString& entry : channelEntries)
        text += entry.toLatin1() + '\n';
    text += QByteArray::number(serial) + '\n' + QByteArray::number(expires) + '\n';
    return text;
}

QString VersionListSignature::entry() const
{
    return EntryPrefix + QString::number(serial) + QLatin1Char(':') + QString::number(expires)
        + QLatin1Char(':') + keyId + QLatin1Char(':') + QString::fromLatin1(signature.toBase64());
}

bool VersionListSignature::parse(const QString& entry, VersionListSignature* result)
{
    // Digits only (no sign, no blanks) and at most 18 of them, so that the number always fits.
    static const QRegularExpression form(
        QStringLiteral("^crv1:([0-9]{1,18}):([0-9]{1,18}):([0-9a-f]{16}):([A-Za-z0-9+/]{86}==)$"));
    const QRegularExpressionMatch match = form.match(entry);
    if (!match.hasMatch())
        return false;
    const QByteArray signature = QByteArray::fromBase64(
        match.captured(4).toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (signature.size() != Ed25519Key::SignatureSize)
        return false;
    result->serial = match.captured(1).toLongLong();
    result->expires = match.captured(2).toLongLong();
    result->keyId = match.captured(3);
    result->signature = signature;
    return true;
}
