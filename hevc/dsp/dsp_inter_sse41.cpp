// Vector motion-compensation kernels (SSSE3 and SSE4.1), bit-identical to the
// portable ones. Eight samples per group; taps multiply pairs of samples with
// an unsigned-by-signed byte multiply-add, whose 16-bit pair sums cannot
// saturate (a tap pair weighs at most 80, 80 * 255 < 32767). Rows are written
// exactly to the block's width; reads may run a few samples past the block
// inside the reference picture's border.
#include "hevc/dsp/dsp_simd.h"

namespace h265d {

#ifdef H265D_HAVE_X86

namespace dsp {

namespace {

enum Kind { kCopy, kHorizontal, kVertical, kBoth };
enum Output { kUni, kFirst, kSecond };

template <int Taps>
struct FilterTaps
{
    __m128i bytePairs[Taps / 2]; // for the multiply-add of samples
    __m128i wordPairs[Taps / 2]; // for the multiply-add of 16-bit intermediates
};

template <int Taps>
H265D_SSE41 inline const int8_t *tapsOf(int frac)
{
    return Taps == 8 ? kLumaTaps[frac] : kChromaTaps[frac];
}

template <int Taps>
H265D_SSE41 inline void makeTaps(FilterTaps<Taps> &f, int frac)
{
    const int8_t *t = tapsOf<Taps>(frac);
    for (int p = 0; p < Taps / 2; ++p) {
        const int lo = t[2 * p], hi = t[2 * p + 1];
        f.bytePairs[p] = _mm_set1_epi16(static_cast<int16_t>((lo & 0xFF) | ((hi & 0xFF) << 8)));
        f.wordPairs[p] = _mm_set1_epi32(static_cast<int32_t>((lo & 0xFFFFu) | (static_cast<uint32_t>(hi) << 16)));
    }
}

// Horizontal filter of eight samples starting at s: 16-bit sums.
template <int Taps>
H265D_SSE41 inline __m128i filterH(const uint8_t *s, const FilterTaps<Taps> &f)
{
    constexpr int before = Taps / 2 - 1;
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s - before));
    __m128i sum = _mm_setzero_si128();
    for (int p = 0; p < Taps / 2; ++p) {
        const __m128i mask =
            _mm_setr_epi8(2 * p, 2 * p + 1, 2 * p + 1, 2 * p + 2, 2 * p + 2, 2 * p + 3, 2 * p + 3, 2 * p + 4, 2 * p + 4,
                          2 * p + 5, 2 * p + 5, 2 * p + 6, 2 * p + 6, 2 * p + 7, 2 * p + 7, 2 * p + 8);
        sum = _mm_add_epi16(sum, _mm_maddubs_epi16(_mm_shuffle_epi8(v, mask), f.bytePairs[p]));
    }
    return sum;
}

// Vertical filter of eight samples starting at s: 16-bit sums.
template <int Taps>
H265D_SSE41 inline __m128i filterV(const uint8_t *s, int stride, const FilterTaps<Taps> &f)
{
    constexpr int before = Taps / 2 - 1;
    const uint8_t *row = s - before * stride;
    __m128i sum = _mm_setzero_si128();
    for (int p = 0; p < Taps / 2; ++p, row += 2 * stride) {
        const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(row));
        const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(row + stride));
        sum = _mm_add_epi16(sum, _mm_maddubs_epi16(_mm_unpacklo_epi8(a, b), f.bytePairs[p]));
    }
    return sum;
}

// Vertical filter of sixteen samples starting at s: 16-bit sums of the low
// and the high eight. Each row load serves sixteen outputs.
template <int Taps>
H265D_SSE41 inline void filterV16(const uint8_t *s, int stride, const FilterTaps<Taps> &f, __m128i &lo, __m128i &hi)
{
    constexpr int before = Taps / 2 - 1;
    const uint8_t *row = s - before * stride;
    lo = _mm_setzero_si128();
    hi = _mm_setzero_si128();
    for (int p = 0; p < Taps / 2; ++p, row += 2 * stride) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + stride));
        lo = _mm_add_epi16(lo, _mm_maddubs_epi16(_mm_unpacklo_epi8(a, b), f.bytePairs[p]));
        hi = _mm_add_epi16(hi, _mm_maddubs_epi16(_mm_unpackhi_epi8(a, b), f.bytePairs[p]));
    }
}

