#include "device/streamparser.h"

#include "platform/clock.h"

#include <cstring>

StreamFrameParser::StreamFrameParser(StreamDataCallback callback, void *user, Clock clock, PictureClock *pictures)
    : m_callback(callback), m_user(user), m_clock(clock ? std::move(clock) : Clock(&platform::localMsecsOfDay)),
      m_pictures(pictures ? *pictures : m_ownPictures)
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

void StreamFrameParser::handleVideo(const FrameHead_t &head, const unsigned char *payload, int64_t now)
{
    m_videoPending = false;
    const PictureClock::Picture picture = m_pictures.take(int64_t(head.timestamp), now);
    // A camera whose time jumped may have started its stream anew.
    if (picture.cameraJumped)
        m_audioCounter = 0;
    m_callback(payload, head.length, KindVideo, head.type, picture.stamp, m_user);
    deliverHeldAudio();

    const uint64_t second = (head.timestamp / 1000) % 86400;
    // The second also falls back when the sender's day wraps at midnight.
    if (second > m_lastSecond || second + 43200 < m_lastSecond) {
        m_lastSecond = second;
        if (onProgress)
            onProgress(int(second));
    }
}

void StreamFrameParser::deliverAudio(const unsigned char *data, int length, int64_t t, int64_t now, int settle, int cap)
{
    const PictureClock::Sound sound = m_pictures.sound(t, now);
    m_audioOutput = sound.stamp;
    const bool pastMidnight = m_audioOutput >= kDayMs && m_audioOutput < kDayMs + kJumpMs;
    if (pastMidnight || !m_heldAudio.empty()) {
        holdAudio(data, length, sound, settle, cap);
        return;
    }
    if (m_audioOutput < kDayMs) {
        passAudio(data, length, settle, cap);
        return;
    }
    m_audioOutput = 0;
    m_audioCounter = 0;
}

void StreamFrameParser::holdAudio(const unsigned char *data, int length, const PictureClock::Sound &sound, int settle,
                                  int cap)
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
    m_heldAudio.push_back(HeldAudio{std::vector<unsigned char>(data, data + length), sound, settle, cap});
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
        const int64_t output = m_pictures.follow(a.sound);
        if (output >= kDayMs)
            break; // the pictures have not passed midnight yet
        m_audioOutput = output;
        passAudio(a.data.data(), int(a.data.size()), a.settle, a.cap);
        m_heldAudioBytes -= a.data.size();
        m_heldAudio.pop_front();
    }
}

void StreamFrameParser::handleAudio(const FrameHead_t &head, const unsigned char *payload, int64_t now)
{
    const int64_t t = int64_t(head.timestamp);
    if (m_sampleRate <= 16000 || m_audioCodec == AudioAac) {
        deliverAudio(payload, head.length, t, now, 10, 20);
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
    deliverAudio(m_accumulator.get(), m_accumulatorFill, m_accumulatedTime, now, 6, 10);
    m_accumulatorFill = 0;
}
