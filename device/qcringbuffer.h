#pragma once

#include <QMutex>
#include <cstdint>
#include <memory>

// Thread-safe queue of variable-length records in one circular byte store.
// Each record is a 16-byte header (marker, length, sequence number) and its
// payload; any part of a record may wrap around the end of the store.
class qcRingBuffer
{
public:
    static constexpr uint32_t kMarker = 0xF0F0F0F0;
    static constexpr int kRecordHeader = 16;
    static constexpr unsigned kMaxRecord = 10485760;
    static constexpr int kMinCapacity = 1025;
    static constexpr int kMaxCapacity = 174063616;

    qcRingBuffer();
    ~qcRingBuffer();
    qcRingBuffer(const qcRingBuffer &) = delete;
    qcRingBuffer &operator=(const qcRingBuffer &) = delete;

    bool allocate(int capacity, bool overwrite);
    // Frees the store; the buffer is unallocated afterwards and may be
    // allocated again.
    void release();

    bool push(const unsigned char *data, unsigned int length);
    // A record longer than maxLength stays queued (its length is reported
    // through outLength) so that a larger buffer can take it.
    bool pop(unsigned char *out, int maxLength, unsigned int *outLength, uint64_t *sequence = nullptr);
    int count();
    void clear();
    bool dropOldest();

    bool isAllocated();
    int freeSpace();
    int capacity() const { return m_capacity; }

private:
    friend class TestRingBuffer;

    bool dropOldestLocked();
    void clearLocked();
    bool findMarkerLocked();
    void readWrapped(int pos, unsigned char *out, int n) const;
    void writeWrapped(int pos, const unsigned char *in, int n);
    int advance(int pos, int n) const
    {
        pos += n;
        return pos >= m_capacity ? pos - m_capacity : pos;
    }

    QMutex m_mutex;
    std::unique_ptr<unsigned char[]> m_store;
    int m_capacity = 0;
    int m_count = 0;
    int m_readPos = -1;
    int m_writePos = 0;
    int m_free = -1;
    bool m_allocated = false;
    bool m_overwrite = false;
    uint64_t m_nextSequence = 0;
};
