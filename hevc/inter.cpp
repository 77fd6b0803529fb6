/* Reconstruction of inter coding units: merge and AMVP motion derivation
 * with the temporal predictor, motion compensation and the residual. */
#include <stdlib.h>
#include <string.h>

#include <initializer_list>

#include "decoder.h"
#include "slicedata.h"
#include "stageclock.h"
#include "inter.h"
#include "intra.h"

namespace h265d {

namespace {

enum { PART_2Nx2N, PART_2NxN, PART_Nx2N, PART_NxN, PART_2NxnU, PART_2NxnD, PART_nLx2N, PART_nRx2N };

inline int clip3(int lo, int hi, int v)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

struct Mv
{
    int x, y;
    bool operator==(const Mv &o) const { return x == o.x && y == o.y; }
};

struct Cand
{
    Mv mv[2];
    int refIdx[2];
    int pred[2];
};

bool sameMotion(const Cand &a, const Cand &b)
{
    for (int l = 0; l < 2; l++) {
        if (a.pred[l] != b.pred[l])
            return false;
        if (a.pred[l] && (a.refIdx[l] != b.refIdx[l] || !(a.mv[l] == b.mv[l])))
            return false;
    }
    return true;
}

Mv scaleMvPair(Mv mv, int td, int tb)
{
    td = clip3(-128, 127, td);
    tb = clip3(-128, 127, tb);
    if (td == 0)
        td = 1;
    const int tx = (16384 + (abs(td) >> 1)) / td;
    const int f = clip3(-4096, 4095, (tb * tx + 32) >> 6);
    auto one = [&](int v) {
        const int p = f * v;
        return clip3(-32768, 32767, (p < 0 ? -1 : 1) * ((abs(p) + 127) >> 8));
    };
    return Mv{one(mv.x), one(mv.y)};
}

struct InterCtx
{
    H265D_DEC_OBJ *dec;
    H265D_CTU_RECORD *ctu;
    const H265D_CU *cu;
    const H265D_SLICE_HEADER *sh;
    H265D_MV_FIELD *field; /* per 4x4 of the current picture */
    int w4;
    int curPoc;

    H265D_MV_FIELD *at(int x, int y) const { return &field[(y >> 2) * w4 + (x >> 2)]; }

    /* z-scan availability of (xN, yN) for the block at (xC, yC). The z-scan
     * order is computed rather than read from the picture-wide map of
     * minimum transform blocks: that map is half a megabyte at 1080p, and
     * its lookups missed the caches on every candidate. */
    bool zAvailable(int xC, int yC, int xN, int yN) const
    {
        const H265D_PIC_GEOMETRY *g = &dec->geo;
        if (xN < 0 || yN < 0 || xN >= g->PicWidthInSamplesY || yN >= g->PicHeightInSamplesY)
            return false;
        const int log2Ctb = (int)dec->sps->CtbLog2SizeY;
        const int rsN = (yN >> log2Ctb) * g->PicWidthInCtbsY + (xN >> log2Ctb);
        const int rsC = (yC >> log2Ctb) * g->PicWidthInCtbsY + (xC >> log2Ctb);
        if (rsN == rsC) {
            // One CTB: one slice and tile; the order of the minimum blocks
            // inside it interleaves their column and row bits.
            const int log2Tb = (int)dec->sps->Log2MinTrafoSize;
            const uint32_t mask = (1u << (log2Ctb - log2Tb)) - 1;
            return zOrder((uint32_t)(xN >> log2Tb) & mask, (uint32_t)(yN >> log2Tb) & mask) <=
                   zOrder((uint32_t)(xC >> log2Tb) & mask, (uint32_t)(yC >> log2Tb) & mask);
        }
        const H265D_PPS *pps = dec->pps;
        const int tsN = pps->ctbAddrRsToTs[rsN], tsC = pps->ctbAddrRsToTs[rsC];
        if (tsN > tsC)
            return false;
        const H265D_SIDE_BUFFERS *sb = &dec->side;
        if (sb->sliceAddr[rsN] != sb->sliceAddr[rsC])
            return false;
        return pps->tileId[tsN] == pps->tileId[tsC];
    }

    /* Column bits to the even bits, row bits to the odd ones (up to 4 each). */
    static uint32_t zOrder(uint32_t x, uint32_t y)
    {
        auto spread = [](uint32_t v) {
            v = (v | (v << 2)) & 0x33u;
            return (v | (v << 1)) & 0x55u;
        };
        return spread(x) | (spread(y) << 1);
    }

