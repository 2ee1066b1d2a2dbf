#pragma once

#include <QtGlobal>

// The time a download has left, from the byte counts of the once-a-second progress ticks. The
// rate is smoothed with an exponential moving average, and the estimate is given only once it
// means something: after a few ticks with data, while the rate is steady (the smoothed deviation
// of the ticks from the average is small) and something is left to fetch.
class TimeLeftEstimate
{
public:
    // One tick: the bytes received since the last one, and the bytes still missing.
    void addTick(quint64 bytesSinceLastTick, quint64 bytesLeft);
    void reset();
    // Whole seconds left, or -1 while the estimate is not meaningful.
    qint64 secondsLeft() const;
    // The smoothed rate in bytes per tick; 0 before any data.
    double rate() const { return average; }

private:
    double average = 0.0;
    double deviation = 0.0;
    int ticksWithData = 0;
    quint64 left = 0;
};
