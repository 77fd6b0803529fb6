/* Coding tree syntax: SAO, coding quadtree, coding and prediction units,
 * transform tree and residual coding, with the QP and intra-mode
 * derivations that parsing needs. */
#include <string.h>

#include "decoder.h"
#include "slicedata.h"
#include "stageclock.h"
#include "syntax.h"

namespace h265d {

namespace {

struct ScanPos
{
    uint8_t x, y;
};

/* [log2 size 0..3][scanIdx][pos]: diagonal, horizontal, vertical; and
 * back from the raster position (y * size + x) to the scan position. */
struct ScanTables
{
    ScanPos order[4][3][64];
    uint8_t posOf[4][3][64];
    /* Significance context of each scan position of a 4x4 sub-block before
     * the per-block offsets: [scanIdx][coded neighbours (right + 2 * below)]
     * for the larger blocks, and [scanIdx] for the 4x4 transform block. */
    uint8_t sigBase[3][4][16];
    uint8_t sig4x4[3][16];
    ScanTables()
    {
        for (int l = 0; l < 4; l++) {
            const int n = 1 << l;
            int i = 0, x = 0, y = 0;
            while (i < n * n) {
                while (y >= 0) {
                    if (x < n && y < n) {
                        order[l][0][i].x = (uint8_t)x;
                        order[l][0][i].y = (uint8_t)y;
                        i++;
                    }
                    y--;
                    x++;
                }
                y = x;
                x = 0;
            }
            for (int k = 0; k < n * n; k++) {
                order[l][1][k].x = (uint8_t)(k % n);
                order[l][1][k].y = (uint8_t)(k / n);
                order[l][2][k].x = (uint8_t)(k / n);
                order[l][2][k].y = (uint8_t)(k % n);
            }
            for (int s = 0; s < 3; s++)
                for (int k = 0; k < n * n; k++)
                    posOf[l][s][order[l][s][k].y * n + order[l][s][k].x] = (uint8_t)k;
        }
        static const uint8_t map4x4[16] = {0, 1, 4, 5, 2, 3, 4, 5, 6, 6, 8, 8, 7, 7, 8, 8};
        for (int s = 0; s < 3; s++)
            for (int k = 0; k < 16; k++) {
                const int xP = order[2][s][k].x, yP = order[2][s][k].y;
                sig4x4[s][k] = map4x4[(yP << 2) + xP];
                sigBase[s][0][k] = (uint8_t)((xP + yP == 0) ? 2 : (xP + yP < 3) ? 1 : 0);
                sigBase[s][1][k] = (uint8_t)(yP == 0 ? 2 : (yP == 1 ? 1 : 0));
                sigBase[s][2][k] = (uint8_t)(xP == 0 ? 2 : (xP == 1 ? 1 : 0));
                sigBase[s][3][k] = 2;
            }
    }
};
const ScanTables kScan;

const uint8_t kChromaQpTable[14] = {29, 30, 31, 32, 33, 33, 34, 34, 35, 35, 36, 36, 37, 37};

enum { PART_2Nx2N, PART_2NxN, PART_Nx2N, PART_NxN, PART_2NxnU, PART_2NxnD, PART_nLx2N, PART_nRx2N };

struct Parser
{
    H265D_DEC_OBJ *dec;
    H265D_SLICE_CTX *ctx;
    H265D_CABAC *c;
    H265D_CTU_RECORD *ctu;
    const H265D_SPS *sps;
    const H265D_PPS *pps;
    const H265D_SLICE_HEADER *sh;
    H265D_SIDE_BUFFERS *sb;
    int log2MinCuQpDeltaSize;
    int qgPrevQp;
    int lumaOffset;
    int chromaOffset;

    int error(const char *fmt, int value)
    {
        H265D_LOG(dec, H265D_LOG_ERROR, fmt, value);
        return H265D_ERR_SLICE_DATA;
    }
    int decision(int idx) { return cabacDecodeDecision(c, &c->ctxState[idx]); }
    int bypass() { return cabacDecodeBypass(c); }

    bool leftAvailable(int x0) const { return (x0 & (ctu->ctbSize - 1)) || ctu->availLeft; }
    bool aboveAvailable(int y0) const { return (y0 & (ctu->ctbSize - 1)) || ctu->availAbove; }
    int minCbIndex(int x, int y) const
    {
        return (y >> sps->MinCbLog2SizeY) * sb->mapWMinCb + (x >> sps->MinCbLog2SizeY);
    }

