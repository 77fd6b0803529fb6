// Boundary strengths and deblocking of one CTU.
#include "decoder.h"
#include "loopfilter.h"
#include "slicedata.h"
#include "deblock.h"

#include <string.h>

namespace h265d {

namespace {

// Edge bits of the edge map: transform edge left/top, prediction edge left/top.
constexpr uint8_t kTransformLeft = 1, kTransformTop = 2, kPredictionLeft = 4, kPredictionTop = 8;

// Whether the edge between the CTB holding (x, y) and the one holding
// (xn, yn) may be filtered by the CTB at (x, y).
bool acrossAllowed(const H265D_DEC_OBJ *dec, int x, int y, int xn, int yn)
{
    const int log2 = (int)dec->sps->CtbLog2SizeY, w = dec->geo.PicWidthInCtbsY;
    const int rs = (y >> log2) * w + (x >> log2), rsN = (yn >> log2) * w + (xn >> log2);
    if (rs == rsN)
        return true;
    const H265D_SIDE_BUFFERS *sb = &dec->side;
    if (sb->sliceAddr[rs] != sb->sliceAddr[rsN] && !(sb->ctbFlags[rs] & H265D_CTB_ACROSS_SLICES))
        return false;
    const H265D_PPS *pps = dec->pps;
    if (pps->tiles_enabled_flag && !pps->loop_filter_across_tiles_enabled_flag &&
        pps->tileId[pps->ctbAddrRsToTs[rs]] != pps->tileId[pps->ctbAddrRsToTs[rsN]])
        return false;
    return true;
}

int strength(const H265D_DEC_OBJ *dec, int xq, int yq, int xp, int yp, bool transformEdge)
{
    const H265D_SIDE_BUFFERS *sb = &dec->side;
    const int q = (yq >> 2) * sb->mapW4 + (xq >> 2), p = (yp >> 2) * sb->mapW4 + (xp >> 2);
    if (sb->intraMode[q] != 255 || sb->intraMode[p] != 255)
        return 2;
    if (transformEdge && (sb->codedLuma[q] || sb->codedLuma[p]))
        return 1;
    const H265D_MV_FIELD *records = static_cast<const H265D_MV_FIELD *>(sb->mvRecords);
    // Most edges inside moving areas separate units of one prediction unit
    // or of merged ones: the same motion can never make an edge strong.
    if (memcmp(&records[p], &records[q], sizeof(H265D_MV_FIELD)) == 0)
        return 0;
    return dec->dsp.slot[H265D_SLOT_BS_MOTION].bsMotion(&records[p], &records[q]) ? 1 : 0;
}

} // namespace

void computeCtbStrengths(H265D_DEC_OBJ *dec, int ctbX, int ctbY, uint8_t *bsVer, uint8_t *bsHor)
{
    const H265D_PIC_GEOMETRY *g = &dec->geo;
    const int w4 = dec->side.mapW4;
    const int size = 1 << dec->sps->CtbLog2SizeY;
    const int x0 = ctbX * size, y0 = ctbY * size;
    const int xEnd = x0 + size < g->PicWidthInSamplesY ? x0 + size : g->PicWidthInSamplesY;
    const int yEnd = y0 + size < g->PicHeightInSamplesY ? y0 + size : g->PicHeightInSamplesY;
    fillMapRows(bsVer + (y0 >> 2) * w4 + (x0 >> 2), w4, (xEnd - x0) >> 2, (yEnd - y0 + 3) >> 2, 0);
    fillMapRows(bsHor + (y0 >> 2) * w4 + (x0 >> 2), w4, (xEnd - x0) >> 2, (yEnd - y0 + 3) >> 2, 0);
    if (dec->side.ctbFlags[ctbY * g->PicWidthInCtbsY + ctbX] & H265D_CTB_DEBLOCK_OFF)
        return;
    // The CTB's left and top sides: filtered by this CTB when the picture
    // has a neighbour there and slices and tiles let the filter across.
    const bool leftSide = x0 > 0 && acrossAllowed(dec, x0, y0, x0 - 1, y0);
    const bool topSide = y0 > 0 && acrossAllowed(dec, x0, y0, x0, y0 - 1);
    const uint8_t *edges = dec->side.edgeFlags;
    const uint8_t left = kTransformLeft | kPredictionLeft;
    for (int y = y0; y < yEnd; y += 4) {
        const uint8_t *row = edges + (y >> 2) * w4;
        // Edges lie on the 8-sample grid: vertical ones in the even units of
        // a row, horizontal ones only in the rows on the grid.
        const bool topRow = (y & 7) == 0 && (y != y0 || topSide);
        const uint8_t top = topRow ? (uint8_t)(kTransformTop | kPredictionTop) : (uint8_t)0;
        const uint64_t wantedWord = 0x0001000100010001ull * left | 0x0101010101010101ull * top;
        // Eight units at a time (little-endian: unit k is byte k), visiting
        // only those with an edge bit that counts.
        for (int xb = x0; xb < xEnd; xb += 32) {
            const int units = (xEnd - xb) >> 2 < 8 ? (xEnd - xb) >> 2 : 8;
            uint64_t word = 0;
            if (units == 8)
                memcpy(&word, row + (xb >> 2), 8);
            else
                memcpy(&word, row + (xb >> 2), (size_t)units);
            for (uint64_t m = word & wantedWord; m;) {
                const int k = __builtin_ctzll(m) >> 3;
                m &= ~(0xFFull << (8 * k));
                const uint8_t e = (uint8_t)(word >> (8 * k));
                const int x = xb + 4 * k;
                if ((e & left) && (x & 7) == 0 && (x != x0 || leftSide))
                    bsVer[(y >> 2) * w4 + (x >> 2)] = (uint8_t)strength(dec, x, y, x - 1, y, (e & kTransformLeft) != 0);
                if (e & top)
                    bsHor[(y >> 2) * w4 + (x >> 2)] = (uint8_t)strength(dec, x, y, x, y - 1, (e & kTransformTop) != 0);
            }
        }
    }
}

void computeBoundaryStrength(H265D_DEC_OBJ *dec, const H265D_CTU_RECORD *ctu, uint8_t *bsVer, uint8_t *bsHor)
{
    // Reconstruction marked the transform and prediction units' edges; a
    // coding unit's sides are both (PCM units mark nothing themselves).
    if (!(dec->side.ctbFlags[ctu->ctbAddrRs] & H265D_CTB_DEBLOCK_OFF))
        for (int i = 0; i < ctu->numCu; ++i) {
            const H265D_CU *cu = &ctu->cu[i];
            const int n = 1 << cu->log2CbSize;
            markBlockEdges(dec, cu->x, cu->y, n, n, kTransformLeft | kPredictionLeft, kTransformTop | kPredictionTop);
        }
    computeCtbStrengths(dec, ctu->x >> ctu->ctbLog2, ctu->y >> ctu->ctbLog2, bsVer, bsHor);
}

namespace {

struct CtuDeblocker
{
    H265D_DEC_OBJ *dec;
    const uint8_t *bsVer, *bsHor;
    uint8_t *plane[3];
    int stride[3];
    bool flagged; // PCM without loop filter or lossless units may occur

