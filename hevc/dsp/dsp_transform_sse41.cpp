// Vector dequantisation and inverse transforms (SSE2 and SSE4.1),
// bit-identical to the portable kernels: both stages are products with the
// standard's matrix done by 16-bit multiply-adds over pairs of frequencies,
// the first stage's 16-bit clip is the signed pack, the final clip the
// unsigned pack.
#include "hevc/dsp/dsp_simd.h"

namespace h265d {

#ifdef H265D_HAVE_X86

namespace dsp {

namespace {

// pairs[k / 2][i]: the basis values of frequencies k and k + 1 at sample i as
// one 32-bit word (low half k), the operand layout of the multiply-add.
template <int N>
struct PairTable
{
    alignas(16) int32_t pairs[N / 2][N];
};

inline int32_t pairOf(int a, int b)
{
    return (a & 0xFFFF) | static_cast<int32_t>(static_cast<uint32_t>(b) << 16);
}

template <int N>
const PairTable<N> &dctPairs()
{
    static const PairTable<N> table = [] {
        PairTable<N> t{};
        for (int k = 0; k < N; k += 2)
            for (int i = 0; i < N; ++i)
                t.pairs[k / 2][i] = pairOf(kTransformMatrix[k * (32 / N)][i], kTransformMatrix[(k + 1) * (32 / N)][i]);
        return t;
    }();
    return table;
}

const PairTable<4> &dstPairs()
{
    static const PairTable<4> table = [] {
        PairTable<4> t{};
        for (int k = 0; k < 4; k += 2)
            for (int i = 0; i < 4; ++i)
                t.pairs[k / 2][i] = pairOf(kDstMatrix[k][i], kDstMatrix[k + 1][i]);
        return t;
    }();
    return table;
}

// First stage over the columns x0 .. x0 + G - 1 (G = 8, or 4 for N = 4):
// g[i][x] = clip16((sum_j M[j][i] * c[j][x] + 64) >> 7).
template <int N, int G>
H265D_SSE41 inline void columnStage(const int16_t *c, int16_t *g, int x0, const PairTable<N> &pt)
{
    __m128i lo[N / 2], hi[N / 2];
    bool any[N / 2];
    for (int j = 0; j < N; j += 2) {
        __m128i a, b;
        if constexpr (G == 8) {
            a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(c + j * N + x0));
            b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(c + (j + 1) * N + x0));
        } else {
            a = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(c + j * N + x0));
            b = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(c + (j + 1) * N + x0));
        }
        lo[j / 2] = _mm_unpacklo_epi16(a, b);
        hi[j / 2] = _mm_unpackhi_epi16(a, b);
        any[j / 2] = !_mm_testz_si128(_mm_or_si128(a, b), _mm_or_si128(a, b));
    }
    const __m128i round = _mm_set1_epi32(64);
    for (int i = 0; i < N; ++i) {
        __m128i accLo = round, accHi = round;
        for (int p = 0; p < N / 2; ++p) {
            if (!any[p])
                continue;
            const __m128i m = _mm_set1_epi32(pt.pairs[p][i]);
            accLo = _mm_add_epi32(accLo, _mm_madd_epi16(lo[p], m));
            if constexpr (G == 8)
                accHi = _mm_add_epi32(accHi, _mm_madd_epi16(hi[p], m));
        }
        const __m128i v = _mm_packs_epi32(_mm_srai_epi32(accLo, 7), _mm_srai_epi32(accHi, 7));
        if constexpr (G == 8)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(g + i * N + x0), v);
        else
            _mm_storel_epi64(reinterpret_cast<__m128i *>(g + i * N + x0), v);
    }
}

// Second stage of row y with the residual added to the prediction:
// out[i] = clip(pred[i] + ((sum_k M[k][i] * g[y][k] + 2048) >> 12)), k < cols.
template <int N>
H265D_SSE41 inline void rowStage(const int16_t *gRow, int cols, uint8_t *out, const PairTable<N> &pt)
{
    constexpr int kVecs = N / 4 > 0 ? N / 4 : 1;
    __m128i acc[kVecs];
    for (int v = 0; v < kVecs; ++v)
        acc[v] = _mm_set1_epi32(2048);
    for (int k = 0; k < cols; k += 2) {
        if (gRow[k] == 0 && gRow[k + 1] == 0)
            continue;
        const __m128i g = _mm_set1_epi32(pairOf(gRow[k], gRow[k + 1]));
        for (int v = 0; v < kVecs; ++v)
            acc[v] = _mm_add_epi32(
                acc[v], _mm_madd_epi16(g, _mm_load_si128(reinterpret_cast<const __m128i *>(&pt.pairs[k / 2][v * 4]))));
    }
    for (int v = 0; v < kVecs; v += 2) {
        __m128i r;
        if constexpr (N == 4)
            r = _mm_packs_epi32(_mm_srai_epi32(acc[0], 12), _mm_setzero_si128());
        else
            r = _mm_packs_epi32(_mm_srai_epi32(acc[v], 12), _mm_srai_epi32(acc[v + 1], 12));
        const int n = N == 4 ? 4 : 8;
        const __m128i pred = _mm_cvtepu8_epi16(loadBytes(out + v * 4, n));
        const __m128i sum = _mm_adds_epi16(pred, r);
        storeBytes(out + v * 4, _mm_packus_epi16(sum, sum), n);
    }
}

