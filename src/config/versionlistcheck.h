#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

class TrustedKeys;

// Decides whether the update server's version list may be used. A list with a fourth entry must
// carry a valid signature of a trusted versions key, must not have expired (an hour of clock
// difference is forgiven), and its serial must not be below the highest one seen for that key:
// otherwise a server that keeps naming an old version, or anyone forging the reply, would choose
// what is installed. A list without the entry is taken only from a server that never signed
// (no serial stored) and when the build does not require signed lists.
class VersionListCheck
{
public:
    static constexpr qint64 ClockToleranceSeconds = 3600;

    // now: UTC Unix seconds; serials: versions key id -> highest serial seen.
    VersionListCheck(const TrustedKeys& keys, qint64 now, const QMap<QString, qint64>& serials,
        bool requireSigned);

    // The reply's entries split at ",", exactly as received. True when the list may be used;
    // otherwise reason() says why.
    bool check(const QStringList& entries);
    QString reason() const { return m_reason; }
    // After a successful check: whether the list was signed, and by which key and serial.
    bool isSigned() const { return m_signed; }
    QString keyId() const { return m_keyId; }
    qint64 serial() const { return m_serial; }

private:
    bool checkUnsigned();
    bool fail(const QString& reason);

    const TrustedKeys& m_keys;
    const qint64 m_now;
    const QMap<QString, qint64> m_serials;
    const bool m_requireSigned;
    QString m_reason;
    bool m_signed = false;
    QString m_keyId;
    qint64 m_serial = 0;
};
