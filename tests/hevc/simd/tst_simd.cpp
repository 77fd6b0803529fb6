// The vector kernels against the portable kernel of their slot: identical
// samples, and nothing written outside the block (dequantisation,
// transforms, intra prediction's guards and reference smoothing are checked
// against the equations at their edges by the kernels suite). One row per slot family and size;
// HEVC_TEST_SEED=<n> reruns with another seed.
#include "hevc/dsp/h265d_dsp.h"

#include "../common/checkblock.h"
#include "../common/test_rng.h"

#include <QtTest>

#include <algorithm>

#include <cstring>
#include <array>
#include <vector>

using namespace h265d;

namespace {

using testrng::Rng;

constexpr uint32_t kSse2 = H265D_CPU_SSE2;
constexpr uint32_t kSse41 = H265D_CPU_SSE2 | H265D_CPU_SSSE3 | H265D_CPU_SSE41;
constexpr uint32_t kAvx = kSse41 | H265D_CPU_AVX;

const int kWidths[] = {2, 4, 6, 8, 12, 16, 24, 32, 48, 64};

// Reference pictures with the filters' reach (and the vector kernels'
// over-read) around a block of up to 64 x 64.
struct Plane
{
    static constexpr int kStride = 112;
    static constexpr int kOrigin = 12 * kStride + 12;
    std::vector<uint8_t> pix = std::vector<uint8_t>(kStride * 96);
    Plane(Rng &rng, int style)
    {
        for (size_t i = 0; i < pix.size(); ++i) {
            const int x = int(i % kStride), y = int(i / kStride);
            pix[i] = style == 0 ? uint8_t(rng.next()) : (((x + y) % 2) ? 255 : uint8_t(rng.range(0, 3)));
        }
    }
    const uint8_t *at() const { return pix.data() + kOrigin; }
};

// Output picture with canaries around the block.
struct Out
{
    static constexpr int kStride = 96;
    static constexpr int kOrigin = 3 * kStride + 8;
    std::vector<uint8_t> pix = std::vector<uint8_t>(kStride * 70, 0x5C);
    uint8_t *at() { return pix.data() + kOrigin; }
};

// A 64 x 64 intermediate with canaries in the unused part of each row.
struct Tmp
{
    std::vector<int16_t> v = std::vector<int16_t>(64 * 66, int16_t(0x7A5C));
    int16_t *at() { return v.data() + 64; }
};

} // namespace

class TestSimd : public QObject
{
    Q_OBJECT

    H265D_DSP_TABLE portable{};
    uint32_t detected = 0;

    // The table of a feature level; false when this processor lacks it.
    bool tableFor(uint32_t level, H265D_DSP_TABLE &t)
    {
        if ((detected & level) != level)
            return false;
        std::memset(&t, 0, sizeof t);
        uint32_t flags = 0;
        initDspFunctionTableMasked(&t, &flags, level);
        return flags == (detected & level);
    }

private slots:
    void initTestCase();
    void lumaPrediction_data();
    void lumaPrediction();
    void chromaPrediction_data();
    void chromaPrediction();
    void weightedPrediction_data();
    void weightedPrediction();
    void rowCopies_data();
    void rowCopies();
    void saoKernels_data();
    void saoKernels();
    void deblockingKernels_data();
    void deblockingKernels();
    void borderExtension_data();
    void borderExtension();
};

#define NEED_LEVEL(level, t)                                                                                           \
    H265D_DSP_TABLE t;                                                                                                 \
    if (!tableFor(level, t))                                                                                           \
        QSKIP("the processor lacks the feature level");

// The comparison means something only where the level replaced the kernel.
#define VECTORISED(table, index)                                                                                       \
    QVERIFY2(table.slot[index].raw != portable.slot[index].raw, "the slot keeps its portable kernel")

void TestSimd::initTestCase()
{
    uint32_t flags = 0;
    initDspFunctionTable(&portable, &flags, 0);
    detected = detectCpuFeatures();
    qInfo("feature word 0x%x", detected);
}

void TestSimd::lumaPrediction_data()
{
    QTest::addColumn<int>("frac");
    for (int f = 0; f < 16; ++f)
        QTest::addRow("frac %d,%d", f / 4, f % 4) << f;
}

