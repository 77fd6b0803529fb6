#include "device/qcringbuffer.h"

#include <QtEndian>
#include <cstring>
#include <new>

qcRingBuffer::qcRingBuffer() = default;

qcRingBuffer::~qcRingBuffer()
{
    release();
}

bool qcRingBuffer::allocate(int capacity, bool overwrite)
{
    if (capacity < kMinCapacity || capacity > kMaxCapacity)
        return false;
    QMutexLocker lock(&m_mutex);
    if (m_allocated)
        return false;
    m_store.reset(new (std::nothrow) unsigned char[capacity]);
    if (!m_store)
        return false;
    m_capacity = capacity;
    m_free = capacity;
    m_overwrite = overwrite;
    m_readPos = 0;
    m_writePos = 0;
    m_count = 0;
    m_nextSequence = 0;
    m_allocated = true;
    return true;
}

void qcRingBuffer::release()
{
    QMutexLocker lock(&m_mutex);
    m_allocated = false;
    m_store.reset();
    m_capacity = 0;
    m_count = 0;
    m_readPos = -1;
    m_writePos = 0;
    m_free = -1;
    m_nextSequence = 0;
}

bool qcRingBuffer::isAllocated()
{
    QMutexLocker lock(&m_mutex);
    return m_allocated;
}

int qcRingBuffer::freeSpace()
{
    QMutexLocker lock(&m_mutex);
    return m_free;
}

int qcRingBuffer::count()
{
    QMutexLocker lock(&m_mutex);
    return m_allocated ? m_count : 0;
}

void qcRingBuffer::clear()
{
    QMutexLocker lock(&m_mutex);
    if (m_allocated)
        clearLocked();
}

void qcRingBuffer::clearLocked()
{
    m_count = 0;
    m_free = m_capacity;
    m_readPos = 0;
    m_writePos = 0;
    m_nextSequence = 0;
}

void qcRingBuffer::readWrapped(int pos, unsigned char *out, int n) const
{
    const int first = qMin(n, m_capacity - pos);
    std::memcpy(out, m_store.get() + pos, first);
    if (first < n)
        std::memcpy(out + first, m_store.get(), n - first);
}

void qcRingBuffer::writeWrapped(int pos, const unsigned char *in, int n)
{
    const int first = qMin(n, m_capacity - pos);
    std::memcpy(m_store.get() + pos, in, first);
    if (first < n)
        std::memcpy(m_store.get(), in + first, n - first);
}

bool qcRingBuffer::findMarkerLocked()
{
    // Only the queued bytes are searched: the store behind the read position
    // still holds the markers of records already taken.
    const int used = m_capacity - m_free;
    unsigned char b[4];
    for (int tried = 0; tried + kRecordHeader <= used; ++tried) {
        readWrapped(m_readPos, b, 4);
        if (qFromLittleEndian<quint32>(b) == kMarker) {
            m_readPos = advance(m_readPos, 4);
            return true;
        }
        m_readPos = advance(m_readPos, 1);
    }
    return false;
}

bool qcRingBuffer::push(const unsigned char *data, unsigned int length)
{
    if (!data || length == 0 || length > kMaxRecord)
        return false;
    // The fit check, the drops and the write form one step: a second producer
    // or a clear in between would otherwise let this record overwrite unread ones.
    QMutexLocker lock(&m_mutex);
    if (!m_allocated)
        return false;
    const qint64 need = kRecordHeader + qint64(length);
    if (need > m_capacity)
        return false;
    if (need > m_free) {
        if (!m_overwrite)
            return false;
        while (need > m_free && m_count > 0) {
            if (!dropOldestLocked())
                break;
        }
        if (need > m_free)
            return false;
    }
    unsigned char head[kRecordHeader];
    qToLittleEndian<quint32>(kMarker, head);
    qToLittleEndian<quint32>(length, head + 4);
    qToLittleEndian<quint64>(m_nextSequence, head + 8);
    writeWrapped(m_writePos, head, kRecordHeader);
    m_writePos = advance(m_writePos, kRecordHeader);
    writeWrapped(m_writePos, data, int(length));
    m_writePos = advance(m_writePos, int(length));
    m_free -= int(need);
    ++m_nextSequence;
    ++m_count;
    return true;
}

bool qcRingBuffer::pop(unsigned char *out, int maxLength, unsigned int *outLength, uint64_t *sequence)
{
    if (!out || !outLength)
        return false;
    QMutexLocker lock(&m_mutex);
    if (!m_allocated || m_count == 0)
        return false;
    if (!findMarkerLocked()) {
        clearLocked();
        return false;
    }
    unsigned char field[8];
    readWrapped(m_readPos, field, 4);
    const quint32 length = qFromLittleEndian<quint32>(field);
    if (length == 0 || length > kMaxRecord) {
        clearLocked();
        return false;
    }
    if (maxLength < 0 || length > unsigned(maxLength)) {
        // Leave the record where it is: back to its marker, count untouched.
        m_readPos = (m_readPos - 4 + m_capacity) % m_capacity;
        *outLength = length;
        return false;
    }
    m_readPos = advance(m_readPos, 4);
    readWrapped(m_readPos, field, 8);
    if (sequence)
        *sequence = qFromLittleEndian<quint64>(field);
    m_readPos = advance(m_readPos, 8);
    readWrapped(m_readPos, out, int(length));
    m_readPos = advance(m_readPos, int(length));
    *outLength = length;
    --m_count;
    m_free += kRecordHeader + int(length);
    return true;
}

bool qcRingBuffer::dropOldest()
{
    QMutexLocker lock(&m_mutex);
    return dropOldestLocked();
}

bool qcRingBuffer::dropOldestLocked()
{
    if (!m_allocated || !m_overwrite || m_count == 0)
        return false;
    if (!findMarkerLocked()) {
        clearLocked();
        return false;
    }
    unsigned char field[4];
    readWrapped(m_readPos, field, 4);
    const quint32 length = qFromLittleEndian<quint32>(field);
    if (length == 0 || length > kMaxRecord) {
        clearLocked();
        return false;
    }
    m_readPos = advance(m_readPos, 12 + int(length));
    --m_count;
    m_free += kRecordHeader + int(length);
    return true;
}
