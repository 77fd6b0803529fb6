// Motion-compensated interpolation, averaging of two predictions and
// explicit weighted prediction, one kernel per fractional case.
//
// Intermediate (`tmp`) samples are 16-bit at 14-bit precision; a luma value
// made by a two-dimensional first kernel is stored less 8192 so that its
// range fits, and every consumer is told by a flag to add it back.
#include "hevc/dsp/dsp_internal.h"

#include <cstring>

namespace h265d {

namespace dsp {

namespace {

constexpr int kTmpOffset = H265D_TMP_OFFSET;

// A horizontal pass keeps this many rows of 64 samples: the block plus the
// filter's reach above and below.
constexpr int kPassRows = 64 + 7;

template <typename Sample>
inline int lumaFilter(const Sample *s, ptrdiff_t step, const int8_t *taps)
{
    int sum = 0;
    for (int k = 0; k < 8; ++k)
        sum += taps[k] * s[(k - 3) * step];
    return sum;
}

template <typename Sample>
inline int chromaFilter(const Sample *s, ptrdiff_t step, const int8_t *taps)
{
    return taps[0] * s[-step] + taps[1] * s[0] + taps[2] * s[step] + taps[3] * s[2 * step];
}

// Horizontal pass of a two-dimensional filter over the rows the vertical
// filter reads; pass[r * 64 + x] holds row r - before of the block.
template <int Taps>
inline void horizontalPass(int16_t *pass, const uint8_t *src, int srcStride, int w, int h, const int8_t *taps,
                           int offset)
{
    constexpr int before = Taps == 8 ? 3 : 1;
    const int rows = h + Taps - 1;
    const uint8_t *s = src - before * srcStride;
    for (int r = 0; r < rows; ++r, s += srcStride) {
        for (int x = 0; x < w; ++x) {
            const int v = Taps == 8 ? lumaFilter(s + x, 1, taps) : chromaFilter(s + x, 1, taps);
            pass[r * 64 + x] = static_cast<int16_t>(v - offset);
        }
    }
}

// Vertical filter over a horizontal pass, for sample x of block row y.
template <int Taps>
inline int verticalOverPass(const int16_t *pass, int x, int y, const int8_t *taps)
{
    constexpr int before = Taps == 8 ? 3 : 1;
    const int16_t *p = pass + (y + before) * 64 + x;
    return Taps == 8 ? lumaFilter(p, 64, taps) : chromaFilter(p, 64, taps);
}

// The prediction value of one list at 14-bit precision, computed for a whole
// block into `out` (64 per row). Two-dimensional values are made from a
// horizontal pass less offset2d, so they come out less offset2d too; only a
// 32-bit `out` can take the luma ones without that offset.
template <int Taps, typename Out>
void predictBlock(Out *out, int outStride, const uint8_t *src, int srcStride, int w, int h, int xFrac, int yFrac,
                  int offset2d)
{
    const int8_t *xTaps = Taps == 8 ? kLumaTaps[xFrac] : kChromaTaps[xFrac];
    const int8_t *yTaps = Taps == 8 ? kLumaTaps[yFrac] : kChromaTaps[yFrac];
    if (xFrac == 0 && yFrac == 0) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                out[y * outStride + x] = static_cast<Out>(src[y * srcStride + x] << 6);
    } else if (xFrac == 0) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint8_t *s = src + y * srcStride + x;
                out[y * outStride + x] =
                    static_cast<Out>(Taps == 8 ? lumaFilter(s, srcStride, yTaps) : chromaFilter(s, srcStride, yTaps));
            }
    } else if (yFrac == 0) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint8_t *s = src + y * srcStride + x;
                out[y * outStride + x] =
                    static_cast<Out>(Taps == 8 ? lumaFilter(s, 1, xTaps) : chromaFilter(s, 1, xTaps));
            }
    } else {
        alignas(16) int16_t pass[kPassRows * 64];
        horizontalPass<Taps>(pass, src, srcStride, w, h, xTaps, offset2d);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                out[y * outStride + x] = static_cast<Out>(verticalOverPass<Taps>(pass, x, y, yTaps) >> 6);
    }
}

void copyBlock(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, int w, int h)
{
    for (int y = 0; y < h; ++y)
        std::memcpy(dst + y * dstStride, src + y * srcStride, static_cast<size_t>(w));
}

