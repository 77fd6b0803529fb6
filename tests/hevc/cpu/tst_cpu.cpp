// Feature detection from made-up processor answers.
#include "hevc/dsp/h265d_dsp.h"

#include <QtTest>

#include <cstring>
#include <map>

using namespace h265d;

namespace {

struct Regs
{
    uint32_t a = 0, b = 0, c = 0, d = 0;
};

// The processor the probe functions answer for.
struct FakeCpu
{
    bool hasCpuid = true;
    std::map<uint32_t, Regs> leaves;
    uint32_t xcr0 = 0;
    int leaf2Queries = 0;
};
FakeCpu g_cpu;

int fakeSupported()
{
    return g_cpu.hasCpuid ? 1 : 0;
}

void fakeQuery(uint32_t leaf, uint32_t *a, uint32_t *b, uint32_t *c, uint32_t *d)
{
    if (leaf == 2)
        ++g_cpu.leaf2Queries;
    const auto it = g_cpu.leaves.find(leaf);
    const Regs r = it == g_cpu.leaves.end() ? Regs{} : it->second;
    *a = r.a;
    *b = r.b;
    *c = r.c;
    *d = r.d;
}

void fakeXgetbv(uint32_t, uint32_t *a, uint32_t *d)
{
    *a = g_cpu.xcr0;
    *d = 0;
}

const H265D_CPU_PROBE kFake = {fakeSupported, fakeQuery, fakeXgetbv};

constexpr uint32_t kMmx = 1u << 23, kSseD = 1u << 25, kCmov = 1u << 15, kSse2D = 1u << 26;
constexpr uint32_t kBaseD = kMmx | kSseD | kCmov | kSse2D;
constexpr uint32_t kSse3C = 1u << 0, kSsse3C = 1u << 9, kSse41C = 1u << 19, kSse42C = 1u << 20;
constexpr uint32_t kOsxsave = 1u << 27, kAvxC = 1u << 28, kFmaC = 1u << 12;

Regs vendor(const char *name, uint32_t maxLeaf)
{
    Regs r;
    r.a = maxLeaf;
    std::memcpy(&r.b, name, 4);
    std::memcpy(&r.d, name + 4, 4);
    std::memcpy(&r.c, name + 8, 4);
    return r;
}

// A processor of the given vendor with leaf-1 EDX/ECX and family/model word.
void setCpu(const char *name, uint32_t edx, uint32_t ecx, uint32_t signature = 0, uint32_t maxLeaf = 1)
{
    g_cpu = FakeCpu{};
    g_cpu.leaves[0] = vendor(name, maxLeaf);
    Regs l1;
    l1.a = signature;
    l1.c = ecx;
    l1.d = edx;
    g_cpu.leaves[1] = l1;
}

uint32_t signature(uint32_t family, uint32_t model)
{
    // family 6 and extended model in bits 16..19
    return ((family & 0xF) << 8) | ((model & 0xF) << 4) | ((model >> 4) << 16);
}

} // namespace

class TestCpu : public QObject
{
    Q_OBJECT

private slots:
    void nothingWithoutBasics();
    void sse41NeedsItsBits();
    void avxNeedsOperatingSystem();
    void intelModelRules();
    void amdRules();
    void cacheLine();
};

void TestCpu::nothingWithoutBasics()
{
    setCpu("GenuineIntel", kBaseD, kSse41C);
    g_cpu.hasCpuid = false;
    QCOMPARE(detectCpuFeaturesWith(&kFake), 0u);
    setCpu("GenuineIntel", kBaseD, kSse41C, 0, 0);
    QCOMPARE(detectCpuFeaturesWith(&kFake), 0u);
    setCpu("GenuineIntel", kBaseD & ~kMmx, kSse41C);
    QCOMPARE(detectCpuFeaturesWith(&kFake), 0u);
    // Without CMOV only MMX and SSE are reported.
    setCpu("GenuineIntel", kMmx | kSseD | kSse2D, kSse41C);
    QCOMPARE(detectCpuFeaturesWith(&kFake), H265D_CPU_MMX | H265D_CPU_MMX2 | H265D_CPU_SSE);
}

void TestCpu::sse41NeedsItsBits()
{
    // SSE4.2 alone gives no SSE4.1; SSSE3, SSE4.1 and SSE4.2 give it, with
    // the hint of fast SSE2.
    setCpu("GenuineIntel", kBaseD, kSse42C, signature(6, 60));
    QCOMPARE(detectCpuFeaturesWith(&kFake) & (H265D_CPU_SSE2 | H265D_CPU_SSE41), H265D_CPU_SSE2);
    setCpu("GenuineIntel", kBaseD, kSse3C | kSsse3C | kSse41C | kSse42C, signature(6, 60));
    const uint32_t f = detectCpuFeaturesWith(&kFake);
    QCOMPARE(f & (H265D_CPU_SSE2 | H265D_CPU_SSE41 | H265D_CPU_AVX), H265D_CPU_SSE2 | H265D_CPU_SSE41);
    QVERIFY(f & H265D_CPU_SSE2_FAST);
}

void TestCpu::avxNeedsOperatingSystem()
{
    const uint32_t ecx = kSse3C | kSsse3C | kSse41C | kSse42C | kOsxsave | kAvxC | kFmaC;
    setCpu("GenuineIntel", kBaseD, ecx, signature(6, 60), 7);
    g_cpu.leaves[7].b = (1u << 5) | (1u << 3) | (1u << 8); // AVX2, BMI1, BMI2
    g_cpu.xcr0 = 0x1;                                      // wide registers not saved
    const uint32_t without = detectCpuFeaturesWith(&kFake);
    QVERIFY(!(without & (H265D_CPU_AVX | H265D_CPU_AVX2 | H265D_CPU_FMA3)));
    QVERIFY(without & H265D_CPU_BMI2);
    g_cpu.xcr0 = 0x7;
    const uint32_t with = detectCpuFeaturesWith(&kFake);
    QCOMPARE(with & (H265D_CPU_AVX | H265D_CPU_AVX2 | H265D_CPU_FMA3), H265D_CPU_AVX | H265D_CPU_AVX2 | H265D_CPU_FMA3);
}

