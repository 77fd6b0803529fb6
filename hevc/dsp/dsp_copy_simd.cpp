// Vector row copies: 16-byte (SSE2) or 32-byte (AVX) moves when the width is
// a multiple of them, else 8-byte moves, else the library copy.
#include "hevc/dsp/dsp_simd.h"

namespace h265d {

#ifdef H265D_HAVE_X86

namespace dsp {

namespace {

H265D_SSE2 bool copyRows8(const uint8_t *src, uint8_t *dst, int width, int rows, int stride)
{
    if (width % 8 != 0)
        return false;
    for (int y = 0; y < rows; ++y) {
        const uint8_t *s = src + static_cast<ptrdiff_t>(y) * stride;
        uint8_t *d = dst + static_cast<ptrdiff_t>(y) * stride;
        for (int x = 0; x < width; x += 8)
            _mm_storel_epi64(reinterpret_cast<__m128i *>(d + x),
                             _mm_loadl_epi64(reinterpret_cast<const __m128i *>(s + x)));
    }
    return true;
}

// 16-byte moves for widths that are multiples of 16; the aligned form needs
// rows that start on 16-byte boundaries.
template <bool Aligned>
H265D_SSE2 void copyRowsSse2(const uint8_t *src, uint8_t *dst, int width, int rows, int stride)
{
    if (width % 16 == 0) {
        for (int y = 0; y < rows; ++y) {
            const __m128i *s = reinterpret_cast<const __m128i *>(src + static_cast<ptrdiff_t>(y) * stride);
            __m128i *d = reinterpret_cast<__m128i *>(dst + static_cast<ptrdiff_t>(y) * stride);
            for (int k = 0; k < width / 16; ++k) {
                if constexpr (Aligned)
                    _mm_store_si128(d + k, _mm_load_si128(s + k));
                else
                    _mm_storeu_si128(d + k, _mm_loadu_si128(s + k));
            }
        }
        return;
    }
    if (!copyRows8(src, dst, width, rows, stride))
        copyRows(src, dst, width, rows, stride);
}

// Rows start on 32-byte boundaries whenever the width is a multiple of 32.
H265D_AVX void copyRowsAlignedAvx(const uint8_t *src, uint8_t *dst, int width, int rows, int stride)
{
    if (width % 32 != 0) {
        copyRowsSse2<true>(src, dst, width, rows, stride);
        return;
    }
    for (int y = 0; y < rows; ++y) {
        const uint8_t *s = src + static_cast<ptrdiff_t>(y) * stride;
        uint8_t *d = dst + static_cast<ptrdiff_t>(y) * stride;
        for (int x = 0; x < width; x += 32)
            _mm256_store_si256(reinterpret_cast<__m256i *>(d + x),
                               _mm256_load_si256(reinterpret_cast<const __m256i *>(s + x)));
    }
}

} // namespace

void installCopySimd(H265D_DSP_TABLE *t, uint32_t cpuFlags)
{
    if (cpuFlags & H265D_CPU_SSE2) {
        t->slot[H265D_SLOT_COPY_ROWS_ALIGNED].copyRows = copyRowsSse2<true>;
        t->slot[H265D_SLOT_COPY_ROWS].copyRows = copyRowsSse2<false>;
    }
    if (cpuFlags & H265D_CPU_AVX)
        t->slot[H265D_SLOT_COPY_ROWS_ALIGNED].copyRows = copyRowsAlignedAvx;
}

} // namespace dsp

#endif

} // namespace h265d
