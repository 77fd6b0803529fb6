// Processor feature detection and the choice of vector kernels.
#include "hevc/dsp/dsp_internal.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>

namespace h265d {
#define H265D_X86_CPU 1
#endif

namespace dsp {

namespace {

#ifdef H265D_X86_CPU
int nativeCpuidSupported()
{
    // The flags-register probe only means something on 32-bit processors;
    // every x86-64 processor has the instruction.
    return 1;
}

void nativeCpuidQuery(uint32_t leaf, uint32_t *eax, uint32_t *ebx, uint32_t *ecx, uint32_t *edx)
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    __cpuid_count(leaf, 0, a, b, c, d);
    *eax = a;
    *ebx = b;
    *ecx = c;
    *edx = d;
}

void nativeXgetbvQuery(uint32_t reg, uint32_t *eax, uint32_t *edx)
{
    uint32_t a = 0, d = 0;
    __asm__ volatile("xgetbv" : "=a"(a), "=d"(d) : "c"(reg));
    *eax = a;
    *edx = d;
}

const H265D_CPU_PROBE kNativeProbe = {nativeCpuidSupported, nativeCpuidQuery, nativeXgetbvQuery};
#endif

struct Regs
{
    uint32_t a = 0, b = 0, c = 0, d = 0;
};

Regs query(const H265D_CPU_PROBE *p, uint32_t leaf)
{
    Regs r;
    p->cpuidQuery(leaf, &r.a, &r.b, &r.c, &r.d);
    return r;
}

bool bit(uint32_t v, int n)
{
    return (v >> n) & 1u;
}

int cacheLineFromDescriptor(uint32_t byte)
{
    static const uint8_t k32[] = {0x0A, 0x0C, 0x41, 0x42, 0x43, 0x44, 0x45, 0x82, 0x83, 0x84, 0x85};
    static const uint8_t k64[] = {0x22, 0x23, 0x25, 0x29, 0x2C, 0x46, 0x47, 0x49, 0x60, 0x66,
                                  0x67, 0x68, 0x78, 0x79, 0x7A, 0x7B, 0x7C, 0x7F, 0x86, 0x87};
    for (uint8_t v : k32)
        if (v == byte)
            return 32;
    for (uint8_t v : k64)
        if (v == byte)
            return 64;
    return 0;
}

} // namespace

} // namespace dsp

using namespace h265d::dsp;

