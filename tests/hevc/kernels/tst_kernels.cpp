// The portable kernels, and the SSE4.1 ones where the processor has them,
// against the standard's equations where streams rarely reach: saturation
// and the qP edges of dequantisation, extreme and partial transforms, flags
// the parameter sets disable, the intra guards and the strong smoothing
// threshold. Whole streams are checked bit-exactly by the
// corpus entries for every processor mask, and the other vector kernels
// against the portable ones by the SIMD suite.
#include "kernel_reference.h"

#include "hevc/dsp/dsp_internal.h"
#include "hevc/dsp/h265d_dsp.h"

#include "../common/intraslots.h"
#include "../common/test_rng.h"

#include <QtTest>

#include <cstring>
#include <vector>

using namespace h265d;

namespace {

using testrng::Rng;

const int kSizes[] = {4, 8, 16, 32};

int log2Of(int n)
{
    int l = 0;
    while ((1 << l) < n)
        ++l;
    return l;
}

// The N-point basis: rows k * 32 / N of the library's 32-point matrix, whose
// entries the corpus checks on whole streams; or the 4-point DST.
std::vector<int> basis(int n, bool dst = false)
{
    std::vector<int> m(n * n);
    for (int k = 0; k < n; ++k)
        for (int i = 0; i < n; ++i)
            m[k * n + i] = dst ? dsp::kDstMatrix[k][i] : dsp::kTransformMatrix[k * 32 / n][i];
    return m;
}

int16_t extreme(Rng &rng)
{
    return int16_t(rng.range(0, 1) ? 32767 : -32768);
}

} // namespace

class TestKernels : public QObject
{
    Q_OBJECT

private:
    H265D_DSP_TABLE dsp{};   // the portable kernels
    H265D_DSP_TABLE sse41{}; // with the SSE4.1 kernels where the processor has them
    bool haveSse41 = false;

    // Runs one transform slot and the reference on the same input; returns
    // false (with a message) on the first differing sample. type: 0 DCT,
    // 1 DST, 2 transform skip.
    bool checkTransform(const H265D_DSP_TABLE &d, int type, int n, const std::vector<int16_t> &coeffs, int columns,
                        const char *what);

private slots:
    void initTestCase();
    void dequantisation_data();
    void dequantisation();
    void dequantiseBlockPicksTables();
    void transforms_data();
    void transforms();
    void residualPath();
    void intraReferenceGuards_data();
    void intraReferenceGuards();
    void strongSmoothingThreshold_data();
    void strongSmoothingThreshold();
};

void TestKernels::initTestCase()
{
    std::memset(&dsp, 0, sizeof dsp);
    uint32_t flags = 0xFFFFFFFFu;
    initDspFunctionTable(&dsp, &flags, 0);
    QCOMPARE(flags, 0u);
    const uint32_t level = H265D_CPU_SSE2 | H265D_CPU_SSSE3 | H265D_CPU_SSE41;
    initDspFunctionTableMasked(&sse41, &flags, level);
    haveSse41 = (flags & level) == level;
}

// The rows of a _data() function once for the portable kernels and once for
// the vector ones; the test function picks its table with PICK_TABLE.
#define PICK_TABLE(vector)                                                                                             \
    if ((vector) && !haveSse41)                                                                                        \
        QSKIP("the processor lacks SSE4.1");                                                                           \
    const H265D_DSP_TABLE &d = (vector) ? sse41 : dsp

bool TestKernels::checkTransform(const H265D_DSP_TABLE &d, int type, int n, const std::vector<int16_t> &coeffs,
                                 int columns, const char *what)
{
    const int slot = type == 2 ? H265D_SLOT_TRANSFORM_SKIP : type == 1 ? H265D_SLOT_IDST4 : H265D_SLOT_IDCT + log2Of(n);
    const int stride = n + 7;
    Rng rng(uint64_t(slot) * 131 + uint64_t(coeffs[0] & 0xFFFF));
    std::vector<uint8_t> pic(stride * (n + 2), 0);
    for (auto &p : pic)
        p = uint8_t(rng.next());
    std::vector<uint8_t> pred(n * n);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            pred[y * n + x] = pic[(y + 1) * stride + x];
    std::vector<uint8_t> expectedPic = pic;
    if (type == 2)
        for (int i = 0; i < n * n; ++i)
            pred[i] = uint8_t(ref::clip255(pred[i] + ((coeffs[i] + 16) >> 5)));
    else
        ref::inverseTransformAdd(n, coeffs.data(), pred.data(), basis(n, type == 1).data());
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            expectedPic[(y + 1) * stride + x] = pred[y * n + x];
    std::vector<int16_t> work = coeffs;
    d.slot[slot].transformAdd(stride, work.data(), pic.data() + stride, columns);
    for (size_t i = 0; i < pic.size(); ++i)
        if (pic[i] != expectedPic[i]) {
            qWarning("%s: slot %d N %d sample (%d, %d): got %d want %d", what, slot, n, int(i % stride),
                     int(i / stride) - 1, pic[i], expectedPic[i]);
            return false;
        }
    return true;
}