void TestCpu::intelModelRules()
{
    // Family 6 models 9, 13, 14 lose SSE2 and SSE3.
    for (uint32_t model : {9u, 13u, 14u}) {
        setCpu("GenuineIntel", kBaseD, kSse3C | kSse42C, signature(6, model));
        QCOMPARE(detectCpuFeaturesWith(&kFake) & (H265D_CPU_SSE2 | H265D_CPU_SSE3), 0u);
    }
    setCpu("GenuineIntel", kBaseD, kSse3C | kSsse3C | kSse42C, signature(6, 28));
    const uint32_t atom = detectCpuFeaturesWith(&kFake);
    QCOMPARE(atom & 0x3800000u, 0x1000000u | 0x800000u | 0x2000000u);
    // SSSE3 without SSE4.1 before model 23: slow shuffles.
    setCpu("GenuineIntel", kBaseD, kSsse3C | kSse42C, signature(6, 15));
    QVERIFY(detectCpuFeaturesWith(&kFake) & H265D_CPU_SHUFFLE_SLOW);
    setCpu("GenuineIntel", kBaseD, kSsse3C | kSse42C, signature(6, 23));
    QVERIFY(!(detectCpuFeaturesWith(&kFake) & H265D_CPU_SHUFFLE_SLOW));
    // The same signatures mean nothing for another vendor.
    setCpu("AuthenticAMD", kBaseD, kSse3C | kSse42C, signature(6, 13));
    QVERIFY(detectCpuFeaturesWith(&kFake) & H265D_CPU_SSE2);
}

void TestCpu::amdRules()
{
    // SSE4a on family 0x14 (0xF + 5): slow SSE2 and palignr instead of fast SSE2.
    setCpu("AuthenticAMD", kBaseD, kSse3C | kSsse3C | kSse42C);
    g_cpu.leaves[0x80000000u].a = 0x80000001u;
    g_cpu.leaves[0x80000001u].a = (0xFu << 8) | (5u << 20);
    g_cpu.leaves[0x80000001u].c = (1u << 6) | (1u << 5);
    uint32_t f = detectCpuFeaturesWith(&kFake);
    QVERIFY(!(f & H265D_CPU_SSE2_FAST));
    QVERIFY(f & H265D_CPU_SSE2_SLOW);
    QVERIFY(f & H265D_CPU_PALIGNR_SLOW);
    QVERIFY(f & H265D_CPU_LZCNT);
    QVERIFY(!(f & H265D_CPU_SLOW_ATOM));
    // Family 0x16: slow pshufb; no LZCNT on AMD: the 0x800000 hint.
    g_cpu.leaves[0x80000001u].a = (0xFu << 8) | (7u << 20);
    g_cpu.leaves[0x80000001u].c = 1u << 6;
    f = detectCpuFeaturesWith(&kFake);
    QVERIFY(f & H265D_CPU_PSHUFB_SLOW);
    QVERIFY(f & H265D_CPU_SSE2_FAST);
    QVERIFY(f & H265D_CPU_SLOW_ATOM);
    // Without SSSE3 or SSE4a an AMD processor's SSE2 counts as slow.
    setCpu("AuthenticAMD", kBaseD, kSse42C);
    g_cpu.leaves[0x80000000u].a = 0x80000001u;
    g_cpu.leaves[0x80000001u].c = 1u << 5;
    QVERIFY(detectCpuFeaturesWith(&kFake) & H265D_CPU_SSE2_SLOW);
    // XOP and FMA4 only count with AVX.
    setCpu("AuthenticAMD", kBaseD, kSse42C);
    g_cpu.leaves[0x80000000u].a = 0x80000001u;
    g_cpu.leaves[0x80000001u].c = (1u << 11) | (1u << 16) | (1u << 5);
    QCOMPARE(detectCpuFeaturesWith(&kFake) & (H265D_CPU_XOP | H265D_CPU_FMA4), 0u);
}

void TestCpu::cacheLine()
{
    // From leaf 1: CLFLUSH line size in units of 8.
    setCpu("GenuineIntel", kBaseD, kSse3C, signature(6, 60));
    g_cpu.leaves[1].b = 8u << 8;
    QVERIFY(detectCpuFeaturesWith(&kFake) & H265D_CPU_CACHE64);
    // From the leaf-2 descriptors, queried as often as its low byte says;
    // the later matching byte wins, registers with bit 31 set are ignored.
    setCpu("GenuineIntel", kBaseD, kSse3C, signature(6, 60), 2);
    g_cpu.leaves[2].a = 0x0A2C0002u; // repeat twice; 0x2C then 0x0A
    g_cpu.leaves[2].b = 0x80000022u; // ignored
    uint32_t f = detectCpuFeaturesWith(&kFake);
    QCOMPARE(g_cpu.leaf2Queries, 2);
    QVERIFY(f & H265D_CPU_CACHE32);
    QVERIFY(!(f & H265D_CPU_CACHE64));
    // Not looked at when SSE4.2 is present.
    setCpu("GenuineIntel", kBaseD, kSse42C, signature(6, 60));
    g_cpu.leaves[1].b = 8u << 8;
    QVERIFY(!(detectCpuFeaturesWith(&kFake) & (H265D_CPU_CACHE32 | H265D_CPU_CACHE64)));
}

QTEST_APPLESS_MAIN(TestCpu)
#include "tst_cpu.moc"
