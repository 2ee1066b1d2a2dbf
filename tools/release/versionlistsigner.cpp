#include "versionlistsigner.h"

#include "versionlistsignature.h"

#include <QFile>
#include <QStringList>

namespace {
constexpr int ChannelEntries = 3;
} // namespace

bool VersionListSigner::loadKey(const QString& privateKeyPath)
{
    QFile file(privateKeyPath);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read key %1: %2").arg(privateKeyPath, file.errorString());
        return false;
    }
    key = Ed25519Key::fromPem(file.readAll());
    if (key.isNull()) {
        error = QStringLiteral("%1 is no Ed25519 key in PEM form").arg(privateKeyPath);
        return false;
    }
    if (!key.isPrivate()) {
        error = QStringLiteral("%1 is not a private key").arg(privateKeyPath);
        return false;
    }
    return true;
}

bool VersionListSigner::sign(const QString& list, qint64 serial, qint64 expires, QByteArray* reply)
{
    const QStringList entries = list.split(QLatin1Char(','), Qt::KeepEmptyParts);
    if (entries.size() != ChannelEntries) {
        error = QStringLiteral("the list needs exactly %1 entries (stable, beta, alpha) separated "
                               "by \",\", not %2")
                    .arg(ChannelEntries)
                    .arg(entries.size());
        return false;
    }
    for (const QString& entry : entries) {
        if (!checkEntry(entry))
            return false;
    }
    VersionListSignature signature;
    signature.serial = serial;
    signature.expires = expires;
    signature.keyId = key.keyId();
    signature.signature = key.sign(VersionListSignature::message(entries, serial, expires));
    if (signature.signature.size() != Ed25519Key::SignatureSize) {
        error = QStringLiteral("signing failed");
        return false;
    }
    const QByteArray line = (list + QLatin1Char(',') + signature.entry()).toLatin1();
    if (line.size() > ReplyLimit) {
        error = QStringLiteral("the signed list is %1 bytes; the updater reads at most %2 (the "
                               "signature takes %3 of them)")
                    .arg(line.size())
                    .arg(ReplyLimit)
                    .arg(line.size() - list.size());
        return false;
    }
    *reply = line;
    return true;
}

bool VersionListSigner::checkEntry(const QString& entry)
{
    if (!VersionListSignature::isSignableEntry(entry)) {
        error = QStringLiteral("entry \"%1\" has characters beyond Latin-1 or control characters")
                    .arg(entry);
        return false;
    }
    const QString number = entry.section(QLatin1Char('#'), 0, 0);
    bool ok = number.isEmpty();
    if (!ok) {
        const int version = number.toInt(&ok, 10);
        ok = ok && version >= 0 && number.at(0).isDigit();
    }
    if (!ok) {
        error = QStringLiteral("entry \"%1\" does not start with a version number").arg(entry);
        return false;
    }
    return true;
}