template <int N>
H265D_SSE41 inline void transformAdd(int stride, const int16_t *coeffs, uint8_t *dst, int cols, const PairTable<N> &pt)
{
    alignas(16) int16_t g[N * N];
    constexpr int G = N == 4 ? 4 : 8;
    for (int x = 0; x < cols; x += G)
        columnStage<N, G>(coeffs, g, x, pt);
    for (int y = 0; y < N; ++y)
        rowStage<N>(g + y * N, cols, dst + y * stride, pt);
}

// The large sizes split each one-dimensional transform into the half-size
// transform of the even frequencies and the odd part, E[n] +- O[n], which
// the matrix's symmetries allow; the sums are the same integers as the full
// products. Eight columns (first stage) or eight rows (second stage, on a
// transposed block) go through it at once.

// oddPairs<N>().pairs[p][n]: frequencies 4p + 1 and 4p + 3 of the N-point basis at sample n < N / 2.
template <int N>
struct OddTable
{
    int32_t pairs[N / 4][N / 2];
};

template <int N>
const OddTable<N> &oddPairs()
{
    static const OddTable<N> table = [] {
        OddTable<N> t{};
        for (int p = 0; p < N / 4; ++p)
            for (int n = 0; n < N / 2; ++n)
                t.pairs[p][n] =
                    pairOf(kTransformMatrix[(4 * p + 1) * (32 / N)][n], kTransformMatrix[(4 * p + 3) * (32 / N)][n]);
        return t;
    }();
    return table;
}

// in[k * step] holds frequency k of eight lanes; lo/hi[n] receive sample n
// of the low and high four lanes as 32-bit sums.
template <int N>
H265D_SSE41 inline void inverse1d(const __m128i *in, int step, __m128i *lo, __m128i *hi)
{
    if constexpr (N == 4) {
        const __m128i evenL = _mm_unpacklo_epi16(in[0], in[2 * step]);
        const __m128i evenH = _mm_unpackhi_epi16(in[0], in[2 * step]);
        const __m128i oddL = _mm_unpacklo_epi16(in[step], in[3 * step]);
        const __m128i oddH = _mm_unpackhi_epi16(in[step], in[3 * step]);
        const __m128i e0 = _mm_set1_epi32(pairOf(64, 64)), e1 = _mm_set1_epi32(pairOf(64, -64));
        const __m128i o0 = _mm_set1_epi32(pairOf(83, 36)), o1 = _mm_set1_epi32(pairOf(36, -83));
        const __m128i e0L = _mm_madd_epi16(evenL, e0), e1L = _mm_madd_epi16(evenL, e1);
        const __m128i e0H = _mm_madd_epi16(evenH, e0), e1H = _mm_madd_epi16(evenH, e1);
        const __m128i o0L = _mm_madd_epi16(oddL, o0), o1L = _mm_madd_epi16(oddL, o1);
        const __m128i o0H = _mm_madd_epi16(oddH, o0), o1H = _mm_madd_epi16(oddH, o1);
        lo[0] = _mm_add_epi32(e0L, o0L);
        lo[1] = _mm_add_epi32(e1L, o1L);
        lo[2] = _mm_sub_epi32(e1L, o1L);
        lo[3] = _mm_sub_epi32(e0L, o0L);
        hi[0] = _mm_add_epi32(e0H, o0H);
        hi[1] = _mm_add_epi32(e1H, o1H);
        hi[2] = _mm_sub_epi32(e1H, o1H);
        hi[3] = _mm_sub_epi32(e0H, o0H);
    } else {
        __m128i eLo[N / 2], eHi[N / 2];
        inverse1d<N / 2>(in, 2 * step, eLo, eHi);
        __m128i uL[N / 4], uH[N / 4];
        bool any[N / 4];
        for (int p = 0; p < N / 4; ++p) {
            const __m128i a = in[(4 * p + 1) * step], b = in[(4 * p + 3) * step];
            uL[p] = _mm_unpacklo_epi16(a, b);
            uH[p] = _mm_unpackhi_epi16(a, b);
            const __m128i either = _mm_or_si128(a, b);
            any[p] = !_mm_testz_si128(either, either);
        }
        const OddTable<N> &t = oddPairs<N>();
        for (int n = 0; n < N / 2; ++n) {
            __m128i oL = _mm_setzero_si128(), oH = _mm_setzero_si128();
            for (int p = 0; p < N / 4; ++p) {
                if (!any[p])
                    continue;
                const __m128i m = _mm_set1_epi32(t.pairs[p][n]);
                oL = _mm_add_epi32(oL, _mm_madd_epi16(uL[p], m));
                oH = _mm_add_epi32(oH, _mm_madd_epi16(uH[p], m));
            }
            lo[n] = _mm_add_epi32(eLo[n], oL);
            lo[N - 1 - n] = _mm_sub_epi32(eLo[n], oL);
            hi[n] = _mm_add_epi32(eHi[n], oH);
            hi[N - 1 - n] = _mm_sub_epi32(eHi[n], oH);
        }
    }
}

