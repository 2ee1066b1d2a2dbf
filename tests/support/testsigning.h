#pragma once

#include <QByteArray>
#include <QString>

class Ed25519Key;

// Signing for tests: writes path + ".sig" with the demo private key, which matches the demo
// public key the default build embeds, so CheckSigFunc accepts the file.
namespace TestSigning {

bool signFile(const QString& path);
// The demo Ed25519 release key (private), which the default build trusts for product inis.
Ed25519Key demoReleaseKey();
// The update server's reply for the list "a,b,c" signed with the demo versions key, which the
// default build trusts.
QByteArray signedVersionList(const QString& list, qint64 serial, qint64 expires);
// The demo versions key's id.
QString versionsKeyId();

} // namespace TestSigning
