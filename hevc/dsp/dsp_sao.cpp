// Sample adaptive offset kernels (band and edge offset of one block).
#include "hevc/dsp/dsp_internal.h"

namespace h265d {

namespace dsp {

namespace {

void saoBand(uint8_t *dst, int stride, const H265D_SAO_PARAMS *sao, int w, int h, int cIdx)
{
    int8_t offsetOfBand[32] = {};
    for (int k = 0; k < 4; ++k)
        offsetOfBand[(sao->sao_band_position[cIdx] + k) & 31] = sao->SaoOffsetVal[cIdx][k + 1];
    for (int y = 0; y < h; ++y) {
        uint8_t *row = dst + static_cast<ptrdiff_t>(y) * stride;
        for (int x = 0; x < w; ++x)
            row[x] = clipPixel(row[x] + offsetOfBand[row[x] >> 3]);
    }
}

// Neighbour a of each class; b is the opposite one.
constexpr int kEoDx[4] = {-1, 0, -1, 1};
constexpr int kEoDy[4] = {0, -1, -1, -1};

inline int sign(int v)
{
    return (v > 0) - (v < 0);
}

void saoEdge(uint8_t *dst, const uint8_t *src, int stride, const H265D_SAO_PARAMS *sao, unsigned avail, int w, int h,
             int cIdx)
{
    // edgeIdx 0..4 before the standard's remapping; 2 (flat) gets no offset.
    static constexpr uint8_t kRemap[5] = {1, 2, 0, 3, 4};
    const int cls = sao->SaoEoClass[cIdx];
    const int dx = kEoDx[cls], dy = kEoDy[cls];
    const ptrdiff_t offA = static_cast<ptrdiff_t>(dy) * stride + dx;
    int8_t offset[5];
    for (int k = 0; k < 5; ++k)
        offset[k] = sao->SaoOffsetVal[cIdx][kRemap[k]];
    // Samples on a side whose neighbour may not be read stay as they are.
    const bool needsX = dx != 0, needsY = dy != 0;
    const int x0 = needsX && !(avail & H265D_SAO_AVAIL_LEFT) ? 1 : 0;
    const int x1 = needsX && !(avail & H265D_SAO_AVAIL_RIGHT) ? w - 1 : w;
    const int y0 = needsY && !(avail & H265D_SAO_AVAIL_ABOVE) ? 1 : 0;
    const int y1 = needsY && !(avail & H265D_SAO_AVAIL_BELOW) ? h - 1 : h;
    for (int y = y0; y < y1; ++y) {
        const uint8_t *s = src + static_cast<ptrdiff_t>(y) * stride;
        uint8_t *d = dst + static_cast<ptrdiff_t>(y) * stride;
        for (int x = x0; x < x1; ++x) {
            const int v = s[x];
            const int idx = 2 + sign(v - s[x + offA]) + sign(v - s[x - offA]);
            d[x] = clipPixel(v + offset[idx]);
        }
    }
}

} // namespace

void fillSaoKernels(H265D_DSP_TABLE *t)
{
    t->slot[H265D_SLOT_SAO_BAND].saoBand = saoBand;
    t->slot[H265D_SLOT_SAO_EDGE].saoEdge = saoEdge;
}

} // namespace dsp

} // namespace h265d
