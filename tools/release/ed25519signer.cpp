#include "ed25519signer.h"

#include "ed25519signaturefile.h"
#include "wholefilereader.h"

#include <QFile>
#include <QSaveFile>

namespace {

// The PEM text of a key file; null when it cannot be read. Key files are a few hundred bytes.
QByteArray readKeyFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QByteArray text = file.read(64 * 1024);
    return text.isNull() ? QByteArray("") : text;
}

} // namespace

bool Ed25519Signer::loadKeys(const QStringList& privateKeyPaths)
{
    for (const QString& path : privateKeyPaths) {
        const QByteArray pem = readKeyFile(path);
        if (pem.isNull()) {
            error = QStringLiteral("cannot read key %1").arg(path);
            return false;
        }
        const Ed25519Key key = Ed25519Key::fromPem(pem);
        if (key.isNull() || !key.isPrivate()) {
            error = QStringLiteral("%1 is not an Ed25519 private key").arg(path);
            return false;
        }
        for (const Ed25519Key& loaded : std::as_const(keys)) {
            if (loaded.keyId() == key.keyId()) {
                error = QStringLiteral("the Ed25519 key %1 is given twice").arg(key.keyId());
                return false;
            }
        }
        keys.append(key);
    }
    return true;
}

bool Ed25519Signer::signFile(const QString& path)
{
    QByteArray content;
    if (!WholeFileReader::read(path, content, error))
        return false;
    QByteArray lines;
    for (const Ed25519Key& key : std::as_const(keys)) {
        const QByteArray line = Ed25519SignatureFile::line(key, content);
        if (line.isEmpty()) {
            error = QStringLiteral("cannot sign %1 with key %2").arg(path, key.keyId());
            return false;
        }
        lines += line;
    }
    QSaveFile out(path + QStringLiteral(".sig2"));
    if (!out.open(QIODevice::WriteOnly) || out.write(lines) != lines.size() || !out.commit()) {
        error = QStringLiteral("cannot write %1: %2").arg(out.fileName(), out.errorString());
        return false;
    }
    return true;
}
