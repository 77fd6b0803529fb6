#include "device/streamparser.h"

#include "platform/clock.h"

#include <cstring>

namespace {

// Sender times are whatever the network carries: the re-timing sums wrap
// instead of overflowing (a wrapped value fails the day checks like any
// other far-off time).
int64_t add(int64_t a, int64_t b)
{
    return int64_t(uint64_t(a) + uint64_t(b));
}
int64_t sub(int64_t a, int64_t b)
{
    return int64_t(uint64_t(a) - uint64_t(b));
}

// Two times of the local day more than the jump apart, where the shorter way
// round may cross midnight: the local clock passing midnight a little
// before or after the stream does is no jump, whichever passes it first.
// A mapped time a day or more off (a sender time far out) is always apart.
bool apart(int64_t output, int64_t now)
{
    if (output < 0 || output >= 2 * StreamClock::kDayMs)
        return true;
    const int64_t lead = StreamClock::lead(output, now);
    return lead > StreamClock::kJumpMs || lead < -StreamClock::kJumpMs;
}

} // namespace

StreamFrameParser::StreamFrameParser(StreamDataCallback callback, void *user, Clock clock)
    : m_callback(callback), m_user(user), m_clock(clock ? std::move(clock) : Clock(&platform::localMsecsOfDay))
{}

int StreamFrameParser::scan(const unsigned char *buf, int fill)
{
    if (!buf || fill < kFrameHeadSize + 1)
        return 0;
    int p = 0;
    while (p + kFrameHeadSize < fill) {
        if (wire::u32(buf + p) != kFrameMagic) {
            ++p;
            continue;
        }
        const int32_t length = wire::i32(buf + p + 8);
        if (length < 1 || length > kMaxPayload) {
            // Not a real header: a frame of that size could never be received.
            ++p;
            continue;
        }
        if (length > fill - p - kFrameHeadSize)
            return p;
        handleFrame(wire::readFrameHead(buf + p), buf + p + kFrameHeadSize);
        p += kFrameHeadSize + length;
    }
    return p;
}

void StreamFrameParser::handleFrame(const FrameHead_t &head, const unsigned char *payload)
{
    if (!m_callback)
        return;
    switch (head.type) {
    case FrameStreamInfo: {
        if (head.length < kStreamInfoSize)
            return;
        m_callback(payload, kStreamInfoSize, KindStreamInfo, -1, -1, m_user);
        const StreamInfo_t info = wire::readStreamInfo(payload);
        m_sampleRate = info.sampleRate;
        m_audioCodec = info.audioCodec();
        if (onTransComplete)
            onTransComplete();
        return;
    }
    case FrameOther:
    case FrameKey:
    case FramePicture:
        handleVideo(head, payload, m_clock());
        return;
    case FrameAudio:
        if (!m_videoPending)
            handleAudio(head, payload, m_clock());
        return;
    default:
        return;
    }
}

void StreamFrameParser::rebase(int64_t t, int64_t now)
{
    m_videoBase = t;
    m_audioBaseAtRebase = t;
    m_localBase = now;
    m_audioRebase = true;
}

void StreamFrameParser::takeCameraStep(int64_t t, int64_t now)
{
    const int64_t step = sub(t, m_lastSenderVideo);
    // Across the local midnight the clock went on, not back.
    const int64_t localStep = now >= m_lastVideoNow ? now - m_lastVideoNow : now - m_lastVideoNow + kDayMs;
    // Time going back by more than a step, or on by more than the local
    // clock went, is the camera's clock set (or wrapped at its own
    // midnight), not time that passed: this picture follows the last one as
    // the pictures before did, so no picture is stamped at a time that never
    // was. A little back is jitter or a small correction: the mapping stays
    // (the stream clock puts the picture just after the one before).
    if (step >= -kCameraStepMs && sub(step, localStep) <= kCameraStepMs) {
        if (step >= 0)
            m_videoSpacing = step < kJumpMs ? step : kJumpMs;
        return;
    }
    rebase(t, add(m_lastStamp, m_videoSpacing));
    // A camera whose time jumped may have started its stream anew.
    if (step < -kJumpMs || step > kJumpMs)
        m_audioCounter = 0;
}

