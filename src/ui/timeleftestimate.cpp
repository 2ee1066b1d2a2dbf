#include "timeleftestimate.h"

#include <cmath>

namespace {
// Weight of the newest tick: a change of rate shows within about five seconds.
constexpr double smoothing = 0.2;
// Ticks with data before the first estimate, and how far the ticks may scatter around the
// average (relative to it) for the rate to count as steady.
constexpr int minTicks = 5;
constexpr double maxDeviation = 0.5;
} // namespace

void TimeLeftEstimate::addTick(quint64 bytesSinceLastTick, quint64 bytesLeft)
{
    left = bytesLeft;
    const double sample = double(bytesSinceLastTick);
    // Waiting for the first byte (a mirror being asked, a request queued) says nothing of the rate.
    if (ticksWithData == 0) {
        if (sample == 0.0)
            return;
        average = sample;
        deviation = 0.0;
        ticksWithData = 1;
        return;
    }
    ++ticksWithData;
    deviation = (1.0 - smoothing) * deviation + smoothing * std::fabs(sample - average);
    average = (1.0 - smoothing) * average + smoothing * sample;
}

void TimeLeftEstimate::reset()
{
    *this = TimeLeftEstimate();
}

qint64 TimeLeftEstimate::secondsLeft() const
{
    if (ticksWithData < minTicks || left == 0 || average < 1.0
        || deviation > maxDeviation * average)
        return -1;
    return qint64(std::ceil(double(left) / average));
}
