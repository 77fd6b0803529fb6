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

void StreamFrameParser::handleVideo(const FrameHead_t &head, const unsigned char *payload, int64_t now)
{
    const int64_t t = int64_t(head.timestamp);
    if (m_videoPending) {
        m_videoOutput = now;
        rebase(t, now);
        m_videoPending = false;
    }
    if (sub(m_videoOutput, now) > kJumpMs || sub(now, m_videoOutput) > kJumpMs) {
        m_videoOutput = now;
        rebase(t, now);
        m_audioCounter = 0;
    }
    m_videoOutput = add(sub(t, m_videoBase), m_localBase);
    if (m_videoOutput >= kDayMs) {
        m_videoOutput = 0;
        rebase(t, now);
        m_audioCounter = 0;
    }
    m_callback(payload, head.length, KindVideo, head.type, m_videoOutput, m_user);

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

void StreamFrameParser::handleAudio(const FrameHead_t &head, const unsigned char *payload, int64_t)
{
    const int64_t t = int64_t(head.timestamp);
    if (m_sampleRate <= 16000 || m_audioCodec == AudioAac) {
        takeAudioBase();
        m_audioOutput = add(sub(m_localBase, m_audioBase), t);
        if (m_audioOutput < kDayMs) {
            if (m_audioCounter > 10)
                m_callback(payload, head.length, KindAudio, -1, m_audioOutput, m_user);
            if (m_audioCounter < 20)
                ++m_audioCounter;
        } else {
            m_audioCounter = 0;
            m_audioRebase = true;
        }
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
    takeAudioBase();
    m_audioOutput = add(sub(m_localBase, m_audioBase), m_accumulatedTime);
    if (m_audioOutput < kDayMs) {
        if (m_audioCounter > 6)
            m_callback(m_accumulator.get(), m_accumulatorFill, KindAudio, -1, m_audioOutput, m_user);
        if (m_audioCounter < 10)
            ++m_audioCounter;
    } else {
        m_audioOutput = 0;
        m_audioCounter = 0;
        m_audioRebase = true;
    }
    m_accumulatorFill = 0;
}
