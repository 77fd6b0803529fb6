// Vector loop-filter and border kernels: SAO band and edge offset and luma
// deblocking (SSE4.1 with SSSE3), chroma deblocking and border extension
// (SSE2, and AVX for the border). Each gives the portable kernel's samples
// and writes nothing outside the block.
#include "hevc/dsp/dsp_simd.h"

#ifdef H265D_HAVE_X86

#include <cstdlib>

namespace h265d {

namespace dsp {

namespace {

// s + offset for 16 samples with signed 8-bit offsets, clipped to 0..255.
H265D_SSE41 inline __m128i addOffsets(__m128i s, __m128i off)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = _mm_add_epi16(_mm_unpacklo_epi8(s, zero), _mm_cvtepi8_epi16(off));
    const __m128i hi = _mm_add_epi16(_mm_unpackhi_epi8(s, zero), _mm_cvtepi8_epi16(_mm_srli_si128(off, 8)));
    return _mm_packus_epi16(lo, hi);
}

H265D_SSE41 void saoBandSse41(uint8_t *dst, int stride, const H265D_SAO_PARAMS *sao, int w, int h, int cIdx)
{
    alignas(16) int8_t offsetOfBand[32] = {};
    for (int k = 0; k < 4; ++k)
        offsetOfBand[(sao->sao_band_position[cIdx] + k) & 31] = sao->SaoOffsetVal[cIdx][k + 1];
    const __m128i tableLo = _mm_load_si128(reinterpret_cast<const __m128i *>(offsetOfBand));
    const __m128i tableHi = _mm_load_si128(reinterpret_cast<const __m128i *>(offsetOfBand + 16));
    const __m128i mask31 = _mm_set1_epi8(31), bit16 = _mm_set1_epi8(16);
    for (int y = 0; y < h; ++y) {
        uint8_t *row = dst + static_cast<ptrdiff_t>(y) * stride;
        int x = 0;
        for (; x + 16 <= w; x += 16) {
            const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + x));
            const __m128i band = _mm_and_si128(_mm_srli_epi16(s, 3), mask31);
            const __m128i high = _mm_cmpeq_epi8(_mm_and_si128(band, bit16), bit16);
            const __m128i off = _mm_blendv_epi8(_mm_shuffle_epi8(tableLo, band), _mm_shuffle_epi8(tableHi, band), high);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(row + x), addOffsets(s, off));
        }
        for (; x < w; ++x)
            row[x] = clipPixel(row[x] + offsetOfBand[row[x] >> 3]);
    }
}

constexpr int kEoDx[4] = {-1, 0, -1, 1};
constexpr int kEoDy[4] = {0, -1, -1, -1};

// 1 where a > b, else 0, for unsigned bytes.
H265D_SSE41 inline __m128i greater(__m128i a, __m128i b)
{
    return _mm_andnot_si128(_mm_cmpeq_epi8(_mm_subs_epu8(a, b), _mm_setzero_si128()), _mm_set1_epi8(1));
}

