#include "media/qcrecordfile.h"

#include "media/codecids.h"
#include "media/recordfileguard.h"
#include "media/recordnames.h"

#include <QFileInfo>

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

using namespace recbytes;

namespace {

constexpr qint64 kMaxIndexBytes = 0xA00000;

struct VideoCode
{
    int stable;
    uint32_t stored;
};
constexpr VideoCode kVideoCodes[] = {
    {media::codecids::kVideoH264, 0},
    {media::codecids::kVideoMpeg4, 1},
    {media::codecids::kVideoMjpeg, 2},
    {media::codecids::kVideoHevc, 3},
};

} // namespace

// Each record is built in an array of its own size: through a QByteArray's
// data() GCC's optimiser loses the block's size and reports every write as an
// overflow.
QByteArray _st_recfile_header::toBytes() const
{
    char p[kSize] = {};
    put32(p, magic);
    p[5] = char(kindFlag);
    p[6] = char(stream);
    p[7] = char(flags);
    put32(p + 16, videoCodec);
    put32(p + 20, width);
    put32(p + 24, height);
    put32(p + 28, audioCodec);
    put32(p + 32, sampleRate);
    put32(p + 36, channels);
    p[40] = char(frameRate);
    p[41] = char(decoder);
    return QByteArray(p, kSize);
}

bool _st_recfile_header::fromBytes(const char *p, _st_recfile_header *out)
{
    out->magic = get32(p);
    out->kindFlag = uint8_t(p[5]);
    out->stream = uint8_t(p[6]);
    out->flags = uint8_t(p[7]);
    out->videoCodec = get32(p + 16);
    out->width = get32(p + 20);
    out->height = get32(p + 24);
    out->audioCodec = get32(p + 28);
    out->sampleRate = get32(p + 32);
    out->channels = get32(p + 36);
    out->frameRate = uint8_t(p[40]);
    out->decoder = uint8_t(p[41]);
    return out->magic == kMagic;
}

void _st_recframe_header::toBytes(char *p) const
{
    std::memset(p, 0, kSize);
    put32(p, tag);
    put32(p + 4, length);
    put64(p + 8, timestamp);
}

_st_recframe_header _st_recframe_header::fromBytes(const char *p)
{
    _st_recframe_header h;
    h.tag = get32(p);
    h.length = get32(p + 4);
    h.timestamp = get64(p + 8);
    return h;
}

QByteArray _st_kfindex_item::toBytes() const
{
    char p[kSize] = {};
    put32(p, kMarker);
    put64(p + 8, timestamp);
    put64(p + 16, offset);
    return QByteArray(p, kSize);
}

bool _st_kfindex_item::fromBytes(const char *p, _st_kfindex_item *out)
{
    if (get32(p) != kMarker)
        return false;
    out->timestamp = get64(p + 8);
    out->offset = get64(p + 16);
    return true;
}

QByteArray _st_reclist_item::toBytes() const
{
    char p[kSize] = {};
    put32(p, kMarker);
    put32(p + 4, start);
    put32(p + 8, end);
    const QByteArray field = recordnames::nameField(name);
    std::memcpy(p + 12, field.constData(), recordnames::kNameFieldSize);
    put32(p + 76, kindFlags);
    p[80] = char(hasAudio);
    put32(p + 84, kfindexOffset);
    p[88] = 1;
    p[89] = char(frameRate);
    put64(p + 96, kfindexCount);
    put64(p + 104, payloadBytes);
    return QByteArray(p, kSize);
}

bool _st_reclist_item::fromBytes(const char *p, _st_reclist_item *out)
{
    if (get32(p) != kMarker)
        return false;
    out->start = get32(p + 4);
    out->end = get32(p + 8);
    out->name = recordnames::nameFromField(p + 12);
    out->kindFlags = get32(p + 76);
    out->hasAudio = uint8_t(p[80]);
    out->kfindexOffset = get32(p + 84);
    out->frameRate = uint8_t(p[89]);
    out->kfindexCount = get64(p + 96);
    out->payloadBytes = get64(p + 104);
    return true;
}

