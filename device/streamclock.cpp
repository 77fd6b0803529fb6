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

// How long the local clock went on from `then` to `now`: across midnight it
// went on, not back.
int64_t localSince(int64_t now, int64_t then)
{
    return now >= then ? now - then : now - then + StreamClock::kDayMs;
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
        const int64_t localStep = localSince(now, m_lastNow);
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
            // The local clock set to another time: the pictures follow it,
            // and their sound with them.
            m_offset = sub(now, t);
            out.stamp = now;
            m_soundGiven = false;
        } else {
            const StreamClock::Kept kept = StreamClock::keep(mapped, m_lastStamp, now);
            m_offset = add(m_offset, kept.mappingShift);
            out.stamp = kept.stamp;
            // Sound already given since the picture before plays up to its
            // stamp: a picture placed more than the sound's slack before it
            // (a set-back the pictures would take in, or a picture jittered
            // back and held just after the one before) would leave the sound
            // that follows either going back or far off this picture. The
            // picture goes on from the sound instead: the mapping with it as
            // far as the settled lead allows, past that this picture alone,
            // as far as the most a stream may lead. A stream that lies a
            // little past the settled lead (pictures handed on late in
            // bursts) so keeps its sound beside them, and jitter adds no
            // lead that the pictures after it would carry.
            if (m_soundSincePicture) {
                const int64_t behind = shorterWay(m_soundStamp, out.stamp) - StreamClock::kSoundSlackMs;
                if (behind > 0) {
                    const int64_t room = StreamClock::kSettledLeadMs - StreamClock::lead(out.stamp, now);
                    const int64_t move = std::clamp<int64_t>(room, 0, behind);
                    m_offset = add(m_offset, move);
                    out.stamp += move;
                    const int64_t rest = StreamClock::kMaxLeadMs - StreamClock::lead(out.stamp, now);
                    out.stamp += std::clamp<int64_t>(rest, 0, behind - move);
                }
            }
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
    m_soundShift = 0;
    return out;
}

PictureClock::Sound PictureClock::sound(int64_t t, int64_t now)
{
    constexpr int64_t slack = StreamClock::kSoundSlackMs;
    const int64_t previous = shorterWay(m_soundStamp, m_lastStamp);
    // The frame this sound follows as the camera sent them: the sound before
    // since the picture, or the picture.
    const int64_t refT = m_soundSincePicture ? m_soundT : m_lastT;
    const int64_t refNow = m_soundSincePicture ? m_soundNow : m_lastNow;
    const int64_t step = sub(t, refT);
    int64_t after;
    const int64_t passed = std::max<int64_t>(shorterWay(now, m_lastNow), 0);
    // A camera's clock that jitters places its sound off the pictures it
    // came with: the sound lies no earlier after its picture than the local
    // clock went since, and only as far again as the slack (so a step of
    // the camera's clock is never taken for time that passed), or as far as
    // the sound before and its even spacing reach where sound frames came
    // together (in a burst).
    int64_t reach = passed + slack;
    // Sound follows its picture and the sound before without a gap: sound
    // stamped more than the slack before either, or further on than the
    // local clock went, shows the camera's clock stepped (take() tells it
    // the same way on pictures), not time that passed. It goes on from the
    // sound before by the sound's own spacing, and the sound after it by the
    // camera's distance from it.
    if (step < -slack || sub(step, localSince(now, refNow)) > StreamClock::kCameraStepMs) {
        const int64_t spacing = std::min(m_soundSpacing, localSince(now, m_soundNow) + slack);
        after = m_soundGiven ? previous + spacing : 0;
        m_soundShift = sub(after, sub(t, m_lastT));
    } else {
        after = add(sub(t, m_lastT), m_soundShift);
        constexpr int64_t even = 2; // the camera's stamps rounded to the ms
        if (m_soundSincePicture && std::abs(step - m_soundSpacing) <= even && localSince(now, m_soundNow) <= even)
            reach = std::max(reach, previous + step);
    }
    if (m_soundGiven) {
        const int64_t spacing = sub(t, m_soundT);
        if (spacing >= 0 && spacing <= localSince(now, m_soundNow) + StreamClock::kCameraStepMs)
            m_soundSpacing = std::min(spacing, StreamClock::kCameraStepMs);
    }
    after = std::clamp<int64_t>(after, passed, reach);
    // Sound never goes back but with its pictures: the local clock set
    // anew.
    if (m_soundGiven && previous > after)
        after = previous;
    m_soundGiven = true;
    m_soundSincePicture = true;
    m_soundT = t;
    m_soundNow = now;
    m_soundStamp = m_lastStamp + after;
    return Sound{m_soundStamp, m_offset};
}

int64_t PictureClock::follow(const Sound &sound) const
{
    return add(sound.stamp, sub(m_offset, sound.mapping));
}