// One list, 8-bit result.
template <int Taps>
void uniPred(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, int w, int h, int xFrac, int yFrac)
{
    alignas(16) int32_t pred[64 * 64];
    predictBlock<Taps>(pred, 64, src, srcStride, w, h, xFrac, yFrac, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            dst[y * dstStride + x] = clipPixel((pred[y * 64 + x] + 32) >> 6);
}

// Second list averaged with the first; `added` holds the rounding term and
// whatever offsets the two operands carry.
template <int Taps>
void biSecond(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, const int16_t *tmp, int w, int h,
              int xFrac, int yFrac, int offset2d, int added)
{
    alignas(16) int16_t pred[64 * 64];
    predictBlock<Taps>(pred, 64, src, srcStride, w, h, xFrac, yFrac, offset2d);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            dst[y * dstStride + x] = clipPixel((tmp[y * H265D_TMP_STRIDE + x] + pred[y * 64 + x] + added) >> 7);
}

template <int XFrac, int YFrac>
constexpr bool kLuma2d = XFrac != 0 && YFrac != 0;

template <int XFrac, int YFrac>
void lumaUniPred(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, int w, int h)
{
    uniPred<8>(dst, dstStride, src, srcStride, w, h, XFrac, YFrac);
}

template <int XFrac, int YFrac>
void lumaBiFirst(int16_t *tmp, int tmpStride, const uint8_t *src, int srcStride, int w, int h)
{
    predictBlock<8>(tmp, tmpStride, src, srcStride, w, h, XFrac, YFrac, kLuma2d<XFrac, YFrac> ? kTmpOffset : 0);
}

template <int XFrac, int YFrac>
void lumaBiSecond(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, const int16_t *tmp, int w, int h,
                  int firstOffset)
{
    constexpr bool k2d = kLuma2d<XFrac, YFrac>;
    const int added = 64 + (firstOffset ? kTmpOffset : 0) + (k2d ? kTmpOffset : 0);
    biSecond<8>(dst, dstStride, src, srcStride, tmp, w, h, XFrac, YFrac, k2d ? kTmpOffset : 0, added);
}

void chromaUniPredH(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, int w, int h, int frac)
{
    uniPred<4>(dst, dstStride, src, srcStride, w, h, frac, 0);
}

void chromaUniPredV(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, int w, int h, int frac)
{
    uniPred<4>(dst, dstStride, src, srcStride, w, h, 0, frac);
}

void chromaUniPredHv(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, int w, int h, int xFrac, int yFrac)
{
    uniPred<4>(dst, dstStride, src, srcStride, w, h, xFrac, yFrac);
}

void chromaBiFirstH(int16_t *tmp, int tmpStride, const uint8_t *src, int srcStride, int w, int h, int frac)
{
    predictBlock<4>(tmp, tmpStride, src, srcStride, w, h, frac, 0, 0);
}

void chromaBiFirstV(int16_t *tmp, int tmpStride, const uint8_t *src, int srcStride, int w, int h, int frac)
{
    predictBlock<4>(tmp, tmpStride, src, srcStride, w, h, 0, frac, 0);
}

void chromaBiFirstHv(int16_t *tmp, int tmpStride, const uint8_t *src, int srcStride, int w, int h, int xFrac, int yFrac)
{
    predictBlock<4>(tmp, tmpStride, src, srcStride, w, h, xFrac, yFrac, 0);
}

void chromaBiSecondCopy(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, const int16_t *tmp, int w,
                        int h)
{
    biSecond<4>(dst, dstStride, src, srcStride, tmp, w, h, 0, 0, 0, 64);
}

void chromaBiSecondH(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, const int16_t *tmp, int w, int h,
                     int frac)
{
    biSecond<4>(dst, dstStride, src, srcStride, tmp, w, h, frac, 0, 0, 64);
}

void chromaBiSecondV(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, const int16_t *tmp, int w, int h,
                     int frac)
{
    biSecond<4>(dst, dstStride, src, srcStride, tmp, w, h, 0, frac, 0, 64);
}

void chromaBiSecondHv(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, const int16_t *tmp, int w, int h,
                      int xFrac, int yFrac)
{
    biSecond<4>(dst, dstStride, src, srcStride, tmp, w, h, xFrac, yFrac, 0, 64);
}

void weightedPredUni(int log2Denom, int weight, int offset, uint8_t *dst, int dstStride, const int16_t *src,
                     int srcStride, int w, int h, int offsetFlag)
{
    const int log2Wd = log2Denom + 6;
    const int added = (1 << (log2Wd - 1)) + (offsetFlag ? weight * kTmpOffset : 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            dst[y * dstStride + x] = clipPixel(((src[y * srcStride + x] * weight + added) >> log2Wd) + offset);
}

void weightedPredBi(int log2Denom, int w0, int w1, int o0, int o1, uint8_t *dst, int dstStride, const int16_t *src0,
                    const int16_t *src1, int srcStride, int w, int h, int offsetFlag0, int offsetFlag1)
{
    const int log2Wd = log2Denom + 6;
    const int added =
        (o0 + o1 + 1) * (1 << log2Wd) + (offsetFlag0 ? w0 * kTmpOffset : 0) + (offsetFlag1 ? w1 * kTmpOffset : 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int i = y * srcStride + x;
            dst[y * dstStride + x] = clipPixel((src0[i] * w0 + src1[i] * w1 + added) >> (log2Wd + 1));
        }
}

template <int XFrac, int YFrac>
void fillLumaFraction(H265D_DSP_TABLE *t)
{
    constexpr int k = XFrac * 4 + YFrac;
    if constexpr (k == 0)
        t->slot[H265D_SLOT_LUMA_UNI].uniPred = copyBlock;
    else
        t->slot[H265D_SLOT_LUMA_UNI + k].uniPred = lumaUniPred<XFrac, YFrac>;
    t->slot[H265D_SLOT_LUMA_BI_FIRST + k].biFirst = lumaBiFirst<XFrac, YFrac>;
    t->slot[H265D_SLOT_LUMA_BI_SECOND + k].lumaBiSecond = lumaBiSecond<XFrac, YFrac>;
    if constexpr (YFrac < 3)
        fillLumaFraction<XFrac, YFrac + 1>(t);
    else if constexpr (XFrac < 3)
        fillLumaFraction<XFrac + 1, 0>(t);
}

} // namespace

void fillInterKernels(H265D_DSP_TABLE *t)
{
    fillLumaFraction<0, 0>(t);
    t->slot[H265D_SLOT_CHROMA_UNI + H265D_CHROMA_COPY].uniPred = copyBlock;
    t->slot[H265D_SLOT_CHROMA_UNI + H265D_CHROMA_H].chromaUniPred = chromaUniPredH;
    t->slot[H265D_SLOT_CHROMA_UNI + H265D_CHROMA_V].chromaUniPred = chromaUniPredV;
    t->slot[H265D_SLOT_CHROMA_UNI + H265D_CHROMA_HV].chromaUniPredHv = chromaUniPredHv;
    t->slot[H265D_SLOT_CHROMA_BI_FIRST + H265D_CHROMA_COPY].biFirst = lumaBiFirst<0, 0>;
    t->slot[H265D_SLOT_CHROMA_BI_FIRST + H265D_CHROMA_H].chromaBiFirst = chromaBiFirstH;
    t->slot[H265D_SLOT_CHROMA_BI_FIRST + H265D_CHROMA_V].chromaBiFirst = chromaBiFirstV;
    t->slot[H265D_SLOT_CHROMA_BI_FIRST + H265D_CHROMA_HV].chromaBiFirstHv = chromaBiFirstHv;
    t->slot[H265D_SLOT_CHROMA_BI_SECOND + H265D_CHROMA_COPY].chromaBiSecondCopy = chromaBiSecondCopy;
    t->slot[H265D_SLOT_CHROMA_BI_SECOND + H265D_CHROMA_H].chromaBiSecond = chromaBiSecondH;
    t->slot[H265D_SLOT_CHROMA_BI_SECOND + H265D_CHROMA_V].chromaBiSecond = chromaBiSecondV;
    t->slot[H265D_SLOT_CHROMA_BI_SECOND + H265D_CHROMA_HV].chromaBiSecondHv = chromaBiSecondHv;
    t->slot[H265D_SLOT_WP_UNI_LUMA].weightedUni = weightedPredUni;
    t->slot[H265D_SLOT_WP_BI_LUMA].weightedBi = weightedPredBi;
    t->slot[H265D_SLOT_WP_UNI_CHROMA].weightedUni = weightedPredUni;
    t->slot[H265D_SLOT_WP_BI_CHROMA].weightedBi = weightedPredBi;
}

} // namespace dsp

} // namespace h265d
