// Every vector kernel against the portable kernel of its slot: identical
// samples, and nothing written outside the block.
#include "hevc/dsp/h265d_dsp.h"

#include "../common/test_rng.h"

#include <QtTest>

#include <algorithm>

#include <cstring>
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
    std::vector<uint8_t> pix = std::vector<uint8_t>(kStride * 70, 0x5C);
    uint8_t *at() { return pix.data() + 3 * kStride + 8; }
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

    // A table for a feature level, or a skip when this processor lacks it.
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
    void replacedSlots();
    void dequantisation();
    void transforms();
    void intraPrediction();
    void referenceSmoothing();
    void lumaPrediction();
    void chromaPrediction();
    void weightedPrediction();
    void rowCopies();
    void saoKernels();
    void deblockingKernels();
    void borderExtension();
};

void TestSimd::initTestCase()
{
    uint32_t flags = 0;
    initDspFunctionTable(&portable, &flags, 0);
    detected = detectCpuFeatures();
    qInfo("feature word 0x%x", detected);
}

void TestSimd::replacedSlots()
{
    // SSE2 alone changes only the copies, the chroma deblocking and the
    // border extension; SSE4.1 also SAO, luma deblocking, the transform,
    // intra and inter families.
    H265D_DSP_TABLE t;
    if (!tableFor(kSse2, t))
        QSKIP("no SSE2");
    for (int s = 0; s < H265D_DSP_SLOT_COUNT; ++s) {
        const bool replaced = s == 123 || s == 124 || (s >= 128 && s <= 130);
        QVERIFY2((t.slot[s].raw != portable.slot[s].raw) == replaced, qPrintable(QString("slot %1").arg(s)));
    }
    if (!tableFor(kSse41, t))
        QSKIP("no SSE4.1");
    for (int s = 0; s < H265D_DSP_SLOT_COUNT; ++s) {
        const bool replaced = s <= 1 || (s >= 6 && s <= 23) || (s >= 27 && s <= 50) || (s >= 55 && s <= 120) ||
                              s == 123 || s == 124 || (s >= 128 && s <= 130);
        QVERIFY2((t.slot[s].raw != portable.slot[s].raw) == replaced, qPrintable(QString("slot %1").arg(s)));
    }
    // Scaled dequantisation, the small DC kernels, the PCM copies, the
    // flagged deblocking and the motion test always stay portable.
    for (int s : {2, 3, 4, 5, 24, 25, 26, 51, 52, 53, 54, 121, 122, 125, 126, 127})
        QVERIFY(t.slot[s].raw == portable.slot[s].raw);
    H265D_DSP_TABLE avx;
    if (!tableFor(kAvx, avx))
        QSKIP("no AVX");
    QVERIFY(avx.slot[128].raw != t.slot[128].raw);
    QVERIFY(avx.slot[129].raw == t.slot[129].raw);
    QVERIFY(avx.slot[130].raw != t.slot[130].raw);
}

void TestSimd::dequantisation()
{
    H265D_DSP_TABLE t;
    if (!tableFor(kSse41, t))
        QSKIP("no SSE4.1");
    const uint64_t seed = 101;
    Rng rng(seed);
    const int levelScale[6] = {40, 45, 51, 57, 64, 72};
    for (int l = 2; l <= 5; ++l) {
        const int n = 1 << l;
        for (int qP = 0; qP <= 51; ++qP)
            for (int round = 0; round < 12; ++round) {
                std::vector<int16_t> c(n * n);
                for (auto &v : c)
                    v = int16_t(rng.range(0, 4) == 0 ? (rng.range(0, 1) ? 32767 : -32768) : rng.range(-5000, 5000));
                const int count = round == 0 ? n * n : rng.range(1, n * n);
                std::vector<int16_t> a = c, b = c;
                const int scale = levelScale[qP % 6] << (qP / 6);
                portable.slot[H265D_SLOT_DEQUANT_FLAT + l].dequantFlat(count, scale, a.data());
                t.slot[H265D_SLOT_DEQUANT_FLAT + l].dequantFlat(count, scale, b.data());
                if (a != b)
                    QFAIL(qPrintable(QString("seed %1 N %2 qP %3 count %4").arg(seed).arg(n).arg(qP).arg(count)));
            }
    }
}

