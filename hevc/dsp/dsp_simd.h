// Helpers shared by the vector kernels. Every vector function carries its
// instruction sets as a target attribute, so the library itself stays
// baseline x86-64 and the table decides at run time what may run.
#pragma once

#include "hevc/dsp/dsp_internal.h"

#if defined(__x86_64__) || defined(__i386__)
#define H265D_HAVE_X86 1
#include <immintrin.h>

#include <cstring>

#define H265D_SSE2  __attribute__((target("sse2")))
#define H265D_SSE41 __attribute__((target("sse2,ssse3,sse4.1")))
#define H265D_AVX   __attribute__((target("sse2,ssse3,sse4.1,avx")))

namespace h265d::dsp {

// Stores the low n (1..8) bytes of v; never writes past them.
H265D_SSE2 inline void storeBytes(uint8_t *dst, __m128i v, int n)
{
    if (n >= 8) {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst), v);
        return;
    }
    // Fixed-size pieces: a memcpy of variable length would be a call.
    uint64_t bits = static_cast<uint64_t>(_mm_cvtsi128_si64(v));
    if (n & 4) {
        const uint32_t w = static_cast<uint32_t>(bits);
        std::memcpy(dst, &w, 4);
        bits >>= 32;
        dst += 4;
    }
    if (n & 2) {
        const uint16_t w = static_cast<uint16_t>(bits);
        std::memcpy(dst, &w, 2);
        bits >>= 16;
        dst += 2;
    }
    if (n & 1)
        *dst = static_cast<uint8_t>(bits);
}

// Stores the low n (1..8) 16-bit lanes of v.
H265D_SSE2 inline void storeWords(int16_t *dst, __m128i v, int n)
{
    if (n >= 8) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), v);
        return;
    }
    if (n & 4) {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst), v);
        v = _mm_srli_si128(v, 8);
        dst += 4;
    }
    if (n & 2) {
        const uint32_t w = static_cast<uint32_t>(_mm_cvtsi128_si32(v));
        std::memcpy(dst, &w, 4);
        v = _mm_srli_si128(v, 4);
        dst += 2;
    }
    if (n & 1)
        *dst = static_cast<int16_t>(_mm_cvtsi128_si32(v));
}

// Loads n (1..8) bytes into the low lanes; reads nothing past them.
H265D_SSE2 inline __m128i loadBytes(const uint8_t *src, int n)
{
    if (n >= 8)
        return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(src));
    uint64_t bits = 0;
    int at = 0;
    if (n & 4) {
        uint32_t w;
        std::memcpy(&w, src, 4);
        bits = w;
        at = 4;
    }
    if (n & 2) {
        uint16_t w;
        std::memcpy(&w, src + at, 2);
        bits |= static_cast<uint64_t>(w) << (8 * at);
        at += 2;
    }
    if (n & 1)
        bits |= static_cast<uint64_t>(src[at]) << (8 * at);
    return _mm_cvtsi64_si128(static_cast<long long>(bits));
}

} // namespace h265d::dsp

#endif