    /* Prediction block availability (6.4.2) and inter check. */
    bool pbAvailable(int xPb, int yPb, int nPbW, int nPbH, int partIdx, int xN, int yN) const
    {
        const int xCb = cu->x, yCb = cu->y, nCbS = 1 << cu->log2CbSize;
        /* Inside the coding block, earlier partitions are decoded whatever
         * their z-order; only the second NxN partition's lower-left is not. */
        const bool sameCb = xN >= xCb && yN >= yCb && xN < xCb + nCbS && yN < yCb + nCbS;
        if (sameCb) {
            if ((nPbW << 1) == nCbS && (nPbH << 1) == nCbS && partIdx == 1 && yCb + nPbH <= yN && xCb + nPbW > xN)
                return false;
        } else if (!zAvailable(xPb, yPb, xN, yN)) {
            return false;
        }
        return dec->side.intraMode[(yN >> 2) * dec->side.mapW4 + (xN >> 2)] == 255;
    }

    Cand candAt(int x, int y) const
    {
        const H265D_MV_FIELD *f = at(x, y);
        Cand c;
        for (int l = 0; l < 2; l++) {
            c.mv[l] = Mv{f->mv[l][0], f->mv[l][1]};
            c.refIdx[l] = f->refIdx[l];
            c.pred[l] = f->predFlag[l];
        }
        return c;
    }

    const H265D_REF_LIST &list(int l) const { return sh->refList[l]; }
    int refPoc(int l, int idx) const { return list(l).poc[idx]; }
    int refLt(int l, int idx) const { return list(l).longTerm[idx]; }

