#pragma once

#include <QtEndian>
#include <cstdint>
#include <cstring>

// Frame layout shared by the device streams, the talk sender and the P2P
// device. Wire bytes are always read and written through the little-endian
// helpers below, never by casting a buffer to these records.

constexpr uint32_t kFrameMagic = 0x20150723;
constexpr int kFrameHeadSize = 24;
constexpr int kStreamInfoSize = 20;

enum FrameType { FrameOther = 0, FrameKey = 1, FramePicture = 2, FrameAudio = 3, FrameStreamInfo = 10 };

// Callback kinds and connection states of the stream clients.
enum StreamKind { KindStreamInfo = 106, KindAudio = 108, KindVideo = 109 };
enum StreamStatus { StatusIdle = 128, StatusFailed = 129, StatusConnected = 130, StatusLost = 131 };

enum AudioCodec { AudioMuLaw = 0, AudioALaw = 1, AudioAac = 2, AudioMp2 = 3, AudioPcm = 4 };

struct FrameHead_t
{
    uint32_t magic;
    uint8_t type;
    uint8_t reserved[3];
    int32_t length;
    uint32_t sequence;
    uint64_t timestamp;
};
static_assert(sizeof(FrameHead_t) == 24, "frame header is 24 bytes on the wire");

struct StreamInfo_t
{
    uint32_t flags; // bit 1 audio present; bits 4-7 decoder choice
    uint16_t width;
    uint16_t height;
    uint32_t video; // bits 0-3 codec (0 H.264); bits 4-9 frames per second
    uint16_t sampleRate;
    uint16_t reserved;
    uint32_t audio; // bits 0-3 codec; bits 8-9 talk; bits 10-11 channels

    bool hasAudio() const { return flags & 0x2; }
    // Values above 1 are reserved and mean the default decoder.
    int decoderChoice() const
    {
        int v = (flags >> 4) & 0xF;
        return v > 1 ? 0 : v;
    }
    int videoCodec() const { return video & 0xF; }
    int framesPerSecond() const { return (video >> 4) & 0x3F; }
    int audioCodec() const { return audio & 0xF; }
    int channelCode() const { return (audio >> 10) & 0x3; }
};
static_assert(sizeof(StreamInfo_t) == 20, "stream information is 20 bytes on the wire");

// The frame callback: data, length, kind, subkind, timestamp (ms of the
// local day), the user pointer given at registration.
typedef void (*StreamDataCallback)(const unsigned char *data, int length, int kind, int subkind, qint64 timestamp,
                                   void *user);

namespace wire {

inline uint16_t u16(const unsigned char *p)
{
    return qFromLittleEndian<quint16>(p);
}
inline uint32_t u32(const unsigned char *p)
{
    return qFromLittleEndian<quint32>(p);
}
inline int32_t i32(const unsigned char *p)
{
    return qFromLittleEndian<qint32>(p);
}
inline uint64_t u64(const unsigned char *p)
{
    return qFromLittleEndian<quint64>(p);
}
inline void put16(unsigned char *p, uint16_t v)
{
    qToLittleEndian<quint16>(v, p);
}
inline void put32(unsigned char *p, uint32_t v)
{
    qToLittleEndian<quint32>(v, p);
}
inline void put64(unsigned char *p, uint64_t v)
{
    qToLittleEndian<quint64>(v, p);
}

inline FrameHead_t readFrameHead(const unsigned char *p)
{
    FrameHead_t h{};
    h.magic = u32(p);
    h.type = p[4];
    std::memcpy(h.reserved, p + 5, 3);
    h.length = i32(p + 8);
    h.sequence = u32(p + 12);
    h.timestamp = u64(p + 16);
    return h;
}

inline void writeFrameHead(unsigned char *p, const FrameHead_t &h)
{
    put32(p, h.magic);
    p[4] = h.type;
    std::memcpy(p + 5, h.reserved, 3);
    put32(p + 8, static_cast<uint32_t>(h.length));
    put32(p + 12, h.sequence);
    put64(p + 16, h.timestamp);
}

inline StreamInfo_t readStreamInfo(const unsigned char *p)
{
    StreamInfo_t s{};
    s.flags = u32(p);
    s.width = u16(p + 4);
    s.height = u16(p + 6);
    s.video = u32(p + 8);
    s.sampleRate = u16(p + 12);
    s.reserved = u16(p + 14);
    s.audio = u32(p + 16);
    return s;
}

inline void writeStreamInfo(unsigned char *p, const StreamInfo_t &s)
{
    put32(p, s.flags);
    put16(p + 4, s.width);
    put16(p + 6, s.height);
    put32(p + 8, s.video);
    put16(p + 12, s.sampleRate);
    put16(p + 14, s.reserved);
    put32(p + 16, s.audio);
}

} // namespace wire