// r[k] becomes column k of the 8 x 8 block of 16-bit rows r[0..7].
H265D_SSE41 inline void transpose8x8Words(__m128i *r)
{
    const __m128i t0 = _mm_unpacklo_epi16(r[0], r[1]), t1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i t2 = _mm_unpacklo_epi16(r[2], r[3]), t3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i t4 = _mm_unpacklo_epi16(r[4], r[5]), t5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i t6 = _mm_unpacklo_epi16(r[6], r[7]), t7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i u0 = _mm_unpacklo_epi32(t0, t2), u1 = _mm_unpackhi_epi32(t0, t2);
    const __m128i u2 = _mm_unpacklo_epi32(t1, t3), u3 = _mm_unpackhi_epi32(t1, t3);
    const __m128i u4 = _mm_unpacklo_epi32(t4, t6), u5 = _mm_unpackhi_epi32(t4, t6);
    const __m128i u6 = _mm_unpacklo_epi32(t5, t7), u7 = _mm_unpackhi_epi32(t5, t7);
    r[0] = _mm_unpacklo_epi64(u0, u4);
    r[1] = _mm_unpackhi_epi64(u0, u4);
    r[2] = _mm_unpacklo_epi64(u1, u5);
    r[3] = _mm_unpackhi_epi64(u1, u5);
    r[4] = _mm_unpacklo_epi64(u2, u6);
    r[5] = _mm_unpackhi_epi64(u2, u6);
    r[6] = _mm_unpacklo_epi64(u3, u7);
    r[7] = _mm_unpackhi_epi64(u3, u7);
}

template <int N>
H265D_SSE41 void butterflyAdd(int stride, const int16_t *coeffs, uint8_t *dst, int cols)
{
    alignas(16) int16_t g[N * N];
    const int groups = (cols + 7) / 8; // column groups that can be nonzero
    __m128i in[N], lo[N], hi[N];
    const __m128i round1 = _mm_set1_epi32(64);
    for (int gx = 0; gx < groups; ++gx) {
        for (int k = 0; k < N; ++k)
            in[k] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(coeffs + k * N + gx * 8));
        inverse1d<N>(in, 1, lo, hi);
        for (int n = 0; n < N; ++n)
            _mm_store_si128(reinterpret_cast<__m128i *>(g + n * N + gx * 8),
                            _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lo[n], round1), 7),
                                            _mm_srai_epi32(_mm_add_epi32(hi[n], round1), 7)));
    }
    if (cols <= 8) {
        // Few nonzero columns: the direct product over them is cheaper than
        // transposing the block twice.
        for (int y = 0; y < N; ++y)
            rowStage<N>(g + y * N, cols, dst + y * stride, dctPairs<N>());
        return;
    }
    const __m128i round2 = _mm_set1_epi32(2048);
    for (int y0 = 0; y0 < N; y0 += 8) {
        // in[k]: frequency k of rows y0 .. y0 + 7.
        for (int gx = 0; gx < N / 8; ++gx) {
            __m128i *tile = in + gx * 8;
            if (gx >= groups) {
                for (int j = 0; j < 8; ++j)
                    tile[j] = _mm_setzero_si128();
                continue;
            }
            for (int j = 0; j < 8; ++j)
                tile[j] = _mm_load_si128(reinterpret_cast<const __m128i *>(g + (y0 + j) * N + gx * 8));
            transpose8x8Words(tile);
        }
        inverse1d<N>(in, 1, lo, hi);
        // out[n] holds sample n of rows y0 .. y0 + 7; turn it back into rows.
        for (int n0 = 0; n0 < N; n0 += 8) {
            __m128i r[8];
            for (int j = 0; j < 8; ++j)
                r[j] = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lo[n0 + j], round2), 12),
                                       _mm_srai_epi32(_mm_add_epi32(hi[n0 + j], round2), 12));
            transpose8x8Words(r);
            for (int j = 0; j < 8; ++j) {
                uint8_t *out = dst + (y0 + j) * stride + n0;
                const __m128i sum = _mm_adds_epi16(_mm_cvtepu8_epi16(loadBytes(out, 8)), r[j]);
                storeBytes(out, _mm_packus_epi16(sum, sum), 8);
            }
        }
    }
}

