#pragma once

#include <QByteArray>

#include <cstdint>
#include <deque>
#include <memory>

class qcFrameBuffer;

// The frames a recorder took out of its stream's frame buffer while it
// waited to cut its file (the stream passed midnight before the computer's
// clock did), for the next file of the recording, which reads them first and
// then goes on in the frame buffer: the buffer drops its oldest frames
// meanwhile, and the wait may outlast what it holds. Bounded in bytes:
// beyond the bound the oldest frames go, and with them those up to the next
// key frame, which need them, so that what is kept still starts where a
// decoder can; they are counted. The frames are held in the order of their
// sequence numbers (the frame buffer's), without a gap. One thread at a time.
class FrameHandOver
{
public:
    struct Frame
    {
        uint32_t type = 0; // as in the frame buffer: 1 key video, 2 and 3 other video, 4 audio
        uint64_t timestamp = 0;
        int64_t sequence = -1;
        QByteArray payload;
    };

    // More than the largest streams send in the few seconds a hand-over
    // spans.
    static constexpr qint64 kStreamBytes = 32 << 20;

    explicit FrameHandOver(qint64 maxBytes) : m_maxBytes(maxBytes) {}

    // The frames `buffer` holds after `position`, up to its newest, within
    // kStreamBytes; null when it holds none or does not go on from there.
    static std::unique_ptr<FrameHandOver> copyAfter(qcFrameBuffer &buffer, int64_t position);
    // The frames `buffer` holds after the last one held, up to its newest,
    // within the bound; nothing when none is held.
    void holdNewer(qcFrameBuffer &buffer);

    // The frame that follows the last one held.
    void hold(const char *data, uint32_t length, uint32_t type, uint64_t timestamp, int64_t sequence);
    // The frame held right after `sequence`; null when it is not held.
    const Frame *after(int64_t sequence) const;
    // The oldest and the newest frame held; null when none is.
    const Frame *first() const { return m_frames.empty() ? nullptr : &m_frames.front(); }
    const Frame *last() const { return m_frames.empty() ? nullptr : &m_frames.back(); }
    int count() const { return int(m_frames.size()); }
    // The frames the bound took, and their bytes.
    int dropped() const { return m_dropped; }
    qint64 droppedBytes() const { return m_droppedBytes; }

private:
    void dropOldest();
    void holdFrom(qcFrameBuffer &buffer, int64_t position);

    const qint64 m_maxBytes;
    std::deque<Frame> m_frames;
    qint64 m_bytes = 0;
    int m_dropped = 0;
    qint64 m_droppedBytes = 0;
};
