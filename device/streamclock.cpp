#include "device/streamclock.h"

#include <algorithm>

namespace {

// Times of day are milliseconds that wrap at midnight: a difference is
// taken the shorter way round. The sums wrap instead of overflowing.
int64_t shorterWay(int64_t a, int64_t b)
{
    constexpr int64_t day = StreamClock::kDayMs;
    int64_t d = int64_t(uint64_t(a) - uint64_t(b)) % day;
    if (d < 0)
        d += day;
    return d > day / 2 ? d - day : d;
}

} // namespace

int64_t StreamClock::lead(int64_t stamp, int64_t now)
{
    return shorterWay(stamp, now);
}

StreamClock::Kept StreamClock::keep(int64_t mapped, int64_t previous, int64_t now)
{
    const int64_t step = shorterWay(mapped, previous);
    const int64_t lead = shorterWay(mapped, now);
    int64_t shift = 0;
    // Only time that passed takes up a lead or a lag: a picture stamped
    // with the one before, or before it, has nothing to give.
    if (step > 0) {
        const int64_t share = step / kTakeUpShare;
        if (lead > kSettledLeadMs)
            shift = -std::min(lead - kSettledLeadMs, share);
        else if (lead < -kMaxLagMs)
            shift = std::min(-lead - kMaxLagMs, share);
    }
    if (lead + shift > kMaxLeadMs)
        shift = kMaxLeadMs - lead;
    const int64_t kept = mapped + shift;
    // Pictures the camera stamped alike stay alike; any other picture comes
    // after the one before, whatever the mapping says.
    const int64_t least = step == 0 ? 0 : 1;
    if (shorterWay(kept, previous) < least)
        return Kept{shift, previous + least};
    return Kept{shift, kept};
}
