// Vector intra predictors and reference smoothing (SSE2, SSSE3, SSE4.1),
// bit-identical to the portable ones. Interpolation between two reference
// samples is a byte multiply-add with the weight pair (32 - f, f) and a
// rounding multiply-high, (x * 1024 + 16384) >> 15 = (x + 16) >> 5. Blocks
// are written exactly; reads stay inside the reference arrays and their
// guards.
#include "hevc/dsp/dsp_simd.h"

#include <algorithm>
#include <cstdlib>

namespace h265d {

#ifdef H265D_HAVE_X86

namespace dsp {

namespace {

// Copies one row of N bytes.
template <int N>
H265D_SSE41 inline void copyRow(uint8_t *dst, const uint8_t *src)
{
    if constexpr (N <= 8) {
        storeBytes(dst, loadBytes(src, N), N);
    } else {
        for (int x = 0; x < N; x += 16)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + x),
                             _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + x)));
    }
}

template <int N>
H265D_SSE41 inline void fillRow(uint8_t *dst, int value)
{
    const __m128i v = _mm_set1_epi8(static_cast<char>(value));
    if constexpr (N <= 8) {
        storeBytes(dst, v, N);
    } else {
        for (int x = 0; x < N; x += 16)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + x), v);
    }
}

template <int Log2N>
H265D_SSE41 void planarSse(const uint8_t *top, const uint8_t *left, int stride, uint8_t *dst)
{
    constexpr int N = 1 << Log2N;
    constexpr int G = N < 8 ? N : 8;
    const __m128i topRight = _mm_set1_epi16(top[N]);
    const __m128i bottomLeft = _mm_set1_epi16(left[N]);
    const __m128i round = _mm_set1_epi16(N);
    const __m128i shift = _mm_cvtsi32_si128(Log2N + 1);
    for (int x0 = 0; x0 < N; x0 += G) {
        const __m128i xs = _mm_add_epi16(_mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7), _mm_set1_epi16(int16_t(x0)));
        const __m128i wLeft = _mm_sub_epi16(_mm_set1_epi16(N - 1), xs);  // N - 1 - x
        const __m128i wRight = _mm_add_epi16(xs, _mm_set1_epi16(1));     // x + 1
        const __m128i above = _mm_cvtepu8_epi16(loadBytes(top + x0, G)); // top[x]
        // The parts that do not depend on y: (x + 1) * top[N] + top[x] * (N - 1) + N.
        __m128i base = _mm_add_epi16(_mm_mullo_epi16(wRight, topRight), round);
        base = _mm_add_epi16(base, _mm_mullo_epi16(above, _mm_set1_epi16(N - 1)));
        for (int y = 0; y < N; ++y) {
            // (N - 1 - y) * top[x] = (N - 1) * top[x] - y * top[x]
            __m128i v = _mm_sub_epi16(base, _mm_mullo_epi16(above, _mm_set1_epi16(int16_t(y))));
            v = _mm_add_epi16(v, _mm_mullo_epi16(wLeft, _mm_set1_epi16(left[y])));
            v = _mm_add_epi16(v, _mm_mullo_epi16(bottomLeft, _mm_set1_epi16(int16_t(y + 1))));
            v = _mm_srl_epi16(v, shift);
            storeBytes(dst + y * stride + x0, _mm_packus_epi16(v, v), G);
        }
    }
}

// One line of the angular process: out[j] = ((32 - f) * ref[j] + f * ref[j + 1] + 16) >> 5.
template <int N>
H265D_SSE41 inline void angularLine(uint8_t *out, const uint8_t *ref, int fact)
{
    constexpr int G = N < 8 ? N : 8;
    const __m128i weights = _mm_set1_epi16(static_cast<int16_t>((32 - fact) | (fact << 8)));
    const __m128i round = _mm_set1_epi16(1024);
    for (int j = 0; j < N; j += G) {
        const __m128i a = loadBytes(ref + j, G);
        const __m128i b = loadBytes(ref + j + 1, G);
        const __m128i v = _mm_mulhrs_epi16(_mm_maddubs_epi16(_mm_unpacklo_epi8(a, b), weights), round);
        storeBytes(out + j, _mm_packus_epi16(v, v), G);
    }
}

// Writes the transpose of the 8 x 8 bytes at src into dst.
H265D_SSE41 inline void transpose8x8(const uint8_t *src, int srcStride, uint8_t *dst, int dstStride)
{
    __m128i r[8];
    for (int k = 0; k < 8; ++k)
        r[k] = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(src + k * srcStride));
    const __m128i a0 = _mm_unpacklo_epi8(r[0], r[1]), a1 = _mm_unpacklo_epi8(r[2], r[3]);
    const __m128i a2 = _mm_unpacklo_epi8(r[4], r[5]), a3 = _mm_unpacklo_epi8(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi16(a0, a1), b1 = _mm_unpackhi_epi16(a0, a1);
    const __m128i b2 = _mm_unpacklo_epi16(a2, a3), b3 = _mm_unpackhi_epi16(a2, a3);
    const __m128i cols[4] = {_mm_unpacklo_epi32(b0, b2), _mm_unpackhi_epi32(b0, b2), _mm_unpacklo_epi32(b1, b3),
                             _mm_unpackhi_epi32(b1, b3)};
    for (int k = 0; k < 4; ++k) {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + (2 * k) * dstStride), cols[k]);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + (2 * k + 1) * dstStride), _mm_srli_si128(cols[k], 8));
    }
}

