#pragma once

#include <QByteArray>

// A zstd delta that turns base into target ("zstd --patch-from base"), as a release carries it.
namespace TestDelta {
QByteArray make(const QByteArray& base, const QByteArray& target);
}
