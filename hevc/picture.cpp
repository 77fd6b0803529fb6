// Gathered pictures of a threaded instance and the picture decode driver.
//
// Slice headers are parsed as their units arrive (the picture is set up
// then, in stream order); the slice data waits in the gather buffer until
// the next picture starts, a unit arrives that could change what the
// slices refer to, or the stream ends. Then the picture is decoded as a
// whole: CTU rows as worker jobs (tile by tile with tiles), serially over
// the gathered list when its slice segments do not fit row jobs.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <memory>

#include "decoder.h"
#include "loopfilter.h"
#include "slicedata.h"
#include "workers.h"
#include "nal.h"
#include "inter.h"
#include "picture.h"

namespace h265d {

// Per worker context: the decoding state of each CTU of the row in hand
// (engine, WPP store and CTU record), so that a row can be parsed whole
// before it is reconstructed, and the context's coding unit counters.
struct H265D_ROW_STATE
{
    H265D_SLICE_CTX *ctus;
    int32_t capacity;
    uint32_t cuStats[H265D_CU_STATS];
    H265D_SAO_JOB sao; // the context's block copy and the shared saved lines
};

namespace {

// The entropy decoding state a CTU continues from: everything of a slice
// context but the CTU record.
struct EngineState
{
    H265D_CABAC cabac;
    uint8_t wppStore[H265D_CTX_COUNT];
    int32_t initType;
    int32_t qgPrevQp;
    const H265D_SLICE_HEADER *sh;
    uint32_t sliceAddrRs;
};

enum PictureVia { kViaSerial = 0, kViaGatheredSerial = 1, kViaRows = 2, kViaSliceRows = 3, kViaTiles = 4 };
constexpr int32_t kNotForRows = -2;

struct RowPicture
{
    H265D_DEC_OBJ *dec;
    int32_t width; // CTBs per row
    int32_t size;  // CTBs in the picture
    // Per CTB row: the gathered slice segment its first CTU belongs to,
    // whether it starts there, whether that start is an independent slice
    // segment (the row parses at once), and the segment's end (tile-scan
    // address).
    int32_t *rowSlice;
    uint8_t *rowStarts;
    uint8_t *independentRows;
    int32_t *sliceEnd;
    // Per CTB row that continues a slice segment: where its data starts by
    // the segment's entry points (null when rows wait for the whole row
    // above), and whether a row above ended its data elsewhere.
    const uint8_t **rowEntry;
    mutable std::atomic<int32_t> entryMismatch;
    // Per CTB row, written by the row's job before its go flag (or parse
    // progress) lets the row below read them: the engine after the row's
    // second CTU and after its last. They live here, not in the contexts:
    // the row above's context may already decode a row further down (one
    // that starts a slice parses at once) when the row below starts.
    EngineState *afterSecond;
    EngineState *atEnd;
    // With tiles: the engine where the previous tile's data ended, written
    // between tiles on the caller's thread.
    EngineState *tileCarry;
};

H265D_ROW_STATE *rowState(H265D_DEC_OBJ *dec, const H265D_WORKER_CTX *ctx)
{
    return dec->rowStates[ctx->index];
}

// Hands the entropy decoding state on between slice contexts and the
// rows' stores.
template <typename To, typename From>
void carryEngine(To *to, const From *from)
{
    to->cabac = from->cabac;
    memcpy(to->wppStore, from->wppStore, sizeof to->wppStore);
    to->initType = from->initType;
    to->qgPrevQp = from->qgPrevQp;
    to->sh = from->sh;
    to->sliceAddrRs = from->sliceAddrRs;
}

// The arithmetic decoder at the start of gathered slice segment i's data;
// the context variables stay as they are.
void startSegmentData(H265D_DEC_OBJ *dec, H265D_SLICE_CTX *ctx, int32_t i)
{
    const H265D_GATHERED_SLICE *g = &dec->gathered[i];
    const uint8_t *payload = dec->gatherBuf + g->offset, *end = payload + g->length;
    const uint8_t *data = payload + g->sh.sliceDataByte;
    ctx->sh = &g->sh;
    ctx->sliceAddrRs = g->lastIndependentAddress;
    ctx->initType = cabacInitType(g->sh.slice_type, g->sh.cabac_init_flag);
    cabacStartAt(&ctx->cabac, data < end ? data : end, end);
}

// A fresh engine at the start of gathered slice segment i's data.
void startEngine(H265D_DEC_OBJ *dec, H265D_SLICE_CTX *ctx, int32_t i)
{
    startSegmentData(dec, ctx, i);
    ctx->qgPrevQp = dec->gathered[i].sh.SliceQpY;
}

int32_t parseRowCtu(H265D_WORKER_CTX *ctx, int32_t col, int32_t *endOfSlice)
{
    const RowPicture *pic = static_cast<const RowPicture *>(ctx->ops->user);
    H265D_DEC_OBJ *dec = pic->dec;
    H265D_ROW_STATE *st = rowState(dec, ctx);
    H265D_SLICE_CTX *cur = &st->ctus[col];
    // The row above (of the same tile) has set its go flag, or with entry
    // points parsed its second CTU, and left its states for this row.
    const int32_t above = ctx->row - 1;
    const int32_t segment = pic->rowSlice[ctx->row];
    if (col > ctx->firstCol) {
        carryEngine(cur, &st->ctus[col - 1]);
    } else if (ctx->firstRow && pic->tileCarry && (ctx->row > 0 || col > 0)) {
        // A later tile's data follows the previous tile's; the tile start in
        // parseCtuAt sets up fresh contexts at the next byte.
        carryEngine(cur, pic->tileCarry);
    } else if (pic->independentRows[ctx->row]) {
        startEngine(dec, cur, segment);
    } else if (pic->rowStarts[ctx->row]) {
        // A dependent slice segment: the contexts where the previous segment
        // (the row above) ended, or with wavefronts those stored after its
        // second CTU; a new arithmetic decoder on its own unit.
        carryEngine(cur, ctx->ops->wavefrontParse ? &pic->afterSecond[above] : &pic->atEnd[above]);
        startSegmentData(dec, cur, segment);
    } else if (pic->rowEntry[ctx->row]) {
        // With entry points a row takes the states stored after the second
        // CTU above, and its data from its entry point (an engine whose next
        // byte is the entry point; the row start in parseCtuAt begins
        // decoding there).
        carryEngine(cur, &pic->afterSecond[above]);
        cur->cabac.start = cur->cabac.cur = pic->rowEntry[ctx->row];
        cur->cabac.low = 0;
        cur->cabac.over = 0;
    } else {
        carryEngine(cur, &pic->atEnd[above]);
    }
    cur->cuStats = st->cuStats;
    const int32_t ts = dec->pps->ctbAddrRsToTs[ctx->row * pic->width + col];
    const int32_t r = parseCtuAt(dec, cur, ts);
    if (r)
        return r;
    if (col == ctx->firstCol + 1)
        carryEngine(&pic->afterSecond[ctx->row], cur);
    if (col == ctx->lastCol)
        carryEngine(&pic->atEnd[ctx->row], cur);
    // Each slice segment must end exactly where the next one (or the
    // picture) starts; anything else goes to the serial path.
    const int last = ts == pic->sliceEnd[segment] - 1;
    *endOfSlice = (cur->ctu.end_of_slice_segment_flag != 0) != last;
    // The row below started from its entry point; a row whose data ends
    // elsewhere means the entry points lie, and the serial path (which
    // follows the data) decodes the picture.
    const int32_t below = ctx->row + 1;
    if (col == ctx->lastCol && !*endOfSlice && below < dec->geo.PicHeightInCtbsY && pic->rowEntry[below] &&
        cur->cabac.start + cabacNextBytePos(&cur->cabac) != pic->rowEntry[below]) {
        pic->entryMismatch.store(1);
        *endOfSlice = 1;
    }
    return 0;
}

int32_t reconstructRowCtu(H265D_WORKER_CTX *ctx, int32_t col)
{
    const RowPicture *pic = static_cast<const RowPicture *>(ctx->ops->user);
    H265D_SLICE_CTX *cur = &rowState(pic->dec, ctx)->ctus[col];
    reconstructCtu(pic->dec, cur, &pic->dec->mcScratch[1 + ctx->index]);
    filterCtu(pic->dec, cur, &rowState(pic->dec, ctx)->sao);
    return 0;
}

// Room for one row's CTU states in each context.
bool reserveRowStates(H265D_DEC_OBJ *dec, int32_t width)
{
    for (int i = 0; i < H265D_WORKER_COUNT; i++) {
        H265D_ROW_STATE *st = dec->rowStates[i];
        if (st->capacity >= width)
            continue;
        free(st->ctus);
        dec->workers->bytes -= sizeof(H265D_SLICE_CTX) * (size_t)st->capacity;
        st->capacity = 0;
        st->ctus = static_cast<H265D_SLICE_CTX *>(workerAlloc(dec->workers, sizeof(H265D_SLICE_CTX) * (size_t)width));
        if (!st->ctus)
            return false;
        st->capacity = width;
    }
    return true;
}

int32_t decodeSerially(H265D_DEC_OBJ *dec, int32_t via)
{
    dec->pictureVia = via;
    int32_t r = 0;
    for (int32_t i = 0; i < dec->gatherCount && r == 0; i++) {
        const H265D_GATHERED_SLICE *g = &dec->gathered[i];
        dec->sh = g->sh;
        dec->lastIndependentAddress = g->lastIndependentAddress;
        const uint8_t *payload = dec->gatherBuf + g->offset;
        r = decodeSliceData(dec, payload, payload + g->length);
    }
    dec->pictureVia = kViaSerial;
    return r;
}

// Which rows start which slice segment; false when a segment starts inside
// a CTB row (the serial path takes such a picture).
bool mapRowsToSlices(H265D_DEC_OBJ *dec, RowPicture *pic)
{
    const int32_t rows = dec->geo.PicHeightInCtbsY;
    for (int32_t i = 0; i < dec->gatherCount; i++) {
        const H265D_SLICE_HEADER *sh = &dec->gathered[i].sh;
        const int32_t a = (int32_t)sh->slice_segment_address;
        const int32_t next =
            i + 1 < dec->gatherCount ? (int32_t)dec->gathered[i + 1].sh.slice_segment_address : pic->size;
        if (a % pic->width != 0 || next <= a || (i == 0) != (a == 0))
            return false;
        pic->sliceEnd[i] = next;
        for (int32_t r = a / pic->width; r < next / pic->width + (next % pic->width != 0) && r < rows; r++) {
            pic->rowSlice[r] = i;
            pic->rowStarts[r] = r == a / pic->width;
            pic->independentRows[r] = pic->rowStarts[r] && !sh->dependent_slice_segment_flag;
        }
    }
    return true;
}

// Where each row that continues a slice segment starts, from the
// segment's entry points; false when they do not give one start per row.
// The offsets count the escaped bytes of the unit, so the emulation
// prevention bytes taken out of the payload are counted back in.
bool mapRowEntries(H265D_DEC_OBJ *dec, RowPicture *pic)
{
    if (!dec->pps->entropy_coding_sync_enabled_flag)
        return false;
    const int32_t rows = dec->geo.PicHeightInCtbsY;
    for (int32_t i = 0; i < dec->gatherCount; i++) {
        const H265D_GATHERED_SLICE *g = &dec->gathered[i];
        const int32_t first = (int32_t)g->sh.slice_segment_address / pic->width;
        const int32_t endRow = std::min(rows, (pic->sliceEnd[i] + pic->width - 1) / pic->width);
        const uint32_t n = g->sh.num_entry_point_offsets;
        if (n != g->sh.entryPointsKept || (int32_t)n != endRow - first - 1)
            return false;
        if (n == 0)
            continue;
        // Byte w of the payload is byte w + epb of the unit.
        const uint8_t *payload = dec->gatherBuf + g->offset;
        size_t epb = 0, target = 0;
        uint32_t k = 0;
        int zeros = 0;
        bool inData = false;
        for (size_t w = 0; w < g->length && k < n; w++) {
            const uint8_t b = payload[w];
            if (zeros >= 2 && b <= 3) {
                epb++;
                zeros = 0;
            }
            const size_t at = w + epb;
            if (!inData && w == g->sh.sliceDataByte) {
                inData = true;
                target = at + g->sh.entryPoints[0];
            } else if (inData && at >= target) {
                if (at != target)
                    return false;
                pic->rowEntry[first + (int32_t)++k] = payload + w;
                if (k < n)
                    target += g->sh.entryPoints[k];
            }
            zeros = b == 0 ? zeros + 1 : 0;
        }
        if (k != n)
            return false;
    }
    return true;
}

// The tiles of a one-segment picture, one after the other in tile-scan
// order, each as row jobs over its columns.
int32_t submitTiles(H265D_DEC_OBJ *dec, RowPicture *pic, const H265D_ROW_OPS *ops)
{
    const H265D_PPS *pps = dec->pps;
    int32_t r = 0;
    for (uint32_t tr = 0; tr < pps->num_tile_rows && r == 0; tr++)
        for (uint32_t tc = 0; tc < pps->num_tile_columns && r == 0; tc++) {
            const int32_t lastRow = pps->rowBd[tr + 1] - 1, lastCol = pps->colBd[tc + 1] - 1;
            r = submitTileRowJobs(dec->workers, ops, pps->rowBd[tr], lastRow + 1, pps->colBd[tc], lastCol);
            if (r == 0)
                carryEngine(pic->tileCarry, &pic->atEnd[lastRow]);
        }
    return r;
}

// The picture's slice segments as CTU-row jobs (tile by tile with tiles).
// 0, a job's error, or H265D_JOBS_EARLY_END (the segments do not cover the
// picture as their addresses say); kNotForRows when the picture is not one
// for row jobs.
int32_t decodeRows(H265D_DEC_OBJ *dec)
{
    const int32_t rows = dec->geo.PicHeightInCtbsY;
    const bool tiles = dec->pps->tiles_enabled_flag != 0;
    std::unique_ptr<int32_t[]> rowSlice(new int32_t[(size_t)rows]());
    std::unique_ptr<uint8_t[]> rowStarts(new uint8_t[(size_t)rows]());
    std::unique_ptr<uint8_t[]> independentRows(new uint8_t[(size_t)rows]());
    std::unique_ptr<int32_t[]> sliceEnd(new int32_t[(size_t)dec->gatherCount]);
    std::unique_ptr<const uint8_t *[]> rowEntry(new const uint8_t *[(size_t)rows]());
    std::unique_ptr<EngineState[]> afterSecond(new EngineState[(size_t)rows]), atEnd(new EngineState[(size_t)rows]);
    EngineState tileCarry{};
    RowPicture pic{dec,
                   dec->geo.PicWidthInCtbsY,
                   dec->geo.PicSizeInCtbsY,
                   rowSlice.get(),
                   rowStarts.get(),
                   independentRows.get(),
                   sliceEnd.get(),
                   rowEntry.get(),
                   {},
                   afterSecond.get(),
                   atEnd.get(),
                   tiles ? &tileCarry : nullptr};
    pic.entryMismatch.store(0);
    if (tiles) {
        // One slice segment (several with tiles take the serial path for
        // good); rows of a tile hand their engine down, tiles follow on.
        if (dec->gatherCount != 1 || dec->gathered[0].sh.slice_segment_address != 0)
            return kNotForRows;
        rowStarts[0] = independentRows[0] = 1;
        sliceEnd[0] = pic.size;
    } else if (!mapRowsToSlices(dec, &pic)) {
        return kNotForRows;
    }
    const bool wavefront = !tiles && mapRowEntries(dec, &pic);
    if (!wavefront)
        std::fill(rowEntry.get(), rowEntry.get() + rows, nullptr);
    const H265D_GATHERED_SLICE *last = &dec->gathered[dec->gatherCount - 1];
    dec->sh = dec->gathered[0].sh;
    startPictureData(dec);
    H265D_ROW_OPS ops{parseRowCtu, reconstructRowCtu, &pic, pic.independentRows, wavefront ? 1 : 0};
    const bool slices = dec->gatherCount > 1;
    dec->pictureVia = tiles ? kViaTiles : slices ? kViaSliceRows : kViaRows;
    int32_t r = tiles    ? submitTiles(dec, &pic, &ops)
                : slices ? submitSliceRowJobs(dec->workers, &ops, rows, pic.width)
                         : submitRowJobs(dec->workers, &ops, rows, 0, pic.width - 1, pic.width);
    if (pic.entryMismatch.load())
        r = H265D_JOBS_EARLY_END;
    dec->sh = last->sh;
    dec->lastIndependentAddress = last->lastIndependentAddress;
    uint32_t *stats = dec->dpb.curPic >= 0 ? dec->dpb.pic[dec->dpb.curPic].cuStats : nullptr;
    for (int i = 0; i < H265D_WORKER_COUNT; i++) {
        for (int k = 0; stats && k < H265D_CU_STATS; k++)
            stats[k] += dec->rowStates[i]->cuStats[k];
        memset(dec->rowStates[i]->cuStats, 0, sizeof dec->rowStates[i]->cuStats);
    }
    if (r == 0) {
        dec->ctusDecoded = pic.size;
        finishPictureData(dec);
    }
    dec->pictureVia = kViaSerial;
    return r;
}

void clearGather(H265D_DEC_OBJ *dec)
{
    dec->gatherCount = 0;
    dec->gatherFill = 0;
}

} // namespace

int32_t allocGatherState(H265D_DEC_OBJ *dec)
{
    H265D_WORKERS *ws = dec->workers;
    dec->gathered =
        static_cast<H265D_GATHERED_SLICE *>(workerAlloc(ws, sizeof(H265D_GATHERED_SLICE) * H265D_MAX_GATHERED));
    dec->gatherSize = dec->streamSize;
    dec->gatherBuf = static_cast<uint8_t *>(workerAlloc(ws, dec->gatherSize));
    bool ok = dec->gathered && dec->gatherBuf;
    for (int i = 0; ok && i < H265D_WORKER_COUNT; i++) {
        dec->rowStates[i] = static_cast<H265D_ROW_STATE *>(workerAlloc(ws, sizeof(H265D_ROW_STATE)));
        ok = dec->rowStates[i] != nullptr;
    }
    dec->saoBorders = ok ? static_cast<uint8_t *>(workerAlloc(ws, saoBordersSize(dec->w64, dec->h64))) : nullptr;
    ok = ok && dec->saoBorders;
    for (int i = 0; ok && i < H265D_WORKER_COUNT; i++) {
        H265D_SAO_JOB *job = &dec->rowStates[i]->sao;
        job->block = static_cast<uint8_t *>(workerAlloc(ws, saoBlockSize(dec->w64)));
        job->borders = dec->saoBorders;
        ok = job->block != nullptr;
    }
    dec->threadCount = H265D_WORKER_COUNT;
    if (!ok) {
        freeGatherState(dec);
        return -1;
    }
    return 0;
}

void freeGatherState(H265D_DEC_OBJ *dec)
{
    for (int i = 0; i < H265D_WORKER_COUNT; i++) {
        if (dec->rowStates[i]) {
            free(dec->rowStates[i]->ctus);
            free(dec->rowStates[i]->sao.block);
        }
        free(dec->rowStates[i]);
        dec->rowStates[i] = nullptr;
    }
    free(dec->saoBorders);
    dec->saoBorders = nullptr;
    free(dec->gathered);
    free(dec->gatherBuf);
    dec->gathered = nullptr;
    dec->gatherBuf = nullptr;
    dec->gatherCount = 0;
}

int32_t gatherSlice(H265D_DEC_OBJ *dec, const uint8_t *payload, size_t length)
{
    if (dec->gatherDropped)
        return 0;
    int32_t err = 0;
    if (dec->gatherCount >= H265D_MAX_GATHERED) {
        H265D_LOG(dec, H265D_LOG_ERROR, "H265D_Decode : the picture has more than %d units!\n", H265D_MAX_GATHERED);
        err = -1;
    } else if (length > dec->gatherSize - dec->gatherFill) {
        H265D_LOG(dec, H265D_LOG_ERROR, "H265D_Decode : the picture's units need more than %d bytes!\n",
                  (int)dec->gatherSize);
        err = H265D_ERR_NULL;
    }
    if (err) {
        // Drop the picture and go on: its later slices are passed over and
        // the next picture gathers afresh.
        clearGather(dec);
        dec->gatherDropped = 1;
        if (dec->dpb.curPic >= 0)
            dec->dpb.pic[dec->dpb.curPic].errorFlag[0] = 1;
        dec->picErrorFlag = 1;
        return err;
    }
    H265D_GATHERED_SLICE *g = &dec->gathered[dec->gatherCount++];
    g->sh = dec->sh;
    g->lastIndependentAddress = dec->lastIndependentAddress;
    g->offset = dec->gatherFill;
    g->length = length;
    memcpy(dec->gatherBuf + dec->gatherFill, payload, length);
    dec->gatherFill += length;
    return 0;
}

int faultHits(H265D_DEC_OBJ *dec, int32_t row, int32_t kind)
{
    if (dec->iFaultKind != kind || dec->iFaultRow != row || row < 0)
        return 0;
    if (dec->faultPicture < 0)
        dec->faultPicture = dec->picturesStarted;
    return dec->faultPicture == dec->picturesStarted;
}

int32_t decodePicture(H265D_DEC_OBJ *dec)
{
    if (dec->gatherCount == 0)
        return 0;
    const H265D_PPS *pps = dec->pps;
    if (dec->eThreadType == 1) {
        // Fallbacks for good: pictures too narrow for the wavefront, and
        // several slice segments with tiles.
        if (dec->geo.PicWidthInCtbsY <= 3 || (dec->gatherCount > 1 && pps->tiles_enabled_flag)) {
            dec->eThreadType = 0;
            dec->pathCounts.uiFallbacks++;
        } else if (dec->geo.PicHeightInCtbsY < dec->threadCount) {
            dec->threadCount = dec->geo.PicHeightInCtbsY;
            setWorkerLanes(dec->workers, dec->threadCount);
        }
    }
    int32_t r = kNotForRows;
    if (dec->eThreadType == 1 && reserveRowStates(dec, dec->geo.PicWidthInCtbsY)) {
        r = decodeRows(dec);
        if (r == H265D_JOBS_EARLY_END) {
            // The same picture again on the serial path, so that both thread
            // types give the same pictures and codes (the fault options too).
            dec->picturesStarted--;
            if (dec->dpb.curPic >= 0 && dec->dpb.pic[dec->dpb.curPic].cuStats)
                memset(dec->dpb.pic[dec->dpb.curPic].cuStats, 0, H265D_CU_STATS * sizeof(uint32_t));
            r = kNotForRows;
        }
    }
    if (r == kNotForRows)
        r = decodeSerially(dec, kViaGatheredSerial);
    clearGather(dec);
    if (r)
        raiseErrorFlags(dec);
    return r;
}

} // namespace h265d
