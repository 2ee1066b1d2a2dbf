#pragma once

#include <QtGlobal>

// The update channel; the value is also the index of the channel's entry in the update
// server's version list.
enum UpdateChannel : qint32 { Stable = 0, Beta = 1, Alpha = 2 };
