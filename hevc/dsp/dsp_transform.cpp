// Dequantisation, inverse transforms and the residual path of one transform block.
#include "hevc/dsp/dsp_internal.h"

namespace h265d {

namespace dsp {

namespace {

// Scaling-list dequantisation; the shift is the 8-bit bdShift of the size (5..8).
template <int Log2N>
void dequantScaled(int count, const uint16_t *factors, int qP6, int16_t *coeffs)
{
    constexpr int kShift = Log2N + 3;
    if (qP6 >= kShift) {
        // No rounding term: the left shift keeps every bit.
        const int up = qP6 - kShift;
        for (int i = 0; i < count; ++i) {
            const int32_t v = saturate16(int32_t(coeffs[i]) * factors[i]);
            coeffs[i] = saturate16(int32_t(v) * (1 << up));
        }
    } else {
        const int down = kShift - qP6;
        const int32_t round = 1 << (down - 1);
        for (int i = 0; i < count; ++i)
            coeffs[i] = saturate16((int32_t(coeffs[i]) * factors[i] + round) >> down);
    }
}

// Flat dequantisation: the factor 16 of the flat list is folded into the shift.
template <int Log2N>
void dequantFlat(int count, int scale, int16_t *coeffs)
{
    constexpr int kShift = Log2N - 1;
    constexpr int32_t kRound = 1 << (kShift - 1);
    for (int i = 0; i < count; ++i)
        coeffs[i] = saturate16((int32_t(coeffs[i]) * scale + kRound) >> kShift);
}

// Two-stage inverse transform with the residual added to the prediction.
// basis(k) is the row of frequency k. Only the first `cols` columns can hold
// nonzero coefficients, so the rest of the first stage is skipped and the
// second stage sums over those columns only.
template <int N, typename Basis>
inline void inverseTransformAdd(int stride, int16_t *coeffs, uint8_t *dst, int cols, Basis basis)
{
    int32_t acc[N];
    for (int x = 0; x < cols; ++x) {
        for (int i = 0; i < N; ++i)
            acc[i] = 0;
        for (int j = 0; j < N; ++j) {
            const int32_t c = coeffs[j * N + x];
            if (c == 0)
                continue;
            const int8_t *row = basis(j);
            for (int i = 0; i < N; ++i)
                acc[i] += row[i] * c;
        }
        for (int i = 0; i < N; ++i)
            coeffs[i * N + x] = saturate16((acc[i] + 64) >> 7);
    }
    for (int y = 0; y < N; ++y) {
        for (int i = 0; i < N; ++i)
            acc[i] = 0;
        const int16_t *line = coeffs + y * N;
        for (int k = 0; k < cols; ++k) {
            const int32_t c = line[k];
            if (c == 0)
                continue;
            const int8_t *row = basis(k);
            for (int i = 0; i < N; ++i)
                acc[i] += row[i] * c;
        }
        uint8_t *out = dst + y * stride;
        for (int i = 0; i < N; ++i)
            out[i] = clipPixel(out[i] + ((acc[i] + 2048) >> 12));
    }
}

template <int Log2N>
void idctAdd(int stride, int16_t *coeffs, uint8_t *dst, int columns)
{
    constexpr int N = 1 << Log2N;
    // The small sizes transform every column whatever the caller says.
    int cols = N;
    if (N >= 16 && columns > 0 && columns < N)
        cols = columns;
    inverseTransformAdd<N>(stride, coeffs, dst, cols, [](int k) { return kTransformMatrix[k << (5 - Log2N)].data(); });
}

void idst4x4Add(int stride, int16_t *coeffs, uint8_t *dst, int)
{
    inverseTransformAdd<4>(stride, coeffs, dst, 4, [](int k) { return kDstMatrix[k]; });
}

void transformSkipAdd(int stride, int16_t *coeffs, uint8_t *dst, int)
{
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            dst[y * stride + x] = clipPixel(dst[y * stride + x] + ((coeffs[y * 4 + x] + 16) >> 5));
}

} // namespace

void fillTransformKernels(H265D_DSP_TABLE *t)
{
    t->slot[H265D_SLOT_DEQUANT_SCALED + 2].dequantScaled = dequantScaled<2>;
    t->slot[H265D_SLOT_DEQUANT_SCALED + 3].dequantScaled = dequantScaled<3>;
    t->slot[H265D_SLOT_DEQUANT_SCALED + 4].dequantScaled = dequantScaled<4>;
    t->slot[H265D_SLOT_DEQUANT_SCALED + 5].dequantScaled = dequantScaled<5>;
    t->slot[H265D_SLOT_DEQUANT_FLAT + 2].dequantFlat = dequantFlat<2>;
    t->slot[H265D_SLOT_DEQUANT_FLAT + 3].dequantFlat = dequantFlat<3>;
    t->slot[H265D_SLOT_DEQUANT_FLAT + 4].dequantFlat = dequantFlat<4>;
    t->slot[H265D_SLOT_DEQUANT_FLAT + 5].dequantFlat = dequantFlat<5>;
    t->slot[H265D_SLOT_IDST4].transformAdd = idst4x4Add;
    t->slot[H265D_SLOT_IDCT + 2].transformAdd = idctAdd<2>;
    t->slot[H265D_SLOT_IDCT + 3].transformAdd = idctAdd<3>;
    t->slot[H265D_SLOT_IDCT + 4].transformAdd = idctAdd<4>;
    t->slot[H265D_SLOT_IDCT + 5].transformAdd = idctAdd<5>;
    t->slot[H265D_SLOT_TRANSFORM_SKIP].transformAdd = transformSkipAdd;
}

} // namespace dsp

using namespace dsp;

void addResidualBypass(int rows, int width, uint8_t *dst, int stride, const int16_t *coeffs)
{
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < width; ++x)
            dst[y * stride + x] = clipPixel(dst[y * stride + x] + coeffs[y * width + x]);
}