void TestKernels::dequantisation_data()
{
    // Per size: qP 0, the last qP whose shift still rounds, the first that is
    // a pure left shift (qP / 6 reaches bdShift), and 51.
    QTest::addColumn<bool>("vector");
    QTest::addColumn<bool>("scaled");
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("qP");
    for (int kind = 0; kind < 3; ++kind)
        for (int n : kSizes) {
            const int pure = 6 * (log2Of(n) + 3);
            const char *name = kind == 0 ? "flat" : kind == 1 ? "SSE4.1 flat" : "scaled";
            for (int qP : {0, pure - 1, pure, 51})
                if (qP <= 51)
                    QTest::addRow("%s %dx%d qP %d", name, n, n, qP) << (kind == 1) << (kind == 2) << n << qP;
        }
}

void TestKernels::dequantisation()
{
    QFETCH(bool, vector);
    PICK_TABLE(vector);
    QFETCH(bool, scaled);
    QFETCH(int, n);
    QFETCH(int, qP);
    const int l = log2Of(n);
    Rng rng(uint64_t(n * 64 + qP));
    for (int round = 0; round < 8; ++round) {
        std::vector<int16_t> c(n * n);
        std::vector<int> m(n * n, 16);
        std::vector<uint16_t> factors(n * n);
        for (int i = 0; i < n * n; ++i) {
            c[i] = rng.range(0, 3) == 0 ? extreme(rng) : int16_t(rng.range(-2000, 2000));
            if (scaled)
                m[i] = rng.range(1, 255);
            factors[i] = uint16_t(m[i] * ref::kLevelScale[qP % 6]);
        }
        const int count = round == 0 ? n * n : rng.range(1, n * n);
        std::vector<int16_t> got = c;
        if (scaled)
            d.slot[H265D_SLOT_DEQUANT_SCALED + l].dequantScaled(count, factors.data(), qP / 6, got.data());
        else
            d.slot[H265D_SLOT_DEQUANT_FLAT + l].dequantFlat(count, ref::kLevelScale[qP % 6] << (qP / 6), got.data());
        for (int i = 0; i < n * n; ++i) {
            const int16_t want = i < count ? ref::scaleCoefficient(c[i], m[i], qP, l) : c[i];
            if (got[i] != want)
                QFAIL(qPrintable(QString("round %1 index %2: %3 want %4").arg(round).arg(i).arg(got[i]).arg(want)));
        }
    }
}

void TestKernels::dequantiseBlockPicksTables()
{
    static H265D_DEQUANT_FACTORS factors;
    for (int m = 0; m < 2; ++m)
        for (int q = 0; q < 6; ++q)
            for (int i = 0; i < 1024; ++i)
                factors.f32[m][q][i] = uint16_t(m == 0 ? 16 * 40 : 32 * 40);
    for (int m = 0; m < 6; ++m)
        for (int q = 0; q < 6; ++q)
            for (int i = 0; i < 16; ++i)
                factors.f4[m][q][i] = uint16_t((m + 1) * (q + 1));
    H265D_RESIDUAL_CTX ctx{&dsp, &factors, 0, 0, 1};
    H265D_TU_DESC d{};
    d.iLog2Size = 5;
    d.iQp = 4 * 6; // qP / 6 = 4, levelScale index 0
    d.iCoeffCount = 1;
    // matrixId 3 of a 32x32 block is the inter list, stored second.
    for (int matrixId : {0, 3}) {
        std::vector<int16_t> c(1024, 0);
        c[0] = 100;
        d.iMatrixId = matrixId;
        dequantiseBlock(&d, &ctx, c.data());
        const int m = matrixId == 3 ? 32 : 16;
        QCOMPARE(c[0], ref::scaleCoefficient(100, m, d.iQp, 5));
    }
    // 4x4: the table of (matrixId, qP % 6).
    d.iLog2Size = 2;
    d.iQp = 13;
    d.iMatrixId = 4;
    d.iCoeffCount = 16;
    std::vector<int16_t> c(16, 1000);
    dequantiseBlock(&d, &ctx, c.data());
    QCOMPARE(c[15], int16_t((1000 * 5 * 2 * 4 + 16) >> 5));
    // Without scaling lists the flat path never reads the tables.
    ctx.iScalingListEnabled = 0;
    ctx.pFactors = nullptr;
    std::fill(c.begin(), c.end(), int16_t(1000));
    dequantiseBlock(&d, &ctx, c.data());
    QCOMPARE(c[15], ref::scaleCoefficient(1000, 16, 13, 2));
}