void TestSimd::lumaPrediction()
{
    QFETCH(int, frac);
    NEED_LEVEL(kSse41, t);
    VECTORISED(t, H265D_SLOT_LUMA_UNI + frac);
    const uint64_t seed = checkblock::seed(303);
    Rng rng(seed);
    const Plane planes[2] = {Plane(rng, 0), Plane(rng, 1)};
    for (int w : kWidths)
        for (int h = 2; h <= 64; ++h) {
            const Plane &p = planes[(w + h + frac) % 2];
            const QString what = QString("%1x%2").arg(w).arg(h);
            // One list.
            Out a, b;
            portable.slot[H265D_SLOT_LUMA_UNI + frac].uniPred(a.at(), Out::kStride, p.at(), Plane::kStride, w, h);
            t.slot[H265D_SLOT_LUMA_UNI + frac].uniPred(b.at(), Out::kStride, p.at(), Plane::kStride, w, h);
            CHECK_BLOCK(a.pix, b.pix, Out::kOrigin, Out::kStride, seed, "one list " + what);
            // First prediction into the intermediate.
            Tmp ta, tb;
            portable.slot[H265D_SLOT_LUMA_BI_FIRST + frac].biFirst(ta.at(), 64, p.at(), Plane::kStride, w, h);
            t.slot[H265D_SLOT_LUMA_BI_FIRST + frac].biFirst(tb.at(), 64, p.at(), Plane::kStride, w, h);
            CHECK_BLOCK(ta.v, tb.v, 64, 64, seed, "first of two " + what);
            // Second prediction over an intermediate from anywhere in its range.
            Tmp first;
            for (auto &v : first.v)
                v = int16_t(rng.range(0, 3) == 0 ? (rng.range(0, 1) ? 32767 : -32768) : rng.range(-9000, 26000));
            const int flag = rng.range(0, 1);
            Out sa, sb;
            portable.slot[H265D_SLOT_LUMA_BI_SECOND + frac].lumaBiSecond(sa.at(), Out::kStride, p.at(), Plane::kStride,
                                                                         first.at(), w, h, flag);
            t.slot[H265D_SLOT_LUMA_BI_SECOND + frac].lumaBiSecond(sb.at(), Out::kStride, p.at(), Plane::kStride,
                                                                  first.at(), w, h, flag);
            CHECK_BLOCK(sa.pix, sb.pix, Out::kOrigin, Out::kStride, seed, "second of two " + what);
        }
}

void TestSimd::chromaPrediction_data()
{
    QTest::addColumn<int>("xf");
    QTest::addColumn<int>("yf");
    for (int xf = 0; xf < 8; ++xf)
        for (int yf = 0; yf < 8; ++yf)
            QTest::addRow("frac %d,%d", xf, yf) << xf << yf;
}

void TestSimd::chromaPrediction()
{
    QFETCH(int, xf);
    QFETCH(int, yf);
    NEED_LEVEL(kSse41, t);
    const uint64_t seed = checkblock::seed(404);
    Rng rng(seed);
    const Plane planes[2] = {Plane(rng, 0), Plane(rng, 1)};
    auto run = [xf, yf](const H265D_DSP_TABLE &d, const uint8_t *src, int w, int h, Out &uni, Tmp &first,
                        const int16_t *tmpIn, Out &second) {
        const H265D_DSP_ENTRY *u = &d.slot[H265D_SLOT_CHROMA_UNI];
        const H265D_DSP_ENTRY *f = &d.slot[H265D_SLOT_CHROMA_BI_FIRST];
        const H265D_DSP_ENTRY *s = &d.slot[H265D_SLOT_CHROMA_BI_SECOND];
        const int ps = Plane::kStride, os = Out::kStride;
        if (!xf && !yf) {
            u[0].uniPred(uni.at(), os, src, ps, w, h);
            f[0].biFirst(first.at(), 64, src, ps, w, h);
            s[0].chromaBiSecondCopy(second.at(), os, src, ps, tmpIn, w, h);
        } else if (!yf || !xf) {
            const int k = !yf ? H265D_CHROMA_H : H265D_CHROMA_V;
            const int fr = !yf ? xf : yf;
            u[k].chromaUniPred(uni.at(), os, src, ps, w, h, fr);
            f[k].chromaBiFirst(first.at(), 64, src, ps, w, h, fr);
            s[k].chromaBiSecond(second.at(), os, src, ps, tmpIn, w, h, fr);
        } else {
            u[3].chromaUniPredHv(uni.at(), os, src, ps, w, h, xf, yf);
            f[3].chromaBiFirstHv(first.at(), 64, src, ps, w, h, xf, yf);
            s[3].chromaBiSecondHv(second.at(), os, src, ps, tmpIn, w, h, xf, yf);
        }
    };
    for (int w : kWidths)
        for (int h = 2; h <= 64; h += (w <= 32 && h <= 32) ? 1 : 7) {
            const Plane &p = planes[(w + h + xf) % 2];
            Tmp tmpIn;
            for (auto &v : tmpIn.v)
                v = int16_t(rng.range(-32768, 32767));
            Out ua, ub, sa, sb;
            Tmp fa, fb;
            run(portable, p.at(), w, h, ua, fa, tmpIn.at(), sa);
            run(t, p.at(), w, h, ub, fb, tmpIn.at(), sb);
            const QString what = QString("%1x%2").arg(w).arg(h);
            CHECK_BLOCK(ua.pix, ub.pix, Out::kOrigin, Out::kStride, seed, "one list " + what);
            CHECK_BLOCK(fa.v, fb.v, 64, 64, seed, "first of two " + what);
            CHECK_BLOCK(sa.pix, sb.pix, Out::kOrigin, Out::kStride, seed, "second of two " + what);
        }
}

