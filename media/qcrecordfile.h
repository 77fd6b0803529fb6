#pragma once

#include <QByteArray>
#include <QFile>
#include <QMap>
#include <QMutex>
#include <QVector>
#include <QString>

#include <cstdint>
#include <memory>

// The record file: a 64-byte header, then frame records back to back. All
// numbers are little-endian and every structure below is serialised field by
// field (see recbytes), never written as a struct.
struct _st_recfile_header
{
    static constexpr uint32_t kMagic = 0x20151105;
    static constexpr int kSize = 64;
    uint32_t magic = 0;
    uint8_t kindFlag = 0;    // 1 timed, 2 alarm, 4 manual, 8 other
    uint8_t stream = 0;      // 0 main, 1 sub
    uint8_t flags = 0;       // bit 0 video parameters set, bit 1 audio parameters set
    uint32_t videoCodec = 0; // 0 H.264, 1 MPEG-4, 2 MJPEG, 3 H.265
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t audioCodec = 0; // 0..5 as the stream descriptions number them
    uint32_t sampleRate = 0;
    uint32_t channels = 0;
    uint8_t frameRate = 0;
    uint8_t decoder = 0;

    QByteArray toBytes() const;
    static bool fromBytes(const char *p, _st_recfile_header *out);
};

struct _st_recframe_header
{
    static constexpr int kSize = 24;
    static constexpr uint32_t kTagBase = 0x00151110;
    static constexpr uint32_t kMaxLength = 0xA00000;
    uint32_t tag = 0; // kTagBase + (frame type << 24): 0 audio, 1 key, 2 and 3 other video
    uint32_t length = 0;
    uint64_t timestamp = 0;

    int frameType() const { return int(tag >> 24); }
    bool plausible() const { return (tag & 0xFFFFFF) == kTagBase && length <= kMaxLength; }
    void toBytes(char *p) const;
    static _st_recframe_header fromBytes(const char *p);
};

struct _st_kfindex_item
{
    static constexpr int kSize = 32;
    static constexpr uint32_t kMarker = 0xE6AC1AEE;
    uint64_t timestamp = 0;
    uint64_t offset = 0; // of the key frame's record in its record file

    QByteArray toBytes() const;
    // p must hold kSize bytes; false when they do not start with the marker.
    static bool fromBytes(const char *p, _st_kfindex_item *out);
};

struct _st_reclist_item
{
    static constexpr int kSize = 136;
    static constexpr uint32_t kMarker = 0xE6AC1AFF;
    static constexpr uint32_t kNoIndex = 0xFFFFFFFF;
    static constexpr uint32_t kWholeDay = 86400000;
    uint32_t start = 0;
    uint32_t end = 0;
    QString name; // empty when it needed 64 bytes or more
    uint32_t kindFlags = 0;
    uint8_t hasAudio = 0;
    uint32_t kfindexOffset = kNoIndex;
    uint8_t frameRate = 0;
    uint64_t kfindexCount = 0;
    uint64_t payloadBytes = 0;

    QByteArray toBytes() const;
    static bool fromBytes(const char *p, _st_reclist_item *out);
};

namespace recbytes {
inline void put16(char *p, uint16_t v)
{
    p[0] = char(v & 0xFF);
    p[1] = char(v >> 8);
}
inline void put32(char *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (8 * i)) & 0xFF);
}
inline void put64(char *p, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        p[i] = char((v >> (8 * i)) & 0xFF);
}
inline uint32_t get32(const char *p)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | uint8_t(p[i]);
    return v;
}
inline uint64_t get64(const char *p)
{
    return uint64_t(get32(p)) | (uint64_t(get32(p + 4)) << 32);
}
} // namespace recbytes

// Media description read back from a record file. Codec numbers are the
// stable ones of media/codecids.h; audioCodec is -1 for a file without audio.
struct RecordMediaInfo
{
    int videoCodec = 0;
    int width = 0;
    int height = 0;
    int frameRate = 0;
    int audioCodec = -1;
    int sampleRate = 0;
    int channels = 0;
};

// Writes or reads one record file. Every frame record reaches the kernel in
// one system call as it is written, so a recording is readable up to its last
// frame while it grows and after the writer was killed; a write that comes
// short is cut back, so the file always ends at a whole record.
class qcRecordFile
{
public:
    static constexpr int kWriter = 54;
    static constexpr int kReader = 56;
    // Frame codes of the interface.
    static constexpr int kCodeAudio = 58;
    static constexpr int kCodeKey = 59;
    static constexpr int kCodeType3 = 60;
    static constexpr int kCodeType2 = 61;