void TestKernels::transforms_data()
{
    // kind 0: sparse extremes; 1 and 2: column 0 and row 0 at +32767 or
    // -32768, which overflows 16 bits in the first stage; 3: coefficients in
    // the first `columns` columns only; 4: the last column, with a count of 4.
    // type: 0 DCT, 1 DST, 2 transform skip.
    QTest::addColumn<bool>("vector");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("columns");
    for (bool vector : {false, true}) {
        const char *level = vector ? "SSE4.1 " : "";
        QTest::addRow("%sDST extremes", level) << vector << 1 << 4 << 0 << 4;
        QTest::addRow("%stransform skip extremes", level) << vector << 2 << 4 << 0 << 4;
        for (int n : kSizes) {
            QTest::addRow("%s%dx%d extremes", level, n, n) << vector << 0 << n << 0 << n;
            QTest::addRow("%s%dx%d saturation +", level, n, n) << vector << 0 << n << 1 << n;
            QTest::addRow("%s%dx%d saturation -", level, n, n) << vector << 0 << n << 2 << n;
        }
        // A count that covers the nonzero columns gives the full transform's
        // samples; the small sizes ignore it.
        for (int columns : {4, 12, 28})
            QTest::addRow("%s32x32 columns %d", level, columns) << vector << 0 << 32 << 3 << columns;
        QTest::addRow("%s16x16 columns 8", level) << vector << 0 << 16 << 3 << 8;
        QTest::addRow("%s8x8 ignores the count", level) << vector << 0 << 8 << 4 << 4;
        QTest::addRow("%s4x4 ignores the count", level) << vector << 0 << 4 << 4 << 4;
    }
}

void TestKernels::transforms()
{
    QFETCH(bool, vector);
    PICK_TABLE(vector);
    QFETCH(int, type);
    QFETCH(int, n);
    QFETCH(int, kind);
    QFETCH(int, columns);
    Rng rng(uint64_t(n * 8 + kind));
    for (int round = 0; round < (kind == 0 || kind == 3 ? 20 : 1); ++round) {
        std::vector<int16_t> c(n * n, 0);
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                int16_t &v = c[y * n + x];
                if (kind == 0 && rng.range(0, 3) == 0)
                    v = extreme(rng);
                else if ((kind == 1 || kind == 2) && (x == 0 || y == 0))
                    v = int16_t(kind == 1 ? 32767 : -32768);
                else if (kind == 3 && x < columns && rng.range(0, 2) == 0)
                    v = int16_t(rng.range(-2000, 2000));
            }
        if (kind == 4) {
            c[n - 1] = 900;
            c[n * n - 1] = -900;
        }
        QVERIFY(checkTransform(d, type, n, c, columns, QTest::currentDataTag()));
    }
}