    int qpAt(int x, int y) const
    {
        const int log2 = (int)dec->sps->MinCbLog2SizeY;
        return dec->side.qpY[(y >> log2) * dec->side.mapWMinCb + (x >> log2)];
    }
    // The per-CTB offsets (twice the slice's _div2 values) of the CTB holding (x, y).
    const int8_t *offsetsAt(int x, int y) const
    {
        const int log2 = (int)dec->sps->CtbLog2SizeY;
        return &dec->side.deblockOffsets[2 * ((y >> log2) * dec->geo.PicWidthInCtbsY + (x >> log2))];
    }
    // Samples of a lossless unit, or of a PCM unit with the loop filter off, stay as they are.
    uint8_t keeps(int x, int y) const
    {
        const uint8_t b = dec->side.filterBypass[(y >> 3) * dec->side.mapW8 + (x >> 3)];
        return (uint8_t)((b & 1) || ((b & 2) && dec->sps->pcm_loop_filter_disabled_flag));
    }
    int bs(bool vertical, int x, int y) const
    {
        const uint8_t *m = vertical ? bsVer : bsHor;
        const int idx = (y >> 2) * dec->side.mapW4 + (x >> 2);
        return m[idx];
    }

    // One 8-sample piece of a luma edge whose Q side starts at (x, y).
    void luma(bool vertical, int x, int y)
    {
        const int bs0 = bs(vertical, x, y);
        const int bs1 = vertical ? bs(true, x, y + 4) : bs(false, x + 4, y);
        if (bs0 == 0 && bs1 == 0)
            return;
        const int xp = vertical ? x - 1 : x, yp = vertical ? y : y - 1;
        const int qpL = (qpAt(x, y) + qpAt(xp, yp) + 1) >> 1;
        const int8_t *off = offsetsAt(x, y);
        const int betaOff = off[0] & ~1, tcOff = off[1] & ~1;
        const int32_t beta[2] = {h265dBetaTable[qpL + betaOff + 12], h265dBetaTable[qpL + betaOff + 12]};
        const int32_t tc[2] = {bs0 ? h265dTcTableLuma[qpL + 2 * (bs0 - 1) + tcOff + 12] : 0,
                               bs1 ? h265dTcTableLuma[qpL + 2 * (bs1 - 1) + tcOff + 12] : 0};
        uint8_t *pix = plane[0] + (ptrdiff_t)y * stride[0] + x;
        const int slot = vertical ? H265D_SLOT_DEBLOCK_LUMA_V : H265D_SLOT_DEBLOCK_LUMA_H;
        if (flagged) {
            const uint8_t noP[2] = {keeps(xp, yp), keeps(xp, yp)}, noQ[2] = {keeps(x, y), keeps(x, y)};
            dec->dsp.slot[slot + 2].deblockLuma(pix, stride[0], beta, tc, noP, noQ);
        } else {
            static const uint8_t kNone[2] = {0, 0};
            dec->dsp.slot[slot].deblockLuma(pix, stride[0], beta, tc, kNone, kNone);
        }
    }

