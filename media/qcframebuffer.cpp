#include "media/qcframebuffer.h"

#include <QDebug>

#include <algorithm>
#include <cstring>
#include <new>

namespace {
constexpr uint32_t kKeyFrame = 1;
constexpr int kMaxStats = 100; // more than this many deltas: the oldest half goes
constexpr int kStatsTrim = 50;
constexpr int64_t kNearWindowMs = 500;
constexpr int64_t kRenumberSlack = 5;

bool isVideo(uint32_t type)
{
    return type >= 1 && type <= 3;
}
} // namespace

qcFrameBuffer::qcFrameBuffer() = default;

qcFrameBuffer::~qcFrameBuffer()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_storage.reset();
}

bool qcFrameBuffer::allocate(uint32_t size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_storage || size >= kMaxStorage)
        return false;
    m_storage.reset(new (std::nothrow) uint8_t[size ? size : 1]);
    if (!m_storage)
        return false;
    m_capacity = m_free = size;
    return true;
}

bool qcFrameBuffer::reallocate(uint32_t size)
{
    // The same cap as allocate: a stream's format change must not grow the
    // storage past what a first allocation would have been given.
    if (size >= kMaxStorage)
        return false;
    std::unique_ptr<uint8_t[]> fresh(new (std::nothrow) uint8_t[size ? size : 1]);
    if (!fresh)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    clearLocked();
    m_storage = std::move(fresh);
    m_capacity = m_free = size;
    return true;
}

uint32_t qcFrameBuffer::capacity() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_capacity;
}

uint32_t qcFrameBuffer::freeBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_free;
}

void qcFrameBuffer::setFrameRate(int fps)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frameRate = fps;
}

void qcFrameBuffer::writeBytes(uint32_t offset, const void *src, uint32_t n)
{
    const uint32_t first = std::min(n, m_capacity - offset);
    std::memcpy(m_storage.get() + offset, src, first);
    if (first < n)
        std::memcpy(m_storage.get(), static_cast<const uint8_t *>(src) + first, n - first);
}

void qcFrameBuffer::readBytes(uint32_t offset, void *dst, uint32_t n) const
{
    const uint32_t first = std::min(n, m_capacity - offset);
    std::memcpy(dst, m_storage.get() + offset, first);
    if (first < n)
        std::memcpy(static_cast<uint8_t *>(dst) + first, m_storage.get(), n - first);
}

bool qcFrameBuffer::readHeader(uint32_t offset, _st_frame_header *h)
{
    if (m_capacity - offset < kHeaderSize) {
        qDebug() << "---------Joint Package--------";
        readBytes(offset, m_joint, kHeaderSize);
        std::memcpy(h, m_joint, kHeaderSize);
    } else {
        std::memcpy(h, m_storage.get() + offset, kHeaderSize);
    }
    return h->length >= 1 && h->length < kMaxPayload;
}

void qcFrameBuffer::dropOldest()
{
    if (m_index.size() < 2)
        return;
    _st_frame_header h;
    if (readHeader(m_index.front(), &h))
        m_free += kHeaderSize + h.length;
    m_index.pop_front();
}

bool qcFrameBuffer::pushFrame(const void *data, int32_t length, uint32_t type, uint64_t timestamp)
{
    if (!data || length < 1 || static_cast<uint32_t>(length) >= kMaxPayload)
        return false;
    const uint32_t need = kHeaderSize + static_cast<uint32_t>(length);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_storage || need > m_capacity)
        return false;
    if (m_index.empty())
        m_index.push_back(0);
    while (m_free < need) {
        if (m_index.size() < 2)
            return false;
        dropOldest();
    }
    const uint32_t writePos = m_index.back();

    _st_frame_header h;
    std::memset(&h, 0, sizeof h);
    h.type = type;
    h.sequence = m_nextSequence;
    h.length = static_cast<uint32_t>(length);
    h.timestamp = timestamp;
    writeBytes(writePos, &h, kHeaderSize);
    const uint32_t payloadPos = wrap(uint64_t(writePos) + kHeaderSize);
    writeBytes(payloadPos, data, h.length);
    m_index.push_back(wrap(uint64_t(payloadPos) + h.length));

    if (isVideo(type)) {
        if (m_lastVideoTimestamp == 0) {
            // Only a key frame anchors the spacing: a delta measured from a
            // stray frame before it would be its whole timestamp.
            if (type == kKeyFrame)
                m_lastVideoTimestamp = timestamp;
        } else {
            if (m_deltas.size() > size_t(kMaxStats)) {
                m_deltas.erase(m_deltas.begin(), m_deltas.begin() + kStatsTrim);
                m_sizes.erase(m_sizes.begin(), m_sizes.begin() + std::min<size_t>(kStatsTrim, m_sizes.size()));
            }
            m_deltas.push_back(static_cast<int32_t>(static_cast<uint32_t>(timestamp - m_lastVideoTimestamp)));
            m_sizes.push_back(length);
            m_lastVideoTimestamp = timestamp;
        }
    }

    m_free -= need;
    ++m_nextSequence;
    return true;
}

