// The per-CTU filter driver and the SAO work picture.
#include "decoder.h"
#include "loopfilter.h"
#include "slicedata.h"
#include "stageclock.h"

namespace {

// Largest luma stride of a picture within the create limits, and the rows
// of margin kept above and below each work plane.
size_t maxLumaStride(uint32_t w64)
{
    return (size_t)w64 + 64 + 256;
}

size_t lumaWorkBytes(uint32_t w64, uint32_t h64)
{
    return maxLumaStride(w64) * (h64 + 2) + 128;
}

size_t chromaWorkBytes(uint32_t w64, uint32_t h64)
{
    return maxLumaStride(w64) / 2 * (h64 / 2 + 2) + 128;
}

} // namespace

extern "C" size_t saoWorkSize(uint32_t w64, uint32_t h64)
{
    return lumaWorkBytes(w64, h64) + 2 * chromaWorkBytes(w64, h64);
}

extern "C" uint8_t *saoWorkPlane(H265D_DEC_OBJ *dec, int c)
{
    // One row and 64 columns of margin in front of each plane: vector
    // kernels may load a little around the samples they use.
    const H265D_PICTURE *pic = &dec->dpb.pic[dec->dpb.curPic];
    uint8_t *base = dec->side.saoWork;
    if (c == 0)
        return base + pic->yStride + 64;
    base += lumaWorkBytes(dec->w64, dec->h64);
    if (c == 2)
        base += chromaWorkBytes(dec->w64, dec->h64);
    return base + pic->uvStride + 64;
}

namespace {

// Offsets the CTBs whose neighbourhood the CTU at (x, y) has deblocked for good.
void saoBehind(H265D_DEC_OBJ *dec, int x, int y, int s)
{
    const bool rowEnd = x + s >= dec->geo.PicWidthInSamplesY, lastRow = y + s >= dec->geo.PicHeightInSamplesY;
    if (x > 0 && y > 0)
        applySaoCtu(dec, x - s, y - s);
    if (rowEnd && y > 0)
        applySaoCtu(dec, x, y - s);
    if (x > 0 && lastRow)
        applySaoCtu(dec, x - s, y);
    if (rowEnd && lastRow)
        applySaoCtu(dec, x, y);
}

} // namespace

extern "C" void filterCtu(H265D_DEC_OBJ *dec, H265D_SLICE_CTX *ctx)
{
    const H265D_CTU_RECORD *ctu = &ctx->ctu;
    const size_t units = (size_t)dec->side.mapW4 * (dec->h64 / 4);
    uint8_t *bsVer = dec->side.bs, *bsHor = dec->side.bs + units;
    {
        StageClock clock(dec, H265D_STAGE_DEBLOCK);
        computeBoundaryStrength(dec, ctu, bsVer, bsHor);
        deblockCtu(dec, ctu->x, ctu->y, bsVer, bsHor);
    }
    {
        StageClock clock(dec, H265D_STAGE_SAO);
        saoBehind(dec, ctu->x, ctu->y, ctu->ctbSize);
    }
    // With workers, a CTB row's side margins are filled inside the jobs once
    // its samples are final: at the end of each row the row two above, which
    // no filter of this row or the next reaches any more, and at the
    // picture's last CTU the row above. The last row is left to the
    // picture's finish.
    if (dec->eThreadType == 1 && ctu->x + ctu->ctbSize >= dec->geo.PicWidthInSamplesY) {
        if (ctu->ctbY >= 2)
            extendRowBorders(dec, 1, ctu->ctbY - 2);
        if (ctu->ctbY >= 1 && ctu->y + ctu->ctbSize >= dec->geo.PicHeightInSamplesY)
            extendRowBorders(dec, 1, ctu->ctbY - 1);
    }
}

extern "C" void filterPicture(H265D_DEC_OBJ *dec)
{
    const size_t units = (size_t)dec->side.mapW4 * (dec->h64 / 4);
    uint8_t *bsVer = dec->side.bs, *bsHor = dec->side.bs + units;
    const int s = 1 << dec->sps->CtbLog2SizeY;
    for (int i = 0; i < dec->geo.PicSizeInCtbsY; ++i)
        dec->side.ctbFlags[i] &= (uint8_t)~H265D_CTB_SAO_DONE;
    for (int cy = 0; cy < dec->geo.PicHeightInCtbsY; ++cy)
        for (int cx = 0; cx < dec->geo.PicWidthInCtbsY; ++cx) {
            computeCtbStrengths(dec, cx, cy, bsVer, bsHor);
            deblockCtu(dec, cx * s, cy * s, bsVer, bsHor);
            saoBehind(dec, cx * s, cy * s, s);
        }
}
