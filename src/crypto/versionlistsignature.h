#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The signature of the update server's version list, sent as a fourth entry after the three
// channel entries (stable, beta, alpha):
//
//     crv1:<serial>:<expires>:<keyid>:<base64 Ed25519 signature>
//
// serial and expires are decimal non-negative integers (expires in UTC Unix seconds), keyid is
// the versions key's id. The signature covers exactly these bytes (Latin-1, "\n" line ends):
//
//     "crv1 version list\n" entry0 "\n" entry1 "\n" entry2 "\n" serial "\n" expires "\n"
//
// with the three entries exactly as sent. Older updaters read the entries by channel position
// only and so never look at the fourth. The updater and the release tool share this one
// definition of the format.
class VersionListSignature
{
public:
    static const QString EntryPrefix;

    qint64 serial = 0;
    qint64 expires = 0;
    QString keyId;
    QByteArray signature;

    // An entry that can be signed: Latin-1 text without control characters. A line break in an
    // entry would let the entries of a signed list be cut differently under the same signature.
    static bool isSignableEntry(const QString& entry);
    // The bytes the versions key signs; channelEntries must be the three entries as sent.
    static QByteArray message(const QStringList& channelEntries, qint64 serial, qint64 expires);
    // The fourth entry as it is sent.
    QString entry() const;
    // Reads a fourth entry; false for anything that is not exactly the form above (a signature
    // of the wrong length included).
    static bool parse(const QString& entry, VersionListSignature* result);
};