void TestSimd::weightedPrediction_data()
{
    QTest::addColumn<int>("uni");
    QTest::addColumn<int>("bi");
    QTest::newRow("luma") << int(H265D_SLOT_WP_UNI_LUMA) << int(H265D_SLOT_WP_BI_LUMA);
    QTest::newRow("chroma") << int(H265D_SLOT_WP_UNI_CHROMA) << int(H265D_SLOT_WP_BI_CHROMA);
}

void TestSimd::weightedPrediction()
{
    QFETCH(int, uni);
    QFETCH(int, bi);
    NEED_LEVEL(kSse41, t);
    VECTORISED(t, uni);
    VECTORISED(t, bi);
    const uint64_t seed = checkblock::seed(505);
    Rng rng(seed);
    for (int round = 0; round < 10000; ++round) {
        const int d = round % 8;
        const int w = kWidths[rng.range(0, 9)], h = rng.range(1, 64);
        const int w0 = rng.range(-128, 127), w1 = rng.range(-128, 127);
        const int o0 = rng.range(-128, 127), o1 = rng.range(-128, 127);
        const int b0 = rng.range(0, 1), b1 = rng.range(0, 1);
        Tmp s0, s1;
        for (int i = 0; i < 64 * 64; ++i) {
            s0.at()[i] = int16_t(rng.range(-16384, 26000));
            s1.at()[i] = int16_t(rng.range(0, 7) ? rng.range(-16384, 26000) : (rng.range(0, 1) ? 32767 : -32768));
        }
        Out ua, ub, ba, bb;
        portable.slot[uni].weightedUni(d, w0, o0, ua.at(), Out::kStride, s0.at(), 64, w, h, b0);
        t.slot[uni].weightedUni(d, w0, o0, ub.at(), Out::kStride, s0.at(), 64, w, h, b0);
        portable.slot[bi].weightedBi(d, w0, w1, o0, o1, ba.at(), Out::kStride, s0.at(), s1.at(), 64, w, h, b0, b1);
        t.slot[bi].weightedBi(d, w0, w1, o0, o1, bb.at(), Out::kStride, s0.at(), s1.at(), 64, w, h, b0, b1);
        const QString what = QString("round %1 %2x%3").arg(round).arg(w).arg(h);
        CHECK_BLOCK(ua.pix, ub.pix, Out::kOrigin, Out::kStride, seed, "one list " + what);
        CHECK_BLOCK(ba.pix, bb.pix, Out::kOrigin, Out::kStride, seed, "two lists " + what);
    }
}

void TestSimd::rowCopies_data()
{
    QTest::addColumn<uint>("level");
    QTest::addColumn<int>("slot");
    QTest::newRow("SSE2 aligned") << uint(kSse2) << int(H265D_SLOT_COPY_ROWS_ALIGNED);
    QTest::newRow("SSE2") << uint(kSse2) << int(H265D_SLOT_COPY_ROWS);
    QTest::newRow("AVX aligned") << uint(kAvx) << int(H265D_SLOT_COPY_ROWS_ALIGNED);
    QTest::newRow("AVX") << uint(kAvx) << int(H265D_SLOT_COPY_ROWS);
}