H265D_SSE41 void saoEdgeSse41(uint8_t *dst, const uint8_t *src, int stride, const H265D_SAO_PARAMS *sao, unsigned avail,
                              int w, int h, int cIdx)
{
    static constexpr uint8_t kRemap[5] = {1, 2, 0, 3, 4};
    const int cls = sao->SaoEoClass[cIdx];
    const int dx = kEoDx[cls], dy = kEoDy[cls];
    const ptrdiff_t offA = static_cast<ptrdiff_t>(dy) * stride + dx;
    alignas(16) int8_t offset[16] = {};
    for (int k = 0; k < 5; ++k)
        offset[k] = sao->SaoOffsetVal[cIdx][kRemap[k]];
    const __m128i table = _mm_load_si128(reinterpret_cast<const __m128i *>(offset));
    const bool needsX = dx != 0, needsY = dy != 0;
    const int x0 = needsX && !(avail & H265D_SAO_AVAIL_LEFT) ? 1 : 0;
    const int x1 = needsX && !(avail & H265D_SAO_AVAIL_RIGHT) ? w - 1 : w;
    const int y0 = needsY && !(avail & H265D_SAO_AVAIL_ABOVE) ? 1 : 0;
    const int y1 = needsY && !(avail & H265D_SAO_AVAIL_BELOW) ? h - 1 : h;
    const __m128i two = _mm_set1_epi8(2);
    for (int y = y0; y < y1; ++y) {
        const uint8_t *s = src + static_cast<ptrdiff_t>(y) * stride;
        uint8_t *d = dst + static_cast<ptrdiff_t>(y) * stride;
        int x = x0;
        for (; x + 16 <= x1; x += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + x));
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + x + offA));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + x - offA));
            // 2 + Sign(v - a) + Sign(v - b), computed as 2 + gt(v,a) - gt(a,v) + gt(v,b) - gt(b,v).
            __m128i idx = _mm_add_epi8(two, _mm_add_epi8(greater(v, a), greater(v, b)));
            idx = _mm_sub_epi8(idx, _mm_add_epi8(greater(a, v), greater(b, v)));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(d + x), addOffsets(v, _mm_shuffle_epi8(table, idx)));
        }
        for (; x < x1; ++x) {
            const int v = s[x], a = s[x + offA], b = s[x - offA];
            d[x] = clipPixel(v + offset[2 + (v > a) - (v < a) + (v > b) - (v < b)]);
        }
    }
}

// ---- Deblocking. Samples across the edge are held as eight 16-bit lanes,
// one per line: r[0..3] = p3..p0, r[4..7] = q0..q3.

// Transposes the 8 x 8 bytes around a vertical edge (pix - 4 .. pix + 3 on 8
// lines) into 16-bit rows r[0..7].
H265D_SSE2 inline void loadAcross(const uint8_t *pix, int stride, __m128i r[8])
{
    __m128i l[8];
    for (int i = 0; i < 8; ++i)
        l[i] = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(pix - 4 + static_cast<ptrdiff_t>(i) * stride));
    const __m128i a0 = _mm_unpacklo_epi8(l[0], l[1]), a1 = _mm_unpacklo_epi8(l[2], l[3]);
    const __m128i a2 = _mm_unpacklo_epi8(l[4], l[5]), a3 = _mm_unpacklo_epi8(l[6], l[7]);
    const __m128i b0 = _mm_unpacklo_epi16(a0, a1), b1 = _mm_unpackhi_epi16(a0, a1);
    const __m128i b2 = _mm_unpacklo_epi16(a2, a3), b3 = _mm_unpackhi_epi16(a2, a3);
    const __m128i c0 = _mm_unpacklo_epi32(b0, b2), c1 = _mm_unpackhi_epi32(b0, b2);
    const __m128i c2 = _mm_unpacklo_epi32(b1, b3), c3 = _mm_unpackhi_epi32(b1, b3);
    // c0 holds columns 0 and 1 as two 8-byte halves, and so on.
    const __m128i zero = _mm_setzero_si128();
    r[0] = _mm_unpacklo_epi8(c0, zero);
    r[1] = _mm_unpackhi_epi8(c0, zero);
    r[2] = _mm_unpacklo_epi8(c1, zero);
    r[3] = _mm_unpackhi_epi8(c1, zero);
    r[4] = _mm_unpacklo_epi8(c2, zero);
    r[5] = _mm_unpackhi_epi8(c2, zero);
    r[6] = _mm_unpacklo_epi8(c3, zero);
    r[7] = _mm_unpackhi_epi8(c3, zero);
}