// Vertical filter over a 16-bit pass (64 per row) at p: 32-bit sums of the
// low and high four samples.
template <int Taps>
H265D_SSE41 inline void filterPass(const int16_t *p, const FilterTaps<Taps> &f, __m128i &lo, __m128i &hi)
{
    lo = _mm_setzero_si128();
    hi = _mm_setzero_si128();
    for (int k = 0; k < Taps / 2; ++k, p += 128) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 64));
        lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), f.wordPairs[k]));
        hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), f.wordPairs[k]));
    }
}

// One kernel body for every case: computes the 14-bit prediction of eight
// samples as 32-bit lanes, then the output stage of the family.
template <int Taps, Kind K, Output O>
H265D_SSE41 void predict(uint8_t *dst, int dstStride, int16_t *tmpOut, int tmpStride, const int16_t *tmpIn,
                         const uint8_t *src, int srcStride, int w, int h, int xFrac, int yFrac, int offset2d, int added)
{
    FilterTaps<Taps> fx, fy;
    makeTaps<Taps>(fx, xFrac);
    makeTaps<Taps>(fy, yFrac);
    const __m128i offsetWords = _mm_set1_epi16(static_cast<int16_t>(added - 64));
    // Copies and vertical-only blocks a multiple of 16 wide: sixteen samples
    // a step, the same 16-bit arithmetic as the eight-sample steps below.
    if constexpr (K == kVertical || K == kCopy) {
        if (w % 16 == 0) {
            for (int y = 0; y < h; ++y) {
                const uint8_t *s = src + y * srcStride;
                for (int x = 0; x < w; x += 16) {
                    __m128i lo, hi;
                    if constexpr (K == kCopy) {
                        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + x));
                        lo = _mm_slli_epi16(_mm_unpacklo_epi8(v, _mm_setzero_si128()), 6);
                        hi = _mm_slli_epi16(_mm_unpackhi_epi8(v, _mm_setzero_si128()), 6);
                    } else {
                        filterV16<Taps>(s + x, srcStride, fy, lo, hi);
                    }
                    if constexpr (O == kFirst) {
                        _mm_storeu_si128(reinterpret_cast<__m128i *>(tmpOut + y * tmpStride + x), lo);
                        _mm_storeu_si128(reinterpret_cast<__m128i *>(tmpOut + y * tmpStride + x + 8), hi);
                        continue;
                    }
                    if constexpr (O == kUni) {
                        lo = _mm_mulhrs_epi16(lo, _mm_set1_epi16(512));
                        hi = _mm_mulhrs_epi16(hi, _mm_set1_epi16(512));
                    } else {
                        const int16_t *t = tmpIn + y * H265D_TMP_STRIDE + x;
                        const __m128i t0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(t));
                        const __m128i t1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(t + 8));
                        lo = _mm_mulhrs_epi16(_mm_adds_epi16(_mm_adds_epi16(t0, lo), offsetWords), _mm_set1_epi16(256));
                        hi = _mm_mulhrs_epi16(_mm_adds_epi16(_mm_adds_epi16(t1, hi), offsetWords), _mm_set1_epi16(256));
                    }
                    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + y * dstStride + x), _mm_packus_epi16(lo, hi));
                }
            }
            return;
        }
    }
    alignas(16) int16_t pass[(64 + Taps - 1) * 64 + 8];
    if constexpr (K == kBoth) {
        constexpr int before = Taps / 2 - 1;
        const __m128i off = _mm_set1_epi16(static_cast<int16_t>(offset2d));
        const uint8_t *s = src - before * srcStride;
        for (int r = 0; r < h + Taps - 1; ++r, s += srcStride)
            for (int x = 0; x < w; x += 8)
                _mm_store_si128(reinterpret_cast<__m128i *>(pass + r * 64 + x),
                                _mm_sub_epi16(filterH<Taps>(s + x, fx), off));
    }
    const __m128i add = _mm_set1_epi32(added);
    for (int y = 0; y < h; ++y) {
        const uint8_t *s = src + y * srcStride;
        for (int x = 0; x < w; x += 8) {
            const int n = w - x < 8 ? w - x : 8;
            __m128i lo, hi;
            if constexpr (K == kBoth) {
                filterPass<Taps>(pass + y * 64 + x, fy, lo, hi);
                lo = _mm_srai_epi32(lo, 6);
                hi = _mm_srai_epi32(hi, 6);
            } else {
                __m128i v16;
                if constexpr (K == kCopy)
                    v16 = _mm_slli_epi16(_mm_cvtepu8_epi16(loadBytes(s + x, n)), 6);
                else if constexpr (K == kHorizontal)
                    v16 = filterH<Taps>(s + x, fx);
                else
                    v16 = filterV<Taps>(s + x, srcStride, fy);
                // One direction stays in 16 bits unless it meets the first prediction.
                if constexpr (O == kFirst) {
                    storeWords(tmpOut + y * tmpStride + x, v16, n);
                    continue;
                } else if constexpr (O == kUni) {
                    const __m128i r = _mm_mulhrs_epi16(v16, _mm_set1_epi16(512)); // (v + 32) >> 6
                    storeBytes(dst + y * dstStride + x, _mm_packus_epi16(r, r), n);
                    continue;
                } else {
                    // Both predictions and the first one's offsets in 16 bits:
                    // each fits, and the adds saturate only upwards with
                    // nothing negative left to add, where the clip gives 255
                    // anyway. Then (s + 64) >> 7 as a rounding multiply.
                    const __m128i t =
                        _mm_loadu_si128(reinterpret_cast<const __m128i *>(tmpIn + y * H265D_TMP_STRIDE + x));
                    const __m128i sum = _mm_adds_epi16(_mm_adds_epi16(t, v16), offsetWords);
                    const __m128i r = _mm_mulhrs_epi16(sum, _mm_set1_epi16(256));
                    storeBytes(dst + y * dstStride + x, _mm_packus_epi16(r, r), n);
                    continue;
                }
            }
            if constexpr (O == kFirst) {
                storeWords(tmpOut + y * tmpStride + x, _mm_packs_epi32(lo, hi), n);
                continue;
            }
            if constexpr (O == kUni) {
                lo = _mm_srai_epi32(_mm_add_epi32(lo, _mm_set1_epi32(32)), 6);
                hi = _mm_srai_epi32(_mm_add_epi32(hi, _mm_set1_epi32(32)), 6);
            } else {
                const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i *>(tmpIn + y * H265D_TMP_STRIDE + x));
                lo = _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(lo, _mm_cvtepi16_epi32(t)), add), 7);
                hi = _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(hi, _mm_cvtepi16_epi32(_mm_srli_si128(t, 8))), add), 7);
            }
            const __m128i words = _mm_packs_epi32(lo, hi);
            storeBytes(dst + y * dstStride + x, _mm_packus_epi16(words, words), n);
        }
    }
}