void TestSimd::rowCopies()
{
    QFETCH(uint, level);
    QFETCH(int, slot);
    NEED_LEVEL(level, t);
    VECTORISED(t, slot);
    const int stride = 320, rows = 4;
    // The aligned copy reads whole 32-byte vectors: the source must be aligned
    // like the picture rows it is used on, whatever the allocator gives.
    alignas(32) std::array<uint8_t, stride * rows> src;
    for (int i = 0; i < stride * rows; ++i)
        src[i] = uint8_t(i * 29 + 3);
    // The aligned copy is only used on aligned rows.
    const std::vector<int> starts =
        slot == H265D_SLOT_COPY_ROWS_ALIGNED ? std::vector<int>{0, 32} : std::vector<int>{0, 1, 8, 16, 32};
    for (int start : starts)
        for (int width = 1; width <= 256; ++width) {
            alignas(32) uint8_t dst[320 * 4 + 64];
            std::memset(dst, 0xC3, sizeof dst);
            t.slot[slot].copyRows(src.data() + start, dst + start, width, rows, stride);
            std::vector<uint8_t> got(dst, dst + stride * rows), want(stride * rows, 0xC3);
            for (int y = 0; y < rows; ++y)
                std::copy(src.begin() + y * stride + start, src.begin() + y * stride + start + width,
                          want.begin() + y * stride + start);
            CHECK_BLOCK(want, got, start, stride, 0, QString("start %1 width %2").arg(start).arg(width));
        }
}

void TestSimd::saoKernels_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("band offset") << 1;
    QTest::newRow("edge offset") << 2;
}

void TestSimd::saoKernels()
{
    QFETCH(int, type);
    NEED_LEVEL(kSse41, t);
    VECTORISED(t, type == 1 ? H265D_SLOT_SAO_BAND : H265D_SLOT_SAO_EDGE);
    const uint64_t seed = checkblock::seed(909);
    Rng rng(seed);
    for (int round = 0; round < 4000; ++round) {
        const int cIdx = rng.range(0, 2);
        H265D_SAO_PARAMS p{};
        p.SaoTypeIdx[cIdx] = uint8_t(type);
        p.SaoEoClass[cIdx] = uint8_t(round % 4);
        p.sao_band_position[cIdx] = uint8_t(round % 32);
        for (int k = 1; k <= 4; ++k)
            p.SaoOffsetVal[cIdx][k] = int8_t(rng.range(0, 3) == 0 ? (rng.range(0, 1) ? 7 : -7) : rng.range(-7, 7));
        const unsigned avail = unsigned(round / 4 % 16);
        const int w = kWidths[rng.range(0, 9)] - rng.range(0, 1), h = rng.range(1, 64);
        const Plane src(rng, round % 2);
        Out a, b;
        for (int y = -1; y <= h; ++y)
            for (int x = -1; x <= w; ++x)
                a.at()[y * Out::kStride + x] = b.at()[y * Out::kStride + x] = src.at()[y * Plane::kStride + x];
        std::vector<uint8_t> work = a.pix;
        const uint8_t *wsrc = work.data() + Out::kOrigin;
        if (type == 1) {
            portable.slot[H265D_SLOT_SAO_BAND].saoBand(a.at(), Out::kStride, &p, w, h, cIdx);
            t.slot[H265D_SLOT_SAO_BAND].saoBand(b.at(), Out::kStride, &p, w, h, cIdx);
        } else {
            portable.slot[H265D_SLOT_SAO_EDGE].saoEdge(a.at(), wsrc, Out::kStride, &p, avail, w, h, cIdx);
            t.slot[H265D_SLOT_SAO_EDGE].saoEdge(b.at(), wsrc, Out::kStride, &p, avail, w, h, cIdx);
        }
        CHECK_BLOCK(a.pix, b.pix, Out::kOrigin, Out::kStride, seed, QString("round %1 %2x%3").arg(round).arg(w).arg(h));
    }
}

void TestSimd::deblockingKernels_data()
{
    // Chroma kernels come with SSE2, luma kernels with SSE4.1.
    QTest::addColumn<uint>("level");
    QTest::addColumn<bool>("luma");
    QTest::addColumn<bool>("vertical");
    for (bool vertical : {true, false}) {
        const char *dir = vertical ? "vertical" : "horizontal";
        QTest::addRow("chroma SSE2 %s", dir) << uint(kSse2) << false << vertical;
        QTest::addRow("chroma SSE4.1 %s", dir) << uint(kSse41) << false << vertical;
        QTest::addRow("luma SSE4.1 %s", dir) << uint(kSse41) << true << vertical;
    }
}