H265D_SSE2 inline void storeAcross(uint8_t *pix, int stride, const __m128i r[8])
{
    const __m128i c0 = _mm_packus_epi16(r[0], r[1]), c1 = _mm_packus_epi16(r[2], r[3]);
    const __m128i c2 = _mm_packus_epi16(r[4], r[5]), c3 = _mm_packus_epi16(r[6], r[7]);
    // Rows hold column pairs; interleave back into lines.
    const __m128i a0 = _mm_unpacklo_epi8(c0, _mm_srli_si128(c0, 8)); // cols 0,1 per line
    const __m128i a1 = _mm_unpacklo_epi8(c1, _mm_srli_si128(c1, 8));
    const __m128i a2 = _mm_unpacklo_epi8(c2, _mm_srli_si128(c2, 8));
    const __m128i a3 = _mm_unpacklo_epi8(c3, _mm_srli_si128(c3, 8));
    const __m128i b0 = _mm_unpacklo_epi16(a0, a1), b1 = _mm_unpackhi_epi16(a0, a1); // cols 0..3, lines 0..3 / 4..7
    const __m128i b2 = _mm_unpacklo_epi16(a2, a3), b3 = _mm_unpackhi_epi16(a2, a3); // cols 4..7
    const __m128i l01 = _mm_unpacklo_epi32(b0, b2), l23 = _mm_unpackhi_epi32(b0, b2);
    const __m128i l45 = _mm_unpacklo_epi32(b1, b3), l67 = _mm_unpackhi_epi32(b1, b3);
    const __m128i lines[4] = {l01, l23, l45, l67};
    for (int i = 0; i < 4; ++i) {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(pix - 4 + static_cast<ptrdiff_t>(2 * i) * stride), lines[i]);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(pix - 4 + static_cast<ptrdiff_t>(2 * i + 1) * stride),
                         _mm_srli_si128(lines[i], 8));
    }
}

H265D_SSE2 inline __m128i clampAround(__m128i v, __m128i centre, __m128i range)
{
    return _mm_min_epi16(_mm_max_epi16(v, _mm_sub_epi16(centre, range)), _mm_add_epi16(centre, range));
}

H265D_SSE2 inline __m128i halves(int a, int b)
{
    return _mm_set_epi16(short(b), short(b), short(b), short(b), short(a), short(a), short(a), short(a));
}

// Decisions of one 4-line half from its lines 0 and 3: 0 no filter, 1
// normal, 2 strong; dEp, dEq for the normal filter.
struct HalfDecision
{
    int mode = 0;
    bool dEp = false, dEq = false;
};

// Lanes 0..3 and 4..7 each in reverse: added to the original, lanes 0 and 4
// hold the sums of each half's lines 0 and 3.
H265D_SSE2 inline __m128i reverseHalves(__m128i v)
{
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0x1B), 0x1B);
}

