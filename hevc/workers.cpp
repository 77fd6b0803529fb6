#include "workers.h"

#include <stdlib.h>
#include <string.h>

#include "h265d.h"

void *workerAlloc(H265D_WORKERS *ws, size_t size)
{
    void *p = nullptr;
    if (posix_memalign(&p, 16, size ? size : 1) != 0)
        return nullptr;
    memset(p, 0, size);
    if (ws)
        ws->bytes += size;
    return p;
}

namespace {

int queueInit(H265D_JOB_QUEUE *q)
{
    memset(q->items, 0, sizeof q->items);
    q->count = 0;
    lockInit(&q->lock);
    condInit(&q->changed);
    return 0;
}

void queueDestroy(H265D_JOB_QUEUE *q)
{
    condDestroy(&q->changed);
    lockDestroy(&q->lock);
}

void queuePush(H265D_JOB_QUEUE *q, H265D_JOB *job)
{
    lockEnter(&q->lock);
    while (q->count >= H265D_QUEUE_CAPACITY)
        condWait(&q->changed, &q->lock);
    q->items[q->count++] = job;
    q->items[q->count] = nullptr;
    condBroadcast(&q->changed);
    lockLeave(&q->lock);
}

/* Free records are a stack. */
H265D_JOB *queuePopBack(H265D_JOB_QUEUE *q)
{
    lockEnter(&q->lock);
    while (q->count == 0)
        condWait(&q->changed, &q->lock);
    H265D_JOB *job = q->items[--q->count];
    q->items[q->count] = nullptr;
    condBroadcast(&q->changed);
    lockLeave(&q->lock);
    return job;
}

/* Pending jobs in order; null once the pool stops. */
H265D_JOB *queuePopFront(H265D_JOB_QUEUE *q, const std::atomic<int32_t> &stop)
{
    lockEnter(&q->lock);
    while (q->count == 0 && !stop.load())
        condWait(&q->changed, &q->lock);
    H265D_JOB *job = nullptr;
    if (q->count > 0) {
        job = q->items[0];
        memmove(q->items, q->items + 1, sizeof(q->items[0]) * (size_t)q->count);
        q->count--;
        condBroadcast(&q->changed);
    }
    lockLeave(&q->lock);
    return job;
}

H265D_JOB *queueTake(H265D_JOB_QUEUE *q, H265D_WORKER_CTX *arg)
{
    lockEnter(&q->lock);
    for (;;) {
        for (int32_t i = 0; i < q->count; i++) {
            if (q->items[i]->arg != arg)
                continue;
            H265D_JOB *job = q->items[i];
            memmove(q->items + i, q->items + i + 1, sizeof(q->items[0]) * (size_t)(q->count - i));
            q->count--;
            condBroadcast(&q->changed);
            lockLeave(&q->lock);
            return job;
        }
        condWait(&q->changed, &q->lock);
    }
}

void *workerLoop(void *arg)
{
    H265D_WORKERS *ws = static_cast<H265D_WORKERS *>(arg);
    if (ws->init)
        ws->init(ws->initArg);
    while (H265D_JOB *job = queuePopFront(&ws->pending, ws->stop)) {
        job->result = job->fn(job->arg);
        queuePush(&ws->finished, job);
    }
    return nullptr;
}

void freeContext(H265D_WORKER_CTX *ctx)
{
    if (!ctx)
        return;
    condDestroy(&ctx->progressCond);
    lockDestroy(&ctx->progressLock);
    condDestroy(&ctx->goCond);
    lockDestroy(&ctx->goLock);
    free(ctx);
}

H265D_WORKER_CTX *rowAbove(const H265D_WORKER_CTX *ctx)
{
    return ctx->ws->rowCtx[ctx->row - 1];
}

/* Ends a job on every path: the row's final progress (finished, so rows
 * below stop waiting), the go flag, and on failure the abort flags. */
class JobEnd
{
public:
    explicit JobEnd(H265D_WORKER_CTX *ctx) : ctx_(ctx) {}
    ~JobEnd()
    {
        if (failed_) {
            ctx_->abort = 1;
            ctx_->ws->pictureAbort.store(1);
        }
        signalGo(ctx_);
        const int32_t done = ctx_->progress < 0 ? 0 : ctx_->progress % H265D_ROW_FINISHED;
        publishProgress(ctx_, done, 1);
    }
    void fail() { failed_ = true; }

private:
    H265D_WORKER_CTX *ctx_;
    bool failed_ = false;
};

int32_t rowJob(H265D_WORKER_CTX *ctx)
{
    JobEnd end(ctx);
    H265D_WORKERS *ws = ctx->ws;
    const H265D_ROW_OPS *ops = ctx->ops;
    const bool parseAtOnce = ctx->firstRow || (ops->independentRows && ops->independentRows[ctx->row]);
    if (ws->pictureAbort.load()) {
        end.fail();
        return 0; /* the row that failed reports the error */
    }
    for (int32_t c = ctx->firstCol; c <= ctx->lastCol; c++) {
        ctx->col = c;
        if (!parseAtOnce && (c == ctx->firstCol || ops->wavefrontParse) && waitGo(ctx, c) != 0) {
            end.fail();
            return 0;
        }
        int32_t endOfSlice = 0;
        const int32_t r = ops->parseCtu(ctx, c, &endOfSlice);
        if (r != 0) {
            end.fail();
            return r;
        }
        if (ops->wavefrontParse)
            publishParsed(ctx, c - ctx->firstCol + 1);
        if (endOfSlice) {
            /* The slice segment ends before the rows dealt out do: the
             * serial path decodes the picture. */
            end.fail();
            return H265D_JOBS_EARLY_END;
        }
    }
    if (!ctx->lastRow)
        signalGo(ctx);
    for (int32_t c = ctx->firstCol; c <= ctx->lastCol; c++) {
        ctx->col = c;
        publishProgress(ctx, c - ctx->firstCol, 0);
        if (!ctx->firstRow && waitRowAbove(ctx, c) != 0) {
            end.fail();
            return 0;
        }
        if (ws->pictureAbort.load()) {
            end.fail();
            return 0;
        }
        const int32_t r = ops->reconstructCtu(ctx, c);
        if (r != 0) {
            end.fail();
            return r;
        }
    }
    ctx->progress = ctx->lastCol - ctx->firstCol + 1;
    return 0;
}

/* Deals rows [firstRow, endRow) round-robin and waits for every job. */
int32_t dealRows(H265D_WORKERS *ws, const H265D_ROW_OPS *ops, int32_t firstRow, int32_t endRow, int32_t firstCol,
                 int32_t lastCol, int32_t wholeRow)
{
    if (endRow - firstRow <= 0 || endRow > ws->rowCount - 1 || lastCol < firstCol)
        return H265D_ERR_SLICE_DATA;
    ws->pictureAbort.store(0);
    for (int32_t i = 0; i < H265D_WORKER_COUNT; i++)
        ws->ctx[i]->abort = 0;
    memset(ws->rowProgress, 0, sizeof(int32_t) * (size_t)ws->rowCount);
    memset(ws->rowGo, 0, sizeof(int32_t) * (size_t)ws->rowCount);
    int32_t result = 0;
    auto collect = [&](H265D_WORKER_CTX *c) {
        const int32_t r = waitJob(ws, c);
        c->inFlight = 0;
        /* An error outranks an early end; the first error is kept. */
        if (r != 0 && (result == 0 || result == H265D_JOBS_EARLY_END))
            result = r;
    };
    const int32_t lanes = ws->lanes;
    for (int32_t row = firstRow; row < endRow && !ws->pictureAbort.load(); row++) {
        const int32_t k = (ws->lastCtx + 1) % lanes;
        H265D_WORKER_CTX *ctx = ws->ctx[k];
        if (ctx->inFlight)
            collect(ctx);
        ws->lastCtx = k;
        ctx->row = row;
        ctx->firstCol = firstCol;
        ctx->lastCol = lastCol;
        ctx->firstRow = row == firstRow;
        ctx->lastRow = row == endRow - 1;
        ctx->wholeRow = wholeRow;
        ctx->ops = ops;
        lockEnter(&ctx->goLock);
        ctx->go = 0;
        lockLeave(&ctx->goLock);
        lockEnter(&ctx->progressLock);
        ctx->progress = -1;
        lockLeave(&ctx->progressLock);
        ws->rowCtx[row] = ctx;
        postJob(ws, rowJob, ctx);
        ctx->inFlight = 1;
        H265D_WORKER_CTX *next = ws->ctx[(k + 1) % lanes];
        if (next->inFlight)
            collect(next);
    }
    for (int32_t i = 0; i < H265D_WORKER_COUNT; i++)
        if (ws->ctx[i]->inFlight)
            collect(ws->ctx[i]);
    if (result == 0 && ws->pictureAbort.load())
        result = H265D_ERR_SLICE_DATA;
    return result;
}

} // namespace