namespace recordio {

bool writeAllAt(int fd, qint64 at, const void *head, size_t headSize, const void *body, size_t bodySize, int *error)
{
    iovec iov[2] = {{const_cast<void *>(head), headSize}, {const_cast<void *>(body), bodySize}};
    int count = bodySize ? 2 : 1;
    if (headSize + bodySize == 0)
        count = 0;
    iovec *cur = iov;
    qint64 pos = at;
    while (count > 0) {
        const ssize_t n = ::pwritev(fd, cur, count, pos);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            // A torn record would make everything after it unreadable.
            while (::ftruncate(fd, at) < 0 && errno == EINTR) {
            }
            if (error)
                *error = err;
            return false;
        }
        pos += n;
        size_t done = size_t(n);
        while (count > 0 && done >= cur->iov_len) {
            done -= cur->iov_len;
            ++cur;
            --count;
        }
        if (count > 0) {
            cur->iov_base = static_cast<char *>(cur->iov_base) + done;
            cur->iov_len -= done;
        }
    }
    if (error)
        *error = 0;
    return true;
}

namespace {

bool onlyZerosFrom(QFile &file, qint64 from)
{
    if (!file.seek(from))
        return false;
    char chunk[65536];
    for (;;) {
        const qint64 n = file.read(chunk, sizeof chunk);
        if (n <= 0)
            return n == 0;
        for (qint64 i = 0; i < n; ++i)
            if (chunk[i])
                return false;
    }
}

} // namespace

RecordScan scan(QFile &file, bool checkPayloadRoom)
{
    RecordScan out;
    out.fileSize = file.size();
    char head[_st_recfile_header::kSize];
    if (out.fileSize < _st_recfile_header::kSize || !file.seek(0) ||
        file.read(head, sizeof head) != qint64(sizeof head) || !_st_recfile_header::fromBytes(head, &out.header))
        return out;
    out.readable = true;
    qint64 offset = _st_recfile_header::kSize;
    out.wholeEnd = offset;
    while (offset < out.fileSize) {
        char rec[_st_recframe_header::kSize];
        if (out.fileSize - offset < _st_recframe_header::kSize) {
            out.tornTail = true;
            break;
        }
        if (!file.seek(offset) || file.read(rec, sizeof rec) != qint64(sizeof rec)) {
            out.tornTail = true;
            break;
        }
        const _st_recframe_header h = _st_recframe_header::fromBytes(rec);
        if (!h.plausible() || h.frameType() > 3) {
            out.zeroTail = onlyZerosFrom(file, offset);
            out.badRecord = !out.zeroTail;
            break;
        }
        const qint64 next = offset + _st_recframe_header::kSize + h.length;
        if (checkPayloadRoom && next > out.fileSize) {
            out.tornTail = true;
            break;
        }
        out.records.append({offset, h.frameType(), h.length, h.timestamp});
        offset = next;
        out.wholeEnd = offset;
    }
    return out;
}

qint64 wholeFrameAfter(QFile &file, qint64 from)
{
    const qint64 size = file.size();
    constexpr int kChunk = 65536;
    QByteArray chunk;
    // Chunks overlap by a header less one byte, so no header is split.
    for (qint64 at = from; at + _st_recframe_header::kSize <= size; at += kChunk - _st_recframe_header::kSize + 1) {
        if (!file.seek(at))
            return -1;
        chunk = file.read(kChunk);
        for (int i = 0; i + _st_recframe_header::kSize <= chunk.size(); ++i) {
            const _st_recframe_header h = _st_recframe_header::fromBytes(chunk.constData() + i);
            if (h.plausible() && h.frameType() <= 3 && at + i + _st_recframe_header::kSize + h.length <= size)
                return at + i;
        }
        if (chunk.size() < kChunk)
            break;
    }
    return -1;
}