    explicit qcRecordFile(int mode);
    ~qcRecordFile();
    qcRecordFile(const qcRecordFile &) = delete;
    qcRecordFile &operator=(const qcRecordFile &) = delete;

    int mode() const { return m_mode; }

    // Writer. `top`: the top of the record tree the file lies under; every
    // change to the file (its renames, its deletion) is made below it.
    bool create(const QString &top, const QString &path);
    bool setVideoParams(int videoCodec, int width, int height, int stream, int kind, int frameRate, int decoder);
    bool setAudioParams(int legacyAudioId, int sampleRate, int channels);
    bool writeVideoFrame(const void *data, int length, int code, uint64_t timestamp);
    bool writeAudioFrame(const void *data, int length, uint64_t timestamp);
    // -1 without an open writer; 64 before the header is written; else the
    // offset the next frame record will have.
    qint64 writeOffset();
    // errno of the last failed write, 0 after a good one.
    int lastWriteError() const { return m_lastError; }
    bool renameTo(const QString &path);
    bool flush();
    bool remove();
    QString path() const { return m_path; }
    // Test seam: the next record is written at this offset (the gap stays a
    // hole in a sparse file). Only after the header was written.
    bool skipTo(qint64 offset);

    // Reader.
    bool setIndexRange(uint32_t startOffset, uint32_t count);
    bool open(const QString &path);
    bool getMediaInfo(RecordMediaInfo *info, quint8 *decoder);
    bool seekTime(uint64_t msecs);
    bool readFrame(void *dst, int capacity, int *code, uint64_t *timestamp, int *length);
    bool close();
    // Offset -> timestamp of the key frames the reader knows.
    QMap<qint64, qint64> keyFrames();
    bool keyFramesFromIndex() const { return m_mapFromIndex; }
    // What stood under kfindex beside the file instead of a regular file, in
    // words, when open() met one; empty otherwise.
    QString indexNotRead() const { return m_indexNotRead; }
    qint64 readOffset() const { return m_readOffset; }

private:
    bool writeFrameLocked(const void *data, int length, int type, uint64_t timestamp);
    bool loadIndexMap();
    bool scanMap();

    int m_mode;
    std::unique_ptr<QFile> m_file;
    QMutex m_mutex;
    _st_recfile_header m_header;
    bool m_headerWritten = false;
    uint64_t m_baseTime = 0;
    QMap<qint64, qint64> m_keyFrames;
    bool m_mapReady = false;
    bool m_mapFromIndex = false;
    bool m_readOpen = false;
    qint64 m_readOffset = 0;
    qint64 m_size = 0; // writer: bytes in the file
    int m_lastError = 0;
    QString m_path;
    QString m_top; // writer
    QString m_indexNotRead;
    uint32_t m_rangeStart = 0;
    uint32_t m_rangeCount = 0;
};

// One frame record as a scan of the file finds it.
struct RecordScanEntry
{
    qint64 offset = 0;
    int type = 0; // 0 audio, 1 key, 2 and 3 other video
    uint32_t length = 0;
    uint64_t timestamp = 0;
};

// The whole records of a record file, read header by header.
struct RecordScan
{
    bool readable = false; // opened, at least 64 bytes, right magic
    _st_recfile_header header;
    QVector<RecordScanEntry> records;
    qint64 fileSize = 0;
    qint64 wholeEnd = 0;    // end of the last whole record
    bool tornTail = false;  // the end of the file cuts the last record short
    bool badRecord = false; // a record with a bad tag or length before the end
    // Nothing but zeros after the last whole record, where a record header
    // would be: a power loss can grow a file without writing its data. Not
    // a bad record; like a torn tail, it holds no frame.
    bool zeroTail = false;
};

namespace recordio {
// Writes every byte of head and body at offset `at` (repeating for short
// counts). On failure the file is cut back to `at`, errno is kept in *error
// and the result is false, so no torn record stays behind.
bool writeAllAt(int fd, qint64 at, const void *head, size_t headSize, const void *body, size_t bodySize,
                int *error = nullptr);
// The whole records of a file from offset 64 on, read header by header;
// checkPayloadRoom: a record whose payload the file cuts short is a torn tail.
RecordScan scan(QFile &file, bool checkPayloadRoom = true);
// Of a path: a link given is followed, but only a regular file is read, and
// a named pipe never waited on.
RecordScan scan(const QString &path);
// The offset of the first whole frame record at or after `from`: a header a
// reader takes whose payload lies inside the file. -1 when there is none.
qint64 wholeFrameAfter(QFile &file, qint64 from);
} // namespace recordio
