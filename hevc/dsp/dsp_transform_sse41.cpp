// Vector dequantisation and inverse transforms (SSE2 and SSE4.1),
// bit-identical to the portable kernels: both stages are products with the
// standard's matrix done by 16-bit multiply-adds over pairs of frequencies,
// the first stage's 16-bit clip is the signed pack, the final clip the
// unsigned pack.
#include "hevc/dsp/dsp_simd.h"

#ifdef H265D_HAVE_X86

namespace h265d::dsp {

namespace {

// pairs[k / 2][i]: the basis values of frequencies k and k + 1 at sample i as
// one 32-bit word (low half k), the operand layout of the multiply-add.
template <int N>
struct PairTable {
    alignas(16) int32_t pairs[N / 2][N];
};

inline int32_t pairOf(int a, int b) { return (a & 0xFFFF) | static_cast<int32_t>(static_cast<uint32_t>(b) << 16); }

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

template <int Log2N>
H265D_SSE41 void idctAddSse(int stride, int16_t *coeffs, uint8_t *dst, int columns)
{
    constexpr int N = 1 << Log2N;
    int cols = N;
    if (N >= 16 && columns > 0 && columns < N)
        cols = columns;
    transformAdd<N>(stride, coeffs, dst, cols, dctPairs<N>());
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
        const __m128i hi = _mm_srai_epi32(
            _mm_add_epi32(_mm_mullo_epi32(_mm_cvtepi16_epi32(_mm_srli_si128(c, 8)), s), round), kShift);
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

} // namespace h265d::dsp

#endif