template <int Log2N>
H265D_SSE41 void idctAddSse(int stride, int16_t *coeffs, uint8_t *dst, int columns)
{
    constexpr int N = 1 << Log2N;
    if constexpr (N >= 16) {
        const int cols = columns > 0 && columns < N ? columns : N;
        butterflyAdd<N>(stride, coeffs, dst, cols);
    } else {
        transformAdd<N>(stride, coeffs, dst, N, dctPairs<N>());
    }
}

H265D_SSE41 void idst4x4AddSse(int stride, int16_t *coeffs, uint8_t *dst, int)
{
    transformAdd<4>(stride, coeffs, dst, 4, dstPairs());
}

H265D_SSE41 void transformSkipAddSse(int stride, int16_t *coeffs, uint8_t *dst, int)
{
    for (int y = 0; y < 4; y += 2) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(coeffs + y * 4));
        // (c + 16) >> 5 in 32 bits: c + 16 may leave the 16-bit range.
        const __m128i lo = _mm_srai_epi32(_mm_add_epi32(_mm_cvtepi16_epi32(c), _mm_set1_epi32(16)), 5);
        const __m128i hi =
            _mm_srai_epi32(_mm_add_epi32(_mm_cvtepi16_epi32(_mm_srli_si128(c, 8)), _mm_set1_epi32(16)), 5);
        const __m128i r = _mm_packs_epi32(lo, hi);
        const __m128i pred = _mm_unpacklo_epi32(loadBytes(dst + y * stride, 4), loadBytes(dst + (y + 1) * stride, 4));
        const __m128i sum = _mm_adds_epi16(_mm_cvtepu8_epi16(pred), r);
        const __m128i bytes = _mm_packus_epi16(sum, sum);
        storeBytes(dst + y * stride, bytes, 4);
        storeBytes(dst + (y + 1) * stride, _mm_srli_si128(bytes, 4), 4);
    }
}

template <int Log2N>
H265D_SSE41 void dequantFlatSse(int count, int scale, int16_t *coeffs)
{
    constexpr int kShift = Log2N - 1;
    const __m128i s = _mm_set1_epi32(scale);
    const __m128i round = _mm_set1_epi32(1 << (kShift - 1));
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(coeffs + i));
        const __m128i lo = _mm_srai_epi32(_mm_add_epi32(_mm_mullo_epi32(_mm_cvtepi16_epi32(c), s), round), kShift);
        const __m128i hi =
            _mm_srai_epi32(_mm_add_epi32(_mm_mullo_epi32(_mm_cvtepi16_epi32(_mm_srli_si128(c, 8)), s), round), kShift);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(coeffs + i), _mm_packs_epi32(lo, hi));
    }
    for (; i < count; ++i)
        coeffs[i] = saturate16((int32_t(coeffs[i]) * scale + (1 << (kShift - 1))) >> kShift);
}

} // namespace

void installTransformSse41(H265D_DSP_TABLE *t)
{
    t->slot[H265D_SLOT_DEQUANT_FLAT + 2].dequantFlat = dequantFlatSse<2>;
    t->slot[H265D_SLOT_DEQUANT_FLAT + 3].dequantFlat = dequantFlatSse<3>;
    t->slot[H265D_SLOT_DEQUANT_FLAT + 4].dequantFlat = dequantFlatSse<4>;
    t->slot[H265D_SLOT_DEQUANT_FLAT + 5].dequantFlat = dequantFlatSse<5>;
    t->slot[H265D_SLOT_IDST4].transformAdd = idst4x4AddSse;
    t->slot[H265D_SLOT_IDCT + 2].transformAdd = idctAddSse<2>;
    t->slot[H265D_SLOT_IDCT + 3].transformAdd = idctAddSse<3>;
    t->slot[H265D_SLOT_IDCT + 4].transformAdd = idctAddSse<4>;
    t->slot[H265D_SLOT_IDCT + 5].transformAdd = idctAddSse<5>;
    t->slot[H265D_SLOT_TRANSFORM_SKIP].transformAdd = transformSkipAddSse;
}

} // namespace dsp

#endif

} // namespace h265d