template <int Taps>
constexpr Kind kindOf(int xFrac, int yFrac)
{
    return xFrac == 0 ? (yFrac == 0 ? kCopy : kVertical) : (yFrac == 0 ? kHorizontal : kBoth);
}

H265D_SSE41 void copyBlockSse(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, int w, int h)
{
    for (int y = 0; y < h; ++y) {
        const uint8_t *s = src + y * srcStride;
        uint8_t *d = dst + y * dstStride;
        int x = 0;
        for (; x + 16 <= w; x += 16)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(d + x),
                             _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + x)));
        for (; x < w; x += 8) {
            const int n = w - x < 8 ? w - x : 8;
            storeBytes(d + x, loadBytes(s + x, n), n);
        }
    }
}

template <int XFrac, int YFrac>
H265D_SSE41 void lumaUniSse(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, int w, int h)
{
    predict<8, kindOf<8>(XFrac, YFrac), kUni>(dst, dstStride, nullptr, 0, nullptr, src, srcStride, w, h, XFrac, YFrac,
                                              0, 0);
}

template <int XFrac, int YFrac>
H265D_SSE41 void lumaFirstSse(int16_t *tmp, int tmpStride, const uint8_t *src, int srcStride, int w, int h)
{
    constexpr Kind k = kindOf<8>(XFrac, YFrac);
    predict<8, k, kFirst>(nullptr, 0, tmp, tmpStride, nullptr, src, srcStride, w, h, XFrac, YFrac,
                          k == kBoth ? H265D_TMP_OFFSET : 0, 0);
}

template <int XFrac, int YFrac>
H265D_SSE41 void lumaSecondSse(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, const int16_t *tmp,
                               int w, int h, int firstOffset)
{
    constexpr Kind k = kindOf<8>(XFrac, YFrac);
    const int added = 64 + (firstOffset ? H265D_TMP_OFFSET : 0) + (k == kBoth ? H265D_TMP_OFFSET : 0);
    predict<8, k, kSecond>(dst, dstStride, nullptr, 0, tmp, src, srcStride, w, h, XFrac, YFrac,
                           k == kBoth ? H265D_TMP_OFFSET : 0, added);
}

