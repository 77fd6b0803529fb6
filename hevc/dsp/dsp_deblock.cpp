// Deblocking edge kernels, the boundary-strength motion test and the
// threshold tables they are driven with.
#include "hevc/dsp/dsp_internal.h"

#include <cstdlib>

namespace h265d {

// Twelve entries in front cover negative offsets, the repeated last value
// covers Q above the standard's range; both equal the clipped lookup.
const int32_t h265dBetaTable[76] = {
    0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,                                  // Q -12..-1
    0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,                  // Q 0..15
    6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 20, 22, 24,                 // Q 16..31
    26, 28, 30, 32, 34, 36, 38, 40, 42, 44, 46, 48, 50, 52, 54, 56, 58, 60, 62, 64, // Q 32..51
    64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64,                                 // Q 52..63
};

const int32_t h265dTcTable[54] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1,  1,  1,  1,  1,  1,  1,  1,  1,
    2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 5, 5, 6, 6, 7, 8, 9, 10, 11, 13, 14, 16, 18, 20, 22, 24,
};

const int32_t h265dTcTableLuma[79] = {
    0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0, // Q -12..-1
    0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  1,  1,  1,  1, 1,
    1,  1,  1,  1,  2,  2,  2,  2,  3,  3,  3,  3,  4,  4,  4,  5,  5,  6,  6,  7,  8,  9, 10,
    11, 13, 14, 16, 18, 20, 22, 24, 24, 24, 24, 24, 24, 24, 24, 24, 24, 24, 24, 24, 24, // Q 54..66
};

const int8_t h265dChromaQpTable[76] = {
    -12, -11, -10, -9, -8, -7, -6, -5, -4, -3, -2, -1,                                 // qPi -12..-1
    0,   1,   2,   3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19, // 0..19
    20,  21,  22,  23, 24, 25, 26, 27, 28, 29,                                         // 20..29
    29,  30,  31,  32, 33, 33, 34, 34, 35, 35, 36, 36, 37, 37,                         // 30..43
    38,  39,  40,  41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, // 44..63
};