void TestKernels::residualPath()
{
    static H265D_DEQUANT_FACTORS factors;
    // Scaling factors that would change every result if bypass used them.
    for (int m = 0; m < 6; ++m)
        for (int q = 0; q < 6; ++q)
            for (int i = 0; i < 16; ++i)
                factors.f4[m][q][i] = 7777;
    H265D_RESIDUAL_CTX ctx{&dsp, &factors, 1, 1, 1};
    const int stride = 16;

    // Bypass: raw residuals, clipped, even with scaling lists on.
    {
        std::vector<uint8_t> pic(stride * 4, 0);
        std::vector<int16_t> c(16);
        for (int i = 0; i < 16; ++i) {
            pic[(i / 4) * stride + i % 4] = uint8_t(i * 16);
            c[i] = int16_t(i * 10 - 80);
        }
        H265D_TU_DESC d{1, 1, 1, 0, 30, 2, 0, 16, 4};
        reconstructResidual(&ctx, &d, stride, c.data(), pic.data());
        for (int i = 0; i < 16; ++i)
            QCOMPARE(int(pic[(i / 4) * stride + i % 4]), ref::clip255(i * 16 + i * 10 - 80));
        // The flag alone does nothing when the parameter sets disable bypass.
        H265D_RESIDUAL_CTX noBypass = ctx;
        noBypass.iTransquantBypassEnabled = 0;
        noBypass.iScalingListEnabled = 0;
        std::vector<uint8_t> pic2(stride * 4, 100);
        std::vector<int16_t> c2(16, 0);
        c2[0] = 64;
        reconstructResidual(&noBypass, &d, stride, c2.data(), pic2.data());
        QVERIFY(pic2[0] != 164); // dequantised and transformed, not added raw
    }
    // Transform skip (its arithmetic is in the transform rows): the flag is
    // ignored when the parameter sets disable it.
    {
        H265D_RESIDUAL_CTX noSkip = ctx;
        noSkip.iScalingListEnabled = 0;
        noSkip.iTransformSkipEnabled = 0;
        Rng rng(5);
        std::vector<int16_t> c3(16), c4;
        for (auto &v : c3)
            v = int16_t(rng.range(-400, 400));
        c4 = c3;
        std::vector<uint8_t> p3(stride * 4, 128), p4(stride * 4, 128);
        H265D_TU_DESC skip{0, 1, 1, 0, 22, 2, 0, 16, 4}, plain = skip;
        plain.ucTransformSkip = 0;
        reconstructResidual(&noSkip, &skip, stride, c3.data(), p3.data());
        reconstructResidual(&noSkip, &plain, stride, c4.data(), p4.data());
        QCOMPARE(p3, p4);
    }
}

namespace {

// Reference arrays laid out as the decoder lays them: guard bytes in front
// of the corner and behind sample 2N - 1, filled with canaries.
struct KernelRefs
{
    static constexpr int kFront = H265D_INTRA_REF_FRONT_GUARD + 8;
    static constexpr int kBack = H265D_INTRA_REF_BACK_GUARD + 8;
    int n;
    std::vector<uint8_t> topBuf, leftBuf;
    KernelRefs(const ref::IntraRefs &r, Rng &rng) : n(r.n)
    {
        topBuf.resize(kFront + 2 * n + 1 + kBack);
        leftBuf.resize(topBuf.size());
        for (auto &b : topBuf)
            b = uint8_t(rng.next());
        for (auto &b : leftBuf)
            b = uint8_t(rng.next());
        for (int i = -1; i < 2 * n; ++i) {
            top()[i] = uint8_t(r.p(i, -1));
            left()[i] = uint8_t(r.p(-1, i));
        }
    }
    uint8_t *top() { return topBuf.data() + kFront + 1; }
    uint8_t *left() { return leftBuf.data() + kFront + 1; }
};

ref::IntraRefs randomRefs(int n, Rng &rng)
{
    ref::IntraRefs r;
    r.n = n;
    r.top.resize(2 * n + 1);
    r.left.resize(2 * n + 1);
    for (int i = 0; i <= 2 * n; ++i) {
        r.top[i] = rng.range(0, 255);
        r.left[i] = rng.range(0, 255);
    }
    r.left[0] = r.top[0];
    return r;
}

} // namespace

void TestKernels::intraReferenceGuards_data()
{
    QTest::addColumn<bool>("vector");
    QTest::newRow("portable") << false;
    QTest::newRow("SSE4.1") << true;
}