// The decisions of both halves at once, from every line; only lines 0 and 3
// of each half (lanes 0, 3, 4 and 7) are read out.
H265D_SSE41 inline void decide(const __m128i r[8], const int32_t *beta, const int32_t *tc, HalfDecision d[2])
{
    const __m128i p3 = r[0], p2 = r[1], p1 = r[2], p0 = r[3], q0 = r[4], q1 = r[5], q2 = r[6], q3 = r[7];
    const __m128i dp = _mm_abs_epi16(_mm_add_epi16(_mm_sub_epi16(p2, _mm_add_epi16(p1, p1)), p0));
    const __m128i dq = _mm_abs_epi16(_mm_add_epi16(_mm_sub_epi16(q2, _mm_add_epi16(q1, q1)), q0));
    const __m128i dpq = _mm_add_epi16(dp, dq);
    const __m128i strongLine = _mm_and_si128(
        _mm_and_si128(
            _mm_cmplt_epi16(_mm_add_epi16(dpq, dpq), halves(beta[0] >> 2, beta[1] >> 2)),
            _mm_cmplt_epi16(_mm_add_epi16(_mm_abs_epi16(_mm_sub_epi16(p3, p0)), _mm_abs_epi16(_mm_sub_epi16(q0, q3))),
                            halves(beta[0] >> 3, beta[1] >> 3))),
        _mm_cmplt_epi16(_mm_abs_epi16(_mm_sub_epi16(p0, q0)), halves((5 * tc[0] + 1) >> 1, (5 * tc[1] + 1) >> 1)));
    const __m128i side = halves((beta[0] + (beta[0] >> 1)) >> 3, (beta[1] + (beta[1] >> 1)) >> 3);
    const int on = _mm_movemask_epi8(_mm_cmplt_epi16(_mm_add_epi16(dpq, reverseHalves(dpq)), halves(beta[0], beta[1])));
    const int strong = _mm_movemask_epi8(strongLine);
    const int ep = _mm_movemask_epi8(_mm_cmplt_epi16(_mm_add_epi16(dp, reverseHalves(dp)), side));
    const int eq = _mm_movemask_epi8(_mm_cmplt_epi16(_mm_add_epi16(dq, reverseHalves(dq)), side));
    for (int h = 0; h < 2; ++h) {
        // Lane 4h is bit 8h of a byte mask, lane 4h + 3 bit 8h + 6.
        const int l0 = 8 * h, l3 = 8 * h + 6;
        d[h] = HalfDecision();
        if (tc[h] == 0 || !((on >> l0) & 1))
            continue;
        if (((strong >> l0) & 1) && ((strong >> l3) & 1)) {
            d[h].mode = 2;
            continue;
        }
        d[h].mode = 1;
        d[h].dEp = (ep >> l0) & 1;
        d[h].dEq = (eq >> l0) & 1;
    }
}

// The strong result (clipped to 2 tc around the sample) where the strong
// mask is set, the normal result where its mask is set, else the sample.
H265D_SSE41 inline __m128i pick(__m128i orig, __m128i strongV, __m128i tc2, __m128i strongMask, __m128i normalV,
                                __m128i normalMask)
{
    const __m128i out = _mm_blendv_epi8(orig, clampAround(strongV, orig, tc2), strongMask);
    return _mm_blendv_epi8(out, normalV, normalMask);
}

