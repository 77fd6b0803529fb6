// The portable kernels against the standard's equations where streams rarely
// reach: the transform tables and saturation, dequantisation, the residual
// paths, the intra guards and smoothing, PCM and row copies. Prediction on
// whole streams is checked bit-exactly by the corpus entries for every
// processor mask, and the vector kernels against these by the SIMD suite.
#include "kernel_reference.h"

#include "hevc/dsp/h265d_dsp.h"

#include "../common/intraslots.h"
#include "../common/test_rng.h"

#include <QtTest>

#include <cmath>
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

// The N-point basis of the standard: the 4 and 8 point ones are typed in,
// the larger ones are taken from the library's matrix after transformMatrix
// has checked it against the Recommendation's values.
std::vector<int> dctBasis(int n);

} // namespace

class TestKernels : public QObject
{
    Q_OBJECT

private:
    H265D_DSP_TABLE dsp{};

    // Runs one transform slot and the reference on the same input; returns
    // false (with a message) on the first differing sample.
    bool checkTransform(int slot, int n, const std::vector<int16_t> &coeffs, int columns, const int *basis,
                        const char *what);

private slots:
    void initTestCase();
    void transformMatrix();
    void dequantFlat();
    void dequantScaled();
    void dequantiseBlockPicksTables();
    void inverseTransforms();
    void partialColumnTransform();
    void firstStageSaturation();
    void residualPath();
    void intraReferenceGuards();
    void referenceSmoothing();
    void pcmAndRowCopies();
};

namespace {
std::vector<int> g_basis16, g_basis32;

std::vector<int> dctBasis(int n)
{
    std::vector<int> m(n * n);
    for (int k = 0; k < n; ++k)
        for (int i = 0; i < n; ++i) {
            if (n == 4)
                m[k * n + i] = ref::kMatrix4[k][i];
            else if (n == 8)
                m[k * n + i] = ref::kMatrix8[k][i];
            else
                m[k * n + i] = (n == 16 ? g_basis16 : g_basis32)[k * n + i];
        }
    return m;
}
} // namespace

void TestKernels::initTestCase()
{
    std::memset(&dsp, 0, sizeof dsp);
    uint32_t flags = 0xFFFFFFFFu;
    initDspFunctionTable(&dsp, &flags, 0); // the portable kernels
    QCOMPARE(flags, 0u);
}

void TestKernels::transformMatrix()
{
    // Row k of the N-point matrix is row k * 32 / N of the 32-point one. The
    // 8-point matrix is typed in; the 16- and 32-point odd rows are fixed by
    // their first columns and the cosine symmetries.
    const int odd16[8] = {90, 87, 80, 70, 57, 43, 25, 9};
    const int odd32[16] = {90, 90, 88, 85, 82, 78, 73, 67, 61, 54, 46, 38, 31, 22, 13, 4};
    // Build the reference bases from these facts: entry (k, n) of the
    // N-point matrix is the magnitude for the angle (2n + 1) k pi / 2N folded
    // into the first quadrant, with the sign of the cosine.
    auto magnitude = [&](int m64) -> int { // m64: angle in units of pi / 64, 0..32
        if (m64 == 0)
            return 64;
        if (m64 == 32)
            return 0;
        if (m64 % 2 == 1)
            return odd32[(m64 - 1) / 2];
        if (m64 % 4 == 2)
            return odd16[(m64 - 2) / 4];
        if (m64 % 8 == 4)
            return ref::kMatrix8[(m64 / 4)][0];
        return ref::kMatrix4[m64 / 8][0];
    };
    for (int n : {8, 16, 32}) {
        std::vector<int> m(n * n);
        for (int k = 0; k < n; ++k)
            for (int i = 0; i < n; ++i) {
                if (k == 0) {
                    m[i] = 64;
                    continue;
                }
                int a = ((2 * i + 1) * k * (32 / n)) % 128;
                int sign = 1;
                if (a > 64)
                    a = 128 - a;
                if (a > 32) {
                    a = 64 - a;
                    sign = -1;
                }
                m[k * n + i] = sign * magnitude(a);
                // Within one unit of the real cosine basis.
                const double exact = 64.0 * std::sqrt(2.0) * std::cos((2 * i + 1) * k * M_PI / (2.0 * n));
                QVERIFY(std::fabs(exact - m[k * n + i]) < 1.6);
            }
        if (n == 8) {
            for (int k = 0; k < 8; ++k)
                for (int i = 0; i < 8; ++i)
                    QCOMPARE(m[k * 8 + i], ref::kMatrix8[k][i]);
        } else {
            (n == 16 ? g_basis16 : g_basis32) = m;
        }
    }
    // The kernels agree with these bases on single coefficients, which
    // exposes any wrong matrix entry: for each frequency pair (k, j) the
    // output of a lone coefficient depends on M[k][*] and M[j][*].
    for (int n : {16, 32}) {
        const auto basis = dctBasis(n);
        Rng rng(77 + n);
        for (int k = 0; k < n; ++k) {
            std::vector<int16_t> c(n * n, 0);
            c[k * n + rng.range(0, n - 1)] = int16_t(rng.range(500, 3000));
            c[rng.range(0, n - 1) * n + k] = int16_t(-rng.range(500, 3000));
            QVERIFY(checkTransform(H265D_SLOT_IDCT + log2Of(n), n, c, n, basis.data(), "single frequency"));
        }
    }
}