void TestKernels::intraReferenceGuards()
{
    // Prediction writes its block and no sample beside it (canaries after
    // every row), and of the references only the projected samples in front
    // of the corner, down to index -(N + 1); canaries beyond and every
    // reference sample stay.
    QFETCH(bool, vector);
    PICK_TABLE(vector);
    Rng rng(7);
    for (int n : kSizes)
        for (int mode = 0; mode <= 34; ++mode) {
            const ref::IntraRefs r = randomRefs(n, rng);
            KernelRefs k(r, rng);
            const auto topBefore = k.topBuf, leftBefore = k.leftBuf;
            const int stride = n + 16;
            std::vector<uint8_t> dst(stride * n, 0x5C);
            const int cIdx = mode & 1; // chroma for the odd modes
            testintra::predict(d, mode, cIdx, log2Of(n), k.top(), k.left(), stride, dst.data());
            for (int i = 0; i < stride * n; ++i)
                if (i % stride >= n && dst[i] != 0x5C)
                    QFAIL(qPrintable(
                        QString("N %1 mode %2 wrote (%3, %4)").arg(n).arg(mode).arg(i % stride).arg(i / stride)));
            for (int i = 0; i < int(k.topBuf.size()); ++i) {
                const int idx = i - KernelRefs::kFront - 1;
                if (idx >= -(n + 1) && idx <= -2)
                    continue;
                if (k.topBuf[i] != topBefore[i] || k.leftBuf[i] != leftBefore[i])
                    QFAIL(qPrintable(QString("N %1 mode %2 touched index %3").arg(n).arg(mode).arg(idx)));
            }
            // Only the negative angles and mode 18 project at all, and only
            // in front of their main array.
            const bool projects = mode >= 11 && mode <= 25;
            bool touchedTop = k.topBuf != topBefore, touchedLeft = k.leftBuf != leftBefore;
            if (!projects)
                QVERIFY2(!touchedTop && !touchedLeft, qPrintable(QString("mode %1").arg(mode)));
            if (mode > 18)
                QVERIFY(!touchedLeft);
            if (mode < 18)
                QVERIFY(!touchedTop);
        }
    // Mode 18 fills exactly top[-2] .. top[-(N + 1)] with the left column.
    for (int n : kSizes) {
        const ref::IntraRefs r = randomRefs(n, rng);
        KernelRefs k(r, rng);
        std::vector<uint8_t> dst(n * n);
        d.slot[H265D_SLOT_INTRA_DIAG_MID + log2Of(n)].intra(0, k.top(), k.left(), n, dst.data());
        for (int j = 1; j <= n; ++j)
            QCOMPARE(int(k.top()[-1 - j]), r.p(-1, j - 1));
    }
}

void TestKernels::strongSmoothingThreshold_data()
{
    // Straight ramps from the corner, one of them bent at p(2N - 1, -1) or
    // p(-1, 2N - 1): a bend of 7 keeps the bilinear filter of 32x32 blocks,
    // 8 takes the ordinary one, as does a disabled flag.
    QTest::addColumn<bool>("vector");
    QTest::addColumn<int>("n");
    QTest::addColumn<bool>("left");
    QTest::addColumn<int>("bend");
    QTest::addColumn<bool>("strong");
    for (bool vector : {false, true}) {
        const char *level = vector ? "SSE4.1 " : "";
        for (int bend : {7, -7, 8, -8}) {
            QTest::addRow("%stop bend %d", level, bend) << vector << 32 << false << bend << true;
            QTest::addRow("%sleft bend %d", level, bend) << vector << 32 << true << bend << true;
        }
        QTest::addRow("%sstrong filter off", level) << vector << 32 << false << 0 << false;
        for (int n : {8, 16})
            QTest::addRow("%s%dx%d", level, n, n) << vector << n << false << 0 << true;
    }
}

void TestKernels::strongSmoothingThreshold()
{
    QFETCH(bool, vector);
    PICK_TABLE(vector);
    QFETCH(bool, left);
    QFETCH(int, bend);
    QFETCH(int, n);
    QFETCH(bool, strong);
    const int mode = 2;
    ref::IntraRefs r;
    r.n = n;
    r.top.resize(2 * n + 1);
    r.left.resize(2 * n + 1);
    for (int i = 0; i <= 2 * n; ++i) {
        r.top[i] = 20 + 3 * i;
        r.left[i] = 20 + 2 * i;
    }
    (left ? r.left : r.top)[2 * n] += bend;
    const ref::IntraRefs want = ref::filterReferences(r, mode, strong);
    Rng rng(8);
    KernelRefs k(r, rng);
    const auto topBefore = k.topBuf, leftBefore = k.leftBuf;
    d.slot[H265D_SLOT_INTRA_SMOOTH + log2Of(n)].intraSmooth(strong, mode, k.left(), k.top());
    for (int i = -1; i < 2 * n; ++i) {
        QCOMPARE(int(k.top()[i]), want.p(i, -1));
        QCOMPARE(int(k.left()[i]), want.p(-1, i));
    }
    // Nothing outside the 2N + 1 samples moves.
    for (size_t i = 0; i < k.topBuf.size(); ++i)
        if (i < size_t(KernelRefs::kFront) || i >= size_t(KernelRefs::kFront + 2 * n + 1))
            QVERIFY(k.topBuf[i] == topBefore[i] && k.leftBuf[i] == leftBefore[i]);
}

QTEST_APPLESS_MAIN(TestKernels)
#include "tst_kernels.moc"