template <int Log2N>
H265D_SSE41 void angularSse(int, int mode, uint8_t *top, uint8_t *left, int stride, uint8_t *dst)
{
    constexpr int N = 1 << Log2N;
    const int angle = kIntraPredAngle[mode];
    const bool vertical = mode >= 18;
    uint8_t *main = vertical ? top : left;
    const uint8_t *side = vertical ? left : top;
    if (angle < 0) {
        const int last = (N * angle) >> 5;
        if (last < -1) {
            const int inv = kIntraInvAngle[mode];
            for (int x = last; x <= -1; ++x)
                main[x - 1] = side[((x * inv + 128) >> 8) - 1];
        }
    }
    if (vertical) {
        for (int i = 0; i < N; ++i)
            angularLine<N>(dst + i * stride, main + (((i + 1) * angle) >> 5), ((i + 1) * angle) & 31);
        return;
    }
    // Lines are columns: predict them as rows, then transpose.
    alignas(16) uint8_t lines[N * N];
    for (int i = 0; i < N; ++i)
        angularLine<N>(lines + i * N, main + (((i + 1) * angle) >> 5), ((i + 1) * angle) & 31);
    if constexpr (N == 4) {
        for (int y = 0; y < N; ++y)
            for (int x = 0; x < N; ++x)
                dst[y * stride + x] = lines[x * N + y];
    } else {
        for (int i = 0; i < N; i += 8)
            for (int j = 0; j < N; j += 8)
                transpose8x8(lines + i * N + j, N, dst + j * stride + i, stride);
    }
}

H265D_SSE41 void dc32Sse(int, uint8_t *top, uint8_t *left, int stride, uint8_t *dst)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i sum = _mm_setzero_si128();
    for (int k = 0; k < 32; k += 16) {
        sum = _mm_add_epi64(sum, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(top + k)), zero));
        sum = _mm_add_epi64(sum, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(left + k)), zero));
    }
    const int total = _mm_cvtsi128_si32(sum) + _mm_extract_epi32(sum, 2);
    const int dc = (total + 32) >> 6;
    for (int y = 0; y < 32; ++y)
        fillRow<32>(dst + y * stride, dc);
}

template <int Log2N>
H265D_SSE41 void verticalSse(int cIdx, uint8_t *top, uint8_t *left, int stride, uint8_t *dst)
{
    constexpr int N = 1 << Log2N;
    for (int y = 0; y < N; ++y)
        copyRow<N>(dst + y * stride, top);
    if (cIdx != 0 || N == 32)
        return;
    for (int y = 0; y < N; ++y)
        dst[y * stride] = clipPixel(top[0] + ((left[y] - left[-1]) >> 1));
}

template <int Log2N>
H265D_SSE41 void horizontalSse(int cIdx, uint8_t *top, uint8_t *left, int stride, uint8_t *dst)
{
    constexpr int N = 1 << Log2N;
    for (int y = 0; y < N; ++y)
        fillRow<N>(dst + y * stride, left[y]);
    if (cIdx != 0 || N == 32)
        return;
    for (int x = 0; x < N; ++x)
        dst[x] = clipPixel(left[0] + ((top[x] - top[-1]) >> 1));
}

template <int Log2N>
H265D_SSE41 void diagonalUpSse(int, uint8_t *top, uint8_t *, int stride, uint8_t *dst)
{
    constexpr int N = 1 << Log2N;
    for (int y = 0; y < N; ++y)
        copyRow<N>(dst + y * stride, top + y + 1);
}

template <int Log2N>
H265D_SSE41 void diagonalDownSse(int, uint8_t *, uint8_t *left, int stride, uint8_t *dst)
{
    constexpr int N = 1 << Log2N;
    for (int y = 0; y < N; ++y)
        copyRow<N>(dst + y * stride, left + y + 1);
}

template <int Log2N>
H265D_SSE41 void diagonalMidSse(int, uint8_t *top, uint8_t *left, int stride, uint8_t *dst)
{
    constexpr int N = 1 << Log2N;
    for (int k = 1; k <= N; ++k)
        top[-1 - k] = left[k - 1];
    for (int y = 0; y < N; ++y)
        copyRow<N>(dst + y * stride, top - y - 1);
}

