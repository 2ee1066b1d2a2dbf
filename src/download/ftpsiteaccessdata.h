#pragma once

#include <QString>

// One download mirror of a run: its name (the look-up key), its base URL for the target version
// (no trailing slash) and its counters. A plain copyable record.
struct FTPSiteAccessData
{
    QString name;
    QString url;
    qint32 retries = 0;
    // Progress ticks a download on this mirror may go without data before it is abandoned.
    qint32 timeoutTicks = 15;
    qint32 errorCount = 0;
    qint32 useCount = 0;
    // Downloads served at the same time; also the mirror's weight in the random choice.
    qint32 maxUses = 1;
};