RecordScan scan(const QString &path)
{
    QFile f;
    recordfileguard::openToRead(AT_FDCWD, path, f, true);
    return f.isOpen() ? scan(f) : RecordScan();
}

} // namespace recordio

qcRecordFile::qcRecordFile(int mode) : m_mode(mode == kWriter || mode == kReader ? mode : -1) {}

qcRecordFile::~qcRecordFile()
{
    if (m_file)
        m_file->close();
}

bool qcRecordFile::create(const QString &top, const QString &path)
{
    QMutexLocker lock(&m_mutex);
    if (m_mode != kWriter || m_file)
        return false;
    auto file = std::make_unique<QFile>();
    // Unbuffered: a buffered QFile would keep bytes that failed to go out and
    // write them again at close, after the torn record had been cut off.
    if (!recordfileguard::open(top, *file, path, QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        return false;
    m_file = std::move(file);
    m_path = path;
    m_top = top;
    m_size = 0;
    m_headerWritten = false;
    return true;
}

bool qcRecordFile::setVideoParams(int videoCodec, int width, int height, int stream, int kind, int frameRate,
                                  int decoder)
{
    QMutexLocker lock(&m_mutex);
    if (m_mode != kWriter)
        return false;
    m_header.magic = _st_recfile_header::kMagic;
    const VideoCode *code = nullptr;
    for (const VideoCode &c : kVideoCodes)
        if (c.stable == videoCodec)
            code = &c;
    const quint8 kindByte = recordnames::headerKindByte(kind);
    if (!code || !kindByte || (stream != 0 && stream != 1))
        return false;
    m_header.videoCodec = code->stored;
    m_header.kindFlag = kindByte;
    m_header.stream = uint8_t(stream);
    m_header.width = uint32_t(width);
    m_header.height = uint32_t(height);
    m_header.frameRate = uint8_t(frameRate);
    m_header.decoder = uint8_t(decoder);
    m_header.flags |= 1;
    return true;
}

bool qcRecordFile::setAudioParams(int legacyAudioId, int sampleRate, int channels)
{
    QMutexLocker lock(&m_mutex);
    if (m_mode != kWriter)
        return false;
    m_header.channels = uint32_t(channels);
    const int number = media::codecids::audioFromLegacyId(legacyAudioId);
    if (number < 0)
        return false;
    m_header.audioCodec = uint32_t(number);
    m_header.sampleRate = uint32_t(sampleRate);
    m_header.flags |= 2;
    return true;
}

bool qcRecordFile::writeFrameLocked(const void *data, int length, int type, uint64_t timestamp)
{
    if (m_mode != kWriter || !m_file || length < 0 || uint32_t(length) > _st_recframe_header::kMaxLength ||
        (!data && length > 0))
        return false;
    _st_recframe_header h;
    h.tag = _st_recframe_header::kTagBase + (uint32_t(type) << 24);
    h.length = uint32_t(length);
    h.timestamp = timestamp;
    QByteArray head;
    if (!m_headerWritten)
        head = m_header.toBytes();
    const int at = head.size();
    head.resize(at + _st_recframe_header::kSize);
    h.toBytes(head.data() + at);
    if (!recordio::writeAllAt(m_file->handle(), m_size, head.constData(), size_t(head.size()), data, size_t(length),
                              &m_lastError))
        return false;
    m_headerWritten = true;
    m_size += head.size() + length;
    return true;
}

bool qcRecordFile::writeVideoFrame(const void *data, int length, int code, uint64_t timestamp)
{
    int type;
    switch (code) {
    case kCodeKey:
        type = 1;
        break;
    case kCodeType2:
        type = 2;
        break;
    case kCodeType3:
        type = 3;
        break;
    default:
        return false;
    }
    QMutexLocker lock(&m_mutex);
    return writeFrameLocked(data, length, type, timestamp);
}

bool qcRecordFile::writeAudioFrame(const void *data, int length, uint64_t timestamp)
{
    QMutexLocker lock(&m_mutex);
    return writeFrameLocked(data, length, 0, timestamp - m_baseTime);
}

qint64 qcRecordFile::writeOffset()
{
    QMutexLocker lock(&m_mutex);
    if (m_mode != kWriter || !m_file)
        return -1;
    return m_headerWritten ? m_size : _st_recfile_header::kSize;
}

bool qcRecordFile::skipTo(qint64 offset)
{
    QMutexLocker lock(&m_mutex);
    if (m_mode != kWriter || !m_file || !m_headerWritten || offset < m_size || ::ftruncate(m_file->handle(), offset))
        return false;
    m_size = offset;
    return true;
}

bool qcRecordFile::renameTo(const QString &path)
{
    QMutexLocker lock(&m_mutex);
    if (m_mode != kWriter || !m_file || m_headerWritten || QFileInfo::exists(path))
        return false;
    m_file->close();
    if (!recordfileguard::rename(m_top, m_path, path))
        return false;
    // Opened again by its new name: never through a link put there meanwhile.
    auto file = std::make_unique<QFile>();
    if (!recordfileguard::open(m_top, *file, path,
                               QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        m_file.reset();
        return false;
    }
    m_file = std::move(file);
    m_path = path;
    m_size = 0;
    return true;
}

bool qcRecordFile::flush()
{
    QMutexLocker lock(&m_mutex);
    if (m_mode != kWriter || !m_file)
        return false;
    m_file->close();
    m_file.reset();
    return true;
}

bool qcRecordFile::remove()
{
    QMutexLocker lock(&m_mutex);
    if (!m_file)
        return false;
    m_file->close();
    m_file.reset();
    return recordfileguard::remove(m_top, m_path);
}

bool qcRecordFile::setIndexRange(uint32_t startOffset, uint32_t count)
{
    QMutexLocker lock(&m_mutex);
    if (m_rangeStart || m_rangeCount)
        return false;
    m_rangeStart = startOffset;
    m_rangeCount = count;
    return true;
}

bool qcRecordFile::open(const QString &path)
{
    QMutexLocker lock(&m_mutex);
    if (m_mode == kWriter || m_file)
        return false;
    // A link given is followed, but nothing but a regular file is read and a
    // named pipe is never waited on.
    auto file = std::make_unique<QFile>();
    char head[_st_recfile_header::kSize];
    recordfileguard::openToRead(AT_FDCWD, path, *file, true);
    if (!file->isOpen() || file->size() < _st_recfile_header::kSize ||
        file->read(head, sizeof head) != qint64(sizeof head) || !_st_recfile_header::fromBytes(head, &m_header))
        return false;
    m_file = std::move(file);
    m_readOffset = _st_recfile_header::kSize;
    m_path = path;
    m_readOpen = true;
    if (!loadIndexMap())
        scanMap();
    return true;
}

bool qcRecordFile::loadIndexMap()
{
    const int slash = m_path.lastIndexOf('/');
    if (m_readOffset != _st_recfile_header::kSize || slash < 0)
        return false;
    // The folder's index, as every reader of the folder takes it: not through
    // a link, and never a named pipe waited on.
    QFile index;
    m_indexNotRead = recordfileguard::openToRead(AT_FDCWD, m_path.left(slash) + "/kfindex", index);
    if (!index.isOpen() || index.size() > kMaxIndexBytes || index.size() < qint64(m_rangeStart) ||
        (m_rangeStart && !index.seek(m_rangeStart)))
        return false;
    const QByteArray bytes = index.read(kMaxIndexBytes);
    if (bytes.isEmpty())
        return false;
    QMap<qint64, qint64> map;
    uint32_t found = 0;
    for (int i = 0; i + _st_kfindex_item::kSize <= bytes.size();) {
        _st_kfindex_item item;
        if (!_st_kfindex_item::fromBytes(bytes.constData() + i, &item)) {
            ++i;
            continue;
        }
        map.insert(qint64(item.offset), qint64(item.timestamp));
        i += _st_kfindex_item::kSize;
        if (m_rangeCount && ++found >= m_rangeCount)
            break;
    }
    if (map.isEmpty())
        return false;
    m_keyFrames = map;
    m_mapReady = m_mapFromIndex = true;
    return true;
}

bool qcRecordFile::scanMap()
{
    if (m_readOffset != _st_recfile_header::kSize)
        return false;
    const RecordScan s = recordio::scan(*m_file, false);
    m_keyFrames.clear();
    for (const RecordScanEntry &e : s.records)
        if (e.type == 1)
            m_keyFrames.insert(e.offset, qint64(e.timestamp));
    m_mapReady = m_file->seek(m_readOffset);
    m_mapFromIndex = false;
    return m_mapReady;
}

QMap<qint64, qint64> qcRecordFile::keyFrames()
{
    QMutexLocker lock(&m_mutex);
    return m_keyFrames;
}

bool qcRecordFile::getMediaInfo(RecordMediaInfo *info, quint8 *decoder)
{
    QMutexLocker lock(&m_mutex);
    if (!info || !m_readOpen)
        return false;
    RecordMediaInfo out;
    if (m_header.videoCodec == 0)
        out.videoCodec = media::codecids::kVideoH264;
    else if (m_header.videoCodec == 3)
        out.videoCodec = media::codecids::kVideoHevc;
    else
        return false;
    out.width = int(m_header.width);
    out.height = int(m_header.height);
    out.frameRate = m_header.frameRate;
    // A file without audio holds zeros there, which would read as mu-law.
    if (m_header.flags & 2) {
        if (m_header.audioCodec > 5)
            return false;
        out.audioCodec = media::codecids::legacyIdFromAudio(int(m_header.audioCodec));
        out.sampleRate = int(m_header.sampleRate);
        out.channels = int(m_header.channels);
    }
    *info = out;
    if (decoder)
        *decoder = m_header.decoder ? 1 : 0;
    return true;
}

bool qcRecordFile::seekTime(uint64_t msecs)
{
    QMutexLocker lock(&m_mutex);
    if (!m_readOpen || !m_mapReady)
        return false;
    for (auto it = m_keyFrames.cbegin(); it != m_keyFrames.cend(); ++it) {
        if (uint64_t(it.value()) < msecs)
            continue;
        if (!m_file->seek(it.key())) {
            m_file->seek(m_readOffset);
            return false;
        }
        m_readOffset = it.key();
        return true;
    }
    return false;
}

bool qcRecordFile::readFrame(void *dst, int capacity, int *code, uint64_t *timestamp, int *length)
{
    QMutexLocker lock(&m_mutex);
    if (!m_readOpen || !dst || !code || !timestamp || !length)
        return false;
    char rec[_st_recframe_header::kSize];
    if (m_file->read(rec, sizeof rec) != qint64(sizeof rec))
        return false;
    const _st_recframe_header h = _st_recframe_header::fromBytes(rec);
    if (!h.plausible())
        return false;
    if (capacity < 0 || h.length > uint32_t(capacity)) {
        m_file->seek(m_readOffset);
        return false;
    }
    static const int kCodes[] = {kCodeAudio, kCodeKey, kCodeType2, kCodeType3};
    if (h.frameType() > 3)
        return false;
    m_readOffset += _st_recframe_header::kSize;
    *code = kCodes[h.frameType()];
    *timestamp = h.timestamp;
    *length = int(h.length);
    if (m_file->read(static_cast<char *>(dst), h.length) != qint64(h.length)) {
        m_file->seek(m_readOffset);
        return false;
    }
    m_readOffset += h.length;
    return true;
}

bool qcRecordFile::close()
{
    QMutexLocker lock(&m_mutex);
    if (!m_file || m_mode == kWriter)
        return false;
    m_file->close();
    m_file.reset();
    m_readOpen = false;
    return true;
}