bool TestKernels::checkTransform(int slot, int n, const std::vector<int16_t> &coeffs, int columns, const int *basis,
                                 const char *what)
{
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
    ref::inverseTransformAdd(n, coeffs.data(), pred.data(), basis);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            expectedPic[(y + 1) * stride + x] = pred[y * n + x];
    std::vector<int16_t> work = coeffs;
    dsp.slot[slot].transformAdd(stride, work.data(), pic.data() + stride, columns);
    for (size_t i = 0; i < pic.size(); ++i)
        if (pic[i] != expectedPic[i]) {
            qWarning("%s: slot %d N %d sample (%d, %d): got %d want %d", what, slot, n, int(i % stride),
                     int(i / stride) - 1, pic[i], expectedPic[i]);
            return false;
        }
    return true;
}

void TestKernels::dequantFlat()
{
    Rng rng(1);
    for (int n : kSizes) {
        const int l = log2Of(n);
        for (int qP = 0; qP <= 51; ++qP) {
            std::vector<int16_t> c(n * n);
            for (auto &v : c)
                v = int16_t(rng.range(0, 3) == 0 ? (rng.range(0, 1) ? 32767 : -32768) : rng.range(-300, 300));
            const int count = rng.range(1, n * n);
            std::vector<int16_t> got = c;
            dsp.slot[H265D_SLOT_DEQUANT_FLAT + l].dequantFlat(count, ref::kLevelScale[qP % 6] << (qP / 6), got.data());
            for (int i = 0; i < n * n; ++i) {
                const int16_t want = i < count ? ref::scaleCoefficient(c[i], 16, qP, l) : c[i];
                if (got[i] != want)
                    QFAIL(qPrintable(
                        QString("N %1 qP %2 index %3: %4 want %5").arg(n).arg(qP).arg(i).arg(got[i]).arg(want)));
            }
        }
    }
    // Saturation at both ends.
    int16_t c[2] = {32767, -32768};
    dsp.slot[H265D_SLOT_DEQUANT_FLAT + 2].dequantFlat(2, 72 << 8, c);
    QCOMPARE(c[0], int16_t(32767));
    QCOMPARE(c[1], int16_t(-32768));
}