template <Kind K>
H265D_SSE41 void chromaUniSse(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, int w, int h, int frac)
{
    predict<4, K, kUni>(dst, dstStride, nullptr, 0, nullptr, src, srcStride, w, h, K == kHorizontal ? frac : 0,
                        K == kVertical ? frac : 0, 0, 0);
}

H265D_SSE41 void chromaUniHvSse(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, int w, int h, int xFrac,
                                int yFrac)
{
    predict<4, kBoth, kUni>(dst, dstStride, nullptr, 0, nullptr, src, srcStride, w, h, xFrac, yFrac, 0, 0);
}

template <Kind K>
H265D_SSE41 void chromaFirstSse(int16_t *tmp, int tmpStride, const uint8_t *src, int srcStride, int w, int h, int frac)
{
    predict<4, K, kFirst>(nullptr, 0, tmp, tmpStride, nullptr, src, srcStride, w, h, K == kHorizontal ? frac : 0,
                          K == kVertical ? frac : 0, 0, 0);
}

H265D_SSE41 void chromaFirstHvSse(int16_t *tmp, int tmpStride, const uint8_t *src, int srcStride, int w, int h,
                                  int xFrac, int yFrac)
{
    predict<4, kBoth, kFirst>(nullptr, 0, tmp, tmpStride, nullptr, src, srcStride, w, h, xFrac, yFrac, 0, 0);
}

H265D_SSE41 void chromaSecondCopySse(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, const int16_t *tmp,
                                     int w, int h)
{
    predict<4, kCopy, kSecond>(dst, dstStride, nullptr, 0, tmp, src, srcStride, w, h, 0, 0, 0, 64);
}

template <Kind K>
H265D_SSE41 void chromaSecondSse(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, const int16_t *tmp,
                                 int w, int h, int frac)
{
    predict<4, K, kSecond>(dst, dstStride, nullptr, 0, tmp, src, srcStride, w, h, K == kHorizontal ? frac : 0,
                           K == kVertical ? frac : 0, 0, 64);
}

H265D_SSE41 void chromaSecondHvSse(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, const int16_t *tmp,
                                   int w, int h, int xFrac, int yFrac)
{
    predict<4, kBoth, kSecond>(dst, dstStride, nullptr, 0, tmp, src, srcStride, w, h, xFrac, yFrac, 0, 64);
}

H265D_SSE41 void weightedUniSse(int log2Denom, int weight, int offset, uint8_t *dst, int dstStride, const int16_t *src,
                                int srcStride, int w, int h, int offsetFlag)
{
    const int log2Wd = log2Denom + 6;
    const __m128i wt = _mm_set1_epi32(weight);
    const __m128i add = _mm_set1_epi32((1 << (log2Wd - 1)) + (offsetFlag ? weight * H265D_TMP_OFFSET : 0));
    const __m128i off = _mm_set1_epi32(offset);
    const __m128i shift = _mm_cvtsi32_si128(log2Wd);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; x += 8) {
            const int n = w - x < 8 ? w - x : 8;
            const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + y * srcStride + x));
            __m128i lo = _mm_add_epi32(_mm_mullo_epi32(_mm_cvtepi16_epi32(p), wt), add);
            __m128i hi = _mm_add_epi32(_mm_mullo_epi32(_mm_cvtepi16_epi32(_mm_srli_si128(p, 8)), wt), add);
            lo = _mm_add_epi32(_mm_sra_epi32(lo, shift), off);
            hi = _mm_add_epi32(_mm_sra_epi32(hi, shift), off);
            const __m128i words = _mm_packs_epi32(lo, hi);
            storeBytes(dst + y * dstStride + x, _mm_packus_epi16(words, words), n);
        }
}

