#include "device/spsparser.h"

#include <vector>

namespace {

// Most-significant-first bit reader over an RBSP. Bits past the end read as
// 0; an Exp-Golomb code with more than 31 leading zeros is malformed and
// marks the reader failed (a truncated SPS ending in zero bytes would
// otherwise spin or shift out of range).
class BitReader
{
public:
    BitReader(const std::vector<uchar> &data, size_t startBit = 0) : m_data(data), m_pos(startBit) {}

    uint32_t bit()
    {
        const size_t byte = m_pos >> 3;
        uint32_t v = 0;
        if (byte < m_data.size())
            v = (m_data[byte] >> (7 - (m_pos & 7))) & 1;
        else
            m_overrun = true;
        ++m_pos;
        return v;
    }
    uint64_t bits(int n)
    {
        uint64_t v = 0;
        for (int i = 0; i < n; ++i)
            v = (v << 1) | bit();
        return v;
    }
    void skip(size_t n) { m_pos += n; }
    uint64_t ue()
    {
        int zeros = 0;
        while (!bit()) {
            if (++zeros > 31) {
                m_failed = true;
                return 0;
            }
        }
        return ((uint64_t(1) << zeros) - 1) + bits(zeros);
    }
    int64_t se()
    {
        const uint64_t k = ue();
        const int64_t magnitude = int64_t((k + 1) / 2);
        return (k & 1) ? magnitude : -magnitude;
    }
    bool failed() const { return m_failed; }
    // Whether a bit past the end was read: a size read that way is a guess.
    bool overrun() const { return m_overrun; }

private:
    const std::vector<uchar> &m_data;
    size_t m_pos;
    bool m_failed = false;
    bool m_overrun = false;
};

std::vector<uchar> unescape(const uchar *p, int length)
{
    std::vector<uchar> out;
    out.reserve(length);
    int zeros = 0;
    for (int i = 0; i < length; ++i) {
        if (zeros >= 2 && p[i] == 0x03) {
            zeros = 0;
            continue;
        }
        out.push_back(p[i]);
        zeros = p[i] == 0 ? zeros + 1 : 0;
    }
    return out;
}

bool validSize(uint64_t w, uint64_t h)
{
    return w >= 1 && w <= 65535 && h >= 1 && h <= 65535;
}

void skipScalingList(BitReader &r, int size)
{
    int64_t last = 8, next = 8;
    for (int j = 0; j < size && !r.failed(); ++j) {
        if (next != 0) {
            const int64_t delta = r.se();
            next = ((last + delta) % 256 + 256) % 256;
        }
        if (next != 0)
            last = next;
        else
            break;
    }
}

} // namespace

bool ParseH264Sps(const uchar *sps, int length, int *width, int *height)
{
    if (!sps || length < 9 || !width || !height)
        return false;
    const std::vector<uchar> rbsp = unescape(sps, length);
    if ((rbsp[0] & 0x1F) != 7)
        return false;
    const int profile = rbsp[1];
    BitReader r(rbsp, 32);
    r.ue(); // seq_parameter_set_id
    if (profile == 100 || profile == 110 || profile == 122 || profile == 144) {
        const uint64_t chroma = r.ue();
        if (chroma == 3)
            r.bit(); // separate colour plane
        r.ue();      // bit_depth_luma_minus8
        r.ue();      // bit_depth_chroma_minus8
        r.bit();     // transform bypass
        if (r.bit()) {
            const int lists = chroma != 3 ? 8 : 12;
            for (int i = 0; i < lists && !r.failed(); ++i) {
                if (r.bit())
                    skipScalingList(r, i < 6 ? 16 : 64);
            }
        }
    }
    r.ue(); // log2_max_frame_num_minus4
    const uint64_t pocType = r.ue();
    if (pocType == 0) {
        r.ue();
    } else if (pocType == 1) {
        r.bit();
        r.se();
        r.se();
        const uint64_t cycle = r.ue();
        if (cycle > 255)
            return false;
        for (uint64_t i = 0; i < cycle && !r.failed(); ++i)
            r.se();
    }
    r.ue();  // max_num_ref_frames
    r.bit(); // gaps_in_frame_num_allowed_flag
    const uint64_t wMbs = r.ue();
    const uint64_t hMaps = r.ue();
    if (r.failed() || r.overrun())
        return false;
    const uint64_t w = (wMbs + 1) * 16;
    const uint64_t h = (hMaps + 1) * 16;
    if (!validSize(w, h))
        return false;
    *width = int(w);
    *height = int(h);
    return true;
}

bool ParseH265Sps(const uchar *sps, int length, int *width, int *height)
{
    if (!sps || length < 20 || !width || !height)
        return false;
    const std::vector<uchar> rbsp = unescape(sps + 2, length - 2);
    BitReader r(rbsp);
    r.bits(4); // sps_video_parameter_set_id
    const int maxSubLayersMinus1 = int(r.bits(3));
    if (maxSubLayersMinus1 > 6)
        return false;
    r.bit(); // temporal id nesting
    // profile_tier_level
    r.skip(2 + 1 + 5 + 32 + 4 + 44);
    r.bits(8); // general_level_idc
    bool profilePresent[8] = {};
    bool levelPresent[8] = {};
    for (int i = 0; i < maxSubLayersMinus1; ++i) {
        profilePresent[i] = r.bit();
        levelPresent[i] = r.bit();
    }
    if (maxSubLayersMinus1 > 0)
        r.skip(size_t(8 - maxSubLayersMinus1) * 2);
    for (int i = 0; i < maxSubLayersMinus1; ++i) {
        if (profilePresent[i])
            r.skip(88);
        if (levelPresent[i])
            r.skip(8);
    }
    if (r.ue() > 15)
        return false;
    const uint64_t chroma = r.ue();
    if (chroma > 3)
        return false;
    if (chroma == 3)
        r.bit();
    const uint64_t w = r.ue();
    const uint64_t h = r.ue();
    if (r.overrun())
        return false;
    if (r.bit()) {
        for (int i = 0; i < 4; ++i)
            r.ue();
    }
    const uint64_t depthLuma = r.ue();
    const uint64_t depthChroma = r.ue();
    if (r.failed() || !validSize(w, h))
        return false;
    *width = int(w);
    *height = int(h);
    return depthLuma == depthChroma;
}

uint32_t ParseSpsResolution(const uchar *frame, int length, int codec)
{
    if (!frame || length < 5 || (codec != kCodecH264 && codec != kCodecH265))
        return 0;
    auto isStart = [&](int i) {
        return i + 4 <= length && frame[i] == 0 && frame[i + 1] == 0 && frame[i + 2] == 0 && frame[i + 3] == 1;
    };
    for (int i = 0; i + 4 < length; ++i) {
        if (!isStart(i))
            continue;
        const int begin = i + 4;
        const uchar head = frame[begin];
        const bool isSps = codec == kCodecH264 ? (head & 0x1F) == 7 : head == 0x42;
        if (!isSps)
            continue;
        int end = begin;
        while (end < length && !isStart(end))
            ++end;
        int w = 0, h = 0;
        const bool ok = codec == kCodecH264 ? ParseH264Sps(frame + begin, end - begin, &w, &h)
                                            : ParseH265Sps(frame + begin, end - begin, &w, &h);
        if (!ok)
            return 0;
        return (uint32_t(w) << 16) + uint32_t(h);
    }
    return 0;
}