// Filters r in place for both halves.
H265D_SSE41 void lumaFilter(__m128i r[8], const int32_t *beta, const int32_t *tc)
{
    HalfDecision d[2];
    decide(r, beta, tc, d);
    const HalfDecision &d0 = d[0], &d1 = d[1];
    if (d0.mode == 0 && d1.mode == 0)
        return;
    const __m128i p3 = r[0], p2 = r[1], p1 = r[2], p0 = r[3], q0 = r[4], q1 = r[5], q2 = r[6], q3 = r[7];
    const __m128i tcv = halves(tc[0], tc[1]);
    const __m128i strongMask = halves(d0.mode == 2 ? -1 : 0, d1.mode == 2 ? -1 : 0);
    const __m128i normalMask = halves(d0.mode == 1 ? -1 : 0, d1.mode == 1 ? -1 : 0);
    const __m128i four = _mm_set1_epi16(4), twoC = _mm_set1_epi16(2);
    // Strong filter, before its clip to 2 tc around each sample.
    const __m128i tc2 = _mm_add_epi16(tcv, tcv);
    const __m128i sp0 =
        _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(p2, _mm_slli_epi16(_mm_add_epi16(p1, _mm_add_epi16(p0, q0)), 1)),
                                     _mm_add_epi16(q1, four)),
                       3);
    const __m128i sp1 =
        _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(p2, p1), _mm_add_epi16(_mm_add_epi16(p0, q0), twoC)), 2);
    const __m128i sp2 =
        _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(p3, 1), _mm_add_epi16(_mm_add_epi16(p2, p2), p2)),
                                     _mm_add_epi16(_mm_add_epi16(p1, p0), _mm_add_epi16(q0, four))),
                       3);
    const __m128i sq0 =
        _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(q2, _mm_slli_epi16(_mm_add_epi16(q1, _mm_add_epi16(q0, p0)), 1)),
                                     _mm_add_epi16(p1, four)),
                       3);
    const __m128i sq1 =
        _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(q2, q1), _mm_add_epi16(_mm_add_epi16(q0, p0), twoC)), 2);
    const __m128i sq2 =
        _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(q3, 1), _mm_add_epi16(_mm_add_epi16(q2, q2), q2)),
                                     _mm_add_epi16(_mm_add_epi16(q1, q0), _mm_add_epi16(p0, four))),
                       3);
    // Normal filter.
    __m128i delta =
        _mm_srai_epi16(_mm_add_epi16(_mm_sub_epi16(_mm_mullo_epi16(_mm_sub_epi16(q0, p0), _mm_set1_epi16(9)),
                                                   _mm_mullo_epi16(_mm_sub_epi16(q1, p1), _mm_set1_epi16(3))),
                                     _mm_set1_epi16(8)),
                       4);
    const __m128i absDelta = _mm_abs_epi16(delta);
    const __m128i apply =
        _mm_and_si128(normalMask, _mm_cmplt_epi16(absDelta, _mm_mullo_epi16(tcv, _mm_set1_epi16(10))));
    delta = _mm_min_epi16(_mm_max_epi16(delta, _mm_sub_epi16(_mm_setzero_si128(), tcv)), tcv);
    const __m128i zero = _mm_setzero_si128(), maxv = _mm_set1_epi16(255);
    const __m128i np0 = _mm_min_epi16(_mm_max_epi16(_mm_add_epi16(p0, delta), zero), maxv);
    const __m128i nq0 = _mm_min_epi16(_mm_max_epi16(_mm_sub_epi16(q0, delta), zero), maxv);
    const __m128i tcHalf = _mm_srai_epi16(tcv, 1);
    const __m128i one = _mm_set1_epi16(1);
    __m128i dp = _mm_srai_epi16(
        _mm_add_epi16(_mm_sub_epi16(_mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(p2, p0), one), 1), p1), delta), 1);
    dp = _mm_min_epi16(_mm_max_epi16(dp, _mm_sub_epi16(zero, tcHalf)), tcHalf);
    __m128i dq = _mm_srai_epi16(
        _mm_sub_epi16(_mm_sub_epi16(_mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(q2, q0), one), 1), q1), delta), 1);
    dq = _mm_min_epi16(_mm_max_epi16(dq, _mm_sub_epi16(zero, tcHalf)), tcHalf);
    const __m128i np1 = _mm_min_epi16(_mm_max_epi16(_mm_add_epi16(p1, dp), zero), maxv);
    const __m128i nq1 = _mm_min_epi16(_mm_max_epi16(_mm_add_epi16(q1, dq), zero), maxv);
    const __m128i applyP1 = _mm_and_si128(apply, halves(d0.dEp ? -1 : 0, d1.dEp ? -1 : 0));
    const __m128i applyQ1 = _mm_and_si128(apply, halves(d0.dEq ? -1 : 0, d1.dEq ? -1 : 0));
    r[1] = pick(p2, sp2, tc2, strongMask, p2, zero);
    r[2] = pick(p1, sp1, tc2, strongMask, np1, applyP1);
    r[3] = pick(p0, sp0, tc2, strongMask, np0, apply);
    r[4] = pick(q0, sq0, tc2, strongMask, nq0, apply);
    r[5] = pick(q1, sq1, tc2, strongMask, nq1, applyQ1);
    r[6] = pick(q2, sq2, tc2, strongMask, q2, zero);
}

H265D_SSE41 void deblockLumaVSse41(uint8_t *pix, int stride, const int32_t *beta, const int32_t *tc, const uint8_t *,
                                   const uint8_t *)
{
    __m128i r[8];
    loadAcross(pix, stride, r);
    lumaFilter(r, beta, tc);
    storeAcross(pix, stride, r);
}