namespace dsp {

namespace {

inline int clip3(int lo, int hi, int v)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

// One 4-line half of a luma edge; `across` steps from a sample to its
// neighbour across the edge, `along` to the next line.
void lumaHalf(uint8_t *pix, ptrdiff_t across, ptrdiff_t along, int beta, int tc, bool noP, bool noQ)
{
    if (tc == 0)
        return; // neither filter can move a sample
    auto P = [&](int line, int i) -> uint8_t & { return pix[line * along - (i + 1) * across]; };
    auto Q = [&](int line, int i) -> uint8_t & { return pix[line * along + i * across]; };
    const int dp0 = std::abs(P(0, 2) - 2 * P(0, 1) + P(0, 0));
    const int dp3 = std::abs(P(3, 2) - 2 * P(3, 1) + P(3, 0));
    const int dq0 = std::abs(Q(0, 2) - 2 * Q(0, 1) + Q(0, 0));
    const int dq3 = std::abs(Q(3, 2) - 2 * Q(3, 1) + Q(3, 0));
    const int dpq0 = dp0 + dq0, dpq3 = dp3 + dq3;
    if (dpq0 + dpq3 >= beta)
        return;
    auto strongLine = [&](int line, int dpq) {
        return 2 * dpq < (beta >> 2) &&
               std::abs(P(line, 3) - P(line, 0)) + std::abs(Q(line, 0) - Q(line, 3)) < (beta >> 3) &&
               std::abs(P(line, 0) - Q(line, 0)) < ((5 * tc + 1) >> 1);
    };
    if (strongLine(0, dpq0) && strongLine(3, dpq3)) {
        const int tc2 = 2 * tc;
        for (int l = 0; l < 4; ++l) {
            const int p0 = P(l, 0), p1 = P(l, 1), p2 = P(l, 2), p3 = P(l, 3);
            const int q0 = Q(l, 0), q1 = Q(l, 1), q2 = Q(l, 2), q3 = Q(l, 3);
            if (!noP) {
                P(l, 0) = uint8_t(clip3(p0 - tc2, p0 + tc2, (p2 + 2 * p1 + 2 * p0 + 2 * q0 + q1 + 4) >> 3));
                P(l, 1) = uint8_t(clip3(p1 - tc2, p1 + tc2, (p2 + p1 + p0 + q0 + 2) >> 2));
                P(l, 2) = uint8_t(clip3(p2 - tc2, p2 + tc2, (2 * p3 + 3 * p2 + p1 + p0 + q0 + 4) >> 3));
            }
            if (!noQ) {
                Q(l, 0) = uint8_t(clip3(q0 - tc2, q0 + tc2, (p1 + 2 * p0 + 2 * q0 + 2 * q1 + q2 + 4) >> 3));
                Q(l, 1) = uint8_t(clip3(q1 - tc2, q1 + tc2, (p0 + q0 + q1 + q2 + 2) >> 2));
                Q(l, 2) = uint8_t(clip3(q2 - tc2, q2 + tc2, (p0 + q0 + q1 + 3 * q2 + 2 * q3 + 4) >> 3));
            }
        }
        return;
    }
    const int side = (beta + (beta >> 1)) >> 3;
    const bool dEp = dp0 + dp3 < side, dEq = dq0 + dq3 < side;
    const int tcHalf = tc >> 1;
    for (int l = 0; l < 4; ++l) {
        const int p0 = P(l, 0), p1 = P(l, 1), p2 = P(l, 2);
        const int q0 = Q(l, 0), q1 = Q(l, 1), q2 = Q(l, 2);
        int delta = (9 * (q0 - p0) - 3 * (q1 - p1) + 8) >> 4;
        if (std::abs(delta) >= tc * 10)
            continue;
        delta = clip3(-tc, tc, delta);
        if (!noP) {
            P(l, 0) = clipPixel(p0 + delta);
            if (dEp)
                P(l, 1) = clipPixel(p1 + clip3(-tcHalf, tcHalf, (((p2 + p0 + 1) >> 1) - p1 + delta) >> 1));
        }
        if (!noQ) {
            Q(l, 0) = clipPixel(q0 - delta);
            if (dEq)
                Q(l, 1) = clipPixel(q1 + clip3(-tcHalf, tcHalf, (((q2 + q0 + 1) >> 1) - q1 - delta) >> 1));
        }
    }
}

void chromaHalf(uint8_t *pix, ptrdiff_t across, ptrdiff_t along, int tc, bool noP, bool noQ)
{
    if (tc == 0)
        return;
    for (int l = 0; l < 4; ++l) {
        uint8_t *s = pix + l * along;
        const int p0 = s[-across], p1 = s[-2 * across], q0 = s[0], q1 = s[across];
        const int delta = clip3(-tc, tc, ((((q0 - p0) * 4) + p1 - q1 + 4) >> 3));
        if (!noP)
            s[-across] = clipPixel(p0 + delta);
        if (!noQ)
            s[0] = clipPixel(q0 - delta);
    }
}

void deblockLumaV(uint8_t *pix, int stride, const int32_t *beta, const int32_t *tc, const uint8_t *noP,
                  const uint8_t *noQ)
{
    for (int half = 0; half < 2; ++half)
        lumaHalf(pix + half * 4 * static_cast<ptrdiff_t>(stride), 1, stride, beta[half], tc[half], noP[half] != 0,
                 noQ[half] != 0);
}

void deblockLumaH(uint8_t *pix, int stride, const int32_t *beta, const int32_t *tc, const uint8_t *noP,
                  const uint8_t *noQ)
{
    for (int half = 0; half < 2; ++half)
        lumaHalf(pix + half * 4, stride, 1, beta[half], tc[half], noP[half] != 0, noQ[half] != 0);
}

void deblockChromaV(uint8_t *pix, int stride, const int32_t *tc, const uint8_t *noP, const uint8_t *noQ)
{
    for (int half = 0; half < 2; ++half)
        chromaHalf(pix + half * 4 * static_cast<ptrdiff_t>(stride), 1, stride, tc[half], noP[half] != 0,
                   noQ[half] != 0);
}

void deblockChromaH(uint8_t *pix, int stride, const int32_t *tc, const uint8_t *noP, const uint8_t *noQ)
{
    for (int half = 0; half < 2; ++half)
        chromaHalf(pix + half * 4, stride, 1, tc[half], noP[half] != 0, noQ[half] != 0);
}

bool farApart(const int16_t *a, const int16_t *b)
{
    return std::abs(a[0] - b[0]) >= 4 || std::abs(a[1] - b[1]) >= 4;
}

// Reference pictures are told apart by their buffer slots, whichever list
// names them.
int bsMotion(const H265D_MV_FIELD *p, const H265D_MV_FIELD *q)
{
    const int countP = p->predFlag[0] + p->predFlag[1], countQ = q->predFlag[0] + q->predFlag[1];
    if (countP != countQ)
        return 1;
    if (countP == 0)
        return 0;
    if (countP == 1) {
        const int lp = p->predFlag[0] ? 0 : 1, lq = q->predFlag[0] ? 0 : 1;
        if (p->refSlot[lp] != q->refSlot[lq])
            return 1;
        return farApart(p->mv[lp], q->mv[lq]) ? 1 : 0;
    }
    const int p0 = p->refSlot[0], p1 = p->refSlot[1], q0 = q->refSlot[0], q1 = q->refSlot[1];
    if (!((p0 == q0 && p1 == q1) || (p0 == q1 && p1 == q0)))
        return 1;
    if (p0 != p1) {
        // Pair the vectors by the picture they point into.
        if (p0 == q0)
            return farApart(p->mv[0], q->mv[0]) || farApart(p->mv[1], q->mv[1]);
        return farApart(p->mv[0], q->mv[1]) || farApart(p->mv[1], q->mv[0]);
    }
    // Both into one picture: strong only when neither pairing matches.
    return (farApart(p->mv[0], q->mv[0]) || farApart(p->mv[1], q->mv[1])) &&
           (farApart(p->mv[0], q->mv[1]) || farApart(p->mv[1], q->mv[0]));
}

} // namespace

void fillDeblockKernels(H265D_DSP_TABLE *t)
{
    t->slot[H265D_SLOT_DEBLOCK_LUMA_V].deblockLuma = deblockLumaV;
    t->slot[H265D_SLOT_DEBLOCK_LUMA_H].deblockLuma = deblockLumaH;
    t->slot[H265D_SLOT_DEBLOCK_LUMA_V_FLAGGED].deblockLuma = deblockLumaV;
    t->slot[H265D_SLOT_DEBLOCK_LUMA_H_FLAGGED].deblockLuma = deblockLumaH;
    t->slot[H265D_SLOT_DEBLOCK_CHROMA_V].deblockChroma = deblockChromaV;
    t->slot[H265D_SLOT_DEBLOCK_CHROMA_H].deblockChroma = deblockChromaH;
    t->slot[H265D_SLOT_DEBLOCK_CHROMA_V_FLAGGED].deblockChroma = deblockChromaV;
    t->slot[H265D_SLOT_DEBLOCK_CHROMA_H_FLAGGED].deblockChroma = deblockChromaH;
    t->slot[H265D_SLOT_BS_MOTION].bsMotion = bsMotion;
}

} // namespace dsp

} // namespace h265d
