#include "ed25519signaturefile.h"

#include "ed25519key.h"
#include "trustedkeys.h"

#include <QList>
#include <QString>

namespace {
const QByteArray algorithm = QByteArrayLiteral("ed25519");
}

QByteArray Ed25519SignatureFile::line(const Ed25519Key& key, const QByteArray& message)
{
    const QByteArray signature = key.sign(message);
    if (signature.isEmpty())
        return QByteArray();
    return algorithm + ' ' + key.keyId().toLatin1() + ' ' + signature.toBase64() + '\n';
}

bool Ed25519SignatureFile::verifies(
    const QByteArray& text, const QByteArray& message, const TrustedKeys& trusted)
{
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(' ');
        if (fields.size() != 3 || fields.at(0) != algorithm)
            continue;
        const Ed25519Key key = trusted.find(QString::fromLatin1(fields.at(1)));
        if (key.isNull())
            continue;
        const auto decoded
            = QByteArray::fromBase64Encoding(fields.at(2), QByteArray::AbortOnBase64DecodingErrors);
        if (decoded && key.verify(message, *decoded))
            return true;
    }
    return false;
}