void dequantiseBlock(const H265D_TU_DESC *desc, const H265D_RESIDUAL_CTX *ctx, int16_t *coeffs)
{
    const int log2 = desc->iLog2Size;
    const int qP6 = desc->iQp / 6;
    const int qPm = desc->iQp % 6;
    const H265D_DSP_TABLE *dsp = ctx->pDsp;
    if (!ctx->iScalingListEnabled) {
        dsp->slot[H265D_SLOT_DEQUANT_FLAT + log2].dequantFlat(desc->iCoeffCount, kLevelScale[qPm] << qP6, coeffs);
        return;
    }
    const H265D_DEQUANT_FACTORS *f = ctx->pFactors;
    const int m = desc->iMatrixId;
    const uint16_t *factors = nullptr;
    switch (log2) {
    case 2:
        factors = f->f4[m][qPm];
        break;
    case 3:
        factors = f->f8[m][qPm];
        break;
    case 4:
        factors = f->f16[m][qPm];
        break;
    default:
        factors = f->f32[m >= 3 ? 1 : 0][qPm];
        break; // 32x32 keeps only the intra and inter luma lists
    }
    dsp->slot[H265D_SLOT_DEQUANT_SCALED + log2].dequantScaled(desc->iCoeffCount, factors, qP6, coeffs);
}

void reconstructResidual(const H265D_RESIDUAL_CTX *ctx, const H265D_TU_DESC *desc, int stride, int16_t *coeffs,
                         uint8_t *dst)
{
    const int log2 = desc->iLog2Size;
    const int n = 1 << log2;
    if (ctx->iTransquantBypassEnabled && desc->iTransquantBypass) {
        addResidualBypass(n, n, dst, stride, coeffs);
        return;
    }
    dequantiseBlock(desc, ctx, coeffs);
    const H265D_DSP_TABLE *dsp = ctx->pDsp;
    if (ctx->iTransformSkipEnabled && desc->ucTransformSkip) {
        dsp->slot[H265D_SLOT_TRANSFORM_SKIP].transformAdd(stride, coeffs, dst, desc->iColumnCount);
        return;
    }
    int slot = H265D_SLOT_IDCT + log2;
    if (log2 == 2 && desc->iPredMode == 1 && desc->iCompIdx == 0)
        slot = H265D_SLOT_IDST4;
    dsp->slot[slot].transformAdd(stride, coeffs, dst, desc->iColumnCount);
}

} // namespace h265d
