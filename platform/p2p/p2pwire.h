#pragma once

#include <cstdint>
#include <cstring>

// The framing between the layer and a loopback device: a 32-byte
// little-endian header, then the payload.
namespace p2p::wire {

constexpr uint32_t kMagic = 0x50325031;
constexpr int kHeaderSize = 32;
constexpr uint32_t kMaxPayload = 4u * 1024 * 1024;

enum Kind : uint16_t {
    Hello = 1,
    Welcome = 2,
    Unknown = 3,
    Auth = 4,
    AuthOk = 5,
    AuthFail = 6,
    IoCtrl = 7,
    Video = 8,
    Audio = 9,
    TalkOpen = 10,
    TalkAccept = 11,
    TalkRefuse = 12,
    TalkAudio = 13,
    CloseChannel = 14,
    FrameLost = 15,
};

struct Header
{
    uint32_t magic = kMagic;
    uint16_t kind = 0;
    uint16_t channel = 0;
    uint32_t ioType = 0;
    uint32_t length = 0;
    unsigned char info[16] = {};
};

inline void put16(unsigned char *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void put32(unsigned char *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
inline uint16_t get16(const unsigned char *p)
{
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t get32(const unsigned char *p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline void encode(const Header &h, unsigned char *out)
{
    put32(out, h.magic);
    put16(out + 4, h.kind);
    put16(out + 6, h.channel);
    put32(out + 8, h.ioType);
    put32(out + 12, h.length);
    std::memcpy(out + 16, h.info, 16);
}

inline Header decode(const unsigned char *in)
{
    Header h;
    h.magic = get32(in);
    h.kind = get16(in + 4);
    h.channel = get16(in + 6);
    h.ioType = get32(in + 8);
    h.length = get32(in + 12);
    std::memcpy(h.info, in + 16, 16);
    return h;
}

} // namespace p2p::wire