void TestSimd::transforms()
{
    H265D_DSP_TABLE t;
    if (!tableFor(kSse41, t))
        QSKIP("no SSE4.1");
    const uint64_t seed = 202;
    Rng rng(seed);
    struct Slot
    {
        int slot, n;
    } cases[] = {{10, 4}, {11, 4}, {12, 8}, {13, 16}, {14, 32}, {15, 4}};
    for (const Slot &s : cases)
        for (int round = 0; round < 3000; ++round) {
            const int n = s.n;
            const int cols = n >= 16 ? 4 * rng.range(1, n / 4) : n;
            std::vector<int16_t> c(n * n, 0);
            const int kind = round % 4;
            for (int y = 0; y < n; ++y)
                for (int x = 0; x < cols; ++x) {
                    if (kind == 0 && rng.range(0, 7))
                        continue;
                    c[y * n + x] = int16_t(kind == 2 ? (rng.range(0, 1) ? 32767 : -32768)
                                                     : (kind == 3 ? rng.range(-32768, 32767) : rng.range(-900, 900)));
                }
            Out a, b;
            for (int y = 0; y < n; ++y)
                for (int x = 0; x < n; ++x)
                    a.at()[y * Out::kStride + x] = b.at()[y * Out::kStride + x] = uint8_t(rng.next());
            std::vector<int16_t> ca = c, cb = c;
            portable.slot[s.slot].transformAdd(Out::kStride, ca.data(), a.at(), cols);
            t.slot[s.slot].transformAdd(Out::kStride, cb.data(), b.at(), cols);
            if (a.pix != b.pix)
                QFAIL(qPrintable(QString("seed %1 slot %2 round %3").arg(seed).arg(s.slot).arg(round)));
        }
}

namespace {

// Reference arrays with the decoder's guards, as one buffer per side.
struct Refs
{
    static constexpr int kFront = H265D_INTRA_REF_FRONT_GUARD;
    std::vector<uint8_t> top = std::vector<uint8_t>(kFront + 65 + H265D_INTRA_REF_BACK_GUARD);
    std::vector<uint8_t> left = std::vector<uint8_t>(kFront + 65 + H265D_INTRA_REF_BACK_GUARD);
    uint8_t *t() { return top.data() + kFront + 1; }
    uint8_t *l() { return left.data() + kFront + 1; }
};

Refs randomRefs(Rng &rng, int n, int style)
{
    Refs r;
    for (auto &b : r.top)
        b = uint8_t(rng.next());
    for (auto &b : r.left)
        b = uint8_t(rng.next());
    if (style == 1) // both sides of the strong filter's flatness test
        for (int i = -1; i < 2 * n; ++i) {
            r.t()[i] = uint8_t(std::min(255, 60 + 2 * (i + 1) + (i == n - 1 ? rng.range(-8, 8) : 0)));
            r.l()[i] = uint8_t(std::min(255, 60 + (i + 1) + (i == n - 1 ? rng.range(-8, 8) : 0)));
        }
    else if (style == 2)
        for (int i = -1; i < 2 * n; ++i) {
            r.t()[i] = uint8_t(rng.range(0, 1) * 255);
            r.l()[i] = uint8_t(rng.range(0, 1) * 255);
        }
    r.l()[-1] = r.t()[-1];
    return r;
}

void predict(const H265D_DSP_TABLE &d, int mode, int cIdx, int l, Refs &r, uint8_t *dst)
{
    const int stride = Out::kStride;
    switch (mode) {
    case 0:
        d.slot[H265D_SLOT_INTRA_PLANAR + l].intraPlanar(r.t(), r.l(), stride, dst);
        break;
    case 1:
        d.slot[H265D_SLOT_INTRA_DC + l].intra(cIdx, r.t(), r.l(), stride, dst);
        break;
    case 2:
        d.slot[H265D_SLOT_INTRA_DIAG_DOWN + l].intra(cIdx, r.t(), r.l(), stride, dst);
        break;
    case 10:
        d.slot[H265D_SLOT_INTRA_HORIZONTAL + l].intra(cIdx, r.t(), r.l(), stride, dst);
        break;
    case 18:
        d.slot[H265D_SLOT_INTRA_DIAG_MID + l].intra(cIdx, r.t(), r.l(), stride, dst);
        break;
    case 26:
        d.slot[H265D_SLOT_INTRA_VERTICAL + l].intra(cIdx, r.t(), r.l(), stride, dst);
        break;
    case 34:
        d.slot[H265D_SLOT_INTRA_DIAG_UP + l].intra(cIdx, r.t(), r.l(), stride, dst);
        break;
    default:
        d.slot[H265D_SLOT_INTRA_ANGULAR + l].intraAngular(cIdx, mode, r.t(), r.l(), stride, dst);
        break;
    }
}

} // namespace