void TestKernels::dequantScaled()
{
    Rng rng(2);
    for (int n : kSizes) {
        const int l = log2Of(n);
        for (int qP = 0; qP <= 51; ++qP) {
            std::vector<int16_t> c(n * n);
            std::vector<int> m(n * n);
            std::vector<uint16_t> factors(n * n);
            for (int i = 0; i < n * n; ++i) {
                c[i] = int16_t(rng.range(0, 5) == 0 ? (rng.range(0, 1) ? 32767 : -32768) : rng.range(-2000, 2000));
                m[i] = rng.range(1, 255);
                factors[i] = uint16_t(m[i] * ref::kLevelScale[qP % 6]);
            }
            const int count = rng.range(1, n * n);
            std::vector<int16_t> got = c;
            dsp.slot[H265D_SLOT_DEQUANT_SCALED + l].dequantScaled(count, factors.data(), qP / 6, got.data());
            for (int i = 0; i < n * n; ++i) {
                const int16_t want = i < count ? ref::scaleCoefficient(c[i], m[i], qP, l) : c[i];
                if (got[i] != want)
                    QFAIL(qPrintable(
                        QString("N %1 qP %2 index %3: %4 want %5").arg(n).arg(qP).arg(i).arg(got[i]).arg(want)));
            }
        }
    }
    // qP / 6 at or above the shift: a pure left shift, no rounding term, so
    // an odd product stays odd before the shift.
    int16_t c[3] = {3, -3, 20000};
    const uint16_t f[3] = {1, 1, 2};
    dsp.slot[H265D_SLOT_DEQUANT_SCALED + 2].dequantScaled(3, f, 6, c);
    QCOMPARE(c[0], int16_t(6));
    QCOMPARE(c[1], int16_t(-6));
    QCOMPARE(c[2], int16_t(32767));
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

void TestKernels::inverseTransforms()
{
    Rng rng(3);
    for (int n : kSizes) {
        const auto basis = dctBasis(n);
        for (int round = 0; round < 40; ++round) {
            std::vector<int16_t> c(n * n, 0);
            const int kind = round % 4;
            for (int i = 0; i < n * n; ++i) {
                if (kind == 0 && rng.range(0, 9) == 0)
                    c[i] = int16_t(rng.range(-64, 64)); // sparse, typical
                else if (kind == 1)
                    c[i] = int16_t(rng.range(-600, 600)); // dense
                else if (kind == 2 && rng.range(0, 3) == 0)
                    c[i] = int16_t(rng.range(0, 1) ? 32767 : -32768); // extremes
                else if (kind == 3 && i < n)
                    c[i] = int16_t(rng.range(-4000, 4000)); // first row only
            }
            QVERIFY(checkTransform(H265D_SLOT_IDCT + log2Of(n), n, c, n, basis.data(), "DCT"));
        }
    }
    std::vector<int> dst(16);
    for (int k = 0; k < 4; ++k)
        for (int i = 0; i < 4; ++i)
            dst[k * 4 + i] = ref::kDst4[k][i];
    for (int round = 0; round < 200; ++round) {
        std::vector<int16_t> c(16);
        for (auto &v : c)
            v = int16_t(round % 5 == 0 ? (rng.range(0, 1) ? 32767 : -32768) : rng.range(-3000, 3000));
        QVERIFY(checkTransform(H265D_SLOT_IDST4, 4, c, 4, dst.data(), "DST"));
    }
}

void TestKernels::partialColumnTransform()
{
    // A 32x32 block whose nonzero coefficients lie in column 0 gives the
    // full transform's samples with a column count of 4; the same for any
    // count that covers the nonzero columns of 16x16 and 32x32 blocks.
    Rng rng(4);
    for (int n : {16, 32}) {
        const auto basis = dctBasis(n);
        for (int cols = 4; cols <= n; cols += 4) {
            std::vector<int16_t> c(n * n, 0);
            for (int y = 0; y < n; ++y)
                for (int x = 0; x < cols; ++x)
                    if (rng.range(0, 2) == 0 && (cols > 4 || x == 0))
                        c[y * n + x] = int16_t(rng.range(-2000, 2000));
            QVERIFY(checkTransform(H265D_SLOT_IDCT + log2Of(n), n, c, cols, basis.data(), "columns"));
        }
    }
    // The small sizes ignore the count.
    for (int n : {4, 8}) {
        const auto basis = dctBasis(n);
        std::vector<int16_t> c(n * n, 0);
        c[n - 1] = 900;
        c[n * n - 1] = -900;
        QVERIFY(checkTransform(H265D_SLOT_IDCT + log2Of(n), n, c, 4, basis.data(), "small ignores count"));
    }
}

void TestKernels::firstStageSaturation()
{
    // Columns of extreme coefficients overflow 16 bits in the first stage;
    // the clip there decides the output.
    for (int n : kSizes) {
        const auto basis = dctBasis(n);
        for (int sign : {1, -1}) {
            std::vector<int16_t> c(n * n, 0);
            // Column 0 of the basis is positive throughout, so equal signs
            // add up far beyond 16 bits at sample 0.
            for (int j = 0; j < n; ++j)
                c[j * n] = int16_t(sign * 32767);
            for (int x = 0; x < n; ++x)
                c[x] = int16_t(sign * 32767);
            QVERIFY(checkTransform(H265D_SLOT_IDCT + log2Of(n), n, c, n, basis.data(), "saturation"));
        }
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
    // Transform skip: dequantised first, then (c + 16) >> 5.
    {
        H265D_RESIDUAL_CTX flat = ctx;
        flat.iScalingListEnabled = 0;
        std::vector<uint8_t> pic(stride * 4, 128);
        std::vector<int16_t> c(16);
        Rng rng(5);
        for (auto &v : c)
            v = int16_t(rng.range(-400, 400));
        const int qP = 22;
        H265D_TU_DESC d{0, 1, 1, 0, qP, 2, 0, 16, 4};
        std::vector<int16_t> orig = c;
        reconstructResidual(&flat, &d, stride, c.data(), pic.data());
        for (int i = 0; i < 16; ++i) {
            const int scaled = ref::scaleCoefficient(orig[i], 16, qP, 2);
            const int r = (scaled * 128 + 2048) >> 12; // tsShift 7, bdShift 12
            QCOMPARE(int(pic[(i / 4) * stride + i % 4]), ref::clip255(128 + r));
        }
        // Clipping at both ends.
        int16_t big[16];
        for (int i = 0; i < 16; ++i)
            big[i] = int16_t(i % 2 ? 32767 : -32768);
        std::vector<uint8_t> p2(stride * 4, 128);
        dsp.slot[H265D_SLOT_TRANSFORM_SKIP].transformAdd(stride, big, p2.data(), 4);
        QCOMPARE(int(p2[0]), 0);
        QCOMPARE(int(p2[1]), 255);
        // Skip flag ignored when the parameter sets disable transform skip.
        H265D_RESIDUAL_CTX noSkip = flat;
        noSkip.iTransformSkipEnabled = 0;
        std::vector<uint8_t> p3(stride * 4, 128), p4(stride * 4, 128);
        std::vector<int16_t> c3 = orig, c4 = orig;
        reconstructResidual(&noSkip, &d, stride, c3.data(), p3.data());
        H265D_TU_DESC dstDesc = d;
        dstDesc.ucTransformSkip = 0;
        reconstructResidual(&noSkip, &dstDesc, stride, c4.data(), p4.data());
        QCOMPARE(p3, p4);
    }
    // 4x4: DST only for intra luma; intra chroma and inter luma take the DCT.
    {
        H265D_RESIDUAL_CTX flat{&dsp, nullptr, 0, 0, 0};
        std::vector<int> dstBasis(16), dctBasis4 = dctBasis(4);
        for (int k = 0; k < 4; ++k)
            for (int i = 0; i < 4; ++i)
                dstBasis[k * 4 + i] = ref::kDst4[k][i];
        struct Case
        {
            int predMode, comp;
            bool dst;
        } cases[] = {{1, 0, true}, {1, 2, false}, {1, 3, false}, {0, 0, false}};
        for (const Case &cs : cases) {
            std::vector<uint8_t> pic(4 * 4, 100);
            std::vector<int16_t> c(16, 0);
            c[0] = 40;
            c[5] = -25;
            c[15] = 13;
            const int qP = 30;
            H265D_TU_DESC d{0, 0, cs.predMode, cs.comp, qP, 2, 0, 16, 4};
            std::vector<int16_t> scaled(16);
            for (int i = 0; i < 16; ++i)
                scaled[i] = ref::scaleCoefficient(c[i], 16, qP, 2);
            std::vector<uint8_t> want(16, 100);
            ref::inverseTransformAdd(4, scaled.data(), want.data(), cs.dst ? dstBasis.data() : dctBasis4.data());
            reconstructResidual(&flat, &d, 4, c.data(), pic.data());
            QCOMPARE(pic, want);
        }
        // Larger blocks pick their size's DCT with the column count.
        std::vector<uint8_t> pic(32 * 32, 90), want(32 * 32, 90);
        std::vector<int16_t> c(32 * 32, 0);
        c[0] = 50;
        c[3 * 32 + 2] = -20;
        H265D_TU_DESC d{0, 0, 1, 0, 27, 5, 0, 3 * 32 + 3, 4};
        std::vector<int16_t> scaled(32 * 32);
        for (int i = 0; i < 32 * 32; ++i)
            scaled[i] = ref::scaleCoefficient(c[i], 16, 27, 5);
        const auto b32 = dctBasis(32);
        ref::inverseTransformAdd(32, scaled.data(), want.data(), b32.data());
        reconstructResidual(&flat, &d, 32, c.data(), pic.data());
        QCOMPARE(pic, want);
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

ref::IntraRefs randomRefs(int n, Rng &rng, int style)
{
    ref::IntraRefs r;
    r.n = n;
    r.top.resize(2 * n + 1);
    r.left.resize(2 * n + 1);
    for (int i = 0; i <= 2 * n; ++i) {
        if (style == 0) {
            r.top[i] = rng.range(0, 255);
            r.left[i] = rng.range(0, 255);
        } else if (style == 1) { // extremes, to reach the clips of the edge filters
            r.top[i] = rng.range(0, 1) * 255;
            r.left[i] = rng.range(0, 1) * 255;
        } else { // smooth ramps with small noise
            r.top[i] = std::min(255, 40 + i * 2 + rng.range(0, 3));
            r.left[i] = std::min(255, 40 + i + rng.range(0, 3));
        }
    }
    r.left[0] = r.top[0];
    return r;
}

} // namespace

void TestKernels::intraReferenceGuards()
{
    // Prediction may only write the projected samples in front of the
    // corner, down to index -(N + 1); canaries beyond and every reference
    // sample stay.
    Rng rng(7);
    for (int n : kSizes)
        for (int mode = 0; mode <= 34; ++mode) {
            const ref::IntraRefs r = randomRefs(n, rng, 0);
            KernelRefs k(r, rng);
            const auto topBefore = k.topBuf, leftBefore = k.leftBuf;
            std::vector<uint8_t> dst(n * n);
            testintra::predict(dsp, mode, 0, log2Of(n), k.top(), k.left(), n, dst.data());
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
        const ref::IntraRefs r = randomRefs(n, rng, 0);
        KernelRefs k(r, rng);
        std::vector<uint8_t> dst(n * n);
        dsp.slot[H265D_SLOT_INTRA_DIAG_MID + log2Of(n)].intra(0, k.top(), k.left(), n, dst.data());
        for (int j = 1; j <= n; ++j)
            QCOMPARE(int(k.top()[-1 - j]), r.p(-1, j - 1));
    }
}

void TestKernels::referenceSmoothing()
{
    Rng rng(8);
    for (int n : {8, 16, 32})
        for (int mode = 0; mode <= 34; ++mode)
            for (int strong = 0; strong <= 1; ++strong)
                for (int style = 0; style < 4; ++style) {
                    ref::IntraRefs r = randomRefs(n, rng, style == 3 ? 2 : style);
                    if (style == 3) {
                        // Straight ramps, then a bend of 7 or 8 at sample N - 1:
                        // the two sides of the strong filter's threshold.
                        const int bend = rng.range(0, 1) ? 7 : 8;
                        for (int i = 0; i <= 2 * n; ++i) {
                            r.top[i] = 20 + 3 * i;
                            r.left[i] = 30 + 2 * i;
                        }
                        r.left[0] = r.top[0];
                        r.top[n] += rng.range(0, 1) ? bend : -bend; // p(N-1, -1)
                        r.top[n] = std::max(0, std::min(255, r.top[n]));
                    }
                    const ref::IntraRefs want = ref::filterReferences(r, mode, strong != 0);
                    KernelRefs k(r, rng);
                    const auto topBefore = k.topBuf, leftBefore = k.leftBuf;
                    dsp.slot[H265D_SLOT_INTRA_SMOOTH + log2Of(n)].intraSmooth(strong, mode, k.left(), k.top());
                    for (int i = -1; i < 2 * n; ++i) {
                        if (k.top()[i] != want.p(i, -1) || k.left()[i] != want.p(-1, i))
                            QFAIL(qPrintable(QString("N %1 mode %2 strong %3 style %4 index %5")
                                                 .arg(n)
                                                 .arg(mode)
                                                 .arg(strong)
                                                 .arg(style)
                                                 .arg(i)));
                    }
                    // Nothing outside the 2N + 1 samples moves.
                    for (int i = 0; i < KernelRefs::kFront; ++i)
                        QVERIFY(k.topBuf[i] == topBefore[i] && k.leftBuf[i] == leftBefore[i]);
                    for (size_t i = KernelRefs::kFront + 2 * n + 1; i < k.topBuf.size(); ++i)
                        QVERIFY(k.topBuf[i] == topBefore[i] && k.leftBuf[i] == leftBefore[i]);
                }
}

void TestKernels::pcmAndRowCopies()
{
    for (int n : kSizes) {
        std::vector<int16_t> s(n * n);
        for (int i = 0; i < n * n; ++i)
            s[i] = int16_t(0x5A00 | (i * 7 & 0xFF));
        const int stride = n + 3;
        std::vector<uint8_t> pic(stride * n, 0xEE);
        dsp.slot[H265D_SLOT_PCM_COPY + log2Of(n)].pcmCopy(stride, s.data(), pic.data());
        for (int y = 0; y < n; ++y) {
            for (int x = 0; x < n; ++x)
                QCOMPARE(int(pic[y * stride + x]), (y * n + x) * 7 & 0xFF);
            for (int x = n; x < stride; ++x)
                QCOMPARE(int(pic[y * stride + x]), 0xEE);
        }
    }
    for (int slot : {H265D_SLOT_COPY_ROWS_ALIGNED, H265D_SLOT_COPY_ROWS})
        for (int width : {1, 7, 16, 33, 64}) {
            const int stride = 80, rows = 5;
            std::vector<uint8_t> src(stride * rows), dst(stride * rows, 0);
            for (size_t i = 0; i < src.size(); ++i)
                src[i] = uint8_t(i * 13 + 1);
            dsp.slot[slot].copyRows(src.data(), dst.data(), width, rows, stride);
            for (int y = 0; y < rows; ++y)
                for (int x = 0; x < stride; ++x)
                    QCOMPARE(dst[y * stride + x], x < width ? src[y * stride + x] : uint8_t(0));
        }
}

QTEST_APPLESS_MAIN(TestKernels)
#include "tst_kernels.moc"
