/* Reconstruction of intra coding units: PCM copy, or per transform unit
 * the sample prediction followed by the residual. */
#include <string.h>

#include "decoder.h"
#include "slicedata.h"
#include "stageclock.h"
#include "intra.h"

namespace h265d {

enum { AV_BELOW_LEFT, AV_LEFT, AV_ABOVE_LEFT, AV_ABOVE, AV_ABOVE_RIGHT };

void intraNeighbourAvailability(H265D_DEC_OBJ *dec, const H265D_CTU_RECORD *ctu, int x, int y, int nT, int flags[5])
{
    const H265D_SIDE_BUFFERS *sb = &dec->side;
    const int S = ctu->ctbSize;
    const int xi = x - ctu->x, yi = y - ctu->y;
    const int log2Tb = (int)dec->sps->Log2MinTrafoSize;
    const int wTb = sb->mapWMinTb;
    const int left = ctu->availLeft || xi > 0;
    const int above = ctu->availAbove || yi > 0;
    flags[AV_LEFT] = left;
    flags[AV_ABOVE] = above;
    flags[AV_ABOVE_LEFT] = (xi == 0 && yi == 0) ? ctu->availAboveLeft : (left && above);
    const int zCur = sb->minTbAddrZs[(y >> log2Tb) * wTb + (x >> log2Tb)];
    int bl = left && (y + nT) < ctu->bottomLimit;
    if (bl)
        bl = sb->minTbAddrZs[((y + nT) >> log2Tb) * wTb + ((x - 1) >> log2Tb)] < zCur;
    flags[AV_BELOW_LEFT] = bl;
    int ar;
    if (xi + nT >= S)
        ar = yi == 0 && ctu->availAboveRight;
    else
        ar = above;
    if (ar)
        ar = (x + nT) < ctu->rightLimit;
    if (ar)
        ar = sb->minTbAddrZs[((y - 1) >> log2Tb) * wTb + ((x + nT) >> log2Tb)] < zCur;
    flags[AV_ABOVE_RIGHT] = ar;
    if (!dec->pps->constrained_intra_pred_flag)
        return;
    /* Constrained intra prediction: a segment counts when any of its 4x4
     * units is intra; the gathering then checks every unit. */
    const int w4 = sb->mapW4;
    auto anyIntra = [&](int x0, int y0, int w, int h) {
        for (int yy = y0; yy < y0 + h; yy += 4)
            for (int xx = x0; xx < x0 + w; xx += 4)
                if (xx >= 0 && yy >= 0 && xx < dec->geo.PicWidthInSamplesY && yy < dec->geo.PicHeightInSamplesY &&
                    sb->intraMode[(yy >> 2) * w4 + (xx >> 2)] != 255)
                    return 1;
        return 0;
    };
    if (flags[AV_BELOW_LEFT])
        flags[AV_BELOW_LEFT] = anyIntra(x - 4, y + nT, 4, nT);
    if (flags[AV_LEFT])
        flags[AV_LEFT] = anyIntra(x - 4, y, 4, nT);
    if (flags[AV_ABOVE_LEFT])
        flags[AV_ABOVE_LEFT] = anyIntra(x - 4, y - 4, 4, 4);
    if (flags[AV_ABOVE])
        flags[AV_ABOVE] = anyIntra(x, y - 4, nT, 4);
    if (flags[AV_ABOVE_RIGHT])
        flags[AV_ABOVE_RIGHT] = anyIntra(x + nT, y - 4, nT, 4);
}

void predictIntraBlock(H265D_DEC_OBJ *dec, const H265D_CTU_RECORD *ctu, const int flags[5], int log2Size, int cIdx,
                       int mode, int x, int y, uint8_t *dst, int stride)
{
    StageClock clock(dec, StageIntra);
    const int N = 1 << log2Size;
    const int sh = cIdx ? 1 : 0;
    const int picW = dec->geo.PicWidthInSamplesY >> sh, picH = dec->geo.PicHeightInSamplesY >> sh;
    const H265D_SIDE_BUFFERS *sb = &dec->side;
    const int cip = dec->pps->constrained_intra_pred_flag;
    /* The kernels project one array in front of the corner and read a
     * little past the last sample: guards on both sides. */
    alignas(16) uint8_t topBuf[H265D_INTRA_REF_FRONT_GUARD + 1 + 64 + H265D_INTRA_REF_BACK_GUARD];
    alignas(16) uint8_t leftBuf[H265D_INTRA_REF_FRONT_GUARD + 1 + 64 + H265D_INTRA_REF_BACK_GUARD];
    uint8_t *top = topBuf + H265D_INTRA_REF_FRONT_GUARD + 1;
    uint8_t *left = leftBuf + H265D_INTRA_REF_FRONT_GUARD + 1;

    /* Samples in substitution order: left[2N-1] .. left[0], corner, top[0] .. top[2N-1]. */
    uint8_t ref[4 * 64 + 1];
    uint8_t avail[4 * 64 + 1];
    const int total = 4 * N + 1;
    const int ctbSize = ctu->ctbSize >> sh;
    const int onCtbRow = y > 0 && ((y << sh) & (ctu->ctbSize - 1)) == 0;
    const H265D_PICTURE *pic = &dec->dpb.pic[dec->dpb.curPic];
    const uint8_t *plane = pic->origin[cIdx];
    const ptrdiff_t planeStride = cIdx ? pic->uvStride : pic->yStride;
    const uint8_t *aboveRow;
    if (onCtbRow) {
        const int prevRow = (((y << sh) >> ctu->ctbLog2) - 1) & 1;
        aboveRow = sb->lineStore[cIdx] + prevRow * sb->lineStride[cIdx] + 64;
    } else {
        aboveRow = plane + (ptrdiff_t)(y - 1) * planeStride;
    }
    (void)ctbSize;
    const int w4 = sb->mapW4;
    auto unitIntra = [&](int xs, int ys) {
        if (!cip)
            return 1;
        return sb->intraMode[((ys << sh) >> 2) * w4 + ((xs << sh) >> 2)] != 255 ? 1 : 0;
    };
    int any = 0;
    for (int i = 0; i < 2 * N; i++) {
        const int ys = y + i;
        const int seg = i < N ? flags[AV_LEFT] : flags[AV_BELOW_LEFT];
        const int a = seg && ys < picH && unitIntra(x - 1, ys);
        const int k = 2 * N - 1 - i;
        avail[k] = (uint8_t)a;
        if (a) {
            ref[k] = plane[(ptrdiff_t)ys * planeStride + x - 1];
            any = 1;
        }
    }
    {
        const int a = flags[AV_ABOVE_LEFT] && unitIntra(x - 1, y - 1);
        avail[2 * N] = (uint8_t)a;
        if (a) {
            ref[2 * N] = aboveRow[x - 1];
            any = 1;
        }
    }
    for (int i = 0; i < 2 * N; i++) {
        const int xs = x + i;
        const int seg = i < N ? flags[AV_ABOVE] : flags[AV_ABOVE_RIGHT];
        const int a = seg && xs < picW && unitIntra(xs, y - 1);
        avail[2 * N + 1 + i] = (uint8_t)a;
        if (a) {
            ref[2 * N + 1 + i] = aboveRow[xs];
            any = 1;
        }
    }
    if (!any) {
        memset(ref, 128, (size_t)total);
    } else {
        if (!avail[0]) {
            int k = 1;
            while (!avail[k])
                k++;
            ref[0] = ref[k];
        }
        for (int k = 1; k < total; k++)
            if (!avail[k])
                ref[k] = ref[k - 1];
    }
    for (int i = 0; i < 2 * N; i++) {
        left[i] = ref[2 * N - 1 - i];
        top[i] = ref[2 * N + 1 + i];
    }
    left[-1] = top[-1] = ref[2 * N];
    const H265D_DSP_TABLE *dsp = &dec->dsp;
    if (cIdx == 0 && log2Size >= 3)
        dsp->slot[H265D_SLOT_INTRA_SMOOTH + log2Size].intraSmooth((int)dec->sps->strong_intra_smoothing_enabled_flag,
                                                                  mode, left, top);
    switch (mode) {
    case 0:
        dsp->slot[H265D_SLOT_INTRA_PLANAR + log2Size].intraPlanar(top, left, stride, dst);
        break;
    case 1:
        dsp->slot[H265D_SLOT_INTRA_DC + log2Size].intra(cIdx, top, left, stride, dst);
        break;
    case 2:
        dsp->slot[H265D_SLOT_INTRA_DIAG_DOWN + log2Size].intra(cIdx, top, left, stride, dst);
        break;
    case 10:
        dsp->slot[H265D_SLOT_INTRA_HORIZONTAL + log2Size].intra(cIdx, top, left, stride, dst);
        break;
    case 18:
        dsp->slot[H265D_SLOT_INTRA_DIAG_MID + log2Size].intra(cIdx, top, left, stride, dst);
        break;
    case 26:
        dsp->slot[H265D_SLOT_INTRA_VERTICAL + log2Size].intra(cIdx, top, left, stride, dst);
        break;
    case 34:
        dsp->slot[H265D_SLOT_INTRA_DIAG_UP + log2Size].intra(cIdx, top, left, stride, dst);
        break;
    default:
        dsp->slot[H265D_SLOT_INTRA_ANGULAR + log2Size].intraAngular(cIdx, mode, top, left, stride, dst);
        break;
    }
}

/* The residual of one transform block added to the prediction at dst; a
 * luma block marks its area in the coded-luma map. */
void addTuResidual(H265D_DEC_OBJ *dec, const H265D_CU *cu, const H265D_TU *tu, int cIdx, int log2, int16_t *coeffs,
                   uint8_t *dst, int stride)
{
    StageClock clock(dec, StageResidual);
    H265D_RESIDUAL_CTX rctx;
    rctx.pDsp = &dec->dsp;
    rctx.pFactors = (const H265D_DEQUANT_FACTORS *)dec->pps->dequant;
    rctx.iTransquantBypassEnabled = (int32_t)dec->pps->transquant_bypass_enabled_flag;
    rctx.iTransformSkipEnabled = (int32_t)dec->pps->transform_skip_enabled_flag;
    rctx.iScalingListEnabled = (int32_t)dec->sps->scaling_list_enabled_flag;
    const int intra = cu->CuPredMode == 1;
    H265D_TU_DESC d;
    d.iTransquantBypass = cu->cu_transquant_bypass_flag;
    d.ucTransformSkip = tu->transform_skip_flag[cIdx];
    d.iPredMode = intra ? 1 : 0;
    d.iCompIdx = cIdx == 0 ? 0 : cIdx + 1;
    d.iQp = cu->qp[cIdx];
    d.iLog2Size = log2;
    d.iMatrixId = cIdx + (intra ? 0 : 3);
    d.iCoeffCount = tu->coeffCount[cIdx];
    d.iColumnCount = tu->columnBound[cIdx];
    if (cIdx == 0) {
        const int w4 = dec->side.mapW4, n4 = (1 << log2) >> 2;
        fillMapRows(&dec->side.codedLuma[(tu->y >> 2) * w4 + (tu->x >> 2)], w4, n4, n4, 1);
    }
    reconstructResidual(&rctx, &d, stride, coeffs, dst);
}

namespace {

struct IntraRecon
{
    H265D_DEC_OBJ *dec;
    H265D_CTU_RECORD *ctu;
    const H265D_CU *cu;
    uint8_t *plane[3];
    int stride[3];