void StreamFrameParser::handleVideo(const FrameHead_t &head, const unsigned char *payload, int64_t now)
{
    const int64_t t = int64_t(head.timestamp);
    const bool first = m_videoPending;
    m_videoPending = false;
    if (first)
        rebase(t, now);
    else
        takeCameraStep(t, now);
    m_lastSenderVideo = t;
    m_lastVideoNow = now;
    m_videoOutput = add(sub(t, m_videoBase), m_localBase);
    int64_t stamp = m_videoOutput;
    // The local clock set to another time: the pictures follow the clock,
    // the sound goes on as it goes.
    if (apart(m_videoOutput, now)) {
        m_videoOutput = stamp = now;
        rebase(t, now);
    } else if (!first) {
        // The mapping, sound and all, keeps to the local clock.
        const StreamClock::Kept kept = StreamClock::keep(m_videoOutput, m_lastStamp, now);
        m_localBase = add(m_localBase, kept.mappingShift);
        m_videoOutput = add(m_videoOutput, kept.mappingShift);
        stamp = kept.stamp;
    }
    // Midnight: the mapping goes on into the new day, sound and all, each
    // picture as far after the one before as the camera stamped it (or back
    // into the old one, where a lead taken back crosses it again).
    if (m_videoOutput >= kDayMs) {
        m_videoOutput -= kDayMs;
        m_localBase = sub(m_localBase, kDayMs);
    } else if (m_videoOutput < 0) {
        m_videoOutput += kDayMs;
        m_localBase = add(m_localBase, kDayMs);
    }
    if (stamp >= kDayMs)
        stamp -= kDayMs;
    else if (stamp < 0)
        stamp += kDayMs;
    m_lastStamp = stamp;
    m_callback(payload, head.length, KindVideo, head.type, stamp, m_user);
    deliverHeldAudio();

    const uint64_t second = (head.timestamp / 1000) % 86400;
    // The second also falls back when the sender's day wraps at midnight.
    if (second > m_lastSecond || second + 43200 < m_lastSecond) {
        m_lastSecond = second;
        if (onProgress)
            onProgress(int(second));
    }
}

void StreamFrameParser::takeAudioBase()
{
    if (m_audioRebase) {
        m_audioBase = m_audioBaseAtRebase;
        m_audioRebase = false;
    }
}

void StreamFrameParser::deliverAudio(const unsigned char *data, int length, int64_t t, int settle, int cap)
{
    takeAudioBase();
    m_audioOutput = add(sub(m_localBase, m_audioBase), t);
    const bool pastMidnight = m_audioOutput >= kDayMs && m_audioOutput < kDayMs + kJumpMs;
    if (pastMidnight || !m_heldAudio.empty()) {
        holdAudio(data, length, t, settle, cap);
        return;
    }
    if (m_audioOutput < kDayMs) {
        passAudio(data, length, settle, cap);
        return;
    }
    m_audioOutput = 0;
    m_audioCounter = 0;
    m_audioRebase = true;
}

void StreamFrameParser::holdAudio(const unsigned char *data, int length, int64_t t, int settle, int cap)
{
    const size_t size = size_t(length);
    if (size > kMaxHeldAudioBytes) {
        ++m_droppedHeldAudio;
        return;
    }
    while (m_heldAudioBytes + size > kMaxHeldAudioBytes) {
        m_heldAudioBytes -= m_heldAudio.front().data.size();
        m_heldAudio.pop_front();
        ++m_droppedHeldAudio;
    }
    m_heldAudio.push_back(HeldAudio{std::vector<unsigned char>(data, data + length), t, settle, cap});
    m_heldAudioBytes += size;
}

void StreamFrameParser::passAudio(const unsigned char *data, int length, int settle, int cap)
{
    // Sound stamped a little before the picture that began the day keeps to
    // the day that picture began.
    if (m_audioOutput < 0)
        m_audioOutput = 0;
    if (m_audioCounter > settle)
        m_callback(data, length, KindAudio, -1, m_audioOutput, m_user);
    if (m_audioCounter < cap)
        ++m_audioCounter;
}

void StreamFrameParser::deliverHeldAudio()
{
    while (!m_heldAudio.empty()) {
        const HeldAudio &a = m_heldAudio.front();
        takeAudioBase();
        const int64_t output = add(sub(m_localBase, m_audioBase), a.t);
        if (output >= kDayMs)
            break; // the pictures have not passed midnight yet
        m_audioOutput = output;
        passAudio(a.data.data(), int(a.data.size()), a.settle, a.cap);
        m_heldAudioBytes -= a.data.size();
        m_heldAudio.pop_front();
    }
}

void StreamFrameParser::handleAudio(const FrameHead_t &head, const unsigned char *payload, int64_t)
{
    const int64_t t = int64_t(head.timestamp);
    if (m_sampleRate <= 16000 || m_audioCodec == AudioAac) {
        deliverAudio(payload, head.length, t, 10, 20);
        return;
    }

    if (!m_accumulator)
        m_accumulator.reset(new unsigned char[kAccumulatorSize]);
    if (head.length <= kAccumulatorSize - m_accumulatorFill) {
        if (m_accumulatorFill == 0)
            m_accumulatedTime = t;
        std::memcpy(m_accumulator.get() + m_accumulatorFill, payload, size_t(head.length));
        m_accumulatorFill += head.length;
    } else {
        m_accumulatorFill = 0;
        m_accumulatedTime = 0;
        return;
    }
    if (m_accumulatorFill < kAccumulateThreshold)
        return;
    deliverAudio(m_accumulator.get(), m_accumulatorFill, m_accumulatedTime, 6, 10);
    m_accumulatorFill = 0;
}