int64_t qcFrameBuffer::findSequence(uint64_t seq, _st_frame_header *h)
{
    const size_t records = m_index.size() - 1;
    // Numbering is contiguous, so the record's place follows from its number;
    // the header there confirms it, and a walk covers anything unexpected.
    const uint64_t oldest = m_nextSequence - records;
    if (seq >= oldest && seq < m_nextSequence) {
        const size_t idx = size_t(seq - oldest);
        if (readHeader(m_index[idx], h) && h->sequence == seq)
            return int64_t(idx);
    }
    for (size_t i = 0; i + 1 < m_index.size(); ++i) {
        if (!readHeader(m_index[i], h)) {
            m_index.erase(m_index.begin() + i);
            return -1;
        }
        if (h->sequence == seq)
            return int64_t(i);
    }
    return -1;
}

void qcFrameBuffer::take(size_t idx, const _st_frame_header &h, void *dst, uint32_t *length, uint32_t *type,
                         uint64_t *timestamp, int64_t *sequence, bool consume)
{
    readBytes(wrap(uint64_t(m_index[idx]) + kHeaderSize), dst, h.length);
    *length = h.length;
    *type = h.type;
    *timestamp = h.timestamp;
    *sequence = int64_t(h.sequence);
    if (consume) {
        // Everything up to the taken record goes, each credited, so the
        // stored records stay contiguous and no bytes are lost to a seek.
        for (size_t i = 0; i <= idx; ++i)
            dropOldest();
    }
}

bool qcFrameBuffer::readFrame(void *dst, int32_t dstSize, uint32_t *length, uint32_t *type, uint64_t *timestamp,
                              int64_t *sequence, int32_t framesBack, bool consume, int32_t nearTime)
{
    if (!dst || !length || !type || !timestamp || !sequence || dstSize < 1)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_index.size() < 2)
        return false;
    const uint32_t limit = uint32_t(dstSize);
    const int64_t position = *sequence;
    _st_frame_header h;

    if (position >= 0) {
        const int64_t idx = findSequence(uint64_t(position) + 1, &h);
        if (idx >= 0 && h.length <= limit) {
            take(size_t(idx), h, dst, length, type, timestamp, sequence, consume);
            return true;
        }
        if (m_index.size() < 2)
            return false;
        const int64_t newest = int64_t(m_nextSequence) - 1;
        // A position far beyond everything stored means the numbering
        // restarted (clear): move to the newest key frame. Otherwise wait.
        if (position - newest <= kRenumberSlack)
            return false;
    } else if (nearTime >= 0) {
        int64_t cand = -1;
        _st_frame_header ch;
        bool inWindow = false;
        for (size_t i = 0; i + 1 < m_index.size(); ++i) {
            if (!readHeader(m_index[i], &h)) {
                m_index.erase(m_index.begin() + i);
                break;
            }
            const int64_t diff = int64_t(h.timestamp) - int64_t(nearTime);
            if (!inWindow && diff > -kNearWindowMs && diff < kNearWindowMs)
                inWindow = true;
            if (inWindow && h.type == kKeyFrame) {
                cand = int64_t(i);
                ch = h;
            }
        }
        if (cand >= 0) {
            if (ch.length > limit)
                return false;
            take(size_t(cand), ch, dst, length, type, timestamp, sequence, consume);
            return true;
        }
    }

    if (position < 0 && nearTime < 0 && framesBack > 0) {
        const int64_t records = int64_t(m_index.size()) - 1;
        const int64_t target = records - 1 - int64_t(framesBack);
        int64_t cand = -1;
        _st_frame_header ch;
        for (int64_t i = 0; i < records; ++i) {
            if (!readHeader(m_index[size_t(i)], &h)) {
                m_index.erase(m_index.begin() + i);
                return false;
            }
            if (h.type != kKeyFrame || h.length > limit)
                continue;
            // The oldest key frame when none lies that far back.
            if (cand < 0 || i <= target) {
                cand = i;
                ch = h;
            }
            if (i >= target && cand >= 0)
                break;
        }
        if (cand >= 0) {
            take(size_t(cand), ch, dst, length, type, timestamp, sequence, consume);
            return true;
        }
        return false;
    }

    // The newest key frame that fits.
    for (size_t i = m_index.size() - 1; i-- > 0;) {
        if (!readHeader(m_index[i], &h)) {
            m_index.erase(m_index.begin() + i);
            return false;
        }
        if (h.type != kKeyFrame)
            continue;
        if (h.length > limit) {
            if (position < 0)
                return false;
            continue;
        }
        take(i, h, dst, length, type, timestamp, sequence, consume);
        return true;
    }
    return false;
}