H265D_SSE41 void deblockLumaHSse41(uint8_t *pix, int stride, const int32_t *beta, const int32_t *tc, const uint8_t *,
                                   const uint8_t *)
{
    __m128i r[8];
    const __m128i zero = _mm_setzero_si128();
    for (int i = 0; i < 8; ++i)
        r[i] = _mm_unpacklo_epi8(
            _mm_loadl_epi64(reinterpret_cast<const __m128i *>(pix + static_cast<ptrdiff_t>(i - 4) * stride)), zero);
    lumaFilter(r, beta, tc);
    for (int i = 1; i < 7; ++i)
        _mm_storel_epi64(reinterpret_cast<__m128i *>(pix + static_cast<ptrdiff_t>(i - 4) * stride),
                         _mm_packus_epi16(r[i], r[i]));
}

// Chroma: delta = Clip3(-tc, tc, (4 (q0 - p0) + p1 - q1 + 4) >> 3) on eight lanes.
H265D_SSE2 void chromaFilter(__m128i &p1, __m128i &p0, __m128i &q0, __m128i &q1, const int32_t *tc)
{
    const __m128i tcv = halves(tc[0], tc[1]);
    __m128i delta =
        _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(_mm_sub_epi16(q0, p0), 2), _mm_sub_epi16(p1, q1)),
                                     _mm_set1_epi16(4)),
                       3);
    delta = _mm_min_epi16(_mm_max_epi16(delta, _mm_sub_epi16(_mm_setzero_si128(), tcv)), tcv);
    const __m128i zero = _mm_setzero_si128(), maxv = _mm_set1_epi16(255);
    p0 = _mm_min_epi16(_mm_max_epi16(_mm_add_epi16(p0, delta), zero), maxv);
    q0 = _mm_min_epi16(_mm_max_epi16(_mm_sub_epi16(q0, delta), zero), maxv);
}

H265D_SSE2 void deblockChromaVSse2(uint8_t *pix, int stride, const int32_t *tc, const uint8_t *, const uint8_t *)
{
    if (tc[0] == 0 && tc[1] == 0)
        return;
    // Four bytes per line (p1 p0 q0 q1), gathered into 16-bit lanes.
    alignas(16) int16_t c[4][8];
    for (int l = 0; l < 8; ++l)
        for (int i = 0; i < 4; ++i)
            c[i][l] = pix[static_cast<ptrdiff_t>(l) * stride + i - 2];
    __m128i p1 = _mm_load_si128(reinterpret_cast<const __m128i *>(c[0]));
    __m128i p0 = _mm_load_si128(reinterpret_cast<const __m128i *>(c[1]));
    __m128i q0 = _mm_load_si128(reinterpret_cast<const __m128i *>(c[2]));
    __m128i q1 = _mm_load_si128(reinterpret_cast<const __m128i *>(c[3]));
    chromaFilter(p1, p0, q0, q1, tc);
    _mm_store_si128(reinterpret_cast<__m128i *>(c[1]), p0);
    _mm_store_si128(reinterpret_cast<__m128i *>(c[2]), q0);
    for (int l = 0; l < 8; ++l) {
        pix[static_cast<ptrdiff_t>(l) * stride - 1] = uint8_t(c[1][l]);
        pix[static_cast<ptrdiff_t>(l) * stride] = uint8_t(c[2][l]);
    }
}