void TestSimd::intraPrediction()
{
    H265D_DSP_TABLE t;
    if (!tableFor(kSse41, t))
        QSKIP("no SSE4.1");
    const uint64_t seed = 606;
    Rng rng(seed);
    for (int l = 2; l <= 5; ++l)
        for (int mode = 0; mode <= 34; ++mode)
            for (int cIdx = 0; cIdx <= 1; ++cIdx)
                for (int round = 0; round < 40; ++round) {
                    Refs a = randomRefs(rng, 1 << l, round % 3), b = a;
                    Out pa, pb;
                    predict(portable, mode, cIdx, l, a, pa.at());
                    predict(t, mode, cIdx, l, b, pb.at());
                    // Same block, same projected references, nothing else touched.
                    if (pa.pix != pb.pix || a.top != b.top || a.left != b.left)
                        QFAIL(qPrintable(QString("seed %1 N %2 mode %3 cIdx %4 round %5")
                                             .arg(seed)
                                             .arg(1 << l)
                                             .arg(mode)
                                             .arg(cIdx)
                                             .arg(round)));
                }
}

void TestSimd::referenceSmoothing()
{
    H265D_DSP_TABLE t;
    if (!tableFor(kSse41, t))
        QSKIP("no SSE4.1");
    const uint64_t seed = 707;
    Rng rng(seed);
    for (int l = 3; l <= 5; ++l)
        for (int mode = 0; mode <= 34; ++mode)
            for (int strong = 0; strong <= 1; ++strong)
                for (int round = 0; round < 60; ++round) {
                    Refs a = randomRefs(rng, 1 << l, round % 3), b = a;
                    portable.slot[H265D_SLOT_INTRA_SMOOTH + l].intraSmooth(strong, mode, a.l(), a.t());
                    t.slot[H265D_SLOT_INTRA_SMOOTH + l].intraSmooth(strong, mode, b.l(), b.t());
                    if (a.top != b.top || a.left != b.left)
                        QFAIL(qPrintable(QString("seed %1 N %2 mode %3 strong %4 round %5")
                                             .arg(seed)
                                             .arg(1 << l)
                                             .arg(mode)
                                             .arg(strong)
                                             .arg(round)));
                }
}

void TestSimd::lumaPrediction()
{
    H265D_DSP_TABLE t;
    if (!tableFor(kSse41, t))
        QSKIP("no SSE4.1");
    const uint64_t seed = 303;
    Rng rng(seed);
    const Plane planes[2] = {Plane(rng, 0), Plane(rng, 1)};
    for (int f = 0; f < 16; ++f)
        for (int w : kWidths)
            for (int h = 2; h <= 64; ++h) {
                const Plane &p = planes[(w + h + f) % 2];
                // One list.
                Out a, b;
                portable.slot[55 + f].uniPred(a.at(), Out::kStride, p.at(), Plane::kStride, w, h);
                t.slot[55 + f].uniPred(b.at(), Out::kStride, p.at(), Plane::kStride, w, h);
                // First prediction into the intermediate.
                Tmp ta, tb;
                portable.slot[75 + f].biFirst(ta.at(), 64, p.at(), Plane::kStride, w, h);
                t.slot[75 + f].biFirst(tb.at(), 64, p.at(), Plane::kStride, w, h);
                // Second prediction over an intermediate from anywhere in its range.
                Tmp first;
                for (auto &v : first.v)
                    v = int16_t(rng.range(0, 3) == 0 ? (rng.range(0, 1) ? 32767 : -32768) : rng.range(-9000, 26000));
                const int flag = rng.range(0, 1);
                Out sa, sb;
                portable.slot[91 + f].lumaBiSecond(sa.at(), Out::kStride, p.at(), Plane::kStride, first.at(), w, h,
                                                   flag);
                t.slot[91 + f].lumaBiSecond(sb.at(), Out::kStride, p.at(), Plane::kStride, first.at(), w, h, flag);
                if (a.pix != b.pix || ta.v != tb.v || sa.pix != sb.pix)
                    QFAIL(qPrintable(QString("seed %1 frac %2 %3x%4: uni %5 first %6 second %7")
                                         .arg(seed)
                                         .arg(f)
                                         .arg(w)
                                         .arg(h)
                                         .arg(a.pix == b.pix)
                                         .arg(ta.v == tb.v)
                                         .arg(sa.pix == sb.pix)));
            }
}