uint32_t detectCpuFeaturesWith(const H265D_CPU_PROBE *p)
{
    if (!p->cpuidSupported())
        return 0;
    const Regs leaf0 = query(p, 0);
    const uint32_t maxLeaf = leaf0.a;
    char vendor[13] = {};
    std::memcpy(vendor, &leaf0.b, 4);
    std::memcpy(vendor + 4, &leaf0.d, 4);
    std::memcpy(vendor + 8, &leaf0.c, 4);
    if (maxLeaf == 0)
        return 0;
    const bool intel = std::strcmp(vendor, "GenuineIntel") == 0;
    const bool amd = std::strcmp(vendor, "AuthenticAMD") == 0;
    const bool cyrix = std::strcmp(vendor, "CyrixInstead") == 0;

    uint32_t f = 0;
    const Regs leaf1 = query(p, 1);
    if (!bit(leaf1.d, 23))
        return 0;
    f |= H265D_CPU_MMX;
    if (bit(leaf1.d, 25))
        f |= H265D_CPU_MMX2 | H265D_CPU_SSE;
    if (!bit(leaf1.d, 15))
        return f;
    f |= H265D_CPU_CMOV;
    if (bit(leaf1.d, 26))
        f |= H265D_CPU_SSE2;
    if (bit(leaf1.c, 0))
        f |= H265D_CPU_SSE3;
    if (bit(leaf1.c, 9))
        f |= H265D_CPU_SSSE3;
    if (bit(leaf1.c, 19))
        f |= H265D_CPU_SSE41;
    if (bit(leaf1.c, 20))
        f |= H265D_CPU_SSE42;

    // AVX needs the operating system to save the wide registers too.
    if (bit(leaf1.c, 27) && bit(leaf1.c, 28)) {
        uint32_t xa = 0, xd = 0;
        p->xgetbvQuery(0, &xa, &xd);
        if (bit(xa, 1) && bit(xa, 2)) {
            f |= H265D_CPU_AVX;
            if (bit(leaf1.c, 12))
                f |= H265D_CPU_FMA3;
        }
    }

    if (maxLeaf >= 7) {
        const Regs leaf7 = query(p, 7);
        if (bit(leaf7.b, 5) && (f & H265D_CPU_AVX))
            f |= H265D_CPU_AVX2;
        if (bit(leaf7.b, 3)) {
            f |= H265D_CPU_BMI1;
            if (bit(leaf7.b, 8))
                f |= H265D_CPU_BMI2;
        }
    }

    if (f & H265D_CPU_SSSE3)
        f |= H265D_CPU_SSE2_FAST;

    const uint32_t maxExt = query(p, 0x80000000u).a;
    if (maxExt >= 0x80000001u) {
        const Regs ext = query(p, 0x80000001u);
        if (bit(ext.c, 5))
            f |= H265D_CPU_LZCNT;
        if (bit(ext.c, 6)) {
            const uint32_t family = ((ext.a >> 8) & 0xF) + ((ext.a >> 20) & 0xFF);
            f |= H265D_CPU_SSE2_FAST;
            if (family == 0x14) {
                f &= ~H265D_CPU_SSE2_FAST;
                f |= H265D_CPU_SSE2_SLOW | H265D_CPU_PALIGNR_SLOW;
            } else if (family == 0x16) {
                f |= H265D_CPU_PSHUFB_SLOW;
            }
        }
        if (f & H265D_CPU_AVX) {
            if (bit(ext.c, 11))
                f |= H265D_CPU_XOP;
            if (bit(ext.c, 16))
                f |= H265D_CPU_FMA4;
        }
        if (amd) {
            if (bit(ext.d, 22))
                f |= H265D_CPU_MMX2;
            if (!(f & H265D_CPU_LZCNT))
                f |= H265D_CPU_SLOW_ATOM;
            if ((f & H265D_CPU_SSE2) && !(f & H265D_CPU_SSE2_FAST))
                f |= H265D_CPU_SSE2_SLOW;
        }
    }

    if (intel) {
        const Regs l1 = query(p, 1);
        const uint32_t family = ((l1.a >> 8) & 0xF) + ((l1.a >> 20) & 0xFF);
        const uint32_t model = ((l1.a >> 4) & 0xF) + ((l1.a >> 12) & 0xF0);
        if (family == 6) {
            if (model == 9 || model == 13 || model == 14)
                f &= ~(H265D_CPU_SSE2 | H265D_CPU_SSE3);
            else if (model == 28)
                f |= H265D_CPU_ATOM | H265D_CPU_SLOW_ATOM | H265D_CPU_PSHUFB_SLOW;
            else if ((f & H265D_CPU_SSSE3) && !(f & H265D_CPU_SSE41) && model < 23)
                f |= H265D_CPU_SHUFFLE_SLOW;
        }
    }

    if ((intel || cyrix) && !(f & H265D_CPU_SSE42)) {
        int line = static_cast<int>((leaf1.b >> 8) & 0xFF) * 8;
        if (line == 0 && maxExt >= 0x80000006u)
            line = static_cast<int>(query(p, 0x80000006u).c & 0xFF);
        if (line == 0 && maxLeaf >= 2) {
            Regs l2 = query(p, 2);
            int repeats = static_cast<int>(l2.a & 0xFF);
            for (int round = 0;;) {
                const uint32_t words[4] = {l2.a & ~0xFFu, l2.b, l2.c, l2.d};
                for (uint32_t w : words) {
                    if (bit(w, 31))
                        continue;
                    for (int k = 0; k < 4; ++k) {
                        const uint32_t byte = (w >> (8 * k)) & 0xFF;
                        if (byte == 0)
                            continue;
                        const int size = cacheLineFromDescriptor(byte);
                        if (size)
                            line = size;
                    }
                }
                if (++round >= repeats)
                    break;
                l2 = query(p, 2);
            }
        }
        if (line == 32)
            f |= H265D_CPU_CACHE32;
        else if (line == 64)
            f |= H265D_CPU_CACHE64;
    }
    return f;
}

uint32_t detectCpuFeatures(void)
{
#ifdef H265D_X86_CPU
    return detectCpuFeaturesWith(&kNativeProbe);
#else
    return 0;
#endif
}

void installSimdKernels(H265D_DSP_TABLE *table, uint32_t cpuFlags)
{
#ifdef H265D_X86_CPU
    // In the order of the families: deblocking, SAO, transforms, intra,
    // inter, copies, border extension.
    installDeblockSimd(table, cpuFlags);
    installSaoSimd(table, cpuFlags);
    if (cpuFlags & H265D_CPU_SSE41) {
        installTransformSse41(table);
        installIntraSse41(table);
        installInterSse41(table);
    }
    installCopySimd(table, cpuFlags);
    installPadSimd(table, cpuFlags);
#else
    (void)table;
    (void)cpuFlags;
#endif
}

} // namespace h265d