    void residual(const H265D_TU *tu, int cIdx, int log2, int16_t *coeffs, uint8_t *dst)
    {
        addTuResidual(dec, cu, tu, cIdx, log2, coeffs, dst, stride[cIdx]);
    }

    void chroma(const H265D_TU *tu, const int flags[5], int xL, int yL, int log2, int chromaOffset)
    {
        const int xc = xL >> 1, yc = yL >> 1;
        for (int c = 1; c <= 2; c++) {
            uint8_t *dst = plane[c] + (ptrdiff_t)yc * stride[c] + xc;
            predictIntraBlock(dec, ctu, flags, log2, c, cu->IntraPredModeC, xc, yc, dst, stride[c]);
            const int cbf = c == 1 ? tu->cbf_cb : tu->cbf_cr;
            if (cbf)
                residual(tu, c, log2, (c == 1 ? ctu->coeffCb : ctu->coeffCr) + chromaOffset, dst);
        }
    }

    void luma(const H265D_TU *tu, int mode, int lumaOffset, int flags[5])
    {
        const int log2 = tu->log2TrafoSize, n = 1 << log2;
        intraNeighbourAvailability(dec, ctu, tu->x, tu->y, n, flags);
        uint8_t *dst = plane[0] + (ptrdiff_t)tu->y * stride[0] + tu->x;
        predictIntraBlock(dec, ctu, flags, log2, 0, mode, tu->x, tu->y, dst, stride[0]);
        if (tu->cbf_luma) {
            residual(tu, 0, log2, ctu->coeffY + lumaOffset, dst);
        }
    }
};

} // namespace

void reconstructIntraCu(H265D_DEC_OBJ *dec, H265D_CTU_RECORD *ctu, int cuIndex, int firstTu, int lumaOffset,
                        int chromaOffset)
{
    const H265D_CU *cu = &ctu->cu[cuIndex];
    const H265D_PICTURE *pic = &dec->dpb.pic[dec->dpb.curPic];
    IntraRecon r;
    r.dec = dec;
    r.ctu = ctu;
    r.cu = cu;
    for (int c = 0; c < 3; c++) {
        r.plane[c] = pic->origin[c];
        r.stride[c] = c ? (int)pic->uvStride : (int)pic->yStride;
    }
    if (cu->pcm_flag) {
        const int log2 = cu->log2CbSize;
        const H265D_DSP_TABLE *dsp = &dec->dsp;
        dsp->slot[H265D_SLOT_PCM_COPY + log2].pcmCopy(r.stride[0], ctu->coeffY + lumaOffset,
                                                      r.plane[0] + (ptrdiff_t)cu->y * r.stride[0] + cu->x);
        const int xc = cu->x >> 1, yc = cu->y >> 1;
        dsp->slot[H265D_SLOT_PCM_COPY + log2 - 1].pcmCopy(r.stride[1], ctu->coeffCb + chromaOffset,
                                                          r.plane[1] + (ptrdiff_t)yc * r.stride[1] + xc);
        dsp->slot[H265D_SLOT_PCM_COPY + log2 - 1].pcmCopy(r.stride[2], ctu->coeffCr + chromaOffset,
                                                          r.plane[2] + (ptrdiff_t)yc * r.stride[2] + xc);
        return;
    }
    const int half = 1 << (cu->log2CbSize - 1);
    for (int t = 0; t < cu->numTu; t++) {
        const H265D_TU *tu = &ctu->tu[firstTu + t];
        const int n = 1 << tu->log2TrafoSize;
        int part = 0;
        if (cu->PartMode == 3)
            part = (tu->x >= cu->x + half ? 1 : 0) + (tu->y >= cu->y + half ? 2 : 0);
        int flags[5];
        markBlockEdges(dec, tu->x, tu->y, n, n, 1, 2);
        r.luma(tu, cu->IntraPredModeY[part], lumaOffset, flags);
        lumaOffset += n * n;
        if (tu->log2TrafoSize > 2) {
            r.chroma(tu, flags, tu->x, tu->y, tu->log2TrafoSize - 1, chromaOffset);
            chromaOffset += (n / 2) * (n / 2);
        } else if (((tu->x >> 2) & 1) && ((tu->y >> 2) & 1)) {
            /* after the fourth 4x4 luma block: the 4x4 chroma of the 8x8 area */
            const int x8 = tu->x - 4, y8 = tu->y - 4;
            intraNeighbourAvailability(dec, ctu, x8, y8, 8, flags);
            r.chroma(tu, flags, x8, y8, 2, chromaOffset);
            chromaOffset += 16;
        }
    }
}

} // namespace h265d
