#pragma once

#include <QString>

// Signing for tests: writes path + ".sig" with the demo private key, which matches the demo
// public key the default build embeds, so CheckSigFunc accepts the file.
namespace TestSigning {

bool signFile(const QString& path);

} // namespace TestSigning