    bool temporalMv(int xPb, int yPb, int nPbW, int nPbH, int refIdx, int X, Mv *out) const;
    bool colMv(const H265D_COL_MV *col, int colPoc, int refIdx, int X, Mv *out) const;
    Cand mergeCandidate(int xPb, int yPb, int nPbW, int nPbH, int partIdx, int mergeIdx) const;
    Mv amvp(int xPb, int yPb, int nPbW, int nPbH, int partIdx, int X, int refIdx, int mvpFlag) const;
};

bool InterCtx::colMv(const H265D_COL_MV *col, int colPoc, int refIdx, int X, Mv *out) const
{
    if (!col->predFlag[0] && !col->predFlag[1])
        return false;
    int listCol;
    if (!col->predFlag[0]) {
        listCol = 1;
    } else if (!col->predFlag[1]) {
        listCol = 0;
    } else {
        bool noBackward = true;
        for (int l = 0; l < 2 && noBackward; l++)
            for (int i = 0; i < list(l).num; i++)
                if (list(l).poc[i] > curPoc) {
                    noBackward = false;
                    break;
                }
        listCol = noBackward ? X : (int)sh->collocated_from_l0_flag;
    }
    const Mv mvCol{col->mv[listCol][0], col->mv[listCol][1]};
    const int lt = refLt(X, refIdx);
    if (lt != col->longTerm[listCol])
        return false;
    const int colPocDiff = colPoc - col->refPoc[listCol];
    const int currPocDiff = curPoc - refPoc(X, refIdx);
    if (lt || colPocDiff == currPocDiff)
        *out = mvCol;
    else
        *out = scaleMvPair(mvCol, colPocDiff, currPocDiff);
    return true;
}

bool InterCtx::temporalMv(int xPb, int yPb, int nPbW, int nPbH, int refIdx, int X, Mv *out) const
{
    if (!sh->slice_temporal_mvp_enabled_flag)
        return false;
    const int colList = (sh->slice_type == 0 && !sh->collocated_from_l0_flag) ? 1 : 0;
    if ((int)sh->collocated_ref_idx >= list(colList).num)
        return false;
    const H265D_PICTURE *colPic = &dec->dpb.pic[list(colList).slot[sh->collocated_ref_idx]];
    const H265D_COL_MV *colMvs = (const H265D_COL_MV *)colPic->mvStore;
    if (!colMvs)
        return false;
    const int w16 = (int)(dec->w64 / 16);
    const int log2Ctb = (int)dec->sps->CtbLog2SizeY;
    const int xBr = xPb + nPbW, yBr = yPb + nPbH;
    if ((yPb >> log2Ctb) == (yBr >> log2Ctb) && yBr < dec->geo.PicHeightInSamplesY &&
        xBr < dec->geo.PicWidthInSamplesY) {
        if (colMv(&colMvs[(yBr >> 4) * w16 + (xBr >> 4)], colPic->poc, refIdx, X, out))
            return true;
    }
    const int xC = xPb + (nPbW >> 1), yC = yPb + (nPbH >> 1);
    return colMv(&colMvs[(yC >> 4) * w16 + (xC >> 4)], colPic->poc, refIdx, X, out);
}

Cand InterCtx::mergeCandidate(int xPb, int yPb, int nPbW, int nPbH, int partIdx, int mergeIdx) const
{
    const int origW = nPbW, origH = nPbH;
    const int log2Pml = (int)dec->pps->log2_parallel_merge_level;
    int pm = cu->PartMode;
    if (log2Pml > 2 && cu->log2CbSize == 3) {
        xPb = cu->x;
        yPb = cu->y;
        nPbW = nPbH = 8;
        partIdx = 0;
    }
    const int maxCand = (int)sh->MaxNumMergeCand;
    Cand list_[5];
    int n = 0;
    auto sameMer = [&](int xN, int yN) {
        return (xPb >> log2Pml) == (xN >> log2Pml) && (yPb >> log2Pml) == (yN >> log2Pml);
    };
    auto avail = [&](int xN, int yN) { return !sameMer(xN, yN) && pbAvailable(xPb, yPb, nPbW, nPbH, partIdx, xN, yN); };
    const int xA1 = xPb - 1, yA1 = yPb + nPbH - 1;
    bool aA1 = avail(xA1, yA1);
    if (partIdx == 1 && (pm == PART_Nx2N || pm == PART_nLx2N || pm == PART_nRx2N))
        aA1 = false;
    Cand cA1{}, cB1{};
    if (aA1) {
        cA1 = candAt(xA1, yA1);
        list_[n++] = cA1;
        if (mergeIdx == 0)
            goto done;
    }
    {
        const int xB1 = xPb + nPbW - 1, yB1 = yPb - 1;
        bool aB1 = avail(xB1, yB1);
        if (partIdx == 1 && (pm == PART_2NxN || pm == PART_2NxnU || pm == PART_2NxnD))
            aB1 = false;
        if (aB1) {
            /* pruning compares with available neighbours, added or not */
            cB1 = candAt(xB1, yB1);
            if (!(aA1 && sameMotion(cA1, cB1)))
                list_[n++] = cB1;
        }
        if (n > mergeIdx)
            goto done;
        const int xB0 = xPb + nPbW, yB0 = yPb - 1;
        const bool aB0 = avail(xB0, yB0);
        if (aB0) {
            const Cand c = candAt(xB0, yB0);
            if (!(aB1 && sameMotion(cB1, c)))
                list_[n++] = c;
        }
        if (n > mergeIdx)
            goto done;
        const int xA0 = xPb - 1, yA0 = yPb + nPbH;
        const bool aA0 = avail(xA0, yA0);
        if (aA0) {
            const Cand c = candAt(xA0, yA0);
            if (!(aA1 && sameMotion(cA1, c)))
                list_[n++] = c;
        }
        if (n > mergeIdx)
            goto done;
        const int xB2 = xPb - 1, yB2 = yPb - 1;
        if (n < 4 && avail(xB2, yB2)) {
            const Cand c = candAt(xB2, yB2);
            if (!(aA1 && sameMotion(cA1, c)) && !(aB1 && sameMotion(cB1, c)))
                list_[n++] = c;
        }
        if (n > mergeIdx)
            goto done;
        /* temporal */
        {
            Cand t{};
            t.refIdx[0] = t.refIdx[1] = -1;
            Mv mv;
            if (temporalMv(xPb, yPb, nPbW, nPbH, 0, 0, &mv)) {
                t.pred[0] = 1;
                t.refIdx[0] = 0;
                t.mv[0] = mv;
            }
            if (sh->slice_type == 0 && temporalMv(xPb, yPb, nPbW, nPbH, 0, 1, &mv)) {
                t.pred[1] = 1;
                t.refIdx[1] = 0;
                t.mv[1] = mv;
            }
            if ((t.pred[0] || t.pred[1]) && n < maxCand)
                list_[n++] = t;
        }
        if (n > mergeIdx)
            goto done;
        /* combined bi-predictive */
        if (sh->slice_type == 0 && n > 1 && n < maxCand) {
            static const int l0Idx[12] = {0, 1, 0, 2, 1, 2, 0, 3, 1, 3, 2, 3};
            static const int l1Idx[12] = {1, 0, 2, 0, 2, 1, 3, 0, 3, 1, 3, 2};
            const int numOrig = n;
            for (int comb = 0; comb < numOrig * (numOrig - 1) && n < maxCand; comb++) {
                const Cand &a = list_[l0Idx[comb]], &b = list_[l1Idx[comb]];
                if (a.pred[0] && b.pred[1] &&
                    (refPoc(0, a.refIdx[0]) != refPoc(1, b.refIdx[1]) ||
                     list(0).slot[a.refIdx[0]] != list(1).slot[b.refIdx[1]] || !(a.mv[0] == b.mv[1]))) {
                    Cand c;
                    c.mv[0] = a.mv[0];
                    c.refIdx[0] = a.refIdx[0];
                    c.pred[0] = 1;
                    c.mv[1] = b.mv[1];
                    c.refIdx[1] = b.refIdx[1];
                    c.pred[1] = 1;
                    list_[n++] = c;
                }
            }
        }
        if (n > mergeIdx)
            goto done;
        /* zero candidates */
        const int numRef = sh->slice_type == 1 ? (int)sh->num_ref_idx_l0_active
                                               : (int)(sh->num_ref_idx_l0_active < sh->num_ref_idx_l1_active
                                                           ? sh->num_ref_idx_l0_active
                                                           : sh->num_ref_idx_l1_active);
        int zeroIdx = 0;
        while (n <= mergeIdx && n < 5) {
            Cand c{};
            const int r = zeroIdx < numRef ? zeroIdx : 0;
            c.pred[0] = 1;
            c.refIdx[0] = r;
            c.refIdx[1] = -1;
            if (sh->slice_type == 0) {
                c.pred[1] = 1;
                c.refIdx[1] = r;
            }
            list_[n++] = c;
            zeroIdx++;
        }
    }
done:
    Cand r = list_[mergeIdx < n ? mergeIdx : n - 1];
    if (r.pred[0] && r.pred[1] && origW + origH == 12) {
        r.pred[1] = 0;
        r.refIdx[1] = -1;
    }
    if (!r.pred[0])
        r.refIdx[0] = -1;
    if (!r.pred[1])
        r.refIdx[1] = -1;
    return r;
}

Mv InterCtx::amvp(int xPb, int yPb, int nPbW, int nPbH, int partIdx, int X, int refIdx, int mvpFlag) const
{
    const int Y = 1 - X;
    const int targetPoc = refPoc(X, refIdx);
    const int targetSlot = list(X).slot[refIdx];
    const int targetLt = refLt(X, refIdx);
    auto sameRef = [&](int l, int idx) { return list(l).slot[idx] == targetSlot && refPoc(l, idx) == targetPoc; };
    /* Non-scaled: a neighbour MV that points at the target picture. */
    auto direct = [&](const Cand &c, Mv *mv) {
        if (c.pred[X] && sameRef(X, c.refIdx[X])) {
            *mv = c.mv[X];
            return true;
        }
        if (c.pred[Y] && sameRef(Y, c.refIdx[Y])) {
            *mv = c.mv[Y];
            return true;
        }
        return false;
    };
    auto scaled = [&](const Cand &c, Mv *mv) {
        for (int l : {X, Y}) {
            if (c.pred[l] && refLt(l, c.refIdx[l]) == targetLt) {
                *mv = c.mv[l];
                if (!targetLt && !refLt(l, c.refIdx[l]))
                    *mv = scaleMvPair(*mv, curPoc - refPoc(l, c.refIdx[l]), curPoc - targetPoc);
                return true;
            }
        }
        return false;
    };
    const int xA[2] = {xPb - 1, xPb - 1}, yA[2] = {yPb + nPbH, yPb + nPbH - 1};
    bool availA[2];
    Cand cA[2];
    for (int k = 0; k < 2; k++) {
        availA[k] = pbAvailable(xPb, yPb, nPbW, nPbH, partIdx, xA[k], yA[k]);
        if (availA[k])
            cA[k] = candAt(xA[k], yA[k]);
    }
    const bool isScaled = availA[0] || availA[1];
    bool haveA = false;
    Mv mvA{0, 0};
    for (int k = 0; k < 2 && !haveA; k++)
        if (availA[k])
            haveA = direct(cA[k], &mvA);
    for (int k = 0; k < 2 && !haveA; k++)
        if (availA[k])
            haveA = scaled(cA[k], &mvA);
    const int xB[3] = {xPb + nPbW, xPb + nPbW - 1, xPb - 1}, yB[3] = {yPb - 1, yPb - 1, yPb - 1};
    bool availB[3];
    Cand cB[3];
    for (int k = 0; k < 3; k++) {
        availB[k] = pbAvailable(xPb, yPb, nPbW, nPbH, partIdx, xB[k], yB[k]);
        if (availB[k])
            cB[k] = candAt(xB[k], yB[k]);
    }
    bool haveB = false;
    Mv mvB{0, 0};
    for (int k = 0; k < 3 && !haveB; k++)
        if (availB[k])
            haveB = direct(cB[k], &mvB);
    if (!isScaled && haveB) {
        haveA = true;
        mvA = mvB;
    }
    if (!isScaled) {
        haveB = false;
        for (int k = 0; k < 3 && !haveB; k++)
            if (availB[k])
                haveB = scaled(cB[k], &mvB);
    }
    Mv cand[2];
    int n = 0;
    if (haveA)
        cand[n++] = mvA;
    if (haveB && !(haveA && mvA == mvB))
        cand[n++] = mvB;
    if (n < 2) {
        Mv t;
        if (temporalMv(xPb, yPb, nPbW, nPbH, refIdx, X, &t))
            cand[n++] = t;
    }
    while (n < 2)
        cand[n++] = Mv{0, 0};
    return cand[mvpFlag];
}

inline int wrap16(int v)
{
    const int u = (v + 65536) & 0xFFFF;
    return u >= 32768 ? u - 65536 : u;
}

struct McCtx
{
    H265D_DEC_OBJ *dec;
    alignas(16) int16_t tmp[3][2][64 * 64];
};

/* Keeps every kernel read inside the replicated borders. */
Mv clipMvPair(Mv mv, int x, int y, int picW, int picH)
{
    return Mv{clip3((-71 - x) * 4, (picW - x) * 4 + 28, mv.x), clip3((-71 - y) * 4, (picH - y) * 4 + 28, mv.y)};
}

void predictPu(H265D_DEC_OBJ *dec, const H265D_SLICE_HEADER *sh, const Cand &m, int xPb, int yPb, int w, int h,
               int16_t (*tmp)[64 * 64])
{
    StageClock clock(dec, StageInter);
    const H265D_DSP_TABLE *dsp = &dec->dsp;
    H265D_PICTURE *cur = &dec->dpb.pic[dec->dpb.curPic];
    const int picW = dec->geo.PicWidthInSamplesY, picH = dec->geo.PicHeightInSamplesY;
    const int weighted = sh->slice_type == 1 ? (int)dec->pps->weighted_pred_flag
                                             : (sh->slice_type == 0 ? (int)dec->pps->weighted_bipred_flag : 0);
    int lists[2], nl = 0;
    for (int l = 0; l < 2; l++)
        if (m.pred[l])
            lists[nl++] = l;
    if (nl == 0)
        return;
    Mv mv[2];
    const uint8_t *ref[2][3];
    for (int i = 0; i < nl; i++) {
        const int l = lists[i];
        mv[i] = clipMvPair(m.mv[l], xPb, yPb, picW, picH);
        const H265D_PICTURE *rp = &dec->dpb.pic[sh->refList[l].slot[m.refIdx[l]]];
        for (int c = 0; c < 3; c++)
            ref[i][c] = rp->origin[c];
    }
    /* Both lists on the same picture with the same motion: one prediction. */
    if (nl == 2 && !weighted && ref[0][0] == ref[1][0] && mv[0] == mv[1])
        nl = 1;
    /* Ask for every reference row the unit reads before the first kernel
     * waits on one: the rows come from pictures long out of the caches. */
    for (int i = 0; i < nl; i++)
        for (int c = 0; c < 3; c++) {
            const int sh_ = c ? 1 : 0, stride = c ? (int)cur->uvStride : (int)cur->yStride;
            const int mvShift = c ? 3 : 2, before = c ? 1 : 3, taps = c ? 4 : 8;
            const uint8_t *row = ref[i][c] + (ptrdiff_t)((yPb >> sh_) + (mv[i].y >> mvShift) - before) * stride +
                                 (xPb >> sh_) + (mv[i].x >> mvShift) - before;
            const int rows = (h >> sh_) + taps - 1, bytes = (w >> sh_) + taps - 1;
            // Planes' strides are whole cache lines: a row's end lies in
            // another line than its start for all rows or for none, and a
            // second request for the same line only takes a slot.
            const bool twoLines = (stride & 63) != 0 || ((uintptr_t)row & 63) + (uintptr_t)bytes > 64;
            for (int r = 0; r < rows; r++, row += stride) {
                __builtin_prefetch(row);
                if (twoLines)
                    __builtin_prefetch(row + bytes - 1);
            }
        }
    for (int c = 0; c < 3; c++) {
        const int sh_ = c ? 1 : 0;
        const int stride = c ? (int)cur->uvStride : (int)cur->yStride;
        const int bx = xPb >> sh_, by = yPb >> sh_, bw = w >> sh_, bh = h >> sh_;
        uint8_t *dst = cur->origin[c] + (ptrdiff_t)by * stride + bx;
        int xf[2], yf[2];
        const uint8_t *src[2];
        for (int i = 0; i < nl; i++) {
            if (c == 0) {
                xf[i] = mv[i].x & 3;
                yf[i] = mv[i].y & 3;
                src[i] = ref[i][0] + (ptrdiff_t)(by + (mv[i].y >> 2)) * stride + bx + (mv[i].x >> 2);
            } else {
                xf[i] = mv[i].x & 7;
                yf[i] = mv[i].y & 7;
                src[i] = ref[i][c] + (ptrdiff_t)(by + (mv[i].y >> 3)) * stride + bx + (mv[i].x >> 3);
            }
        }
        auto first = [&](int i, int16_t *out) {
            if (c == 0) {
                dsp->slot[H265D_SLOT_LUMA_BI_FIRST + xf[i] * 4 + yf[i]].biFirst(out, 64, src[i], stride, bw, bh);
                return (xf[i] && yf[i]) ? 1 : 0;
            }
            const int k = (xf[i] ? 1 : 0) + (yf[i] ? 2 : 0);
            const H265D_DSP_ENTRY &e = dsp->slot[H265D_SLOT_CHROMA_BI_FIRST + k];
            if (k == 0)
                e.biFirst(out, 64, src[i], stride, bw, bh);
            else if (k == 3)
                e.chromaBiFirstHv(out, 64, src[i], stride, bw, bh, xf[i], yf[i]);
            else
                e.chromaBiFirst(out, 64, src[i], stride, bw, bh, k == 1 ? xf[i] : yf[i]);
            return 0;
        };
        const H265D_PRED_WEIGHT *pw = &sh->pwt;
        const int denom = c == 0 ? (int)pw->luma_log2_weight_denom : (int)pw->ChromaLog2WeightDenom;
        int wt[2] = {0, 0}, of[2] = {0, 0};
        bool explicitWeights = false;
        for (int i = 0; weighted && i < nl; i++) {
            const int l = lists[i], r = m.refIdx[l];
            wt[i] = c == 0 ? pw->LumaWeight[l][r] : pw->ChromaWeight[l][r][c - 1];
            of[i] = c == 0 ? pw->luma_offset[l][r] : pw->ChromaOffset[l][r][c - 1];
            explicitWeights = explicitWeights || wt[i] != 1 << denom || of[i] != 0;
        }
        /* A weight of 1 << denom with no offset rounds exactly like the
         * default prediction ((p * 2^d + 2^(d+5)) >> (d+6) == (p + 32) >> 6,
         * and the same for the pair), which needs no 16-bit pass for one list. */
        if (explicitWeights) {
            int flag[2];
            for (int i = 0; i < nl; i++)
                flag[i] = first(i, tmp[i]);
            if (nl == 1)
                dsp->slot[c == 0 ? H265D_SLOT_WP_UNI_LUMA : H265D_SLOT_WP_UNI_CHROMA].weightedUni(
                    denom, wt[0], of[0], dst, stride, tmp[0], 64, bw, bh, flag[0]);
            else
                dsp->slot[c == 0 ? H265D_SLOT_WP_BI_LUMA : H265D_SLOT_WP_BI_CHROMA].weightedBi(
                    denom, wt[0], wt[1], of[0], of[1], dst, stride, tmp[0], tmp[1], 64, bw, bh, flag[0], flag[1]);
            continue;
        }
        if (nl == 1) {
            if (c == 0) {
                dsp->slot[H265D_SLOT_LUMA_UNI + xf[0] * 4 + yf[0]].uniPred(dst, stride, src[0], stride, bw, bh);
            } else {
                const int k = (xf[0] ? 1 : 0) + (yf[0] ? 2 : 0);
                const H265D_DSP_ENTRY &e = dsp->slot[H265D_SLOT_CHROMA_UNI + k];
                if (k == 0)
                    e.uniPred(dst, stride, src[0], stride, bw, bh);
                else if (k == 3)
                    e.chromaUniPredHv(dst, stride, src[0], stride, bw, bh, xf[0], yf[0]);
                else
                    e.chromaUniPred(dst, stride, src[0], stride, bw, bh, k == 1 ? xf[0] : yf[0]);
            }
            continue;
        }
        const int flag0 = first(0, tmp[0]);
        if (c == 0) {
            dsp->slot[H265D_SLOT_LUMA_BI_SECOND + xf[1] * 4 + yf[1]].lumaBiSecond(dst, stride, src[1], stride, tmp[0],
                                                                                  bw, bh, flag0);
        } else {
            const int k = (xf[1] ? 1 : 0) + (yf[1] ? 2 : 0);
            const H265D_DSP_ENTRY &e = dsp->slot[H265D_SLOT_CHROMA_BI_SECOND + k];
            if (k == 0)
                e.chromaBiSecondCopy(dst, stride, src[1], stride, tmp[0], bw, bh);
            else if (k == 3)
                e.chromaBiSecondHv(dst, stride, src[1], stride, tmp[0], bw, bh, xf[1], yf[1]);
            else
                e.chromaBiSecond(dst, stride, src[1], stride, tmp[0], bw, bh, k == 1 ? xf[1] : yf[1]);
        }
    }
}

} // namespace

void scaleMv(int mvx, int mvy, int td, int tb, int16_t out[2])
{
    const Mv r = scaleMvPair(Mv{mvx, mvy}, td, tb);
    out[0] = (int16_t)r.x;
    out[1] = (int16_t)r.y;
}

void clipMvForMc(int mvx, int mvy, int x, int y, int picW, int picH, int16_t out[2])
{
    const Mv r = clipMvPair(Mv{mvx, mvy}, x, y, picW, picH);
    out[0] = (int16_t)r.x;
    out[1] = (int16_t)r.y;
}

void reconstructInterCu(H265D_DEC_OBJ *dec, H265D_CTU_RECORD *ctu, int cuIndex, int firstTu, int firstPu,
                        int lumaOffset, int chromaOffset, McScratch *mc)
{
    const H265D_CU *cu = &ctu->cu[cuIndex];
    InterCtx ic;
    ic.dec = dec;
    ic.ctu = ctu;
    ic.cu = cu;
    ic.sh = ctu->sh ? ctu->sh : &dec->sh;
    ic.field = (H265D_MV_FIELD *)dec->side.mvRecords;
    ic.w4 = dec->side.mapW4;
    ic.curPoc = dec->dpb.pic[dec->dpb.curPic].poc;
    for (int p = 0; p < cu->numPu; p++) {
        const H265D_PU *pu = &ctu->pu[firstPu + p];
        Cand m;
        if (pu->merge_flag) {
            m = ic.mergeCandidate(pu->x, pu->y, pu->w, pu->h, p, pu->merge_idx);
        } else {
            m = Cand{};
            m.refIdx[0] = m.refIdx[1] = -1;
            const int idc = pu->inter_pred_idc;
            for (int l = 0; l < 2; l++) {
                if (idc != 2 && idc != l)
                    continue;
                const int r = l == 0 ? pu->ref_idx_l0 : pu->ref_idx_l1;
                const Mv mvp = ic.amvp(pu->x, pu->y, pu->w, pu->h, p, l, r, l == 0 ? pu->mvp_l0_flag : pu->mvp_l1_flag);
                m.pred[l] = 1;
                m.refIdx[l] = r;
                m.mv[l] = Mv{wrap16(mvp.x + pu->mvd[l][0]), wrap16(mvp.y + pu->mvd[l][1])};
            }
        }
        H265D_MV_FIELD f;
        memset(&f, 0, sizeof f);
        for (int l = 0; l < 2; l++) {
            f.mv[l][0] = (int16_t)(m.pred[l] ? m.mv[l].x : 0);
            f.mv[l][1] = (int16_t)(m.pred[l] ? m.mv[l].y : 0);
            f.predFlag[l] = (uint8_t)m.pred[l];
            f.refIdx[l] = (int8_t)(m.pred[l] ? m.refIdx[l] : -1);
            f.refSlot[l] = (uint8_t)(m.pred[l] ? ic.sh->refList[l].slot[m.refIdx[l]] : 0);
        }
        {
            // Plain locals: the record stores cannot make the bounds reload.
            H265D_MV_FIELD *row = ic.at(pu->x, pu->y);
            const int cols = pu->w >> 2, rows = pu->h >> 2, w4 = ic.w4;
            for (int y = 0; y < rows; y++, row += w4)
                for (int x = 0; x < cols; x++)
                    row[x] = f;
        }
        /* A unit as large as its coding block has the block's edges, which
         * are marked below as transform edges: those count for both. */
        if (pu->w != 1 << cu->log2CbSize || pu->h != 1 << cu->log2CbSize)
            markBlockEdges(dec, pu->x, pu->y, pu->w, pu->h, 4, 8);
        predictPu(dec, ic.sh, m, pu->x, pu->y, pu->w, pu->h, mc->tmp);
    }
    const int nCbS = 1 << cu->log2CbSize;
    /* the coding block's edges are transform edges even without a residual */
    markBlockEdges(dec, cu->x, cu->y, nCbS, nCbS, 1, 2);
    if (cu->cu_skip_flag)
        return;
    H265D_PICTURE *pic = &dec->dpb.pic[dec->dpb.curPic];
    for (int t = 0; t < cu->numTu; t++) {
        const H265D_TU *tu = &ctu->tu[firstTu + t];
        const int n = 1 << tu->log2TrafoSize;
        if (n != nCbS)
            markBlockEdges(dec, tu->x, tu->y, n, n, 1, 2);
        if (tu->cbf_luma)
            addTuResidual(dec, cu, tu, 0, tu->log2TrafoSize, ctu->coeffY + lumaOffset,
                          pic->origin[0] + (ptrdiff_t)tu->y * pic->yStride + tu->x, (int)pic->yStride);
        lumaOffset += n * n;
        int xc = -1, yc = 0, log2c = 0;
        if (tu->log2TrafoSize > 2) {
            xc = tu->x >> 1;
            yc = tu->y >> 1;
            log2c = tu->log2TrafoSize - 1;
        } else if (((tu->x >> 2) & 1) && ((tu->y >> 2) & 1)) {
            xc = (tu->x - 4) >> 1;
            yc = (tu->y - 4) >> 1;
            log2c = 2;
        }
        if (xc < 0)
            continue;
        if (tu->cbf_cb)
            addTuResidual(dec, cu, tu, 1, log2c, ctu->coeffCb + chromaOffset,
                          pic->origin[1] + (ptrdiff_t)yc * pic->uvStride + xc, (int)pic->uvStride);
        if (tu->cbf_cr)
            addTuResidual(dec, cu, tu, 2, log2c, ctu->coeffCr + chromaOffset,
                          pic->origin[2] + (ptrdiff_t)yc * pic->uvStride + xc, (int)pic->uvStride);
        chromaOffset += (1 << log2c) * (1 << log2c);
    }
}

void storeMotionField(H265D_DEC_OBJ *dec, const H265D_CTU_RECORD *ctu)
{
    H265D_PICTURE *cur = &dec->dpb.pic[dec->dpb.curPic];
    H265D_COL_MV *col = (H265D_COL_MV *)cur->mvStore;
    if (!col)
        return;
    const H265D_MV_FIELD *field = (const H265D_MV_FIELD *)dec->side.mvRecords;
    const H265D_SLICE_HEADER *sh = ctu->sh ? ctu->sh : &dec->sh;
    const int w16 = (int)(dec->w64 / 16);
    const int xEnd =
        ctu->x + ctu->ctbSize < dec->geo.PicWidthInSamplesY ? ctu->x + ctu->ctbSize : dec->geo.PicWidthInSamplesY;
    for (int y = ctu->y; y < ctu->bottomLimit; y += 16)
        for (int x = ctu->x; x < xEnd; x += 16) {
            H265D_COL_MV *c = &col[(y >> 4) * w16 + (x >> 4)];
            memset(c, 0, sizeof *c);
            if (dec->side.intraMode[(y >> 2) * dec->side.mapW4 + (x >> 2)] != 255)
                continue;
            const H265D_MV_FIELD *f = &field[(y >> 2) * dec->side.mapW4 + (x >> 2)];
            for (int l = 0; l < 2; l++) {
                if (!f->predFlag[l])
                    continue;
                c->predFlag[l] = 1;
                c->mv[l][0] = f->mv[l][0];
                c->mv[l][1] = f->mv[l][1];
                c->refPoc[l] = sh->refList[l].poc[f->refIdx[l]];
                c->longTerm[l] = sh->refList[l].longTerm[f->refIdx[l]];
            }
        }
}

} // namespace h265d