void TestSimd::deblockingKernels()
{
    QFETCH(uint, level);
    QFETCH(bool, luma);
    QFETCH(bool, vertical);
    NEED_LEVEL(level, t);
    VECTORISED(t, luma ? (vertical ? H265D_SLOT_DEBLOCK_LUMA_V : H265D_SLOT_DEBLOCK_LUMA_H)
                       : (vertical ? H265D_SLOT_DEBLOCK_CHROMA_V : H265D_SLOT_DEBLOCK_CHROMA_H));
    const uint64_t seed = checkblock::seed(1010);
    Rng rng(seed);
    for (int round = 0; round < 8000; ++round) {
        // A step across the edge over smooth or noisy sides, so that every
        // decision is taken.
        Out a;
        const int base = rng.range(0, 255), step = rng.range(-60, 60), slope = rng.range(-4, 4);
        const int noise = rng.range(0, 3) == 0 ? 255 : rng.range(0, 5);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const int across = vertical ? x : y;
                const int v = base + slope * across + (across >= 8 ? step : 0) + rng.range(-noise, noise);
                a.at()[y * Out::kStride + x] = uint8_t(std::min(255, std::max(0, v)));
            }
        Out b = a;
        uint8_t *ea = a.at() + (vertical ? 4 * Out::kStride + 8 : 8 * Out::kStride + 4);
        uint8_t *eb = b.at() + (vertical ? 4 * Out::kStride + 8 : 8 * Out::kStride + 4);
        const uint8_t none[2] = {0, 0};
        if (!luma) {
            const int32_t tc[2] = {h265dTcTable[rng.range(0, 53)], h265dTcTable[rng.range(0, 53)]};
            const int slot = vertical ? H265D_SLOT_DEBLOCK_CHROMA_V : H265D_SLOT_DEBLOCK_CHROMA_H;
            portable.slot[slot].deblockChroma(ea, Out::kStride, tc, none, none);
            t.slot[slot].deblockChroma(eb, Out::kStride, tc, none, none);
        } else {
            const int32_t beta[2] = {h265dBetaTable[rng.range(0, 75)], h265dBetaTable[rng.range(0, 75)]};
            const int32_t tc[2] = {h265dTcTableLuma[rng.range(0, 78)], h265dTcTableLuma[rng.range(0, 78)]};
            const int slot = vertical ? H265D_SLOT_DEBLOCK_LUMA_V : H265D_SLOT_DEBLOCK_LUMA_H;
            portable.slot[slot].deblockLuma(ea, Out::kStride, beta, tc, none, none);
            t.slot[slot].deblockLuma(eb, Out::kStride, beta, tc, none, none);
        }
        CHECK_BLOCK(a.pix, b.pix, Out::kOrigin, Out::kStride, seed, QString("round %1").arg(round));
    }
}

void TestSimd::borderExtension_data()
{
    QTest::addColumn<uint>("level");
    QTest::newRow("portable") << 0u;
    QTest::newRow("SSE2") << uint(kSse2);
    QTest::newRow("AVX") << uint(kAvx);
}

void TestSimd::borderExtension()
{
    // Odd sizes and the three planes' margins as the decoder lays them out,
    // against the definition: every margin sample is the nearest picture
    // sample, nothing beyond the margins is written. Thread type 1 finds the
    // sides done by the rows' workers already.
    QFETCH(uint, level);
    NEED_LEVEL(level, t);
    if (level)
        VECTORISED(t, H265D_SLOT_EXTEND_BORDER);
    const uint64_t seed = checkblock::seed(1111);
    Rng rng(seed);
    for (int round = 0; round < 40; ++round) {
        const int w = round < 2 ? 1 : rng.range(1, 80), h = round < 2 ? 1 : rng.range(1, 20);
        const int padX = round % 4 < 2 ? 128 : 64, padY = padX == 128 ? 80 : 40;
        const int threadType = round % 2;
        const int stride = w + 2 * padX + 7;
        std::vector<uint8_t> got(size_t(stride) * (h + 2 * padY + 2), 0xEE);
        const size_t origin = size_t(padY + 1) * stride + padX;
        uint8_t *plane = got.data() + origin;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                plane[y * stride + x] = uint8_t(rng.next());
        std::vector<uint8_t> want = got;
        for (int y = -padY; y < h + padY; ++y)
            for (int x = -padX; x < w + padX; ++x)
                want[origin + y * stride + x] =
                    plane[std::min(h - 1, std::max(0, y)) * stride + std::min(w - 1, std::max(0, x))];
        if (threadType == 1)
            for (int y = 0; y < h; ++y)
                for (int x = -padX; x < w + padX; ++x)
                    plane[y * stride + x] = want[origin + y * stride + x];
        t.slot[H265D_SLOT_EXTEND_BORDER].extendBorder(threadType, plane, w, h, stride, padX, padY);
        CHECK_BLOCK(want, got, origin, stride, seed, QString("round %1 %2x%3").arg(round).arg(w).arg(h));
    }
}

QTEST_APPLESS_MAIN(TestSimd)
#include "tst_simd.moc"