// [1 2 1] of the samples a[1 .. n - 1] of the run a[0 .. n] into out[0 .. n - 2].
H265D_SSE41 inline void filterRun(const uint8_t *a, int n, uint8_t *out)
{
    const __m128i two = _mm_set1_epi16(2);
    int k = 1;
    for (; k + 8 <= n; k += 8) {
        const __m128i l = _mm_cvtepu8_epi16(loadBytes(a + k - 1, 8));
        const __m128i m = _mm_cvtepu8_epi16(loadBytes(a + k, 8));
        const __m128i r = _mm_cvtepu8_epi16(loadBytes(a + k + 1, 8));
        const __m128i v =
            _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(l, r), _mm_add_epi16(_mm_slli_epi16(m, 1), two)), 2);
        storeBytes(out + k - 1, _mm_packus_epi16(v, v), 8);
    }
    for (; k < n; ++k)
        out[k - 1] = static_cast<uint8_t>((a[k - 1] + 2 * a[k] + a[k + 1] + 2) >> 2);
}

template <int Log2N>
H265D_SSE41 void smoothSse(int strongEnabled, int mode, uint8_t *left, uint8_t *top)
{
    constexpr int N = 1 << Log2N;
    constexpr int kThreshold = Log2N == 3 ? 7 : (Log2N == 4 ? 1 : 0);
    if (mode == 1)
        return;
    const int dist = std::min(std::abs(mode - 26), std::abs(mode - 10));
    if (dist <= kThreshold)
        return;
    const int corner = top[-1];
    if (N == 32 && strongEnabled) {
        const int lastLeft = left[2 * N - 1];
        const int lastTop = top[2 * N - 1];
        if (std::abs(corner + lastTop - 2 * top[N - 1]) < 8 && std::abs(corner + lastLeft - 2 * left[N - 1]) < 8) {
            // ((63 - i) * corner + (i + 1) * last + 32) >> 6 stays below 16 bits.
            const __m128i c = _mm_set1_epi16(int16_t(corner));
            for (int i = 0; i < 2 * N - 1; i += 8) {
                const __m128i is = _mm_add_epi16(_mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7), _mm_set1_epi16(int16_t(i)));
                const __m128i wc = _mm_sub_epi16(_mm_set1_epi16(63), is);
                const __m128i wl = _mm_add_epi16(is, _mm_set1_epi16(1));
                const __m128i base = _mm_add_epi16(_mm_mullo_epi16(wc, c), _mm_set1_epi16(32));
                const __m128i l =
                    _mm_srli_epi16(_mm_add_epi16(base, _mm_mullo_epi16(wl, _mm_set1_epi16(int16_t(lastLeft)))), 6);
                const __m128i t =
                    _mm_srli_epi16(_mm_add_epi16(base, _mm_mullo_epi16(wl, _mm_set1_epi16(int16_t(lastTop)))), 6);
                const int n = 2 * N - 1 - i < 8 ? 2 * N - 1 - i : 8;
                storeBytes(left + i, _mm_packus_epi16(l, l), n);
                storeBytes(top + i, _mm_packus_epi16(t, t), n);
            }
            return;
        }
    }
    alignas(16) uint8_t l[2 * N + 1], t[2 * N + 1];
    std::memcpy(l, left - 1, sizeof l);
    std::memcpy(t, top - 1, sizeof t);
    filterRun(l, 2 * N, left);
    filterRun(t, 2 * N, top);
    const uint8_t c = static_cast<uint8_t>((l[1] + 2 * corner + t[1] + 2) >> 2);
    left[-1] = c;
    top[-1] = c;
}

template <int Log2N>
void installSize(H265D_DSP_TABLE *t)
{
    t->slot[H265D_SLOT_INTRA_PLANAR + Log2N].intraPlanar = planarSse<Log2N>;
    t->slot[H265D_SLOT_INTRA_ANGULAR + Log2N].intraAngular = angularSse<Log2N>;
    t->slot[H265D_SLOT_INTRA_VERTICAL + Log2N].intra = verticalSse<Log2N>;
    t->slot[H265D_SLOT_INTRA_HORIZONTAL + Log2N].intra = horizontalSse<Log2N>;
    t->slot[H265D_SLOT_INTRA_DIAG_UP + Log2N].intra = diagonalUpSse<Log2N>;
    t->slot[H265D_SLOT_INTRA_DIAG_DOWN + Log2N].intra = diagonalDownSse<Log2N>;
    t->slot[H265D_SLOT_INTRA_DIAG_MID + Log2N].intra = diagonalMidSse<Log2N>;
    if constexpr (Log2N >= 3)
        t->slot[H265D_SLOT_INTRA_SMOOTH + Log2N].intraSmooth = smoothSse<Log2N>;
}

} // namespace

void installIntraSse41(H265D_DSP_TABLE *t)
{
    installSize<2>(t);
    installSize<3>(t);
    installSize<4>(t);
    installSize<5>(t);
    t->slot[H265D_SLOT_INTRA_DC + 5].intra = dc32Sse; // the smaller DC kernels stay portable
}

} // namespace dsp

#endif

} // namespace h265d
