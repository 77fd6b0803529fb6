/* The three calls, instance memory and the stream buffer. */
#include <stdarg.h>
#include <string.h>
#include <time.h>

#include "decoder.h"
#include "h265d_test.h"
#include "nal.h"
#include "picture.h"
#include "slicedata.h"
#include "stageclock.h"
#include "thread.h"
#include "workers.h"

namespace h265d {

static int64_t steadyNanos()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

void *alignedAlloc(H265D_MALLOC_FXN mallocFxn, uint32_t ch, size_t size, size_t alignment)
{
    if (size > SIZE_MAX - alignment)
        return nullptr;
    uint8_t *raw = (uint8_t *)mallocFxn(ch, size + alignment);
    if (!raw)
        return nullptr;
    memset(raw, 0, size + alignment);
    /* Always leave at least one byte in front for the distance. */
    size_t dist = alignment - ((uintptr_t)raw % alignment);
    uint8_t *p = raw + dist;
    p[-1] = (uint8_t)dist;
    return p;
}

size_t decoderObjectSize(void)
{
    return sizeof(H265D_DEC_OBJ);
}

void alignedFree(H265D_FREE_FXN freeFxn, uint32_t ch, void *p)
{
    if (!p)
        return;
    uint8_t *q = (uint8_t *)p;
    freeFxn(ch, q - q[-1]);
}

void *poolAlloc(H265D_POOL *pool, size_t size, size_t alignment)
{
    if (!pool->ok)
        return nullptr;
    if (pool->count >= H265D_POOL_BLOCKS || size > SIZE_MAX - alignment) {
        pool->ok = 0;
        return nullptr;
    }
    uint8_t *raw = (uint8_t *)pool->MallocFxn(pool->uiChannelID, size + alignment);
    if (!raw) {
        pool->ok = 0;
        return nullptr;
    }
    memset(raw, 0, size + alignment);
    pool->blocks[pool->count++] = raw;
    const uintptr_t a = ((uintptr_t)raw + alignment - 1) & ~(uintptr_t)(alignment - 1);
    return (void *)a;
}

void poolFreeAll(H265D_DEC_OBJ *dec)
{
    H265D_POOL *pool = &dec->pool;
    for (int i = 0; i < pool->count; i++) {
        if (pool->blocks[i])
            pool->FreeFxn(pool->uiChannelID, pool->blocks[i]);
        pool->blocks[i] = nullptr;
    }
    pool->count = 0;
}

size_t streamBufferSize(uint32_t w64, uint32_t h64)
{
    const size_t area = (size_t)w64 * h64;
    return area > (size_t)1920 * 1088 ? 3 * area : (size_t)3133440;
}

int32_t derivePictureGeometry(H265D_DEC_OBJ *dec, H265D_PIC_GEOMETRY *geo)
{
    const H265D_SPS *sps = dec->sps;
    if (sps->pic_width_in_luma_samples > dec->w64) {
        H265D_LOG(dec, H265D_LOG_ERROR,
                  "H265D_Decode : PicWidthInSamplesY is %d, should be less than or equal to %d!\n",
                  (int)sps->pic_width_in_luma_samples, (int)dec->w64);
        return H265D_ERR_WIDTH;
    }
    if (sps->pic_height_in_luma_samples > dec->h64) {
        H265D_LOG(dec, H265D_LOG_ERROR,
                  "H265D_Decode : PicHeightInSamplesY is %d, should be less than or equal to %d!\n",
                  (int)sps->pic_height_in_luma_samples, (int)dec->h64);
        return H265D_ERR_HEIGHT;
    }
    const int32_t w = (int32_t)sps->pic_width_in_luma_samples, h = (int32_t)sps->pic_height_in_luma_samples;
    const int32_t ctb = (int32_t)sps->CtbSizeY;
    const int32_t minTb = 1 << sps->Log2MinTrafoSize;
    geo->PicWidthInSamplesY = w;
    geo->PicHeightInSamplesY = h;
    geo->yStride = (w + ctb + 255) & ~(ctb - 1);
    geo->uvStride = geo->yStride / 2;
    geo->PicWidthInMinCbsY = (int32_t)sps->PicWidthInMinCbsY;
    geo->PicHeightInMinCbsY = (int32_t)sps->PicHeightInMinCbsY;
    geo->minCbStride = geo->PicWidthInMinCbsY;
    geo->PicWidthInCtbsY = (w + ctb - 1) / ctb;
    geo->PicHeightInCtbsY = (h + ctb - 1) / ctb;
    geo->PicSizeInCtbsY = geo->PicWidthInCtbsY * geo->PicHeightInCtbsY;
    geo->widthIn4 = (w + 3) / 4;
    geo->heightIn4 = (h + 3) / 4;
    geo->widthIn8 = (w + 7) / 8;
    geo->heightIn8 = (h + 7) / 8;
    geo->widthIn16 = (w + 15) / 16;
    geo->heightIn16 = (h + 15) / 16;
    geo->widthInMinTb = (w + minTb - 1) / minTb;
    geo->heightInMinTb = (h + minTb - 1) / minTb;
    return 0;
}

void activatePpsTables(H265D_DEC_OBJ *dec)
{
    derivePpsTables(dec->pps, dec->sps);
}

static void allocStores(H265D_DEC_OBJ *dec)
{
    H265D_POOL *pool = &dec->pool;
    dec->vpsStore = (H265D_VPS *)poolAlloc(pool, sizeof(H265D_VPS) * H265D_MAX_VPS, H265D_POOL_ALIGN);
    /* One spare SPS record: a set is parsed there before it replaces one. */
    dec->spsStore = (H265D_SPS *)poolAlloc(pool, sizeof(H265D_SPS) * (H265D_MAX_SPS + 1), H265D_POOL_ALIGN);
    dec->ppsStore = (H265D_PPS *)poolAlloc(pool, sizeof(H265D_PPS) * H265D_MAX_PPS, H265D_POOL_ALIGN);
    /* Tile tables for the smallest CTB (16) over the create limits. */
    const size_t ctbs = ((size_t)dec->w64 / 16) * ((size_t)dec->h64 / 16);
    const size_t perPps = (H265D_MAX_TILE_COLS + 1) + (H265D_MAX_TILE_ROWS + 1) + 3 * ctbs;
    int32_t *tiles = (int32_t *)poolAlloc(pool, perPps * sizeof(int32_t) * H265D_MAX_PPS, H265D_POOL_ALIGN);
    uint16_t *dq =
        (uint16_t *)poolAlloc(pool, (size_t)H265D_DEQUANT_ENTRIES * sizeof(uint16_t) * H265D_MAX_PPS, H265D_POOL_ALIGN);
    if (dec->ppsStore && tiles && dq) {
        for (int i = 0; i < H265D_MAX_PPS; i++) {
            H265D_PPS *pps = &dec->ppsStore[i];
            int32_t *t = tiles + perPps * (size_t)i;
            pps->colBd = t;
            pps->rowBd = t + H265D_MAX_TILE_COLS + 1;
            pps->ctbAddrRsToTs = pps->rowBd + H265D_MAX_TILE_ROWS + 1;
            pps->ctbAddrTsToRs = pps->ctbAddrRsToTs + ctbs;
            pps->tileId = pps->ctbAddrTsToRs + ctbs;
            pps->dequant = dq + (size_t)H265D_DEQUANT_ENTRIES * i;
        }
    }
    dec->userData = (H265D_USER_DATA *)poolAlloc(pool, sizeof(H265D_USER_DATA), H265D_POOL_ALIGN);
}

static int32_t create(void **phHandle, const H265D_INIT_PARAM *p, const H265D_TEST_OPTIONS *t)
{
    if (!phHandle || !p)
        return H265D_ERR_NULL;
    if (!p->LogFxn)
        return H265D_ERR_LOGFXN;
    const uint32_t ch = p->uiChannelID;
    if (!p->MallocFxn) {
        p->LogFxn(ch, H265D_LOG_ERROR, "H265D_Create : pstInitParam->MallocFxn is NULL !\n");
        return H265D_ERR_MALLOCFXN;
    }
    if (!p->FreeFxn) {
        p->LogFxn(ch, H265D_LOG_ERROR, "H265D_Create : pstInitParam->FreeFxn is NULL !\n");
        return H265D_ERR_FREEFXN;
    }
    if (p->eOutputOrder != IH265D_DECODE_ORDER && p->eOutputOrder != IH265D_DISPLAY_ORDER)
        p->LogFxn(ch, H265D_LOG_WARNING,
                  "H265D_Create : pstInitParam->eOutputOrder is invalid, default to be IH265D_DISPLAY_ORDER!\n");
    if (p->iMaxWidth < H265D_MIN_SIZE || p->iMaxWidth > H265D_MAX_SIZE) {
        p->LogFxn(ch, H265D_LOG_ERROR, "H265D_Create : pstInitParam->iMaxWidth should be in the range of %d ~ %d !\n",
                  H265D_MIN_SIZE, H265D_MAX_SIZE);
        return H265D_ERR_WIDTH;
    }
    if (p->iMaxHeight < H265D_MIN_SIZE || p->iMaxHeight > H265D_MAX_SIZE) {
        p->LogFxn(ch, H265D_LOG_ERROR, "H265D_Create : pstInitParam->iMaxHeight should be in the range of %d ~ %d !\n",
                  H265D_MIN_SIZE, H265D_MAX_SIZE);
        return H265D_ERR_HEIGHT;
    }
    if (p->iMaxRefNum < 0 || p->iMaxRefNum > H265D_MAX_REFNUM) {
        p->LogFxn(ch, H265D_LOG_ERROR, "H265D_Create : pstInitParam->iMaxRefNum should be in the range of 0 ~ %d !\n",
                  H265D_MAX_REFNUM);
        return H265D_ERR_REFNUM;
    }
    if (p->eThreadType != 0 && p->eThreadType != 1) {
        p->LogFxn(ch, H265D_LOG_ERROR, "H265D_Create : pstInitParam->eThreadType should be 0 or 1 !\n");
        return H265D_ERR_THREADTYPE;
    }
    if (p->eThreadType == 1 && threadLibrarySetUp() != 0) {
        p->LogFxn(ch, H265D_LOG_ERROR, "H265D_Create : thread library init failed!\n");
        return H265D_ERR_THREAD;
    }
    H265D_DEC_OBJ *dec = (H265D_DEC_OBJ *)alignedAlloc(p->MallocFxn, ch, sizeof(H265D_DEC_OBJ), 16);
    if (!dec) {
        p->LogFxn(ch, H265D_LOG_ERROR, "H265D_Create : p_dec_obj malloc failed!\n");
        return H265D_ERR_MALLOC;
    }
    dec->iCpuMask = t ? t->iCpuMask : -1;
    /* Tests and tools may take processor features away, never add them. */
    initDspFunctionTableMasked(&dec->dsp, &dec->cpuFlags, dec->iCpuMask == -1 ? 0xFFFFFFFFu : (uint32_t)dec->iCpuMask);
    dec->bHeadersOnly = t ? t->bHeadersOnly : 0;
    dec->bParseOnly = t ? t->bParseOnly : 0;
    if (t && t->bStageTimes && p->eThreadType == 0) {
        dec->stageTicks = dec->stageStore;
        dec->stageStartTicks = H265D_STAGE_TICKS();
        dec->stageStartNanos = steadyNanos();
    }

    dec->uiChannelID = ch;
    dec->poolAlign = H265D_POOL_ALIGN;
    dec->w64 = ((uint32_t)p->iMaxWidth + 63) & ~63u;
    dec->h64 = ((uint32_t)p->iMaxHeight + 63) & ~63u;
    dec->iMaxRefNum = p->iMaxRefNum;
    dec->eThreadType = p->eThreadType;
    dec->eThreadTypeCreated = p->eThreadType;
    dec->eOutputOrder = p->eOutputOrder;
    dec->picTimeStamp = H265D_TIMESTAMP_NONE;
    dec->lastTimeStamp = H265D_TIMESTAMP_NONE;
    dec->MallocFxn = p->MallocFxn;
    dec->FreeFxn = p->FreeFxn;
    dec->LogFxn = p->LogFxn;
    dec->streamSize = streamBufferSize(dec->w64, dec->h64);

    dec->pool.uiChannelID = ch;
    dec->pool.ok = 1;
    dec->pool.count = 0;
    dec->pool.MallocFxn = p->MallocFxn;
    dec->pool.FreeFxn = p->FreeFxn;
    allocStores(dec);
    allocPictureBuffer(dec);
    dec->streamBuf = (uint8_t *)poolAlloc(&dec->pool, dec->streamSize, H265D_POOL_ALIGN);
    allocSideBuffers(dec);
    if (!dec->pool.ok) {
        p->LogFxn(ch, H265D_LOG_ERROR, "H265D_Create : malloc failed!\n");
        poolFreeAll(dec);
        alignedFree(p->FreeFxn, ch, dec);
        return H265D_ERR_MALLOC;
    }
    dec->iFaultRow = t ? t->iFaultRow : -1;
    dec->iFaultKind = t ? t->iFaultKind : 0;
    dec->faultPicture = -1;
    if (dec->eThreadType == 1) {
        /* No message here: the result code says it. */
        if (createWorkerState(&dec->workers, dec->h64) != 0) {
            poolFreeAll(dec);
            alignedFree(p->FreeFxn, ch, dec);
            return H265D_ERR_THREAD;
        }
        if (!dec->bHeadersOnly && !dec->bParseOnly && allocGatherState(dec) != 0) {
            stopWorkers(dec->workers);
            poolFreeAll(dec);
            alignedFree(p->FreeFxn, ch, dec);
            return H265D_ERR_THREAD;
        }
    }
    dec->streamFill = 0;
    dec->vclBytes = 0;
    dec->errorFlag[0] = dec->errorFlag[1] = 0;
    dec->endOfSequence = 1;
    dec->noRaslOutputFlag = 1;
    dec->cvsCounter = 0;
    /* No picture under way: the first slice segment to come opens one
     * without completing another. */
    dec->firstSliceToggle = 1;
    dec->userData->length = 0;
    dec->magic = H265D_HANDLE_MAGIC;
    *phHandle = dec;
    return H265D_OK;
}

extern "C" int32_t H265D_Create(void **phDecoder, const H265D_INIT_PARAM *pstInitParam)
{
    return create(phDecoder, pstInitParam, nullptr);
}

extern "C" int32_t H265D_CreateForTest(void **phHandle, const H265D_INIT_PARAM *p, const H265D_TEST_OPTIONS *t)
{
    return create(phHandle, p, t);
}

extern "C" int32_t H265D_GetPathCounts(void *h, H265D_PATH_COUNTS *out)
{
    H265D_DEC_OBJ *dec = (H265D_DEC_OBJ *)h;
    if (!dec || !out)
        return H265D_ERR_NULL;
    if (dec->magic != H265D_HANDLE_MAGIC)
        return H265D_ERR_HANDLE;
    const PathCounts &c = dec->pathCounts;
    *out = H265D_PATH_COUNTS{c.uiSerial, c.uiGatheredSerial, c.uiRowJobs, c.uiSliceJobs, c.uiTileJobs, c.uiFallbacks};
    return H265D_OK;
}

extern "C" int32_t H265D_GetStageTimes(void *h, H265D_STAGE_TIMES *out)
{
    H265D_DEC_OBJ *dec = (H265D_DEC_OBJ *)h;
    if (!dec || !out)
        return H265D_ERR_NULL;
    if (dec->magic != H265D_HANDLE_MAGIC || !dec->stageTicks)
        return H265D_ERR_HANDLE;
    /* The tick counter's rate, from the clock over the instance's life. */
    const uint64_t ticks = H265D_STAGE_TICKS() - dec->stageStartTicks;
    const int64_t nanos = steadyNanos() - dec->stageStartNanos;
    const double secondsPerTick = ticks > 0 && nanos > 0 ? (double)nanos * 1e-9 / (double)ticks : 0.0;
    static_assert(int(StageCount) == int(H265D_STAGE_COUNT), "one stage list");
    for (int i = 0; i < StageCount; i++)
        out->adSeconds[i] = (double)dec->stageTicks[i] * secondsPerTick;
    return H265D_OK;
}

/* ---- time stamps of buffered bytes ---- */

static uint64_t stampAt(const H265D_DEC_OBJ *dec, size_t pos)
{
    uint64_t s = dec->stampSeg[0].stamp;
    for (int i = 1; i < dec->stampSegs; i++)
        if (dec->stampSeg[i].start <= pos)
            s = dec->stampSeg[i].stamp;
    return s;
}

static void stampAppend(H265D_DEC_OBJ *dec, size_t at, uint64_t stamp)
{
    if (dec->stampSegs == 0 || at == 0) {
        dec->stampSeg[0].start = 0;
        dec->stampSeg[0].stamp = stamp;
        dec->stampSegs = 1;
        return;
    }
    if (dec->stampSeg[dec->stampSegs - 1].stamp == stamp || dec->stampSegs == H265D_STAMP_SEGS)
        return;
    dec->stampSeg[dec->stampSegs].start = at;
    dec->stampSeg[dec->stampSegs].stamp = stamp;
    dec->stampSegs++;
}

/* Drops the first k bytes of the stream buffer. */
static void bufferConsume(H265D_DEC_OBJ *dec, size_t k)
{
    if (k == 0)
        return;
    if (k >= dec->streamFill) {
        dec->streamFill = 0;
        dec->scanPos = 0;
        dec->stampSegs = 0;
        return;
    }
    memmove(dec->streamBuf, dec->streamBuf + k, dec->streamFill - k);
    dec->streamFill -= k;
    dec->scanPos = dec->scanPos > k ? dec->scanPos - k : 0;
    int out = 0;
    for (int i = 0; i < dec->stampSegs; i++) {
        H265D_STAMP_SEG s = dec->stampSeg[i];
        s.start = s.start > k ? s.start - k : 0;
        if (out > 0 && dec->stampSeg[out - 1].start == s.start && s.start == 0)
            out--;
        dec->stampSeg[out++] = s;
    }
    dec->stampSegs = out;
}

/* Finds the start code that ends the unit beginning at 'from'; resumes
 * where the last search of the same unit stopped, so feeding a large unit
 * byte by byte stays linear. */
static const uint8_t *findNext(H265D_DEC_OBJ *dec, size_t from, int64_t *off, int32_t *prefix)
{
    size_t begin = from;
    if (dec->scanPos > begin + 2)
        begin = dec->scanPos - 2;
    const uint8_t *p = findStartCode(dec->streamBuf + begin, dec->streamFill - begin, off, prefix);
    if (p) {
        *off += (int64_t)begin;
        /* A 4-byte prefix may start one byte before the resumed window. */
        if (*prefix == 3 && *off > (int64_t)from && dec->streamBuf[*off - 1] == 0) {
            (*off)--;
            *prefix = 4;
        }
        dec->scanPos = 0;
        return p;
    }
    dec->scanPos = dec->streamFill;
    return nullptr;
}

/* Decodes the complete units of the stream buffer; at the end of the
 * stream the last unit runs to the end of the buffer. Result: 0 (buffer
 * used up), 0 with a picture in out (status 0), or an error. */
static int32_t decodeBuffered(H265D_DEC_OBJ *dec, H265D_OUTARGS *out, int eos, int flushing, int *gotPicture)
{
    *gotPicture = 0;
    int64_t off;
    int32_t prefix;
    if (!findStartCode(dec->streamBuf, dec->streamFill, &off, &prefix)) {
        if (eos || dec->streamFill == dec->streamSize) {
            /* Keep the last 3 bytes: a start code may straddle the boundary. */
            const size_t keep = eos ? 0 : 3;
            bufferConsume(dec, dec->streamFill - keep);
        }
        return 0;
    }
    size_t cur = (size_t)off;
    int32_t curPrefix = prefix;
    if (cur > 0) {
        bufferConsume(dec, cur);
        cur = 0;
    }
    for (;;) {
        const size_t unitStart = cur + (size_t)curPrefix;
        int64_t nOff;
        int32_t nPrefix;
        size_t unitEnd;
        if (findNext(dec, unitStart, &nOff, &nPrefix)) {
            unitEnd = (size_t)nOff;
        } else if (eos) {
            unitEnd = dec->streamFill;
            nOff = (int64_t)unitEnd;
            nPrefix = 0;
        } else {
            /* Incomplete unit. When its first bytes show a slice segment that
             * opens a picture, the picture before it is complete already: it
             * leaves now, not once the rest of this unit has arrived, so that
             * a caller feeding one access unit per call gets each picture
             * from the next call. The unit is presented again, whole, later. */
            if (!dec->firstSliceToggle && nalOpensPicture(dec->streamBuf + unitStart, dec->streamFill - unitStart)) {
                dec->picTimeStamp = stampAt(dec, cur);
                const int32_t r =
                    decodeNalUnit(dec, dec->streamBuf + unitStart, dec->streamFill - unitStart, curPrefix);
                if (r == 2 && outputPicture(dec, flushing, out) == 0) {
                    bufferConsume(dec, cur);
                    *gotPicture = 1;
                    return 0;
                }
                if (r != 2 && r != 0) {
                    /* The gathered picture failed; this unit opens the next. */
                    bufferConsume(dec, cur);
                    dec->keepUnit = 0;
                    return r;
                }
            }
            /* Keep it at the front; a full buffer that holds only it can
             * never complete it. */
            bufferConsume(dec, cur);
            if (dec->streamFill == dec->streamSize)
                bufferConsume(dec, dec->streamFill - 3);
            return 0;
        }
        if (unitEnd == unitStart) {
            cur = unitEnd;
            curPrefix = nPrefix;
            if (nPrefix == 0)
                break;
            continue;
        }
        dec->picTimeStamp = stampAt(dec, cur);
        int32_t r = decodeNalUnit(dec, dec->streamBuf + unitStart, unitEnd - unitStart, curPrefix);
        if (r == 2) {
            if (outputPicture(dec, flushing, out) == 0) {
                bufferConsume(dec, cur);
                *gotPicture = 1;
                return 0;
            }
            r = decodeNalUnit(dec, dec->streamBuf + unitStart, unitEnd - unitStart, curPrefix);
        }
        if (r != 0) {
            /* An error of the gathered picture leaves the unit in hand to
             * open the next picture. */
            if (dec->keepUnit)
                bufferConsume(dec, cur);
            else
                bufferConsume(dec, nPrefix ? (size_t)nOff : dec->streamFill);
            dec->keepUnit = 0;
            return r;
        }
        cur = (size_t)nOff;
        curPrefix = nPrefix;
        if (nPrefix == 0)
            break;
    }
    bufferConsume(dec, dec->streamFill);
    return 0;
}

extern "C" int32_t H265D_Decode(void *hDecoder, const H265D_INARGS *pstInArgs, H265D_OUTARGS *pstOutArgs)
{
    H265D_DEC_OBJ *dec = (H265D_DEC_OBJ *)hDecoder;
    if (!dec)
        return H265D_ERR_NULL;
    if (dec->magic != H265D_HANDLE_MAGIC)
        return H265D_ERR_HANDLE;
    if (!pstInArgs) {
        H265D_LOG(dec, H265D_LOG_ERROR, "H265D_Decode : pstInArgs is NULL !\n");
        return H265D_ERR_NULL;
    }
    if (!pstOutArgs) {
        H265D_LOG(dec, H265D_LOG_ERROR, "H265D_Decode : pstOutArgs is NULL !\n");
        return H265D_ERR_NULL;
    }
    if (pstInArgs->eDecodeMode == IH265D_DECODE_NORMAL && !pstInArgs->pStream) {
        H265D_LOG(dec, H265D_LOG_ERROR, "H265D_Decode : pstInArgs->pStream is NULL !\n");
        return H265D_ERR_STREAM;
    }
    /* Each buffered byte keeps the stamp of the call that delivered it; a
     * picture takes the stamp of its first slice segment's unit. */
    if (pstInArgs->eDecodeMode != IH265D_DECODE_END)
        dec->lastTimeStamp = pstInArgs->uiTimeStamp;
    pstOutArgs->eDecodeStatus = IH265D_STATUS_FAILED;

    int got = 0;
    if (pstInArgs->eDecodeMode == IH265D_DECODE_END) {
        if (dec->streamFill > 0) {
            int32_t r = decodeBuffered(dec, pstOutArgs, 1, 1, &got);
            if (r != 0)
                return r;
            if (got)
                return H265D_OK;
        }
        if (dec->gatherCount > 0) {
            const int32_t r = decodePicture(dec);
            if (r != 0)
                return r;
        }
        if (dec->bHeadersOnly) {
            if (dec->firstSliceAccepted)
                completeCurrentPicture(dec);
        }
        pstOutArgs->eDecodeStatus = outputPicture(dec, 1, pstOutArgs) == 0 ? IH265D_STATUS_PICTURE : IH265D_STATUS_END;
        return H265D_OK;
    }

    pstOutArgs->uiBytesUsed = 0;
    const int flushing = dec->eOutputOrder == IH265D_DECODE_ORDER;
    const uint8_t *src = pstInArgs->pStream;
    uint32_t left = pstInArgs->uiStreamLen;
    do {
        const size_t room = dec->streamSize - dec->streamFill;
        const size_t n = left < room ? left : room;
        if (n) {
            stampAppend(dec, dec->streamFill, pstInArgs->uiTimeStamp);
            memcpy(dec->streamBuf + dec->streamFill, src, n);
            dec->streamFill += n;
            src += n;
            left -= (uint32_t)n;
            pstOutArgs->uiBytesUsed += (uint32_t)n;
        }
        int32_t r = decodeBuffered(dec, pstOutArgs, 0, flushing, &got);
        if (r != 0)
            return r;
        if (got)
            return H265D_OK;
    } while (left > 0);
    pstOutArgs->eDecodeStatus = IH265D_STATUS_NEED_DATA;
    return H265D_NEED_MORE_DATA;
}

extern "C" int32_t H265D_Delete(void *hDecoder)
{
    H265D_DEC_OBJ *dec = (H265D_DEC_OBJ *)hDecoder;
    if (!dec)
        return H265D_ERR_NULL;
    if (dec->magic != H265D_HANDLE_MAGIC)
        return H265D_ERR_HANDLE;
    dec->magic = 0;
    H265D_FREE_FXN freeFxn = dec->FreeFxn;
    const uint32_t ch = dec->uiChannelID;
    if (dec->eThreadTypeCreated == 1) {
        stopWorkers(dec->workers);
        freeGatherState(dec);
    }
    dec->workers = nullptr;
    poolFreeAll(dec);
    alignedFree(freeFxn, ch, dec);
    return H265D_OK;
}

} // namespace h265d