int32_t postJob(H265D_WORKERS *ws, H265D_JOB_FXN fn, H265D_WORKER_CTX *arg)
{
    H265D_JOB *job = queuePopBack(&ws->freeJobs);
    job->fn = fn;
    job->arg = arg;
    job->result = 0;
    queuePush(&ws->pending, job);
    return 0;
}

int32_t waitJob(H265D_WORKERS *ws, H265D_WORKER_CTX *arg)
{
    H265D_JOB *job = queueTake(&ws->finished, arg);
    const int32_t r = job->result;
    queuePush(&ws->freeJobs, job);
    return r;
}

void signalGo(H265D_WORKER_CTX *ctx)
{
    lockEnter(&ctx->goLock);
    ctx->go = 1;
    ctx->ws->rowGo[ctx->row] = H265D_ROW_FINISHED;
    condBroadcast(&ctx->goCond);
    lockLeave(&ctx->goLock);
}

void publishParsed(H265D_WORKER_CTX *ctx, int32_t parsed)
{
    lockEnter(&ctx->goLock);
    ctx->ws->rowGo[ctx->row] = parsed;
    condBroadcast(&ctx->goCond);
    lockLeave(&ctx->goLock);
}

int32_t waitGo(H265D_WORKER_CTX *ctx, int32_t col)
{
    H265D_WORKERS *ws = ctx->ws;
    H265D_WORKER_CTX *above = rowAbove(ctx);
    /* The row above's CTU col + 1 holds the neighbours and, at col 0, the
     * entropy state this row starts from. */
    const int32_t target = ctx->ops->wavefrontParse ? col - ctx->firstCol + 2 : H265D_ROW_FINISHED;
    lockEnter(&above->goLock);
    while (ws->rowGo[ctx->row - 1] < target && !ws->pictureAbort.load())
        condWait(&above->goCond, &above->goLock);
    lockLeave(&above->goLock);
    return ws->pictureAbort.load() ? -1 : 0;
}