void TestSimd::chromaPrediction()
{
    H265D_DSP_TABLE t;
    if (!tableFor(kSse41, t))
        QSKIP("no SSE4.1");
    const uint64_t seed = 404;
    Rng rng(seed);
    const Plane planes[2] = {Plane(rng, 0), Plane(rng, 1)};
    auto run = [](const H265D_DSP_TABLE &d, int xf, int yf, const uint8_t *src, int w, int h, Out &uni, Tmp &first,
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
    for (int xf = 0; xf < 8; ++xf)
        for (int yf = 0; yf < 8; ++yf)
            for (int w : kWidths)
                for (int h = 2; h <= 64; h += (w <= 32 && h <= 32) ? 1 : 7) {
                    const Plane &p = planes[(w + h + xf) % 2];
                    Tmp tmpIn;
                    for (auto &v : tmpIn.v)
                        v = int16_t(rng.range(-32768, 32767));
                    Out ua, ub, sa, sb;
                    Tmp fa, fb;
                    run(portable, xf, yf, p.at(), w, h, ua, fa, tmpIn.at(), sa);
                    run(t, xf, yf, p.at(), w, h, ub, fb, tmpIn.at(), sb);
                    if (ua.pix != ub.pix || fa.v != fb.v || sa.pix != sb.pix)
                        QFAIL(qPrintable(QString("seed %1 frac %2,%3 %4x%5").arg(seed).arg(xf).arg(yf).arg(w).arg(h)));
                }
}

void TestSimd::weightedPrediction()
{
    H265D_DSP_TABLE t;
    if (!tableFor(kSse41, t))
        QSKIP("no SSE4.1");
    const uint64_t seed = 505;
    Rng rng(seed);
    for (int round = 0; round < 20000; ++round) {
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
        const int slotUni = round % 2 ? H265D_SLOT_WP_UNI_LUMA : H265D_SLOT_WP_UNI_CHROMA;
        const int slotBi = round % 2 ? H265D_SLOT_WP_BI_LUMA : H265D_SLOT_WP_BI_CHROMA;
        Out ua, ub, ba, bb;
        portable.slot[slotUni].weightedUni(d, w0, o0, ua.at(), Out::kStride, s0.at(), 64, w, h, b0);
        t.slot[slotUni].weightedUni(d, w0, o0, ub.at(), Out::kStride, s0.at(), 64, w, h, b0);
        portable.slot[slotBi].weightedBi(d, w0, w1, o0, o1, ba.at(), Out::kStride, s0.at(), s1.at(), 64, w, h, b0, b1);
        t.slot[slotBi].weightedBi(d, w0, w1, o0, o1, bb.at(), Out::kStride, s0.at(), s1.at(), 64, w, h, b0, b1);
        if (ua.pix != ub.pix || ba.pix != bb.pix)
            QFAIL(qPrintable(QString("seed %1 round %2").arg(seed).arg(round)));
    }
}

void TestSimd::rowCopies()
{
    for (uint32_t level : {kSse2, kAvx}) {
        H265D_DSP_TABLE t;
        if (!tableFor(level, t))
            continue;
        const int stride = 320, rows = 4;
        alignas(32) static uint8_t src[320 * 4], dst[320 * 4 + 64];
        for (int i = 0; i < stride * rows; ++i)
            src[i] = uint8_t(i * 29 + 3);
        for (int slot : {H265D_SLOT_COPY_ROWS_ALIGNED, H265D_SLOT_COPY_ROWS})
            for (int start : {0, 1, 8, 16, 32})
                for (int width = 1; width <= 256; ++width) {
                    // The aligned copy is only used on aligned rows.
                    if (slot == H265D_SLOT_COPY_ROWS_ALIGNED && start % 32 != 0)
                        continue;
                    std::memset(dst, 0xC3, sizeof dst);
                    t.slot[slot].copyRows(src + start, dst + start, width, rows, stride);
                    for (int y = 0; y < rows; ++y)
                        for (int x = 0; x < stride - 32; ++x) {
                            const int i = y * stride + x;
                            const uint8_t want = (x >= start && x < start + width) ? src[i] : 0xC3;
                            if (dst[i] != want)
                                QFAIL(qPrintable(QString("level %1 slot %2 start %3 width %4 (%5,%6)")
                                                     .arg(level)
                                                     .arg(slot)
                                                     .arg(start)
                                                     .arg(width)
                                                     .arg(x)
                                                     .arg(y)));
                        }
                }
    }
}

void TestSimd::saoKernels()
{
    H265D_DSP_TABLE t;
    if (!tableFor(kSse41, t))
        QSKIP("no SSE4.1");
    const uint64_t seed = 909;
    Rng rng(seed);
    for (int round = 0; round < 8000; ++round) {
        const int cIdx = rng.range(0, 2);
        H265D_SAO_PARAMS p{};
        p.SaoTypeIdx[cIdx] = uint8_t(rng.range(1, 2));
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
        std::vector<uint8_t> work(size_t(Out::kStride) * 70);
        std::copy(a.pix.begin(), a.pix.end(), work.begin());
        const uint8_t *wsrc = work.data() + (a.at() - a.pix.data());
        if (p.SaoTypeIdx[cIdx] == 1) {
            portable.slot[H265D_SLOT_SAO_BAND].saoBand(a.at(), Out::kStride, &p, w, h, cIdx);
            t.slot[H265D_SLOT_SAO_BAND].saoBand(b.at(), Out::kStride, &p, w, h, cIdx);
        } else {
            portable.slot[H265D_SLOT_SAO_EDGE].saoEdge(a.at(), wsrc, Out::kStride, &p, avail, w, h, cIdx);
            t.slot[H265D_SLOT_SAO_EDGE].saoEdge(b.at(), wsrc, Out::kStride, &p, avail, w, h, cIdx);
        }
        if (a.pix != b.pix)
            QFAIL(qPrintable(QString("seed %1 round %2").arg(seed).arg(round)));
    }
}

void TestSimd::deblockingKernels()
{
    // Chroma kernels come with SSE2, luma kernels with SSE4.1.
    for (uint32_t level : {kSse2, kSse41}) {
        H265D_DSP_TABLE t;
        if (!tableFor(level, t))
            continue;
        const bool luma = level == kSse41;
        const uint64_t seed = 1010 + level;
        Rng rng(seed);
        for (int round = 0; round < 30000; ++round) {
            const bool vertical = round & 1, chroma = (round & 2) || !luma;
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
            if (chroma) {
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
            if (a.pix != b.pix)
                QFAIL(qPrintable(QString("seed %1 round %2").arg(seed).arg(round)));
        }
    }
}

void TestSimd::borderExtension()
{
    const uint64_t seed = 1111;
    Rng rng(seed);
    for (uint32_t level : {kSse2, kAvx}) {
        H265D_DSP_TABLE t;
        if (!tableFor(level, t))
            continue;
        for (int round = 0; round < 60; ++round) {
            const int w = rng.range(1, 80), h = rng.range(1, 20);
            const int padX = rng.range(0, 1) ? 128 : 64, padY = padX == 128 ? 80 : 40;
            const int threadType = round % 2;
            const int stride = w + 2 * padX + 7;
            std::vector<uint8_t> a(size_t(stride) * (h + 2 * padY + 2));
            for (auto &v : a)
                v = uint8_t(rng.next());
            std::vector<uint8_t> b = a;
            const size_t origin = size_t(padY + 1) * stride + padX;
            portable.slot[H265D_SLOT_EXTEND_BORDER].extendBorder(threadType, a.data() + origin, w, h, stride, padX,
                                                                 padY);
            t.slot[H265D_SLOT_EXTEND_BORDER].extendBorder(threadType, b.data() + origin, w, h, stride, padX, padY);
            if (a != b)
                QFAIL(qPrintable(QString("seed %1 level %2 round %3").arg(seed).arg(level).arg(round)));
        }
    }
}

QTEST_APPLESS_MAIN(TestSimd)
#include "tst_simd.moc"