bool qcFrameBuffer::positionLost(int64_t sequence, int32_t dstSize)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (sequence < 0 || m_index.size() < 2)
        return false;
    const int64_t records = int64_t(m_index.size()) - 1;
    const int64_t newest = int64_t(m_nextSequence) - 1;
    const int64_t oldest = newest - records + 1;
    if (sequence >= newest)
        return false;
    if (sequence + 1 < oldest)
        return true;
    _st_frame_header h;
    const int64_t idx = findSequence(uint64_t(sequence) + 1, &h);
    return idx >= 0 && (dstSize < 1 || h.length > uint32_t(dstSize));
}

int64_t qcFrameBuffer::findStored(int64_t sequence, _st_frame_header *h)
{
    return sequence < 0 || m_index.size() < 2 ? -1 : findSequence(uint64_t(sequence), h);
}

int64_t qcFrameBuffer::decodeStart(int64_t sequence)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    _st_frame_header h;
    const int64_t at = findStored(sequence, &h);
    if (at < 0)
        return -1;
    size_t video = size_t(at);
    while (!isVideo(h.type)) {
        if (++video + 1 >= m_index.size() || !readHeader(m_index[video], &h))
            return -1;
    }
    return newestKeyUpTo(video + 1);
}

int64_t qcFrameBuffer::keyBefore(int64_t sequence)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    _st_frame_header h;
    const int64_t at = findStored(sequence, &h);
    return at < 0 ? -1 : newestKeyUpTo(size_t(at));
}

int64_t qcFrameBuffer::newestKeyUpTo(size_t end)
{
    _st_frame_header h;
    for (size_t i = end; i-- > 0;) {
        if (!readHeader(m_index[i], &h))
            return -1;
        if (h.type == kKeyFrame)
            return int64_t(h.sequence);
    }
    return -1;
}

float qcFrameBuffer::frameRate()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_frameRate > 0)
        return float(m_frameRate);
    if (m_deltas.size() < 2)
        return 0.0f;
    int64_t sum = 0;
    for (int d : m_deltas)
        sum += d;
    const int64_t average = sum / int64_t(m_deltas.size());
    if (average <= 0)
        return 0.0f;
    const int rate = std::clamp(int(1000.0 / double(average)), 1, 120);
    m_frameRate = rate;
    return float(rate);
}

int qcFrameBuffer::frameCount()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_index.empty() ? 0 : int(m_index.size()) - 3;
}

void qcFrameBuffer::clearLocked()
{
    m_index.clear();
    m_deltas.clear();
    m_sizes.clear();
    m_free = m_capacity;
    m_nextSequence = 1;
}

void qcFrameBuffer::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    clearLocked();
}