    int parseSao();
    int parseCodingQuadtree(int x0, int y0, int log2CbSize, int cqtDepth);
    int parseCodingUnit(int x0, int y0, int log2CbSize, int ctDepth);
    int parsePredictionUnit(H265D_CU *cu, int x0, int y0, int w, int h, int partIdx, int ctDepth);
    int parseMvd(H265D_PU *pu, int list);
    int parseTransformTree(H265D_CU *cu, int x0, int y0, int xBase, int yBase, int log2TrafoSize, int trafoDepth,
                           int blkIdx, int maxTrafoDepth, int intraSplit, int parentCbfCb, int parentCbfCr);
    int parseTransformUnit(H265D_CU *cu, H265D_TU *tu, int xBase, int yBase, int trafoDepth, int blkIdx);
    int decodePcmSample(H265D_CU *cu, int log2CbSize);
    int deriveIntraLumaMode(int x0, int y0, int nPbS, int mpmIdx, int remMode, int prevFlag);
    void setQpY(int xCb, int yCb, int deltaCoded);
    int scanIdxFor(int log2TrafoSize, int mode) const
    {
        if (log2TrafoSize > 3)
            return 0;
        if (mode >= 6 && mode <= 14)
            return 2;
        if (mode >= 22 && mode <= 30)
            return 1;
        return 0;
    }
};

/* sao(), 7.3.8.3. */
int Parser::parseSao()
{
    const int rs = ctu->ctbAddrRs;
    H265D_SAO_PARAMS *sao = &sb->sao[rs];
    memset(sao, 0, sizeof *sao);
    if (!sh->slice_sao_luma_flag && !sh->slice_sao_chroma_flag)
        return 0;
    const int W = dec->geo.PicWidthInCtbsY;
    int mergeLeft = 0, mergeUp = 0;
    if (ctu->ctbX > 0 && ctu->availLeft)
        mergeLeft = decision(CTX_SAO_MERGE);
    if (!mergeLeft && ctu->ctbY > 0 && ctu->availAbove)
        mergeUp = decision(CTX_SAO_MERGE);
    if (mergeLeft || mergeUp) {
        *sao = sb->sao[mergeLeft ? rs - 1 : rs - W];
        return 0;
    }
    for (int cIdx = 0; cIdx < 3; cIdx++) {
        const int on = cIdx == 0 ? sh->slice_sao_luma_flag : sh->slice_sao_chroma_flag;
        if (!on)
            continue;
        if (cIdx == 2) {
            sao->SaoTypeIdx[2] = sao->SaoTypeIdx[1];
            sao->SaoEoClass[2] = sao->SaoEoClass[1];
        } else {
            int type = 0;
            if (decision(CTX_SAO_TYPE))
                type = bypass() ? 2 : 1;
            sao->SaoTypeIdx[cIdx] = (uint8_t)type;
        }
        if (sao->SaoTypeIdx[cIdx] == 0)
            continue;
        int offs[4];
        for (int i = 0; i < 4; i++) {
            int v = 0;
            while (v < 7 && bypass()) /* TR, cMax 7 at 8 bits */
                v++;
            offs[i] = v;
        }
        if (sao->SaoTypeIdx[cIdx] == 1) {
            for (int i = 0; i < 4; i++)
                if (offs[i] && bypass())
                    offs[i] = -offs[i];
            sao->sao_band_position[cIdx] = (uint8_t)cabacDecodeBypassBits(c, 5);
        } else {
            offs[2] = -offs[2];
            offs[3] = -offs[3];
            if (cIdx == 0)
                sao->SaoEoClass[0] = (uint8_t)cabacDecodeBypassBits(c, 2);
            if (cIdx == 1)
                sao->SaoEoClass[1] = (uint8_t)cabacDecodeBypassBits(c, 2);
        }
        sao->SaoOffsetVal[cIdx][0] = 0;
        for (int i = 0; i < 4; i++)
            sao->SaoOffsetVal[cIdx][i + 1] = (int8_t)offs[i];
    }
    return 0;
}

void Parser::setQpY(int xCb, int yCb, int deltaCoded)
{
    const int qgMask = (1 << log2MinCuQpDeltaSize) - 1;
    const int xQg = xCb - (xCb & qgMask), yQg = yCb - (yCb & qgMask);
    const int ctbMask = ctu->ctbSize - 1;
    const int prev = qgPrevQp;
    const int qpA = (xQg & ctbMask) ? sb->qpY[minCbIndex(xQg - 1, yQg)] : prev;
    const int qpB = (yQg & ctbMask) ? sb->qpY[minCbIndex(xQg, yQg - 1)] : prev;
    const int pred = (qpA + qpB + 1) >> 1;
    c->qpY = deltaCoded ? ((pred + c->cuQpDeltaVal + 52) % 52) : pred;
}

int Parser::deriveIntraLumaMode(int x0, int y0, int nPbS, int mpmIdx, int remMode, int prevFlag)
{
    const int w4 = sb->mapW4;
    int candA = 1, candB = 1;
    if (x0 > 0 && leftAvailable(x0)) {
        const int m = sb->intraMode[(y0 >> 2) * w4 + ((x0 - 1) >> 2)];
        candA = m == 255 ? 1 : m;
    }
    if ((y0 & (ctu->ctbSize - 1)) != 0) {
        const int m = sb->intraMode[((y0 - 1) >> 2) * w4 + (x0 >> 2)];
        candB = m == 255 ? 1 : m;
    }
    int cand[3];
    if (candA == candB) {
        if (candA < 2) {
            cand[0] = 0;
            cand[1] = 1;
            cand[2] = 26;
        } else {
            cand[0] = candA;
            cand[1] = 2 + ((candA + 29) % 32);
            cand[2] = 2 + ((candA - 2 + 1) % 32);
        }
    } else {
        cand[0] = candA;
        cand[1] = candB;
        if (candA != 0 && candB != 0)
            cand[2] = 0;
        else if (candA != 1 && candB != 1)
            cand[2] = 1;
        else
            cand[2] = 26;
    }
    int mode;
    if (prevFlag) {
        mode = cand[mpmIdx];
    } else {
        if (cand[0] > cand[1]) {
            int t = cand[0];
            cand[0] = cand[1];
            cand[1] = t;
        }
        if (cand[0] > cand[2]) {
            int t = cand[0];
            cand[0] = cand[2];
            cand[2] = t;
        }
        if (cand[1] > cand[2]) {
            int t = cand[1];
            cand[1] = cand[2];
            cand[2] = t;
        }
        mode = remMode;
        for (int i = 0; i < 3; i++)
            if (mode >= cand[i])
                mode++;
    }
    const int n4 = nPbS >> 2;
    fillMapRows(&sb->intraMode[(y0 >> 2) * w4 + (x0 >> 2)], w4, n4, n4, (uint8_t)mode);
    c->lumaIntraMode = mode;
    return mode;
}

int Parser::decodePcmSample(H265D_CU *cu, int log2CbSize)
{
    const int n = 1 << log2CbSize;
    const int bdY = (int)sps->pcm_sample_bit_depth_luma, bdC = (int)sps->pcm_sample_bit_depth_chroma;
    const size_t bits = (size_t)n * n * bdY + (size_t)(n * n / 2) * bdC;
    const size_t bytes = (bits + 7) / 8;
    const uint8_t *p = cabacReinitAtByte(c, bytes);
    if (!p) {
        H265D_LOG(dec, H265D_LOG_ERROR, "H265D_Decode : the pcm is enable but it is empty!\n");
        return H265D_ERR_SLICE_DATA;
    }
    H265D_BITREADER br;
    bitReaderInit(&br, p, (int32_t)bytes, (int32_t)bytes);
    int16_t *y = ctu->coeffY + lumaOffset;
    for (int i = 0; i < n * n; i++)
        y[i] = (int16_t)(readBits(&br, bdY) << (8 - bdY));
    const int nc = (n / 2) * (n / 2);
    int16_t *cb = ctu->coeffCb + chromaOffset, *cr = ctu->coeffCr + chromaOffset;
    for (int i = 0; i < nc; i++)
        cb[i] = (int16_t)(readBits(&br, bdC) << (8 - bdC));
    for (int i = 0; i < nc; i++)
        cr[i] = (int16_t)(readBits(&br, bdC) << (8 - bdC));
    (void)cu;
    return 0;
}

/* mvd_coding(), 7.3.8.9. */
int Parser::parseMvd(H265D_PU *pu, int list)
{
    return decodeMvdCoding(dec, c, pu, list);
}

/* prediction_unit(), 7.3.8.6. */
int Parser::parsePredictionUnit(H265D_CU *cu, int x0, int y0, int w, int h, int partIdx, int ctDepth)
{
    (void)partIdx;
    if (ctu->numPu >= H265D_MAX_PU_PER_CTU)
        return error("H265D_Decode : too many prediction units in a CTU (%d)!\n", ctu->numPu);
    H265D_PU *pu = &ctu->pu[ctu->numPu++];
    memset(pu, 0, sizeof *pu);
    pu->x = x0;
    pu->y = y0;
    pu->w = w;
    pu->h = h;
    cu->numPu++;
    const int maxMerge = (int)sh->MaxNumMergeCand;
    if (cu->cu_skip_flag) {
        pu->merge_flag = 1;
    } else {
        pu->merge_flag = (uint8_t)decision(CTX_MERGE_FLAG);
    }
    if (pu->merge_flag) {
        int idx = 0;
        if (maxMerge > 1) {
            if (decision(CTX_MERGE_IDX)) {
                idx = 1;
                while (idx < maxMerge - 1 && bypass())
                    idx++;
            }
        }
        pu->merge_idx = (uint8_t)idx;
        return 0;
    }
    int idc = 0;
    if (sh->slice_type == 0) {
        if (w + h == 12) {
            idc = decision(CTX_INTER_PRED_IDC + 4);
        } else if (decision(CTX_INTER_PRED_IDC + ctDepth)) {
            idc = 2;
        } else {
            idc = decision(CTX_INTER_PRED_IDC + 4);
        }
        if (idc == 2 && w + h == 12)
            return error("H265D_Decode : the value of inter_pred_idc is %d, it should be less than 3 and not be equal "
                         "to 2 when iPuWidth + iPuHeight = 12!\n",
                         idc);
    }
    pu->inter_pred_idc = (uint8_t)idc;
    for (int list = 0; list < 2; list++) {
        if (idc != 2 && idc != list)
            continue;
        const int numRef = (int)(list == 0 ? sh->num_ref_idx_l0_active : sh->num_ref_idx_l1_active);
        int ref = 0;
        if (numRef > 1) {
            const int cMax = numRef - 1;
            while (ref < cMax) {
                const int bin = ref < 2 ? decision(CTX_REF_IDX + ref) : bypass();
                if (!bin)
                    break;
                ref++;
            }
        }
        if (list == 0)
            pu->ref_idx_l0 = (uint8_t)ref;
        else
            pu->ref_idx_l1 = (uint8_t)ref;
        if (list == 1 && sh->mvd_l1_zero_flag && idc == 2) {
            pu->mvd[1][0] = pu->mvd[1][1] = 0;
        } else {
            int r = parseMvd(pu, list);
            if (r)
                return r;
        }
        const int mvp = decision(CTX_MVP_FLAG);
        if (list == 0)
            pu->mvp_l0_flag = (uint8_t)mvp;
        else
            pu->mvp_l1_flag = (uint8_t)mvp;
    }
    return 0;
}

/* transform_unit(), 7.3.8.10. */
int Parser::parseTransformUnit(H265D_CU *cu, H265D_TU *tu, int xBase, int yBase, int trafoDepth, int blkIdx)
{
    (void)trafoDepth;
    const int log2 = tu->log2TrafoSize;
    const int cbfChroma = tu->cbf_cb || tu->cbf_cr;
    if (tu->cbf_luma || cbfChroma) {
        if (pps->cu_qp_delta_enabled_flag && !c->isCuQpDeltaCoded) {
            int v = 0;
            int r = decodeCuQpDeltaAbs(dec, c, &v);
            if (r)
                return r;
            if (v && bypass())
                v = -v;
            c->isCuQpDeltaCoded = 1;
            c->cuQpDeltaVal = v;
            setQpY(cu->x, cu->y, 1);
        }
    }
    const int bypassFlag = cu->cu_transquant_bypass_flag;
    const int n = 1 << log2;
    if (tu->cbf_luma) {
        const int scan = cu->CuPredMode == 1 ? scanIdxFor(log2, c->lumaIntraMode) : 0;
        int r = parseResidualCoding(dec, ctx, tu, log2, bypassFlag, 0, ctu->coeffY + lumaOffset, scan);
        if (r)
            return r;
    }
    lumaOffset += n * n;
    if (log2 > 2) {
        const int nc = n / 2;
        const int scan = cu->CuPredMode == 1 && log2 == 3 ? scanIdxFor(2, cu->IntraPredModeC) : 0;
        if (tu->cbf_cb) {
            int r = parseResidualCoding(dec, ctx, tu, log2 - 1, bypassFlag, 1, ctu->coeffCb + chromaOffset, scan);
            if (r)
                return r;
        }
        if (tu->cbf_cr) {
            int r = parseResidualCoding(dec, ctx, tu, log2 - 1, bypassFlag, 2, ctu->coeffCr + chromaOffset, scan);
            if (r)
                return r;
        }
        chromaOffset += nc * nc;
    } else if (blkIdx == 3) {
        const int scan = cu->CuPredMode == 1 ? scanIdxFor(2, cu->IntraPredModeC) : 0;
        if (tu->cbf_cb) {
            int r = parseResidualCoding(dec, ctx, tu, 2, bypassFlag, 1, ctu->coeffCb + chromaOffset, scan);
            if (r)
                return r;
        }
        if (tu->cbf_cr) {
            int r = parseResidualCoding(dec, ctx, tu, 2, bypassFlag, 2, ctu->coeffCr + chromaOffset, scan);
            if (r)
                return r;
        }
        chromaOffset += 16;
    }
    (void)xBase;
    (void)yBase;
    return 0;
}

/* transform_tree(), 7.3.8.8. */
int Parser::parseTransformTree(H265D_CU *cu, int x0, int y0, int xBase, int yBase, int log2TrafoSize, int trafoDepth,
                               int blkIdx, int maxTrafoDepth, int intraSplit, int parentCbfCb, int parentCbfCr)
{
    int split;
    if (log2TrafoSize <= (int)sps->Log2MaxTrafoSize && log2TrafoSize > (int)sps->Log2MinTrafoSize &&
        trafoDepth < maxTrafoDepth && !(intraSplit && trafoDepth == 0)) {
        split = decision(CTX_SPLIT_TRANSFORM + 5 - log2TrafoSize);
    } else {
        const int interSplit = sps->max_transform_hierarchy_depth_inter == 0 && cu->CuPredMode == 0 &&
                               cu->PartMode != PART_2Nx2N && trafoDepth == 0;
        split = log2TrafoSize > (int)sps->Log2MaxTrafoSize || (intraSplit && trafoDepth == 0) || interSplit;
    }
    int cbfCb = 0, cbfCr = 0;
    if (log2TrafoSize > 2) {
        if (trafoDepth == 0 || parentCbfCb)
            cbfCb = decision(CTX_CBF_CHROMA + trafoDepth);
        if (trafoDepth == 0 || parentCbfCr)
            cbfCr = decision(CTX_CBF_CHROMA + trafoDepth);
    } else {
        cbfCb = parentCbfCb;
        cbfCr = parentCbfCr;
    }
    if (split) {
        const int h = 1 << (log2TrafoSize - 1);
        const int x1 = x0 + h, y1 = y0 + h;
        int r = parseTransformTree(cu, x0, y0, x0, y0, log2TrafoSize - 1, trafoDepth + 1, 0, maxTrafoDepth, intraSplit,
                                   cbfCb, cbfCr);
        if (!r)
            r = parseTransformTree(cu, x1, y0, x0, y0, log2TrafoSize - 1, trafoDepth + 1, 1, maxTrafoDepth, intraSplit,
                                   cbfCb, cbfCr);
        if (!r)
            r = parseTransformTree(cu, x0, y1, x0, y0, log2TrafoSize - 1, trafoDepth + 1, 2, maxTrafoDepth, intraSplit,
                                   cbfCb, cbfCr);
        if (!r)
            r = parseTransformTree(cu, x1, y1, x0, y0, log2TrafoSize - 1, trafoDepth + 1, 3, maxTrafoDepth, intraSplit,
                                   cbfCb, cbfCr);
        return r;
    }
    int cbfLuma = 1;
    if (cu->CuPredMode == 1 || trafoDepth != 0 || cbfCb || cbfCr)
        cbfLuma = decision(CTX_CBF_LUMA + (trafoDepth == 0 ? 1 : 0));
    if (ctu->numTu >= H265D_MAX_TU_PER_CTU)
        return error("H265D_Decode : too many transform units in a CTU (%d)!\n", ctu->numTu);
    H265D_TU *tu = &ctu->tu[ctu->numTu++];
    memset(tu, 0, sizeof *tu);
    tu->x = x0;
    tu->y = y0;
    tu->log2TrafoSize = (uint8_t)log2TrafoSize;
    tu->cbf_luma = (uint8_t)cbfLuma;
    tu->cbf_cb = (uint8_t)cbfCb;
    tu->cbf_cr = (uint8_t)cbfCr;
    cu->numTu++;
    if (cu->CuPredMode == 1 && cu->PartMode == PART_NxN) {
        const int half = 1 << (cu->log2CbSize - 1);
        const int part = (x0 >= cu->x + half ? 1 : 0) + (y0 >= cu->y + half ? 2 : 0);
        c->lumaIntraMode = cu->IntraPredModeY[part];
    }
    return parseTransformUnit(cu, tu, xBase, yBase, trafoDepth, blkIdx);
}

/* coding_unit(), 7.3.8.5. */
int Parser::parseCodingUnit(int x0, int y0, int log2CbSize, int ctDepth)
{
    if (ctu->numCu >= H265D_MAX_CU_PER_CTU)
        return error("H265D_Decode : too many coding units in a CTU (%d)!\n", ctu->numCu);
    H265D_CU *cu = &ctu->cu[ctu->numCu++];
    memset(cu, 0, sizeof *cu);
    cu->x = x0;
    cu->y = y0;
    cu->log2CbSize = (uint8_t)log2CbSize;
    const int nCbS = 1 << log2CbSize;
    if (pps->transquant_bypass_enabled_flag)
        cu->cu_transquant_bypass_flag = (uint8_t)decision(CTX_TRANSQUANT_BYPASS);
    if (sh->slice_type != 2) {
        int inc = 0;
        const int wCb = sb->mapWMinCb;
        if (x0 > 0 && leftAvailable(x0))
            inc += sb->skipFlag[minCbIndex(x0 - 1, y0)];
        if (y0 > 0 && aboveAvailable(y0))
            inc += sb->skipFlag[minCbIndex(x0, y0 - 1)];
        (void)wCb;
        cu->cu_skip_flag = (uint8_t)decision(CTX_CU_SKIP + inc);
    }
    const int nMin = nCbS >> sps->MinCbLog2SizeY;
    const int picWMin = sb->mapWMinCb;
    fillMapRows(&sb->skipFlag[minCbIndex(x0, y0)], picWMin, nMin, nMin, cu->cu_skip_flag);
    fillMapRows(&sb->ctDepth[minCbIndex(x0, y0)], picWMin, nMin, nMin, (uint8_t)ctDepth);
    const int w4 = sb->mapW4;
    const int n4 = nCbS >> 2;
    uint32_t *stats = ctx->cuStats           ? ctx->cuStats
                      : dec->dpb.curPic >= 0 ? dec->dpb.pic[dec->dpb.curPic].cuStats
                                             : nullptr;
    const int sizeIdx = log2CbSize - 3; /* 8..64 -> 0..3 */
    int r = 0;
    if (cu->cu_skip_flag) {
        cu->CuPredMode = 0;
        cu->PartMode = PART_2Nx2N;
        fillMapRows(&sb->intraMode[(y0 >> 2) * w4 + (x0 >> 2)], w4, n4, n4, 255);
        r = parsePredictionUnit(cu, x0, y0, nCbS, nCbS, 0, ctDepth);
        if (r)
            return r;
        if (stats)
            stats[14 + sizeIdx]++;
    } else {
        /* pred_mode_flag 1: intra */
        cu->CuPredMode = sh->slice_type != 2 ? decision(CTX_PRED_MODE) : 1;
        int partMode = PART_2Nx2N;
        if (cu->CuPredMode != 1 || log2CbSize == (int)sps->MinCbLog2SizeY) {
            if (decision(CTX_PART_MODE)) {
                partMode = PART_2Nx2N;
            } else if (cu->CuPredMode == 1) {
                partMode = PART_NxN;
            } else if (log2CbSize == (int)sps->MinCbLog2SizeY) {
                if (decision(CTX_PART_MODE + 1))
                    partMode = PART_2NxN;
                else if (log2CbSize == 3)
                    partMode = PART_Nx2N;
                else
                    partMode = decision(CTX_PART_MODE + 2) ? PART_Nx2N : PART_NxN;
            } else if (!sps->amp_enabled_flag) {
                partMode = decision(CTX_PART_MODE + 1) ? PART_2NxN : PART_Nx2N;
            } else {
                const int dir = decision(CTX_PART_MODE + 1);
                if (decision(CTX_PART_MODE + 3))
                    partMode = dir ? PART_2NxN : PART_Nx2N;
                else if (dir)
                    partMode = bypass() ? PART_2NxnD : PART_2NxnU;
                else
                    partMode = bypass() ? PART_nRx2N : PART_nLx2N;
            }
        }
        cu->PartMode = partMode;
        if (cu->CuPredMode == 1) {
            int pcm = 0;
            const int log2MinPcm = (int)sps->log2_min_pcm_luma_coding_block_size;
            if (sps->pcm_enabled_flag && partMode == PART_2Nx2N && log2CbSize >= log2MinPcm &&
                log2CbSize <= log2MinPcm + (int)sps->log2_diff_max_min_pcm_luma_coding_block_size)
                pcm = cabacDecodeTerminate(c);
            cu->pcm_flag = (uint8_t)pcm;
            if (pcm) {
                fillMapRows(&sb->intraMode[(y0 >> 2) * w4 + (x0 >> 2)], w4, n4, n4, 1);
                cu->IntraPredModeY[0] = 1;
                r = decodePcmSample(cu, log2CbSize);
                if (r)
                    return r;
                lumaOffset += nCbS * nCbS;
                chromaOffset += (nCbS / 2) * (nCbS / 2);
                if (stats)
                    stats[6 + sizeIdx]++;
            } else {
                const int nParts = partMode == PART_NxN ? 4 : 1;
                const int pbOffset = partMode == PART_NxN ? nCbS / 2 : nCbS;
                int prevFlag[4], mpmIdx[4] = {0, 0, 0, 0}, rem[4] = {0, 0, 0, 0};
                for (int i = 0; i < nParts; i++)
                    prevFlag[i] = decision(CTX_PREV_INTRA_LUMA);
                for (int i = 0; i < nParts; i++) {
                    if (prevFlag[i]) {
                        mpmIdx[i] = bypass() ? (bypass() ? 2 : 1) : 0;
                    } else {
                        rem[i] = (int)cabacDecodeBypassBits(c, 5);
                    }
                }
                for (int i = 0; i < nParts; i++) {
                    const int px = x0 + (i & 1) * pbOffset, py = y0 + (i >> 1) * pbOffset;
                    cu->IntraPredModeY[i] = deriveIntraLumaMode(px, py, pbOffset, mpmIdx[i], rem[i], prevFlag[i]);
                }
                for (int i = nParts; i < 4; i++)
                    cu->IntraPredModeY[i] = cu->IntraPredModeY[0];
                int chromaIdx = 4;
                if (decision(CTX_INTRA_CHROMA))
                    chromaIdx = (int)cabacDecodeBypassBits(c, 2);
                if (chromaIdx > 4)
                    return error("H265D_Decode : the value of intra_pred_mode_c is %d, it should be in the range of "
                                 "0~4!\n",
                                 chromaIdx);
                const int luma = cu->IntraPredModeY[0];
                static const int kChromaModes[4] = {0, 26, 10, 1};
                int modeC = luma;
                if (chromaIdx < 4)
                    modeC = kChromaModes[chromaIdx] == luma ? 34 : kChromaModes[chromaIdx];
                cu->IntraPredModeC = modeC;
                if (stats) {
                    if (partMode == PART_NxN && log2CbSize == 3)
                        stats[0] += 4;
                    else
                        stats[1 + sizeIdx]++;
                }
            }
        } else {
            fillMapRows(&sb->intraMode[(y0 >> 2) * w4 + (x0 >> 2)], w4, n4, n4, 255);
            const int h = nCbS / 2, q = nCbS / 4;
            switch (partMode) {
            case PART_2Nx2N:
                r = parsePredictionUnit(cu, x0, y0, nCbS, nCbS, 0, ctDepth);
                break;
            case PART_2NxN:
                r = parsePredictionUnit(cu, x0, y0, nCbS, h, 0, ctDepth);
                if (!r)
                    r = parsePredictionUnit(cu, x0, y0 + h, nCbS, h, 1, ctDepth);
                break;
            case PART_Nx2N:
                r = parsePredictionUnit(cu, x0, y0, h, nCbS, 0, ctDepth);
                if (!r)
                    r = parsePredictionUnit(cu, x0 + h, y0, h, nCbS, 1, ctDepth);
                break;
            case PART_2NxnU:
                r = parsePredictionUnit(cu, x0, y0, nCbS, q, 0, ctDepth);
                if (!r)
                    r = parsePredictionUnit(cu, x0, y0 + q, nCbS, nCbS * 3 / 4, 1, ctDepth);
                break;
            case PART_2NxnD:
                r = parsePredictionUnit(cu, x0, y0, nCbS, nCbS * 3 / 4, 0, ctDepth);
                if (!r)
                    r = parsePredictionUnit(cu, x0, y0 + nCbS * 3 / 4, nCbS, q, 1, ctDepth);
                break;
            case PART_nLx2N:
                r = parsePredictionUnit(cu, x0, y0, q, nCbS, 0, ctDepth);
                if (!r)
                    r = parsePredictionUnit(cu, x0 + q, y0, nCbS * 3 / 4, nCbS, 1, ctDepth);
                break;
            case PART_nRx2N:
                r = parsePredictionUnit(cu, x0, y0, nCbS * 3 / 4, nCbS, 0, ctDepth);
                if (!r)
                    r = parsePredictionUnit(cu, x0 + nCbS * 3 / 4, y0, q, nCbS, 1, ctDepth);
                break;
            default: /* NxN */
                r = parsePredictionUnit(cu, x0, y0, h, h, 0, ctDepth);
                if (!r)
                    r = parsePredictionUnit(cu, x0 + h, y0, h, h, 1, ctDepth);
                if (!r)
                    r = parsePredictionUnit(cu, x0, y0 + h, h, h, 2, ctDepth);
                if (!r)
                    r = parsePredictionUnit(cu, x0 + h, y0 + h, h, h, 3, ctDepth);
                break;
            }
            if (r)
                return r;
            if (stats)
                stats[10 + sizeIdx]++;
        }
        if (!cu->pcm_flag) {
            int rqtRootCbf = 1;
            if (cu->CuPredMode != 1 && !(partMode == PART_2Nx2N && ctu->pu[ctu->numPu - 1].merge_flag))
                rqtRootCbf = decision(CTX_RQT_ROOT_CBF);
            if (rqtRootCbf) {
                const int intraSplit = cu->CuPredMode == 1 && partMode == PART_NxN;
                const int maxDepth = cu->CuPredMode == 1 ? (int)sps->max_transform_hierarchy_depth_intra + intraSplit
                                                         : (int)sps->max_transform_hierarchy_depth_inter;
                c->lumaIntraMode = cu->IntraPredModeY[0];
                r = parseTransformTree(cu, x0, y0, x0, y0, log2CbSize, 0, 0, maxDepth, intraSplit, 0, 0);
                if (r)
                    return r;
            }
        }
    }
    if (pps->cu_qp_delta_enabled_flag && !c->isCuQpDeltaCoded)
        setQpY(x0, y0, 0);
    fillMapRows((uint8_t *)&sb->qpY[minCbIndex(x0, y0)], picWMin, nMin, nMin, (uint8_t)c->qpY);
    cu->qp[0] = (int8_t)c->qpY;
    cu->qp[1] = (int8_t)deriveChromaQpFor(c->qpY, pps->pps_cb_qp_offset + sh->slice_cb_qp_offset);
    cu->qp[2] = (int8_t)deriveChromaQpFor(c->qpY, pps->pps_cr_qp_offset + sh->slice_cr_qp_offset);
    if (cu->cu_transquant_bypass_flag || cu->pcm_flag) {
        const int v = (cu->pcm_flag ? 2 : 0) + (cu->cu_transquant_bypass_flag ? 1 : 0);
        const int n8 = nCbS >> 3;
        for (int j = 0; j < n8; j++)
            memset(&sb->filterBypass[((y0 >> 3) + j) * sb->mapW8 + (x0 >> 3)], v, (size_t)n8);
    }
    return 0;
}

/* coding_quadtree(), 7.3.8.4. */
int Parser::parseCodingQuadtree(int x0, int y0, int log2CbSize, int cqtDepth)
{
    const int nCbS = 1 << log2CbSize;
    const int picW = (int)sps->pic_width_in_luma_samples, picH = (int)sps->pic_height_in_luma_samples;
    int split;
    if (x0 + nCbS <= picW && y0 + nCbS <= picH && log2CbSize > (int)sps->MinCbLog2SizeY) {
        int inc = 0;
        if (x0 > 0 && leftAvailable(x0))
            inc += sb->ctDepth[minCbIndex(x0 - 1, y0)] > cqtDepth;
        if (y0 > 0 && aboveAvailable(y0))
            inc += sb->ctDepth[minCbIndex(x0, y0 - 1)] > cqtDepth;
        split = decision(CTX_SPLIT_CU + inc);
    } else {
        split = log2CbSize > (int)sps->MinCbLog2SizeY;
    }
    if (pps->cu_qp_delta_enabled_flag && log2CbSize >= log2MinCuQpDeltaSize) {
        c->isCuQpDeltaCoded = 0;
        c->cuQpDeltaVal = 0;
        if (c->firstQgInSlice) {
            /* Nested quadtree levels latch again before any coding unit:
             * they must find the slice QP too. */
            qgPrevQp = sh->SliceQpY;
            c->qpY = sh->SliceQpY;
            c->firstQgInSlice = 0;
        } else {
            qgPrevQp = c->qpY;
        }
    }
    if (split) {
        const int h = nCbS / 2;
        const int x1 = x0 + h, y1 = y0 + h;
        int r = parseCodingQuadtree(x0, y0, log2CbSize - 1, cqtDepth + 1);
        if (!r && x1 < picW)
            r = parseCodingQuadtree(x1, y0, log2CbSize - 1, cqtDepth + 1);
        if (!r && y1 < picH)
            r = parseCodingQuadtree(x0, y1, log2CbSize - 1, cqtDepth + 1);
        if (!r && x1 < picW && y1 < picH)
            r = parseCodingQuadtree(x1, y1, log2CbSize - 1, cqtDepth + 1);
        return r;
    }
    return parseCodingUnit(x0, y0, log2CbSize, cqtDepth);
}

} // namespace

int32_t decodeMvdCoding(H265D_DEC_OBJ *dec, H265D_CABAC *c, H265D_PU *pu, int list)
{
    uint8_t *st = c->ctxState;
    int g0[2], g1[2] = {0, 0};
    g0[0] = cabacDecodeDecision(c, &st[CTX_MVD_GREATER0]);
    g0[1] = cabacDecodeDecision(c, &st[CTX_MVD_GREATER0]);
    for (int k = 0; k < 2; k++)
        if (g0[k])
            g1[k] = cabacDecodeDecision(c, &st[CTX_MVD_GREATER1]);
    for (int k = 0; k < 2; k++) {
        int64_t v = 0;
        if (g0[k]) {
            int64_t abs = 1;
            if (g1[k]) {
                int prefix = 1; /* EG1 */
                int64_t base = 0;
                while (cabacDecodeBypass(c)) {
                    base += (int64_t)1 << prefix;
                    prefix++;
                    /* a longer prefix cannot give a value within 16 bits */
                    if (prefix > 15) {
                        H265D_LOG(
                            dec, H265D_LOG_ERROR,
                            "H265D_Decode : the value of stMvd is %d,it should be in the range of -32768~32767!\n",
                            (int)(base + 2));
                        return H265D_ERR_SLICE_DATA;
                    }
                }
                abs = base + cabacDecodeBypassBits(c, prefix) + 2;
            }
            v = cabacDecodeBypass(c) ? -abs : abs;
            if (v < -32768 || v > 32767) {
                H265D_LOG(dec, H265D_LOG_ERROR,
                          "H265D_Decode : the value of stMvd is %d,it should be in the range of -32768~32767!\n",
                          (int)v);
                return H265D_ERR_SLICE_DATA;
            }
        }
        pu->mvd[list][k] = (int16_t)v;
    }
    return 0;
}

int32_t decodeCuQpDeltaAbs(H265D_DEC_OBJ *dec, H265D_CABAC *c, int *value)
{
    uint8_t *st = c->ctxState;
    int v = 0;
    while (v < 5 && cabacDecodeDecision(c, &st[v == 0 ? CTX_CU_QP_DELTA : CTX_CU_QP_DELTA + 1]))
        v++;
    if (v == 5) {
        int k = 0;
        int64_t suffix = 0;
        while (cabacDecodeBypass(c)) {
            suffix += (int64_t)1 << k;
            k++;
            /* beyond this the value exceeds 26 whatever the suffix bits say */
            if (k > 5) {
                H265D_LOG(dec, H265D_LOG_ERROR,
                          "H265D_Decode : the value of cu_qp_delta is %d, it should be in the range of 0~26!\n",
                          (int)(suffix + 5));
                return H265D_ERR_SLICE_DATA;
            }
        }
        suffix += cabacDecodeBypassBits(c, k);
        v += (int)suffix;
    }
    if (v > 26) {
        H265D_LOG(dec, H265D_LOG_ERROR,
                  "H265D_Decode : the value of cu_qp_delta is %d, it should be in the range of 0~26!\n", v);
        return H265D_ERR_SLICE_DATA;
    }
    *value = v;
    return 0;
}

int32_t deriveChromaQpFor(int qpY, int offset)
{
    int qpi = qpY + offset;
    qpi = qpi < 0 ? 0 : (qpi > 57 ? 57 : qpi);
    if (qpi < 30)
        return qpi;
    if (qpi > 43)
        return qpi - 6;
    return kChromaQpTable[qpi - 30];
}

/* residual_coding(), 7.3.8.11. */
int32_t parseResidualCoding(H265D_DEC_OBJ *dec, H265D_SLICE_CTX *ctx, H265D_TU *tu, int log2TrafoSize,
                            int cuTransquantBypass, int cIdx, int16_t *coeffs, int scanIdx)
{
    H265D_CABAC *c = &ctx->cabac;
    uint8_t *st = c->ctxState;
    H265D_CABAC_LOCAL e(c);
    const H265D_PPS *pps = dec->pps;
    const int n = 1 << log2TrafoSize;
    memset(coeffs, 0, sizeof(int16_t) * (size_t)n * n);
    int tskip = 0;
    if (pps->transform_skip_enabled_flag && !cuTransquantBypass && log2TrafoSize == 2)
        tskip = cabacDecodeDecisionT(e, &st[CTX_TRANSFORM_SKIP + (cIdx ? 1 : 0)]);
    tu->transform_skip_flag[cIdx] = (uint8_t)tskip;

    /* last significant position */
    int ctxOffset, ctxShift;
    if (cIdx == 0) {
        ctxOffset = 3 * (log2TrafoSize - 2) + ((log2TrafoSize - 1) >> 2);
        ctxShift = (log2TrafoSize + 1) >> 2;
    } else {
        ctxOffset = 15;
        ctxShift = log2TrafoSize - 2;
    }
    const int cMax = (log2TrafoSize << 1) - 1;
    int px = 0, py = 0;
    while (px < cMax && cabacDecodeDecisionT(e, &st[CTX_LAST_X_PREFIX + ctxOffset + (px >> ctxShift)]))
        px++;
    while (py < cMax && cabacDecodeDecisionT(e, &st[CTX_LAST_Y_PREFIX + ctxOffset + (py >> ctxShift)]))
        py++;
    int lastX = px, lastY = py;
    if (px > 3) {
        const int len = (px >> 1) - 1;
        lastX = (1 << len) * (2 + (px & 1)) + (int)cabacDecodeBypassBitsT(e, len);
    }
    if (py > 3) {
        const int len = (py >> 1) - 1;
        lastY = (1 << len) * (2 + (py & 1)) + (int)cabacDecodeBypassBitsT(e, len);
    }
    if (scanIdx == 2) {
        int t = lastX;
        lastX = lastY;
        lastY = t;
    }

    const int log2Sb = log2TrafoSize - 2;
    const int sbW = 1 << log2Sb;
    const ScanPos *sbScan = kScan.order[log2Sb][scanIdx];
    const ScanPos *posScan = kScan.order[2][scanIdx];
    const int lastSubBlock = kScan.posOf[log2Sb][scanIdx][((lastY >> 2) << log2Sb) + (lastX >> 2)];
    const int lastScanPos = kScan.posOf[2][scanIdx][((lastY & 3) << 2) + (lastX & 3)];

    uint8_t codedSb[8][8];
    memset(codedSb, 0, sizeof codedSb);
    int greater1Ctx = 1;
    const int signHidingAllowed = pps->sign_data_hiding_enabled_flag && !cuTransquantBypass;
    int maxRaster = -1, maxCol = -1;
    for (int i = lastSubBlock; i >= 0; i--) {
        const int xS = sbScan[i].x, yS = sbScan[i].y;
        int infer = 0;
        int csbf;
        if (i < lastSubBlock && i > 0) {
            int ctxCsbf = 0;
            if (xS < sbW - 1)
                ctxCsbf += codedSb[xS + 1][yS];
            if (yS < sbW - 1)
                ctxCsbf += codedSb[xS][yS + 1];
            csbf = cabacDecodeDecisionT(e, &st[CTX_CODED_SUB_BLOCK + (cIdx ? 2 : 0) + (ctxCsbf ? 1 : 0)]);
            infer = 1;
        } else {
            csbf = 1;
        }
        codedSb[xS][yS] = (uint8_t)csbf;
        int sigPos[16];
        int nSig = 0;
        const int startN = i == lastSubBlock ? lastScanPos - 1 : 15;
        if (i == lastSubBlock)
            sigPos[nSig++] = lastScanPos;
        if (csbf) {
            int prevCsbf = 0;
            if (xS < sbW - 1)
                prevCsbf += codedSb[xS + 1][yS];
            if (yS < sbW - 1)
                prevCsbf += codedSb[xS][yS + 1] << 1;
            /* The contexts of this sub-block's positions: one table and one
             * offset for all of them, except the transform block's DC. */
            uint8_t *sigSt = st + CTX_SIG_COEFF + (cIdx ? 27 : 0);
            const uint8_t *sigCtx;
            if (log2TrafoSize == 2) {
                sigCtx = kScan.sig4x4[scanIdx];
            } else {
                sigCtx = kScan.sigBase[scanIdx][prevCsbf];
                if (cIdx == 0)
                    sigSt += ((xS > 0 || yS > 0) ? 3 : 0) + (log2TrafoSize == 3 ? (scanIdx == 0 ? 9 : 15) : 21);
                else
                    sigSt += log2TrafoSize == 3 ? 9 : 12;
            }
            /* The DC of the whole block (i == 0, position 0) has context 0
             * of its own; the loop leaves position 0 to the code below. */
            /* The flags are close to random: each position is written and
             * kept by its flag's value, so no branch waits on the engine. */
            const int nSigBefore = nSig;
            for (int nn = startN; nn > 0; nn--) {
                sigPos[nSig] = nn;
                nSig += cabacDecodeDecisionT(e, &sigSt[sigCtx[nn]]);
            }
            if (nSig != nSigBefore)
                infer = 0;
            if (startN >= 0) {
                int sig = 1; /* inferred DC of a coded sub-block */
                if (!infer) {
                    uint8_t *dcSt =
                        (log2TrafoSize > 2 && i == 0) ? st + CTX_SIG_COEFF + (cIdx ? 27 : 0) : &sigSt[sigCtx[0]];
                    sig = cabacDecodeDecisionT(e, dcSt);
                }
                if (sig)
                    sigPos[nSig++] = 0;
            }
        }
        if (nSig == 0)
            continue;
        /* levels */
        int ctxSet = (i == 0 || cIdx > 0) ? 0 : 2;
        if (i != lastSubBlock && greater1Ctx == 0)
            ctxSet++;
        greater1Ctx = 1;
        int g1[16] = {0}, g2 = 0;
        int firstG1 = -1;
        const int numG1 = nSig < 8 ? nSig : 8;
        /* Branch-free as well: a flag of 1 sets the context to 0, a 0 moves
         * contexts 1 and 2 on by one; the first flag of 1 is found after. */
        uint8_t *g1St = st + CTX_GREATER1 + ctxSet * 4 + (cIdx ? 16 : 0);
        unsigned g1Mask = 0;
        for (int k = 0; k < numG1; k++) {
            const int g = cabacDecodeDecisionT(e, &g1St[greater1Ctx]);
            g1[k] = g;
            g1Mask |= (unsigned)g << k;
            const int moved = greater1Ctx + ((unsigned)(greater1Ctx - 1) < 2u);
            greater1Ctx = moved & (g - 1);
        }
        if (g1Mask)
            firstG1 = __builtin_ctz(g1Mask);
        if (firstG1 >= 0)
            g2 = cabacDecodeDecisionT(e, &st[CTX_GREATER2 + ctxSet + (cIdx ? 4 : 0)]);
        const int signHidden = signHidingAllowed && (sigPos[0] - sigPos[nSig - 1] > 3);
        const int nSigns = signHidden ? nSig - 1 : nSig;
        const uint32_t signs0 = cabacDecodeBypassBitsT(e, nSigns);
        uint32_t signs = nSigns ? signs0 << (32 - nSigns) : 0;
        int rice = 0;
        int sumAbs = 0;
        for (int k = 0; k < nSig; k++) {
            int base = 1 + g1[k] + (k == firstG1 ? g2 : 0);
            int64_t level = base;
            const int threshold = k < 8 ? (k == firstG1 ? 3 : 2) : 1;
            if (base == threshold) {
                int prefix = 0;
                while (prefix < 32 && cabacDecodeBypassT(e))
                    prefix++;
                int64_t rem;
                if (prefix < 3) {
                    rem = ((int64_t)prefix << rice) + cabacDecodeBypassBitsT(e, rice);
                } else {
                    const int len = prefix - 3 + rice;
                    if (prefix - 3 > 16 || len > 31) {
                        H265D_LOG(dec, H265D_LOG_ERROR,
                                  "H265D_Decode : the value of trans_coeff_level is %d, it should be in the range of "
                                  "-32768~32767!\n",
                                  32768);
                        return H265D_ERR_SLICE_DATA;
                    }
                    rem = ((((int64_t)1 << (prefix - 3)) + 2) << rice) + cabacDecodeBypassBitsT(e, len);
                }
                level = base + rem;
                if (level > 3 * (1 << rice))
                    rice = rice + 1 < 4 ? rice + 1 : 4;
            }
            const int pos = sigPos[k];
            const int xC = (xS << 2) + posScan[pos].x, yC = (yS << 2) + posScan[pos].y;
            int64_t v = level;
            sumAbs += (int)(level & 0x7FFFFFFF);
            if (k < nSigns) {
                if (signs & 0x80000000u)
                    v = -v;
                signs <<= 1;
            } else if (signHidden && (sumAbs & 1)) {
                v = -v;
            }
            if (v < -32768 || v > 32767) {
                coeffs[yC * n + xC] = (int16_t)(v < 0 ? -32768 : 32767);
                H265D_LOG(dec, H265D_LOG_ERROR,
                          "H265D_Decode : the value of trans_coeff_level is %d, it should be in the range of "
                          "-32768~32767!\n",
                          (int)v);
                return H265D_ERR_SLICE_DATA;
            }
            coeffs[yC * n + xC] = (int16_t)v;
            const int raster = yC * n + xC;
            if (raster > maxRaster)
                maxRaster = raster;
            if (xC > maxCol)
                maxCol = xC;
        }
    }
    tu->coeffCount[cIdx] = maxRaster + 1;
    tu->columnBound[cIdx] = (maxCol + 4) & ~3;
    return 0;
}

/* coding_tree_unit(), 7.3.8.2. */
int32_t parseCodingTreeUnit(H265D_DEC_OBJ *dec, H265D_SLICE_CTX *ctx)
{
    StageClock clock(dec, StageParse);
    Parser p;
    p.dec = dec;
    p.ctx = ctx;
    p.c = &ctx->cabac;
    p.ctu = &ctx->ctu;
    p.sps = dec->sps;
    p.pps = dec->pps;
    p.sh = ctxSliceHeader(dec, ctx);
    p.sb = &dec->side;
    p.log2MinCuQpDeltaSize = (int)(dec->sps->CtbLog2SizeY - dec->pps->diff_cu_qp_delta_depth);
    p.qgPrevQp = ctx->qgPrevQp;
    p.lumaOffset = 0;
    p.chromaOffset = 0;
    H265D_CTU_RECORD *ctu = &ctx->ctu;
    ctu->numCu = ctu->numTu = ctu->numPu = 0;
    int r = p.parseSao();
    if (r)
        return r;
    int8_t *db = &dec->side.deblockOffsets[2 * ctu->ctbAddrRs];
    db[0] = (int8_t)p.sh->slice_beta_offset;
    db[1] = (int8_t)p.sh->slice_tc_offset;
    dec->side.ctbFlags[ctu->ctbAddrRs] =
        (uint8_t)((p.sh->slice_deblocking_filter_disabled_flag ? H265D_CTB_DEBLOCK_OFF : 0) |
                  (p.sh->slice_loop_filter_across_slices_enabled_flag ? H265D_CTB_ACROSS_SLICES : 0));
    r = p.parseCodingQuadtree(ctu->x, ctu->y, ctu->ctbLog2, 0);
    ctx->qgPrevQp = p.qgPrevQp;
    if (r)
        return r;
    ctu->end_of_slice_segment_flag = cabacDecodeTerminate(&ctx->cabac);
    if (ctu->end_of_slice_segment_flag)
        return 0;
    const int ts = ctu->ctbAddrTs;
    const H265D_PPS *pps = dec->pps;
    const int W = dec->geo.PicWidthInCtbsY;
    int subsetEnd = 0;
    if (ts + 1 < dec->geo.PicSizeInCtbsY) {
        if (pps->tiles_enabled_flag)
            subsetEnd = pps->tileId[ts + 1] != pps->tileId[ts];
        else if (pps->entropy_coding_sync_enabled_flag)
            subsetEnd = (ts + 1) % W == 0;
    }
    if (subsetEnd)
        cabacDecodeTerminate(&ctx->cabac);
    return 0;
}

} // namespace h265d
