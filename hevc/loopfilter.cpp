// The per-CTU filter driver and the SAO work picture.
#include "decoder.h"
#include "loopfilter.h"
#include "slicedata.h"
#include "stageclock.h"
#include "deblock.h"
#include "sao.h"

#include <string.h>

namespace h265d {

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

size_t saoWorkSize(uint32_t w64, uint32_t h64)
{
    return lumaWorkBytes(w64, h64) + 2 * chromaWorkBytes(w64, h64);
}

namespace {

// Plane c of a work picture of h64 rows at base, with the current picture's strides.
uint8_t *workPlaneIn(H265D_DEC_OBJ *dec, uint8_t *base, uint32_t h64, int c)
{
    // One row and 64 columns of margin in front of each plane: vector
    // kernels may load a little around the samples they use.
    const H265D_PICTURE *pic = &dec->dpb.pic[dec->dpb.curPic];
    if (c == 0)
        return base + pic->yStride + 64;
    base += lumaWorkBytes(dec->w64, h64);
    if (c == 2)
        base += chromaWorkBytes(dec->w64, h64);
    return base + pic->uvStride + 64;
}

// Saved lines: per CTB row a luma line and two chroma lines of the picture
// width, then per CTB row and column parity a CTB's right column (64 luma,
// 32 per chroma plane). A CTB saves its own before it reads its left
// neighbour's.
constexpr size_t kColumnBytes = 128;

size_t savedRows(uint32_t h64)
{
    return h64 / 16;
}

} // namespace

uint8_t *saoWorkPlane(H265D_DEC_OBJ *dec, int c)
{
    return workPlaneIn(dec, dec->side.saoWork, dec->h64, c);
}

size_t saoBlockSize(uint32_t w64)
{
    // A work picture one largest CTB high: its margin rows hold the ring.
    return saoWorkSize(w64, 64);
}

uint8_t *saoBlockPlane(H265D_DEC_OBJ *dec, const H265D_SAO_JOB *job, int c)
{
    return workPlaneIn(dec, job->block, 64, c);
}

size_t saoBordersSize(uint32_t w64, uint32_t h64)
{
    return savedRows(h64) * ((size_t)w64 * 2 + 2 * kColumnBytes);
}

uint8_t *saoSavedLine(H265D_DEC_OBJ *dec, const H265D_SAO_JOB *job, int c, int ctbRow)
{
    const size_t w = dec->w64;
    return job->borders + (size_t)ctbRow * w * 2 + (c ? w + (size_t)(c - 1) * (w / 2) : 0);
}

uint8_t *saoSavedColumn(H265D_DEC_OBJ *dec, const H265D_SAO_JOB *job, int c, int ctbCol, int ctbRow)
{
    return job->borders + savedRows(dec->h64) * (size_t)dec->w64 * 2 +
           ((size_t)ctbRow * 2 + (ctbCol & 1)) * kColumnBytes + (c ? 64 + (c - 1) * 32 : 0);
}

void saveFilterBorders(H265D_DEC_OBJ *dec, const H265D_SAO_JOB *job, int x, int y)
{
    const H265D_PICTURE *pic = &dec->dpb.pic[dec->dpb.curPic];
    const int log2 = dec->sps->CtbLog2SizeY;
    for (int c = 0; c < 3; ++c) {
        const int shift = c ? 1 : 0;
        const int stride = c ? (int)pic->uvStride : (int)pic->yStride;
        const int size = (1 << log2) >> shift, bx = x >> shift, by = y >> shift;
        const int pw = dec->geo.PicWidthInSamplesY >> shift, ph = dec->geo.PicHeightInSamplesY >> shift;
        const int bw = bx + size < pw ? size : pw - bx, bh = by + size < ph ? size : ph - by;
        const uint8_t *src = pic->origin[c] + (ptrdiff_t)by * stride + bx;
        memcpy(saoSavedLine(dec, job, c, y >> log2) + bx, src + (ptrdiff_t)(bh - 1) * stride, (size_t)bw);
        uint8_t *column = saoSavedColumn(dec, job, c, x >> log2, y >> log2);
        for (int j = 0; j < bh; ++j)
            column[j] = src[(ptrdiff_t)j * stride + bw - 1];
    }
}

namespace {

// Offsets the CTBs whose neighbourhood the CTU at (x, y) has deblocked for good.
void saoBehind(H265D_DEC_OBJ *dec, int x, int y, int s, const H265D_SAO_JOB *job)
{
    const auto applySaoCtu = [dec, job](H265D_DEC_OBJ *, int ax, int ay) {
        if (job)
            applySaoCtuInJob(dec, ax, ay, job);
        else
            h265d::applySaoCtu(dec, ax, ay);
    };
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

void filterCtu(H265D_DEC_OBJ *dec, H265D_SLICE_CTX *ctx, const H265D_SAO_JOB *job)
{
    const H265D_CTU_RECORD *ctu = &ctx->ctu;
    const size_t units = (size_t)dec->side.mapW4 * (dec->h64 / 4);
    uint8_t *bsVer = dec->side.bs, *bsHor = dec->side.bs + units;
    {
        StageClock clock(dec, StageDeblock);
        computeBoundaryStrength(dec, ctu, bsVer, bsHor);
        deblockCtu(dec, ctu->x, ctu->y, bsVer, bsHor);
    }
    {
        StageClock clock(dec, StageSao);
        saoBehind(dec, ctu->x, ctu->y, ctu->ctbSize, job);
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

void filterPicture(H265D_DEC_OBJ *dec)
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
            saoBehind(dec, cx * s, cy * s, s, nullptr);
        }
}

} // namespace h265d
