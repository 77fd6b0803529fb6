#include "device/streamclock.h"

#include <algorithm>

namespace {

// Camera times are whatever the network carries: the sums wrap instead of
// overflowing (a wrapped value fails the day checks like any other far-off
// time).
int64_t add(int64_t a, int64_t b)
{
    return int64_t(uint64_t(a) + uint64_t(b));
}
int64_t sub(int64_t a, int64_t b)
{
    return int64_t(uint64_t(a) - uint64_t(b));
}

// Times of day are milliseconds that wrap at midnight: a difference is
// taken the shorter way round.
int64_t shorterWay(int64_t a, int64_t b)
{
    constexpr int64_t day = StreamClock::kDayMs;
    int64_t d = sub(a, b) % day;
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

namespace {

// Two times of the local day more than the jump apart, where the shorter way
// round may cross midnight: the local clock passing midnight a little
// before or after the stream does is no jump, whichever passes it first.
// A mapped time a day or more off (a camera time far out) is always apart.
bool apart(int64_t mapped, int64_t now)
{
    if (mapped < -StreamClock::kDayMs || mapped >= 2 * StreamClock::kDayMs)
        return true;
    const int64_t lead = StreamClock::lead(mapped, now);
    return lead > StreamClock::kJumpMs || lead < -StreamClock::kJumpMs;
}

} // namespace

PictureClock::Picture PictureClock::take(int64_t t, int64_t now)
{
    constexpr int64_t day = StreamClock::kDayMs;
    Picture out;
    if (!m_started) {
        m_started = true;
        m_offset = sub(now, t);
        out.stamp = now;
    } else {
        const int64_t step = sub(t, m_lastT);
        // Across the local midnight the clock went on, not back.
        const int64_t localStep = now >= m_lastNow ? now - m_lastNow : now - m_lastNow + day;
        // Time going back by more than a step, or on by more than the local
        // clock went, is the camera's clock set (or wrapped at its own
        // midnight), not time that passed: this picture follows the last one
        // as the pictures before did, so no picture is stamped at a time that
        // never was. A little back is jitter or a small correction: the
        // mapping stays, and keep() puts the picture just after the one
        // before.
        if (step >= -StreamClock::kCameraStepMs && sub(step, localStep) <= StreamClock::kCameraStepMs) {
            if (step >= 0)
                m_spacing = step < StreamClock::kJumpMs ? step : StreamClock::kJumpMs;
        } else {
            m_offset = sub(add(m_lastStamp, m_spacing), t);
            out.cameraJumped = step < -StreamClock::kJumpMs || step > StreamClock::kJumpMs;
        }
        const int64_t mapped = add(t, m_offset);
        if (apart(mapped, now)) {
            // The local clock set to another time: the pictures follow it.
            m_offset = sub(now, t);
            out.stamp = now;
        } else {
            const StreamClock::Kept kept = StreamClock::keep(mapped, m_lastStamp, now);
            m_offset = add(m_offset, kept.mappingShift);
            out.stamp = kept.stamp;
        }
    }
    // Midnight: the mapping goes on into the new day, each picture as far
    // after the one before as the camera stamped it (or back into the old
    // one, where a lead taken back crosses it again).
    const int64_t mapped = add(t, m_offset);
    if (mapped >= day)
        m_offset = sub(m_offset, day);
    else if (mapped < 0)
        m_offset = add(m_offset, day);
    if (out.stamp >= day)
        out.stamp -= day;
    else if (out.stamp < 0)
        out.stamp += day;
    m_lastT = t;
    m_lastNow = now;
    m_lastStamp = out.stamp;
    m_soundSincePicture = false;
    return out;
}

PictureClock::Sound PictureClock::sound(int64_t t, int64_t now)
{
    constexpr int64_t slack = StreamClock::kSoundSlackMs;
    // A camera's clock that jitters or was set back places its sound off
    // the pictures it came with (those were held after the ones before);
    // only time seen to pass lets sound lie far after its picture: pictures
    // far apart, late, or none for a while.
    int64_t reach = std::max<int64_t>(shorterWay(now, m_lastNow), 0) + slack;
    const int64_t previous = shorterWay(m_soundStamp, m_lastStamp);
    if (m_soundSincePicture)
        reach = std::max(reach, previous + std::clamp<int64_t>(sub(t, m_soundT), 0, StreamClock::kCameraStepMs));
    int64_t after = std::clamp(sub(t, m_lastT), -slack, reach);
    // Sound never goes back but with its pictures: the local clock set back.
    if (m_soundGiven && previous > after && previous <= StreamClock::kJumpMs)
        after = previous;
    m_soundGiven = true;
    m_soundSincePicture = true;
    m_soundT = t;
    m_soundStamp = m_lastStamp + after;
    return Sound{m_soundStamp, m_offset};
}

int64_t PictureClock::follow(const Sound &sound) const
{
    return add(sound.stamp, sub(m_offset, sound.mapping));
}
