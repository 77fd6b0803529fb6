#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

// A stored frame's header as it lies in the ring, little-endian. Bytes 4..7
// and 20..23 are never written and are ignored on reading.
struct _st_frame_header
{
    uint32_t type; // 1 key video, 2 and 3 other video, 4 audio
    uint32_t reserved0;
    uint64_t sequence; // 1 after construction and after clear, +1 per push
    uint32_t length;   // payload bytes, 1 .. 0x9FFFFF
    uint32_t reserved1;
    uint64_t timestamp; // milliseconds, as the writer gave it
};
static_assert(sizeof(_st_frame_header) == 32, "the ring's record header is 32 bytes");

// The hand-over point between one stream writer and any number of readers:
// a fixed ring of the newest compressed frames. The writer is never slowed:
// when space runs out the oldest frames go. Readers keep their own position
// (the sequence number of the last frame they took) and find their next
// frame by it; one that fell behind starts again from a key frame.
// Every operation holds the buffer's mutex for its whole run, copies
// included, so readers never see half a record.
class qcFrameBuffer
{
public:
    static constexpr uint32_t kHeaderSize = 32;
    static constexpr uint32_t kMaxStorage = 0x7800000; // storage must stay below this
    static constexpr uint32_t kMaxPayload = 0xA00000;  // payloads must stay below this

    qcFrameBuffer();
    ~qcFrameBuffer();
    qcFrameBuffer(const qcFrameBuffer &) = delete;
    qcFrameBuffer &operator=(const qcFrameBuffer &) = delete;

    // Only when there is no storage yet and size < kMaxStorage.
    bool allocate(uint32_t size);
    // Drops every frame and exchanges the storage; same size limit.
    bool reallocate(uint32_t size);
    uint32_t capacity() const;
    uint32_t freeBytes() const;

    void setFrameRate(int fps);

    bool pushFrame(const void *data, int32_t length, uint32_t type, uint64_t timestamp);

    // sequence: in the caller's position (last sequence taken, negative for
    // none); out the taken frame's. nearTime in ms, negative for none.
    // framesBack (a reader without position and without near time, 1 or
    // more): start at the newest key frame at or before the record that many
    // back from the newest, or at the oldest key frame when fewer are stored;
    // that is how a recording gets its pre-record seconds. -1 or 0: the newest
    // key frame.
    bool readFrame(void *dst, int32_t dstSize, uint32_t *length, uint32_t *type, uint64_t *timestamp, int64_t *sequence,
                   int32_t framesBack, bool consume, int32_t nearTime);

    // After a failed positioned read: true when the reader's next frame is
    // gone (evicted) or too large for its buffer, so waiting cannot help and
    // the reader should start again from a key frame (position -1).
    bool positionLost(int64_t sequence, int32_t dstSize);

    // Where a decoder that is to show the records from `sequence` on must
    // begin: the first video record at or after it when that is a key frame,
    // else the newest key frame stored before that record. -1 when no video
    // record at or after it is stored, or no key frame before it.
    int64_t decodeStart(int64_t sequence);
    // The newest key frame stored before the record `sequence`; -1 when that
    // record or any key frame before it is not stored.
    int64_t keyBefore(int64_t sequence);

    float frameRate();
    int frameCount();
    void clear();

private:
    bool readHeader(uint32_t offset, _st_frame_header *h);
    void writeBytes(uint32_t offset, const void *src, uint32_t n);
    void readBytes(uint32_t offset, void *dst, uint32_t n) const;
    void dropOldest();
    void clearLocked();
    uint32_t wrap(uint64_t offset) const { return static_cast<uint32_t>(offset % m_capacity); }
    // Index of the record with this sequence, or -1; relies on contiguous
    // numbering and checks the header it lands on.
    int64_t findSequence(uint64_t seq, _st_frame_header *h);
    // findSequence for any sequence, -1 when none is stored.
    int64_t findStored(int64_t sequence, _st_frame_header *h);
    // The newest key frame among the records before index `end`.
    int64_t newestKeyUpTo(size_t end);
    void take(size_t idx, const _st_frame_header &h, void *dst, uint32_t *length, uint32_t *type, uint64_t *timestamp,
              int64_t *sequence, bool consume);

    // A standard mutex: ThreadSanitizer sees its order, not that of QMutex.
    mutable std::mutex m_mutex;
    std::unique_ptr<uint8_t[]> m_storage;
    uint8_t m_joint[64];
    // Ring offsets of the stored records, oldest first, then the write position.
    std::deque<uint32_t> m_index;
    uint32_t m_capacity = 0;
    uint32_t m_free = 0;
    uint64_t m_nextSequence = 1;
    uint64_t m_lastVideoTimestamp = 0;
    int m_frameRate = 0;
    std::deque<int> m_deltas;
    std::deque<int> m_sizes;
};