H265D_SSE41 void weightedBiSse(int log2Denom, int w0, int w1, int o0, int o1, uint8_t *dst, int dstStride,
                               const int16_t *src0, const int16_t *src1, int srcStride, int w, int h, int offsetFlag0,
                               int offsetFlag1)
{
    const int log2Wd = log2Denom + 6;
    // (p0, p1) pairs against (w0, w1): one 32-bit multiply-add per sample.
    const __m128i weights = _mm_set1_epi32((w0 & 0xFFFF) | (w1 * 65536));
    const __m128i add = _mm_set1_epi32((o0 + o1 + 1) * (1 << log2Wd) + (offsetFlag0 ? w0 * H265D_TMP_OFFSET : 0) +
                                       (offsetFlag1 ? w1 * H265D_TMP_OFFSET : 0));
    const __m128i shift = _mm_cvtsi32_si128(log2Wd + 1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; x += 8) {
            const int n = w - x < 8 ? w - x : 8;
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src0 + y * srcStride + x));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src1 + y * srcStride + x));
            const __m128i lo =
                _mm_sra_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), weights), add), shift);
            const __m128i hi =
                _mm_sra_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), weights), add), shift);
            const __m128i words = _mm_packs_epi32(lo, hi);
            storeBytes(dst + y * dstStride + x, _mm_packus_epi16(words, words), n);
        }
}

template <int XFrac, int YFrac>
void installLumaFraction(H265D_DSP_TABLE *t)
{
    constexpr int k = XFrac * 4 + YFrac;
    if constexpr (k == 0)
        t->slot[H265D_SLOT_LUMA_UNI].uniPred = copyBlockSse;
    else
        t->slot[H265D_SLOT_LUMA_UNI + k].uniPred = lumaUniSse<XFrac, YFrac>;
    t->slot[H265D_SLOT_LUMA_BI_FIRST + k].biFirst = lumaFirstSse<XFrac, YFrac>;
    t->slot[H265D_SLOT_LUMA_BI_SECOND + k].lumaBiSecond = lumaSecondSse<XFrac, YFrac>;
    if constexpr (YFrac < 3)
        installLumaFraction<XFrac, YFrac + 1>(t);
    else if constexpr (XFrac < 3)
        installLumaFraction<XFrac + 1, 0>(t);
}

} // namespace

void installInterSse41(H265D_DSP_TABLE *t)
{
    installLumaFraction<0, 0>(t);
    t->slot[H265D_SLOT_CHROMA_UNI + H265D_CHROMA_COPY].uniPred = copyBlockSse;
    t->slot[H265D_SLOT_CHROMA_UNI + H265D_CHROMA_H].chromaUniPred = chromaUniSse<kHorizontal>;
    t->slot[H265D_SLOT_CHROMA_UNI + H265D_CHROMA_V].chromaUniPred = chromaUniSse<kVertical>;
    t->slot[H265D_SLOT_CHROMA_UNI + H265D_CHROMA_HV].chromaUniPredHv = chromaUniHvSse;
    t->slot[H265D_SLOT_CHROMA_BI_FIRST + H265D_CHROMA_COPY].biFirst = lumaFirstSse<0, 0>;
    t->slot[H265D_SLOT_CHROMA_BI_FIRST + H265D_CHROMA_H].chromaBiFirst = chromaFirstSse<kHorizontal>;
    t->slot[H265D_SLOT_CHROMA_BI_FIRST + H265D_CHROMA_V].chromaBiFirst = chromaFirstSse<kVertical>;
    t->slot[H265D_SLOT_CHROMA_BI_FIRST + H265D_CHROMA_HV].chromaBiFirstHv = chromaFirstHvSse;
    t->slot[H265D_SLOT_CHROMA_BI_SECOND + H265D_CHROMA_COPY].chromaBiSecondCopy = chromaSecondCopySse;
    t->slot[H265D_SLOT_CHROMA_BI_SECOND + H265D_CHROMA_H].chromaBiSecond = chromaSecondSse<kHorizontal>;
    t->slot[H265D_SLOT_CHROMA_BI_SECOND + H265D_CHROMA_V].chromaBiSecond = chromaSecondSse<kVertical>;
    t->slot[H265D_SLOT_CHROMA_BI_SECOND + H265D_CHROMA_HV].chromaBiSecondHv = chromaSecondHvSse;
    t->slot[H265D_SLOT_WP_UNI_LUMA].weightedUni = weightedUniSse;
    t->slot[H265D_SLOT_WP_BI_LUMA].weightedBi = weightedBiSse;
    t->slot[H265D_SLOT_WP_UNI_CHROMA].weightedUni = weightedUniSse;
    t->slot[H265D_SLOT_WP_BI_CHROMA].weightedBi = weightedBiSse;
}

} // namespace dsp

#endif

} // namespace h265d