H265D_SSE2 void deblockChromaHSse2(uint8_t *pix, int stride, const int32_t *tc, const uint8_t *, const uint8_t *)
{
    if (tc[0] == 0 && tc[1] == 0)
        return;
    const __m128i zero = _mm_setzero_si128();
    auto row = [&](int i) {
        return _mm_unpacklo_epi8(
            _mm_loadl_epi64(reinterpret_cast<const __m128i *>(pix + static_cast<ptrdiff_t>(i) * stride)), zero);
    };
    __m128i p1 = row(-2), p0 = row(-1), q0 = row(0), q1 = row(1);
    chromaFilter(p1, p0, q0, q1, tc);
    _mm_storel_epi64(reinterpret_cast<__m128i *>(pix - stride), _mm_packus_epi16(p0, p0));
    _mm_storel_epi64(reinterpret_cast<__m128i *>(pix), _mm_packus_epi16(q0, q0));
}

// ---- Border extension: the edge sample broadcast across the side margins;
// the rows above and below are whole-row copies, left to the portable kernel
// (which skips the sides when told the thread type is 1).
template <typename Fill>
inline void padWith(int threadType, uint8_t *plane, int w, int h, int stride, int padX, int padY, Fill fill)
{
    if (threadType != 1) {
        for (int y = 0; y < h; ++y) {
            uint8_t *row = plane + static_cast<ptrdiff_t>(y) * stride;
            fill(row - padX, row[0], padX);
            fill(row + w, row[w - 1], padX);
        }
    }
    padPlane(1, plane, w, h, stride, padX, padY);
}

H265D_SSE2 void fillSse2(uint8_t *dst, uint8_t v, int n)
{
    const __m128i b = _mm_set1_epi8(static_cast<char>(v));
    int x = 0;
    for (; x + 16 <= n; x += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + x), b);
    if (x < n)
        std::memset(dst + x, v, static_cast<size_t>(n - x));
}

H265D_AVX void fillAvx(uint8_t *dst, uint8_t v, int n)
{
    const __m256i b = _mm256_set1_epi8(static_cast<char>(v));
    int x = 0;
    for (; x + 32 <= n; x += 32)
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + x), b);
    if (x < n)
        std::memset(dst + x, v, static_cast<size_t>(n - x));
}

H265D_SSE2 void padPlaneSse2(int threadType, uint8_t *plane, int w, int h, int stride, int padX, int padY)
{
    padWith(threadType, plane, w, h, stride, padX, padY, fillSse2);
}

H265D_AVX void padPlaneAvx(int threadType, uint8_t *plane, int w, int h, int stride, int padX, int padY)
{
    padWith(threadType, plane, w, h, stride, padX, padY, fillAvx);
}

} // namespace

void installDeblockSimd(H265D_DSP_TABLE *t, uint32_t cpuFlags)
{
    if (cpuFlags & H265D_CPU_SSE2) {
        t->slot[H265D_SLOT_DEBLOCK_CHROMA_H].deblockChroma = deblockChromaHSse2;
        t->slot[H265D_SLOT_DEBLOCK_CHROMA_V].deblockChroma = deblockChromaVSse2;
    }
    if (cpuFlags & H265D_CPU_SSE41) {
        t->slot[H265D_SLOT_DEBLOCK_LUMA_H].deblockLuma = deblockLumaHSse41;
        t->slot[H265D_SLOT_DEBLOCK_LUMA_V].deblockLuma = deblockLumaVSse41;
    }
}

void installSaoSimd(H265D_DSP_TABLE *t, uint32_t cpuFlags)
{
    if (cpuFlags & H265D_CPU_SSE41) {
        t->slot[H265D_SLOT_SAO_BAND].saoBand = saoBandSse41;
        t->slot[H265D_SLOT_SAO_EDGE].saoEdge = saoEdgeSse41;
    }
}

void installPadSimd(H265D_DSP_TABLE *t, uint32_t cpuFlags)
{
    if (cpuFlags & H265D_CPU_SSE2)
        t->slot[H265D_SLOT_EXTEND_BORDER].extendBorder = padPlaneSse2;
    if (cpuFlags & H265D_CPU_AVX)
        t->slot[H265D_SLOT_EXTEND_BORDER].extendBorder = padPlaneAvx;
}

} // namespace dsp

#endif

} // namespace h265d
