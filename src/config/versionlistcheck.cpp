#include "versionlistcheck.h"

#include "escapedforlog.h"
#include "trustedkeys.h"
#include "versionlistsignature.h"

#include <QDateTime>

#include <algorithm>

namespace {
constexpr int ChannelEntries = 3;
} // namespace

VersionListCheck::VersionListCheck(
    const TrustedKeys& keys, qint64 now, const QMap<QString, qint64>& serials, bool requireSigned)
    : m_keys(keys)
    , m_now(now)
    , m_serials(serials)
    , m_requireSigned(requireSigned)
{
}

bool VersionListCheck::check(const QStringList& entries)
{
    m_reason.clear();
    m_signed = false;
    m_keyId.clear();
    m_serial = 0;
    if (entries.size() <= ChannelEntries)
        return checkUnsigned();

    const QStringList channelEntries = entries.mid(0, ChannelEntries);
    VersionListSignature signature;
    if (entries.size() != ChannelEntries + 1
        || !VersionListSignature::parse(entries.at(ChannelEntries), &signature)
        || !std::all_of(
            channelEntries.cbegin(), channelEntries.cend(), VersionListSignature::isSignableEntry))
        return fail(QObject::tr("The version list has a malformed signature entry (%1)")
                        .arg(escapedForLog(entries.mid(ChannelEntries).join(QLatin1Char(',')))));

    const Ed25519Key key = m_keys.find(signature.keyId);
    if (key.isNull())
        return fail(
            QObject::tr("The version list is signed by an unknown key %1").arg(signature.keyId));
    const QByteArray message
        = VersionListSignature::message(channelEntries, signature.serial, signature.expires);
    if (!key.verify(message, signature.signature))
        return fail(QObject::tr("The version list has a bad signature"));
    // Checked only once the signature holds: before that the numbers are anyone's.
    if (m_now > signature.expires + ClockToleranceSeconds)
        return fail(QObject::tr("The version list expired on %1, check the system clock")
                        .arg(QDateTime::fromSecsSinceEpoch(signature.expires, Qt::UTC)
                                 .toString(Qt::ISODate)));
    const qint64 seen = m_serials.value(signature.keyId, -1);
    if (signature.serial < seen)
        return fail(QObject::tr("The version list is older (serial %1) than one seen before (%2)")
                        .arg(signature.serial)
                        .arg(seen));

    m_signed = true;
    m_keyId = signature.keyId;
    m_serial = signature.serial;
    return true;
}

bool VersionListCheck::checkUnsigned()
{
    if (!m_serials.isEmpty())
        return fail(
            QObject::tr("The version list is not signed, but signed ones were seen before"));
    if (m_requireSigned)
        return fail(QObject::tr("The version list is not signed"));
    return true;
}

bool VersionListCheck::fail(const QString& reason)
{
    m_reason = reason;
    return false;
}
