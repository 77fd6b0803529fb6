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
// before or after the stream does is no jump.
bool apart(int64_t output, int64_t now, int64_t dayMs, int64_t jumpMs)
{
    if (output < 0 || output >= dayMs)
        return sub(output, now) > jumpMs || sub(now, output) > jumpMs;
    const int64_t d = output > now ? output - now : now - output;
    return d > jumpMs && dayMs - d > jumpMs;
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
        m_lastSenderVideo = t;
        rebase(t, now);
        m_videoPending = false;
    }
    if (apart(m_videoOutput, now, kDayMs, kJumpMs)) {
        m_videoOutput = now;
        rebase(t, now);
        // A sender that jumped may have started its stream anew; the local
        // clock set to another time leaves the sound as it goes.
        if (m_senderJumped)
            m_audioCounter = 0;
    }
    m_senderJumped = sub(t, m_lastSenderVideo) > kJumpMs || sub(m_lastSenderVideo, t) > kJumpMs;
    m_lastSenderVideo = t;
    m_videoOutput = add(sub(t, m_videoBase), m_localBase);
    // Midnight: the stream goes on, sound and all.
    if (m_videoOutput >= kDayMs) {
        m_videoOutput = 0;
        rebase(t, now);
    }
    m_callback(payload, head.length, KindVideo, head.type, m_videoOutput, m_user);
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
    if ((pastMidnight || !m_heldAudio.empty()) && m_heldAudio.size() < kMaxHeldAudio) {
        m_heldAudio.push_back(HeldAudio{std::vector<unsigned char>(data, data + length), t, settle, cap});
        return;
    }
    if (m_audioOutput < kDayMs) {
        passAudio(data, length, settle, cap);
        return;
    }
    m_heldAudio.clear();
    m_audioOutput = 0;
    m_audioCounter = 0;
    m_audioRebase = true;
}

void StreamFrameParser::passAudio(const unsigned char *data, int length, int settle, int cap)
{
    if (m_audioCounter > settle)
        m_callback(data, length, KindAudio, -1, m_audioOutput, m_user);
    if (m_audioCounter < cap)
        ++m_audioCounter;
}

void StreamFrameParser::deliverHeldAudio()
{
    size_t done = 0;
    for (; done < m_heldAudio.size(); ++done) {
        const HeldAudio &a = m_heldAudio[done];
        takeAudioBase();
        const int64_t output = add(sub(m_localBase, m_audioBase), a.t);
        if (output >= kDayMs)
            break; // the pictures have not passed midnight yet
        m_audioOutput = output < 0 ? 0 : output;
        passAudio(a.data.data(), int(a.data.size()), a.settle, a.cap);
    }
    m_heldAudio.erase(m_heldAudio.begin(), m_heldAudio.begin() + std::ptrdiff_t(done));
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