    // One 8-sample piece of a chroma edge (16 luma samples) whose Q side
    // starts at luma (x, y); a half past the picture's end is left alone.
    void chroma(bool vertical, int x, int y, int halves)
    {
        int32_t tc[2][2] = {{0, 0}, {0, 0}};
        uint8_t noP[2] = {0, 0}, noQ[2] = {0, 0};
        bool any = false;
        for (int k = 0; k < halves; ++k) {
            const int xq = vertical ? x : x + 8 * k, yq = vertical ? y + 8 * k : y;
            if (bs(vertical, xq, yq) != 2)
                continue;
            const int xp = vertical ? xq - 1 : xq, yp = vertical ? yq : yq - 1;
            const int qpi = (qpAt(xq, yq) + qpAt(xp, yp) + 1) >> 1;
            const int tcOff = offsetsAt(xq, yq)[1];
            const int offsets[2] = {dec->pps->pps_cb_qp_offset, dec->pps->pps_cr_qp_offset};
            for (int c = 0; c < 2; ++c) {
                const int q = h265dChromaQpTable[qpi + offsets[c] + 12] + 2 + tcOff;
                tc[c][k] = q <= 0 ? 0 : h265dTcTable[q >= 53 ? 53 : q];
            }
            noP[k] = keeps(xp, yp);
            noQ[k] = keeps(xq, yq);
            any = true;
        }
        if (!any)
            return;
        const int slot = (vertical ? H265D_SLOT_DEBLOCK_CHROMA_V : H265D_SLOT_DEBLOCK_CHROMA_H) + (flagged ? 2 : 0);
        for (int c = 1; c <= 2; ++c)
            dec->dsp.slot[slot].deblockChroma(plane[c] + (ptrdiff_t)(y >> 1) * stride[c] + (x >> 1), stride[c],
                                              tc[c - 1], noP, noQ);
    }
};

} // namespace

void deblockCtu(H265D_DEC_OBJ *dec, int x, int y, const uint8_t *bsVer, const uint8_t *bsHor)
{
    const H265D_PICTURE *pic = &dec->dpb.pic[dec->dpb.curPic];
    CtuDeblocker d{dec,
                   bsVer,
                   bsHor,
                   {pic->origin[0], pic->origin[1], pic->origin[2]},
                   {(int)pic->yStride, (int)pic->uvStride, (int)pic->uvStride},
                   (dec->sps->pcm_enabled_flag && dec->sps->pcm_loop_filter_disabled_flag) ||
                       dec->pps->transquant_bypass_enabled_flag};
    const int picW = dec->geo.PicWidthInSamplesY, picH = dec->geo.PicHeightInSamplesY;
    const int size = 1 << dec->sps->CtbLog2SizeY;
    const int xEnd = x + size < picW ? x + size : picW, yEnd = y + size < picH ? y + size : picH;
    // Most pieces have no edge to filter: their strengths are looked at
    // here, before any call.
    const int w4 = dec->side.mapW4;
    auto at = [w4](const uint8_t *m, int px, int py) { return m[(py >> 2) * w4 + (px >> 2)]; };
    // Vertical edges of the CTU, the picture's first column excepted.
    for (int ex = x ? x : 8; ex < xEnd; ex += 8)
        for (int ey = y; ey < yEnd; ey += 8)
            if (at(bsVer, ex, ey) | at(bsVer, ex, ey + 4))
                d.luma(true, ex, ey);
    for (int ex = x ? x : 16; ex < xEnd; ex += 16)
        for (int ey = y; ey < yEnd; ey += 16)
            if (at(bsVer, ex, ey) == 2 || (ey + 8 < yEnd && at(bsVer, ex, ey + 8) == 2))
                d.chroma(true, ex, ey, ey + 8 < yEnd ? 2 : 1);
    // Horizontal edges lag 8 columns behind: the next CTU's vertical edge
    // still changes the last columns, except at the row's end.
    const int hStart = x ? x - 8 : 0, hEnd = xEnd == picW ? picW : xEnd - 8;
    for (int ey = y ? y : 8; ey < yEnd; ey += 8)
        for (int ex = hStart; ex < hEnd; ex += 8)
            if (at(bsHor, ex, ey) | at(bsHor, ex + 4, ey))
                d.luma(false, ex, ey);
    // Chroma lags 8 columns too: the next CTU's vertical chroma edge changes
    // only this CTU's last chroma column. A longer lag would let the SAO of
    // the CTB above-left (16 x 16 CTBs, 135-degree class) read its
    // bottom-right diagonal neighbour before this edge has filtered it.
    const int cStart = x ? x - 8 : 0, cEnd = xEnd == picW ? picW : xEnd - 8;
    for (int ey = y ? y : 16; ey < yEnd; ey += 16)
        for (int ex = cStart; ex < cEnd; ex += 16)
            if (at(bsHor, ex, ey) == 2 || (ex + 8 < cEnd && at(bsHor, ex + 8, ey) == 2))
                d.chroma(false, ex, ey, ex + 8 < cEnd ? 2 : 1);
}

} // namespace h265d