void publishProgress(H265D_WORKER_CTX *ctx, int32_t done, int32_t finished)
{
    lockEnter(&ctx->progressLock);
    ctx->progress = done + (finished ? H265D_ROW_FINISHED : 0);
    ctx->ws->rowProgress[ctx->row] = ctx->progress;
    condBroadcast(&ctx->progressCond);
    lockLeave(&ctx->progressLock);
}

int32_t waitRowAbove(H265D_WORKER_CTX *ctx, int32_t col)
{
    H265D_WORKERS *ws = ctx->ws;
    H265D_WORKER_CTX *above = rowAbove(ctx);
    /* CTU col + 2 of the row above is finished once that row's count of
     * finished CTUs passes it; the whole row always counts. */
    const int32_t target = col - ctx->firstCol + 3;
    lockEnter(&above->progressLock);
    for (;;) {
        const int32_t p = ws->rowProgress[ctx->row - 1];
        if (p >= H265D_ROW_FINISHED || p >= target)
            break;
        condWait(&above->progressCond, &above->progressLock);
    }
    const int32_t p = ws->rowProgress[ctx->row - 1];
    lockLeave(&above->progressLock);
    /* A row above that ended without finishing its CTUs aborted. */
    return p >= H265D_ROW_FINISHED && ws->pictureAbort.load() ? -1 : 0;
}

