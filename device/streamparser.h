#pragma once

#include "device/framehead.h"
#include "device/streamclock.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

// The receive side of the live stream without sockets: finds frames in the
// bytes received so far, re-times video and audio onto the local time of day
// (as StreamClock rules) and hands each frame to the stream callback.
class StreamFrameParser
{
public:
    using Clock = std::function<int64_t()>;

    static constexpr int kBufferSize = 4194304;
    // A frame longer than this could never complete in the receive buffer.
    static constexpr int kMaxPayload = kBufferSize - kFrameHeadSize;
    static constexpr int kAccumulatorSize = 4096;
    static constexpr int kAccumulateThreshold = 940;
    static constexpr int64_t kDayMs = StreamClock::kDayMs;
    static constexpr int64_t kJumpMs = StreamClock::kJumpMs;
    // Sound past the end of the day waits for the pictures to pass midnight
    // too, this many bytes at most (5 s of 48 kHz 16-bit stereo); beyond it
    // the oldest goes.
    static constexpr size_t kMaxHeldAudioBytes = 1 << 20;

    // `pictures`, when given, is the stream's clock across its connections
    // (it must outlive the parser); otherwise the parser keeps its own.
    explicit StreamFrameParser(StreamDataCallback callback = nullptr, void *user = nullptr, Clock clock = {},
                               PictureClock *pictures = nullptr);

    // Hooks for the owner's signals.
    std::function<void(int)> onProgress;
    std::function<void()> onTransComplete;

    // Handles every whole frame in buf[0, fill) and returns how many leading
    // bytes are done with: handled frames and bytes that cannot begin a
    // header. The caller keeps the rest for the next call.
    int scan(const unsigned char *buf, int fill);

    int audioSampleRate() const { return m_sampleRate; }
    int audioCodec() const { return m_audioCodec; }
    // Sound frames held at midnight that the hold's bound pushed out.
    uint64_t droppedHeldAudio() const { return m_droppedHeldAudio; }

private:
    void handleFrame(const FrameHead_t &head, const unsigned char *payload);
    void handleVideo(const FrameHead_t &head, const unsigned char *payload, int64_t now);
    void handleAudio(const FrameHead_t &head, const unsigned char *payload, int64_t now);
    // One sound frame (or accumulated chunk) at sender time t; the first
    // `settle` after a start are dropped.
    void deliverAudio(const unsigned char *data, int length, int64_t t, int64_t now, int settle, int cap);
    // Hands one sound frame over at m_audioOutput once `settle` have passed
    // since the last start.
    void passAudio(const unsigned char *data, int length, int settle, int cap);
    void holdAudio(const unsigned char *data, int length, const PictureClock::Sound &sound, int settle, int cap);
    void deliverHeldAudio();

    StreamDataCallback m_callback;
    void *m_user;
    Clock m_clock;

    bool m_videoPending = true;
    PictureClock m_ownPictures;
    PictureClock &m_pictures;
    int64_t m_audioOutput = 0;
    int64_t m_accumulatedTime = 0;
    int64_t m_audioCounter = 0;
    std::unique_ptr<unsigned char[]> m_accumulator;
    int m_accumulatorFill = 0;
    int m_sampleRate = 0;
    int m_audioCodec = -1;
    uint64_t m_lastSecond = 0;
    struct HeldAudio
    {
        std::vector<unsigned char> data;
        PictureClock::Sound sound;
        int settle;
        int cap;
    };
    // Sound stamped past midnight before the pictures are: it goes out after
    // the picture that passes midnight, so no stream starts a day with the
    // last day's pictures still to come.
    std::deque<HeldAudio> m_heldAudio;
    size_t m_heldAudioBytes = 0;
    uint64_t m_droppedHeldAudio = 0;
};
