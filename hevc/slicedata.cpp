/* Side buffers, the CTU loop of a slice segment, CABAC starts at slice,
 * tile and row boundaries, and the reconstruction of parsed CTUs. */
#include <string.h>

#include "decoder.h"
#include "slicedata.h"
#include "loopfilter.h"
#include "stageclock.h"
#include "inter.h"
#include "intra.h"
#include "picture.h"
#include "syntax.h"
#include "workers.h"

namespace h265d {

#define H265D_MV_RECORD_BYTES  16
#define H265D_COL_RECORD_BYTES 16

void allocSideBuffers(H265D_DEC_OBJ *dec)
{
    H265D_POOL *pool = &dec->pool;
    H265D_SIDE_BUFFERS *sb = &dec->side;
    const size_t w = dec->w64, h = dec->h64;
    /* The smallest coding block and transform block are 8 and 4 samples. */
    sb->mapWMinCb = (int32_t)(w / 8);
    sb->mapWMinTb = (int32_t)(w / 4);
    sb->mapW4 = (int32_t)(w / 4);
    sb->mapW8 = (int32_t)(w / 8);
    const size_t n8 = (w / 8) * (h / 8), n4 = (w / 4) * (h / 4), n16 = (w / 16) * (h / 16);
    const size_t ctbs = (w / 16) * (h / 16);
    sb->ctDepth = (uint8_t *)poolAlloc(pool, n8, H265D_POOL_ALIGN);
    sb->skipFlag = (uint8_t *)poolAlloc(pool, n8, H265D_POOL_ALIGN);
    sb->qpY = (int8_t *)poolAlloc(pool, n8, H265D_POOL_ALIGN);
    sb->intraMode = (uint8_t *)poolAlloc(pool, n4, H265D_POOL_ALIGN);
    sb->codedLuma = (uint8_t *)poolAlloc(pool, n4, H265D_POOL_ALIGN);
    sb->filterBypass = (uint8_t *)poolAlloc(pool, n8, H265D_POOL_ALIGN);
    sb->edgeFlags = (uint8_t *)poolAlloc(pool, n4, H265D_POOL_ALIGN);
    sb->ctbFlags = (uint8_t *)poolAlloc(pool, ctbs, H265D_POOL_ALIGN);
    sb->minTbAddrZs = (int32_t *)poolAlloc(pool, n4 * sizeof(int32_t), H265D_POOL_ALIGN);
    sb->minTbZsTsOrder = (int32_t *)poolAlloc(pool, ctbs * sizeof(int32_t), H265D_POOL_ALIGN);
    sb->minTbZsSpsGeneration = 0;
    sb->sliceAddr = (int32_t *)poolAlloc(pool, ctbs * sizeof(int32_t), H265D_POOL_ALIGN);
    sb->sao = (H265D_SAO_PARAMS *)poolAlloc(pool, ctbs * sizeof(H265D_SAO_PARAMS), H265D_POOL_ALIGN);
    sb->deblockOffsets = (int8_t *)poolAlloc(pool, ctbs * 2, H265D_POOL_ALIGN);
    sb->mvRecords = poolAlloc(pool, n4 * H265D_MV_RECORD_BYTES, H265D_POOL_ALIGN);
    sb->bs = (uint8_t *)poolAlloc(pool, n4 * 2, H265D_POOL_ALIGN);
    sb->colRecords = poolAlloc(pool, n16 * H265D_COL_RECORD_BYTES, H265D_POOL_ALIGN);
    sb->rowCounters = (uint32_t *)poolAlloc(pool, (h / 16) * sizeof(uint32_t), H265D_POOL_ALIGN);
    /* Line stores: two rows per plane (CTB row parity) with a margin on
     * both sides for the above-left and above-right reads. */
    for (int c = 0; c < 3; c++) {
        const size_t pw = c ? w / 2 : w;
        sb->lineStride[c] = (int32_t)(pw + 2 * 64);
        sb->lineStore[c] = (uint8_t *)poolAlloc(pool, (size_t)sb->lineStride[c] * 2, H265D_POOL_ALIGN);
    }
    sb->saoWork = (uint8_t *)poolAlloc(pool, saoWorkSize(dec->w64, dec->h64), H265D_POOL_ALIGN);
    dec->sliceCtx = (H265D_SLICE_CTX *)poolAlloc(pool, sizeof(H265D_SLICE_CTX), H265D_POOL_ALIGN);
    /* One for the caller's thread, one per worker context. */
    const size_t scratches = 1 + (dec->eThreadTypeCreated == 1 ? H265D_WORKER_COUNT : 0);
    dec->mcScratch = (McScratch *)poolAlloc(pool, sizeof(McScratch) * scratches, H265D_POOL_ALIGN);
}

void markBlockEdges(H265D_DEC_OBJ *dec, int x, int y, int w, int h, int leftBit, int topBit)
{
    H265D_SIDE_BUFFERS *sb = &dec->side;
    const int x1 = x + w < dec->geo.PicWidthInSamplesY ? x + w : dec->geo.PicWidthInSamplesY;
    const int y1 = y + h < dec->geo.PicHeightInSamplesY ? y + h : dec->geo.PicHeightInSamplesY;
    for (int yy = y; yy < y1; yy += 4)
        sb->edgeFlags[(yy >> 2) * sb->mapW4 + (x >> 2)] |= (uint8_t)leftBit;
    for (int xx = x; xx < x1; xx += 4)
        sb->edgeFlags[(y >> 2) * sb->mapW4 + (xx >> 2)] |= (uint8_t)topBit;
}

/* The side margins of rows [firstRow, firstRow + rows) of one plane. */
static void fillRowMargins(H265D_EXTEND_BORDER_FN extend, int rows, uint8_t *plane, int pitch, int firstRow, int width,
                           int margin)
{
    extend(0, plane + (ptrdiff_t)firstRow * pitch, width, rows, pitch, margin, 0);
}

/* With workers each CTB row's side margins are filled as soon as the row is
 * final, inside the jobs, rather than for the whole picture afterwards on
 * the caller's thread. (Threaded instances keep no stage times, so this
 * has no stage clock of its own.) */
void extendRowBorders(H265D_DEC_OBJ *dec, int rowCount, int firstRow)
{
    const H265D_PICTURE *p = &dec->dpb.pic[dec->dpb.curPic];
    const int log2 = (int)dec->sps->CtbLog2SizeY;
    const int y0 = firstRow << log2;
    int y1 = (firstRow + rowCount) << log2;
    if (y1 > dec->geo.PicHeightInSamplesY)
        y1 = dec->geo.PicHeightInSamplesY;
    if (y1 <= y0)
        return;
    const H265D_EXTEND_BORDER_FN extend = dec->dsp.slot[H265D_SLOT_EXTEND_BORDER].extendBorder;
    for (int c = 0; c < 3; c++) {
        const int sh = c ? 1 : 0;
        fillRowMargins(extend, (y1 >> sh) - (y0 >> sh), p->origin[c], c ? (int)p->uvStride : (int)p->yStride, y0 >> sh,
                       dec->geo.PicWidthInSamplesY >> sh, 128 >> sh);
    }
}

/* Replicates the picture's edge samples into its margins for motion
 * compensation: luma 128 columns and 80 rows, chroma 64 and 40. With
 * threading in force the filters have already filled the side margins of
 * every CTB row but the last; a picture decoded after the fallback to the
 * caller's thread gets them all here. */
void padPictureBorders(H265D_DEC_OBJ *dec)
{
    StageClock clock(dec, StageBorder);
    H265D_PICTURE *p = &dec->dpb.pic[dec->dpb.curPic];
    const int threaded = dec->eThreadType == 1;
    if (threaded)
        extendRowBorders(dec, 1, dec->geo.PicHeightInCtbsY - 1);
    const H265D_EXTEND_BORDER_FN extend = dec->dsp.slot[H265D_SLOT_EXTEND_BORDER].extendBorder;
    for (int c = 0; c < 3; c++) {
        const int sh = c ? 1 : 0;
        extend(threaded, p->origin[c], dec->geo.PicWidthInSamplesY >> sh, dec->geo.PicHeightInSamplesY >> sh,
               c ? (int)p->uvStride : (int)p->yStride, 128 >> sh, 80 >> sh);
    }
}

/* z-scan order address of every minimum transform block (6.5.2). */
static void deriveMinTbAddrZs(H265D_DEC_OBJ *dec)
{
    const H265D_SPS *sps = dec->sps;
    const H265D_PPS *pps = dec->pps;
    H265D_SIDE_BUFFERS *sb = &dec->side;
    const int log2Tb = (int)sps->Log2MinTrafoSize, log2Ctb = (int)sps->CtbLog2SizeY;
    const int wTb = dec->geo.widthInMinTb, hTb = dec->geo.heightInMinTb;
    const int shift = log2Ctb - log2Tb;
    /* The same parameter sets as the last picture's: nothing to derive. */
    const size_t orderBytes = (size_t)dec->geo.PicSizeInCtbsY * sizeof(int32_t);
    if (sb->minTbZsSpsGeneration == sps->generation && memcmp(sb->minTbZsTsOrder, pps->ctbAddrRsToTs, orderBytes) == 0)
        return;
    sb->minTbZsSpsGeneration = sps->generation;
    memcpy(sb->minTbZsTsOrder, pps->ctbAddrRsToTs, orderBytes);
    /* Interleaved bits of the position inside the CTB, for x and for y
     * apart: a CTB spans at most 16 minimum blocks each way. */
    int zx[16], zy[16];
    const int n = 1 << shift, mask = n - 1;
    for (int k = 0; k < n; k++) {
        zx[k] = zy[k] = 0;
        for (int i = 0; i < shift; i++)
            if (k & (1 << i)) {
                zx[k] += 1 << (2 * i);
                zy[k] += 2 << (2 * i);
            }
    }
    for (int y = 0; y < hTb; y++) {
        const int *rsToTs = pps->ctbAddrRsToTs + dec->geo.PicWidthInCtbsY * (y >> shift);
        int32_t *row = sb->minTbAddrZs + (size_t)y * sb->mapWMinTb;
        const int yPart = zy[y & mask];
        for (int x = 0; x < wTb; x++)
            row[x] = (rsToTs[x >> shift] << (shift * 2)) + yPart + zx[x & mask];
    }
}

const H265D_SLICE_HEADER *ctxSliceHeader(const H265D_DEC_OBJ *dec, const H265D_SLICE_CTX *ctx)
{
    return ctx->sh ? ctx->sh : &dec->sh;
}

uint32_t ctxSliceAddress(const H265D_DEC_OBJ *dec, const H265D_SLICE_CTX *ctx)
{
    return ctx->sh ? ctx->sliceAddrRs : dec->lastIndependentAddress;
}

static int ctbAvailable(const H265D_DEC_OBJ *dec, uint32_t sliceAddr, int ctbX, int ctbY, int ts)
{
    const H265D_PIC_GEOMETRY *g = &dec->geo;
    if (ctbX < 0 || ctbY < 0 || ctbX >= g->PicWidthInCtbsY || ctbY >= g->PicHeightInCtbsY)
        return 0;
    const int rs = ctbY * g->PicWidthInCtbsY + ctbX;
    const int nts = dec->pps->ctbAddrRsToTs[rs];
    if (nts >= ts)
        return 0;
    /* Rows of independent slices parse side by side: the map entry of a
     * CTB in the row above may be written meanwhile (it then belongs to
     * another slice either way). */
    return __atomic_load_n(&dec->side.sliceAddr[rs], __ATOMIC_RELAXED) == (int32_t)sliceAddr &&
           dec->pps->tileId[nts] == dec->pps->tileId[ts];
}

void updateCtuNeighbours(H265D_DEC_OBJ *dec, H265D_SLICE_CTX *ctx, int32_t ts)
{
    H265D_CTU_RECORD *ctu = &ctx->ctu;
    const H265D_PIC_GEOMETRY *g = &dec->geo;
    const int rs = dec->pps->ctbAddrTsToRs[ts];
    const int log2 = (int)dec->sps->CtbLog2SizeY;
    ctu->ctbAddrRs = rs;
    ctu->ctbAddrTs = ts;
    ctu->ctbX = rs % g->PicWidthInCtbsY;
    ctu->ctbY = rs / g->PicWidthInCtbsY;
    ctu->ctbLog2 = log2;
    ctu->ctbSize = 1 << log2;
    ctu->x = ctu->ctbX << log2;
    ctu->y = ctu->ctbY << log2;
    const uint32_t sa = ctxSliceAddress(dec, ctx);
    ctu->sh = ctxSliceHeader(dec, ctx);
    __atomic_store_n(&dec->side.sliceAddr[rs], (int32_t)sa, __ATOMIC_RELAXED);
    ctu->availLeft = (uint8_t)ctbAvailable(dec, sa, ctu->ctbX - 1, ctu->ctbY, ts);
    ctu->availAbove = (uint8_t)ctbAvailable(dec, sa, ctu->ctbX, ctu->ctbY - 1, ts);
    ctu->availAboveLeft = (uint8_t)ctbAvailable(dec, sa, ctu->ctbX - 1, ctu->ctbY - 1, ts);
    ctu->availAboveRight = (uint8_t)ctbAvailable(dec, sa, ctu->ctbX + 1, ctu->ctbY - 1, ts);
    const H265D_PPS *pps = dec->pps;
    int right = g->PicWidthInSamplesY;
    if (pps->tiles_enabled_flag) {
        for (uint32_t i = 0; i < pps->num_tile_columns; i++)
            if (ctu->ctbX >= pps->colBd[i] && ctu->ctbX < pps->colBd[i + 1]) {
                const int r = pps->colBd[i + 1] << log2;
                right = r < right ? r : right;
            }
    }
    ctu->rightLimit = right;
    const int bottom = ctu->y + ctu->ctbSize;
    ctu->bottomLimit = bottom < g->PicHeightInSamplesY ? bottom : g->PicHeightInSamplesY;
}

static int firstCtbOfTile(const H265D_DEC_OBJ *dec, int ts)
{
    return dec->pps->tiles_enabled_flag && ts > 0 && dec->pps->tileId[ts] != dec->pps->tileId[ts - 1];
}

void cabacStartCtu(H265D_DEC_OBJ *dec, H265D_SLICE_CTX *ctx, int32_t ts)
{
    const H265D_SLICE_HEADER *sh = ctxSliceHeader(dec, ctx);
    const H265D_PPS *pps = dec->pps;
    const int W = dec->geo.PicWidthInCtbsY;
    const int rs = pps->ctbAddrTsToRs[ts];
    const int sliceStart = ts == pps->ctbAddrRsToTs[sh->slice_segment_address];
    const int rowStart = pps->entropy_coding_sync_enabled_flag && rs % W == 0;
    H265D_CABAC *c = &ctx->cabac;
    /* With wavefronts a row takes over the states stored after the second
     * CTB of the row above, when that CTB belongs to the same slice and tile. */
    const int syncAvailable = rowStart && ctbAvailable(dec, ctxSliceAddress(dec, ctx), 1, rs / W - 1, ts);
    if (sliceStart) {
        if (!sh->dependent_slice_segment_flag) {
            cabacInitContextsFor(ctx->initType, sh->SliceQpY, c->ctxState);
            c->firstQgInSlice = 1;
            c->qpY = sh->SliceQpY;
        } else if (firstCtbOfTile(dec, ts)) {
            /* A dependent segment that opens a tile starts afresh like the
             * tile: its slice's states end with the tile before. */
            cabacInitContextsFor(ctx->initType, sh->SliceQpY, c->ctxState);
            c->firstQgInSlice = 1;
        } else if (rowStart) {
            if (syncAvailable)
                memcpy(c->ctxState, ctx->wppStore, H265D_CTX_COUNT);
            else
                cabacInitContextsFor(ctx->initType, sh->SliceQpY, c->ctxState);
            c->firstQgInSlice = 1;
        }
        return;
    }
    if (firstCtbOfTile(dec, ts)) {
        cabacInitContextsFor(ctx->initType, sh->SliceQpY, c->ctxState);
        c->firstQgInSlice = 1;
        cabacReinitAtByte(c, 0);
    } else if (rowStart) {
        if (syncAvailable)
            memcpy(c->ctxState, ctx->wppStore, H265D_CTX_COUNT);
        else
            cabacInitContextsFor(ctx->initType, sh->SliceQpY, c->ctxState);
        c->firstQgInSlice = 1;
        cabacReinitAtByte(c, 0);
    }
}

void cabacSaveWppContexts(H265D_DEC_OBJ *dec, H265D_SLICE_CTX *ctx, int32_t ts)
{
    const int W = dec->geo.PicWidthInCtbsY;
    const int rs = dec->pps->ctbAddrTsToRs[ts];
    if (dec->pps->entropy_coding_sync_enabled_flag && rs % W == 1)
        memcpy(ctx->wppStore, ctx->cabac.ctxState, H265D_CTX_COUNT);
}

/* Keeps the CTU's unfiltered bottom row for the intra prediction of the
 * CTB row below (the loop filters change the picture meanwhile). */
static void storeLineRows(H265D_DEC_OBJ *dec, const H265D_CTU_RECORD *ctu)
{
    const H265D_PICTURE *pic = &dec->dpb.pic[dec->dpb.curPic];
    H265D_SIDE_BUFFERS *sb = &dec->side;
    for (int c = 0; c < 3; c++) {
        const int sh = c ? 1 : 0;
        const int x = ctu->x >> sh;
        const int picW = dec->geo.PicWidthInSamplesY >> sh;
        int w = ctu->ctbSize >> sh;
        if (x + w > picW)
            w = picW - x;
        const int lastRow = (ctu->bottomLimit >> sh) - 1;
        const int stride = c ? (int)pic->uvStride : (int)pic->yStride;
        uint8_t *dst = sb->lineStore[c] + (ctu->ctbY & 1) * sb->lineStride[c] + 64 + x;
        memcpy(dst, pic->origin[c] + (ptrdiff_t)lastRow * stride + x, (size_t)w);
    }
}

void reconstructCtu(H265D_DEC_OBJ *dec, H265D_SLICE_CTX *ctx, McScratch *mc)
{
    H265D_CTU_RECORD *ctu = &ctx->ctu;
    int tuIndex = 0, puIndex = 0, lumaOffset = 0, chromaOffset = 0;
    for (int i = 0; i < ctu->numCu; i++) {
        const H265D_CU *cu = &ctu->cu[i];
        if (cu->CuPredMode == 1)
            reconstructIntraCu(dec, ctu, i, tuIndex, lumaOffset, chromaOffset);
        else
            reconstructInterCu(dec, ctu, i, tuIndex, puIndex, lumaOffset, chromaOffset, mc);
        puIndex += cu->numPu;
        if (cu->pcm_flag) {
            const int n = 1 << cu->log2CbSize;
            lumaOffset += n * n;
            chromaOffset += (n / 2) * (n / 2);
        }
        for (int t = 0; t < cu->numTu; t++) {
            const H265D_TU *tu = &ctu->tu[tuIndex + t];
            const int n = 1 << tu->log2TrafoSize;
            lumaOffset += n * n;
            if (tu->log2TrafoSize > 2)
                chromaOffset += (n / 2) * (n / 2);
            else if (((tu->x >> 2) & 1) && ((tu->y >> 2) & 1))
                chromaOffset += 16;
        }
        tuIndex += cu->numTu;
    }
    storeMotionField(dec, ctu);
    storeLineRows(dec, ctu);
}

static void clearPictureMaps(H265D_DEC_OBJ *dec)
{
    H265D_SIDE_BUFFERS *sb = &dec->side;
    const size_t n4 = (size_t)sb->mapW4 * (dec->h64 / 4);
    const size_t n8 = (size_t)sb->mapW8 * (dec->h64 / 8);
    memset(sb->intraMode, 255, n4);
    memset(sb->codedLuma, 0, n4);
    memset(sb->filterBypass, 0, n8);
    memset(sb->edgeFlags, 0, n4);
    memset(sb->rowCounters, 0, (dec->h64 / 16) * sizeof(uint32_t));
    const size_t ctbs = (size_t)(dec->w64 / 16) * (dec->h64 / 16);
    for (size_t i = 0; i < ctbs; i++)
        sb->sliceAddr[i] = -1;
}

/* The residual kernels take the 32x32 inter factors right after the intra
 * ones; the parameter set keeps them at matrix 3. */
static void arrangeDequantFactors(H265D_DEC_OBJ *dec)
{
    if (!dec->sps->scaling_list_enabled_flag)
        return;
    uint16_t *m1 = dequantTable(dec->pps, 3, 1, 0);
    const uint16_t *m3 = dequantTable(dec->pps, 3, 3, 0);
    memcpy(m1, m3, 6 * 1024 * sizeof(uint16_t));
}

/* In parse-only mode a slice must end with its data: only cabac_zero_words
 * may follow the byte that holds the last arithmetic-coded bit. */
static int32_t checkSliceEnd(H265D_DEC_OBJ *dec, const H265D_CABAC *c)
{
    const size_t pos = cabacNextBytePos(c);
    const size_t size = (size_t)(c->end - c->start);
    int ok = pos <= size;
    for (size_t i = pos; ok && i < size; i++)
        ok = c->start[i] == 0;
    if (ok)
        return 0;
    const size_t abs = (size_t)(c->start - dec->sliceDataStart) + pos;
    H265D_LOG(dec, H265D_LOG_ERROR, "H265D_Decode : the slice data ends at byte %d, but its payload runs to byte %d!\n",
              (int)abs, (int)((size_t)(c->end - dec->sliceDataStart)));
    return H265D_ERR_SLICE_DATA;
}

void startPictureData(H265D_DEC_OBJ *dec)
{
    dec->ctusDecoded = 0;
    dec->picturesStarted++;
    clearPictureMaps(dec);
    deriveMinTbAddrZs(dec);
    arrangeDequantFactors(dec);
    if (!dec->pps->cu_qp_delta_enabled_flag)
        memset(dec->side.qpY, dec->sh.SliceQpY, (size_t)dec->side.mapWMinCb * (dec->h64 / 8));
}

void startSliceEngine(H265D_DEC_OBJ *dec, H265D_SLICE_CTX *ctx, const uint8_t *payload, const uint8_t *end)
{
    const H265D_SLICE_HEADER *sh = &dec->sh;
    ctx->initType = cabacInitType(sh->slice_type, sh->cabac_init_flag);
    const uint8_t *data = payload + sh->sliceDataByte;
    if (data > end)
        data = end;
    dec->sliceDataStart = payload;
    cabacStartAt(&ctx->cabac, data, end);
    if (!sh->dependent_slice_segment_flag)
        ctx->qgPrevQp = sh->SliceQpY;
}

int32_t parseCtuAt(H265D_DEC_OBJ *dec, H265D_SLICE_CTX *ctx, int32_t ts)
{
    const int W = dec->geo.PicWidthInCtbsY;
    const int rs = dec->pps->ctbAddrTsToRs[ts];
    updateCtuNeighbours(dec, ctx, ts);
    if (rs % W == 0 && faultHits(dec, rs / W, 1)) {
        H265D_LOG(dec, H265D_LOG_ERROR, "H265D_Decode : the CTB row %d could not be parsed!\n", rs / W);
        return H265D_ERR_SLICE_DATA;
    }
    cabacStartCtu(dec, ctx, ts);
    int32_t r = parseCodingTreeUnit(dec, ctx);
    if (r)
        return r;
    cabacSaveWppContexts(dec, ctx, ts);
    if (rs % W == 1 && faultHits(dec, rs / W, 2))
        ctx->ctu.end_of_slice_segment_flag = 1;
    return 0;
}

int32_t decodeSliceData(H265D_DEC_OBJ *dec, const uint8_t *payload, const uint8_t *end)
{
    H265D_SLICE_CTX *ctx = dec->sliceCtx;
    const H265D_SLICE_HEADER *sh = &dec->sh;
    const H265D_PPS *pps = dec->pps;
    const H265D_PIC_GEOMETRY *g = &dec->geo;
    if (sh->first_slice_segment_in_pic_flag)
        startPictureData(dec);
    const int tsStart = pps->ctbAddrRsToTs[sh->slice_segment_address];
    if (tsStart != dec->ctusDecoded) {
        H265D_LOG(dec, H265D_LOG_ERROR, "H265D_Decode : the Curcent iCtbAddrTs is %d,the last decode LcuCnt is %d!\n",
                  tsStart, dec->ctusDecoded);
        return H265D_ERR_SLICE_DATA;
    }
    startSliceEngine(dec, ctx, payload, end);
    int ts = tsStart;
    int endOfSlice = 0;
    while (ts < g->PicSizeInCtbsY) {
        const int rs = pps->ctbAddrTsToRs[ts];
        if (rs >= g->PicSizeInCtbsY) {
            H265D_LOG(dec, H265D_LOG_ERROR, "H265D_Decode : the iCtbAddrRs is %d,it should not be bigger than %d!\n",
                      rs, g->PicSizeInCtbsY - 1);
            return H265D_ERR_SLICE_DATA;
        }
        int32_t r = parseCtuAt(dec, ctx, ts);
        if (r)
            return r;
        ts++;
        if (!dec->bParseOnly) {
            reconstructCtu(dec, ctx, &dec->mcScratch[0]);
            filterCtu(dec, ctx, nullptr);
        }
        if (ctx->ctu.end_of_slice_segment_flag) {
            endOfSlice = 1;
            break;
        }
    }
    if (!endOfSlice) {
        int valid = 0;
        for (int i = 0; i < H265D_MAX_SPS; i++)
            valid += dec->spsStore[i].valid != 0;
        if (valid > 1) {
            H265D_LOG(dec, H265D_LOG_ERROR, "H265D_Decode : the iCtbAddrTs is %d,it should not be bigger than %d!\n",
                      ts, g->PicSizeInCtbsY - 1);
            return H265D_ERR_SLICE_DATA;
        }
        H265D_LOG(dec, H265D_LOG_WARNING, "H265D_Decode : the iCtbAddrTs is %d,it should not be bigger than %d!\n", ts,
                  g->PicSizeInCtbsY - 1);
        dec->picErrorFlag = 1;
        if (dec->dpb.curPic >= 0)
            dec->dpb.pic[dec->dpb.curPic].errorFlag[0] = 1;
    } else if (dec->bParseOnly) {
        int32_t r = checkSliceEnd(dec, &ctx->cabac);
        if (r)
            return r;
    }
    dec->ctusDecoded = ts;
    if (ts < g->PicSizeInCtbsY)
        return 0;
    finishPictureData(dec);
    return 0;
}

void finishPictureData(H265D_DEC_OBJ *dec)
{
    memset(dec->side.rowCounters, 0, (dec->h64 / 16) * sizeof(uint32_t));
    if (!dec->bParseOnly)
        padPictureBorders(dec);
    completeCurrentPicture(dec);
}

} // namespace h265d