int32_t createWorkerState(H265D_WORKERS **out, uint32_t h64)
{
    *out = nullptr;
    H265D_WORKERS *ws = static_cast<H265D_WORKERS *>(workerAlloc(nullptr, sizeof(H265D_WORKERS)));
    if (!ws)
        return -1;
    new (&ws->stop) std::atomic<int32_t>(0);
    new (&ws->pictureAbort) std::atomic<int32_t>(0);
    ws->bytes = sizeof(H265D_WORKERS);
    ws->rowCount = (int32_t)(h64 / 16) + 1;
    ws->rowProgress = static_cast<int32_t *>(workerAlloc(ws, sizeof(int32_t) * (size_t)ws->rowCount));
    ws->rowGo = static_cast<int32_t *>(workerAlloc(ws, sizeof(int32_t) * (size_t)ws->rowCount));
    ws->rowCtx = static_cast<H265D_WORKER_CTX **>(workerAlloc(ws, sizeof(void *) * (size_t)ws->rowCount));
    queueInit(&ws->freeJobs);
    queueInit(&ws->pending);
    queueInit(&ws->finished);
    ws->locksReady = 1;
    for (int32_t i = 0; i < H265D_QUEUE_CAPACITY; i++)
        queuePush(&ws->freeJobs, &ws->records[i]);
    ws->lastCtx = H265D_WORKER_COUNT - 1;
    ws->lanes = H265D_WORKER_COUNT;
    bool ok = ws->rowProgress && ws->rowGo && ws->rowCtx;
    for (int32_t i = 0; ok && i < H265D_WORKER_COUNT; i++) {
        H265D_WORKER_CTX *ctx = static_cast<H265D_WORKER_CTX *>(workerAlloc(ws, sizeof(H265D_WORKER_CTX)));
        if (!ctx) {
            ok = false;
            break;
        }
        ctx->ws = ws;
        ctx->index = i;
        ctx->progress = -1;
        lockInit(&ctx->goLock);
        condInit(&ctx->goCond);
        lockInit(&ctx->progressLock);
        condInit(&ctx->progressCond);
        ws->ctx[i] = ctx;
    }
    for (int32_t i = 0; ok && i < H265D_WORKER_COUNT; i++) {
        if (threadCreate(&ws->threads[i], nullptr, workerLoop, ws) != 0)
            ok = false;
        else
            ws->threadCount++;
    }
    if (!ok) {
        stopWorkers(ws);
        return -1;
    }
    *out = ws;
    return 0;
}

void stopWorkers(H265D_WORKERS *ws)
{
    if (!ws)
        return;
    if (ws->locksReady) {
        lockEnter(&ws->pending.lock);
        ws->stop.store(1);
        condBroadcast(&ws->pending.changed);
        lockLeave(&ws->pending.lock);
    }
    for (int32_t i = 0; i < ws->threadCount; i++)
        threadJoin(&ws->threads[i], nullptr);
    for (int32_t i = 0; i < H265D_WORKER_COUNT; i++)
        freeContext(ws->ctx[i]);
    if (ws->locksReady) {
        queueDestroy(&ws->finished);
        queueDestroy(&ws->pending);
        queueDestroy(&ws->freeJobs);
    }
    free(ws->rowCtx);
    free(ws->rowGo);
    free(ws->rowProgress);
    free(ws);
}

int32_t submitRowJobs(H265D_WORKERS *ws, const H265D_ROW_OPS *ops, int32_t rows, int32_t firstCol, int32_t lastCol,
                      int32_t picWidthInCtbs)
{
    return dealRows(ws, ops, 0, rows, firstCol, lastCol, firstCol == 0 && lastCol == picWidthInCtbs - 1);
}

int32_t submitSliceRowJobs(H265D_WORKERS *ws, const H265D_ROW_OPS *ops, int32_t rows, int32_t picWidthInCtbs)
{
    return dealRows(ws, ops, 0, rows, 0, picWidthInCtbs - 1, 1);
}

void setWorkerLanes(H265D_WORKERS *ws, int32_t lanes)
{
    if (lanes < 1)
        lanes = 1;
    if (lanes > H265D_WORKER_COUNT)
        lanes = H265D_WORKER_COUNT;
    ws->lanes = lanes;
    ws->lastCtx = lanes - 1;
}

int32_t submitTileRowJobs(H265D_WORKERS *ws, const H265D_ROW_OPS *ops, int32_t firstRow, int32_t endRow,
                          int32_t firstCol, int32_t lastCol)
{
    return dealRows(ws, ops, firstRow, endRow, firstCol, lastCol, 0);
}
