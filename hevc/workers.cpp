#include "workers.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <new>
#include <thread>

#include "h265d.h"

namespace h265d {

void *workerAlloc(H265D_WORKERS *ws, size_t size, size_t align)
{
    void *p = nullptr;
    if (posix_memalign(&p, align, size ? size : 1) != 0)
        return nullptr;
    memset(p, 0, size);
    if (ws)
        ws->bytes += size;
    return p;
}

namespace {

/* Most waits for another worker are shorter than waking a sleeping thread
 * takes (tens of microseconds on a virtual machine, more than a CTU), and
 * every wake-up costs the waker a system call too. So a waiter polls for a
 * short while before it sleeps. */
constexpr auto kPollTime = std::chrono::microseconds(50);

inline void cpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

/* True once ready() holds, false when the poll time ran out first. */
template <typename Ready>
bool pollFor(Ready ready)
{
    const auto until = std::chrono::steady_clock::now() + kPollTime;
    for (;;) {
        for (int i = 0; i < 32; i++) {
            if (ready())
                return true;
            cpuRelax();
        }
        if (std::chrono::steady_clock::now() >= until)
            return ready();
    }
}

int queueInit(H265D_JOB_QUEUE *q)
{
    memset(q->items, 0, sizeof q->items);
    new (&q->count) std::atomic<int32_t>(0);
    new (&q->pushes) std::atomic<uint32_t>(0);
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
    while (q->count.load(std::memory_order_relaxed) >= H265D_QUEUE_CAPACITY)
        condWait(&q->changed, &q->lock);
    const int32_t n = q->count.load(std::memory_order_relaxed);
    q->items[n] = job;
    q->items[n + 1] = nullptr;
    q->count.store(n + 1);
    q->pushes.fetch_add(1);
    condBroadcast(&q->changed);
    lockLeave(&q->lock);
}

/* Free records are a stack. */
H265D_JOB *queuePopBack(H265D_JOB_QUEUE *q)
{
    lockEnter(&q->lock);
    while (q->count.load(std::memory_order_relaxed) == 0)
        condWait(&q->changed, &q->lock);
    const int32_t n = q->count.load(std::memory_order_relaxed) - 1;
    H265D_JOB *job = q->items[n];
    q->items[n] = nullptr;
    q->count.store(n);
    condBroadcast(&q->changed);
    lockLeave(&q->lock);
    return job;
}

/* Pending jobs in order; null once the pool stops. The next row of a
 * picture usually comes within the poll time. */
H265D_JOB *queuePopFront(H265D_JOB_QUEUE *q, const std::atomic<int32_t> &stop)
{
    pollFor([&] { return q->count.load(std::memory_order_acquire) > 0 || stop.load(); });
    lockEnter(&q->lock);
    while (q->count.load(std::memory_order_relaxed) == 0 && !stop.load())
        condWait(&q->changed, &q->lock);
    H265D_JOB *job = nullptr;
    const int32_t n = q->count.load(std::memory_order_relaxed);
    if (n > 0) {
        job = q->items[0];
        memmove(q->items, q->items + 1, sizeof(q->items[0]) * (size_t)n);
        q->count.store(n - 1);
        condBroadcast(&q->changed);
    }
    lockLeave(&q->lock);
    return job;
}

H265D_JOB *queueTake(H265D_JOB_QUEUE *q, H265D_WORKER_CTX *arg)
{
    bool polled = false;
    lockEnter(&q->lock);
    for (;;) {
        const int32_t n = q->count.load(std::memory_order_relaxed);
        for (int32_t i = 0; i < n; i++) {
            if (q->items[i]->arg != arg)
                continue;
            H265D_JOB *job = q->items[i];
            memmove(q->items + i, q->items + i + 1, sizeof(q->items[0]) * (size_t)(n - i));
            q->count.store(n - 1);
            condBroadcast(&q->changed);
            lockLeave(&q->lock);
            return job;
        }
        if (polled) {
            condWait(&q->changed, &q->lock);
            continue;
        }
        /* Not there yet: poll for the next job to finish before sleeping. */
        const uint32_t seen = q->pushes.load(std::memory_order_relaxed);
        lockLeave(&q->lock);
        polled = !pollFor([&] { return q->pushes.load(std::memory_order_acquire) != seen; });
        lockEnter(&q->lock);
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

/* Runs the rows dealt to a context one after the other, so that its
 * worker goes on with its next row at once rather than through the
 * caller's thread. Every row ends through its guard, aborted or not, so
 * nobody waits for a row that never ran. */
int32_t dealtRowsJob(H265D_WORKER_CTX *ctx)
{
    int32_t result = 0;
    for (int32_t row = ctx->dealtRow; row < ctx->dealtEnd; row += ctx->dealtStep) {
        ctx->row = row;
        ctx->firstRow = row == ctx->dealtFirst;
        ctx->lastRow = row + 1 == ctx->dealtEnd;
        ctx->go = 0;
        ctx->progress = -1;
        const int32_t r = rowJob(ctx);
        /* An error outranks an early end; the first error is kept. */
        if (r != 0 && (result == 0 || result == H265D_JOBS_EARLY_END))
            result = r;
    }
    return result;
}

/* Deals rows [firstRow, endRow) round-robin over the contexts in use, one
 * job per context, and waits for every job. */
int32_t dealRows(H265D_WORKERS *ws, const H265D_ROW_OPS *ops, int32_t firstRow, int32_t endRow, int32_t firstCol,
                 int32_t lastCol, int32_t wholeRow)
{
    if (endRow - firstRow <= 0 || endRow > ws->rowCount - 1 || lastCol < firstCol)
        return H265D_ERR_SLICE_DATA;
    ws->pictureAbort.store(0);
    for (int32_t i = 0; i < H265D_WORKER_COUNT; i++)
        ws->ctx[i]->abort = 0;
    for (int32_t i = 0; i < ws->rowCount; i++) {
        H265D_ROW_SYNC *s = &ws->rowSync[i];
        s->progress.store(0, std::memory_order_relaxed);
        s->parsed.store(0, std::memory_order_relaxed);
        s->progressWanted.store(0, std::memory_order_relaxed);
        s->parsedWanted.store(0, std::memory_order_relaxed);
    }
    int32_t result = 0;
    auto collect = [&](H265D_WORKER_CTX *c) {
        const int32_t r = waitJob(ws, c);
        c->inFlight = 0;
        /* An error outranks an early end; the first error is kept. */
        if (r != 0 && (result == 0 || result == H265D_JOBS_EARLY_END))
            result = r;
    };
    const int32_t lanes = std::min(ws->lanes, endRow - firstRow);
    /* Every row's context is known before any job starts: rows wait on the
     * context of the row above. */
    for (int32_t row = firstRow; row < endRow; row++)
        ws->rowCtx[row] = ws->ctx[(ws->lastCtx + 1 + (row - firstRow)) % ws->lanes];
    for (int32_t i = 0; i < lanes; i++) {
        H265D_WORKER_CTX *ctx = ws->rowCtx[firstRow + i];
        ctx->dealtRow = firstRow + i;
        ctx->dealtStep = lanes;
        ctx->dealtEnd = endRow;
        ctx->dealtFirst = firstRow;
        ctx->firstCol = firstCol;
        ctx->lastCol = lastCol;
        ctx->wholeRow = wholeRow;
        ctx->ops = ops;
        /* The job sees these through the queue's lock. */
        postJob(ws, dealtRowsJob, ctx);
        ctx->inFlight = 1;
    }
    ws->lastCtx = ws->rowCtx[endRow - 1]->index;
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

namespace {

/* Sets a row's word and wakes the row below when it sleeps on a target
 * now reached. The word is stored before `wanted` is read, and a waiter
 * stores `wanted` before it reads the word (both sequentially consistent),
 * so one of the two always sees the other: no wake-up is lost. */
void publishRow(std::atomic<int32_t> &word, std::atomic<int32_t> &wanted, int32_t value, H265D_LOCK *lock,
                H265D_COND *cond)
{
    word.store(value);
    const int32_t want = wanted.load();
    if (want != 0 && value >= want) {
        lockEnter(lock);
        condBroadcast(cond);
        lockLeave(lock);
    }
}

/* Waits until ready() holds, polling first, then asleep on the row above's
 * condition with `target` left in `wanted`. */
template <typename Ready>
void waitRow(std::atomic<int32_t> &wanted, int32_t target, H265D_LOCK *lock, H265D_COND *cond, Ready ready)
{
    if (pollFor(ready))
        return;
    lockEnter(lock);
    wanted.store(target);
    while (!ready())
        condWait(cond, lock);
    wanted.store(0);
    lockLeave(lock);
}

} // namespace

void signalGo(H265D_WORKER_CTX *ctx)
{
    ctx->go = 1;
    H265D_ROW_SYNC *s = &ctx->ws->rowSync[ctx->row];
    publishRow(s->parsed, s->parsedWanted, H265D_ROW_FINISHED, &ctx->goLock, &ctx->goCond);
}

void publishParsed(H265D_WORKER_CTX *ctx, int32_t parsed)
{
    H265D_ROW_SYNC *s = &ctx->ws->rowSync[ctx->row];
    publishRow(s->parsed, s->parsedWanted, parsed, &ctx->goLock, &ctx->goCond);
}

int32_t waitGo(H265D_WORKER_CTX *ctx, int32_t col)
{
    H265D_WORKERS *ws = ctx->ws;
    H265D_WORKER_CTX *above = rowAbove(ctx);
    H265D_ROW_SYNC *s = &ws->rowSync[ctx->row - 1];
    /* The row above's CTU col + 1 holds the neighbours and, at col 0, the
     * entropy state this row starts from. An aborted picture ends the wait
     * too, whoever aborted it (the row above then sets its go flag soon). */
    const int32_t target = ctx->ops->wavefrontParse ? col - ctx->firstCol + 2 : H265D_ROW_FINISHED;
    waitRow(s->parsedWanted, target, &above->goLock, &above->goCond,
            [&] { return s->parsed.load() >= target || ws->pictureAbort.load(); });
    return ws->pictureAbort.load() ? -1 : 0;
}

void publishProgress(H265D_WORKER_CTX *ctx, int32_t done, int32_t finished)
{
    ctx->progress = done + (finished ? H265D_ROW_FINISHED : 0);
    H265D_ROW_SYNC *s = &ctx->ws->rowSync[ctx->row];
    publishRow(s->progress, s->progressWanted, ctx->progress, &ctx->progressLock, &ctx->progressCond);
}

int32_t waitRowAbove(H265D_WORKER_CTX *ctx, int32_t col)
{
    H265D_WORKERS *ws = ctx->ws;
    H265D_WORKER_CTX *above = rowAbove(ctx);
    H265D_ROW_SYNC *s = &ws->rowSync[ctx->row - 1];
    /* CTU col + 2 of the row above is finished once that row's count of
     * finished CTUs passes it; the whole row always counts. */
    const int32_t target = std::min(col - ctx->firstCol + 3, (int32_t)H265D_ROW_FINISHED);
    waitRow(s->progressWanted, target, &above->progressLock, &above->progressCond, [&] {
        const int32_t p = s->progress.load();
        return p >= H265D_ROW_FINISHED || p >= target;
    });
    /* A row above that ended without finishing its CTUs aborted. */
    return s->progress.load() >= H265D_ROW_FINISHED && ws->pictureAbort.load() ? -1 : 0;
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
    ws->rowSync = static_cast<H265D_ROW_SYNC *>(
        workerAlloc(ws, sizeof(H265D_ROW_SYNC) * (size_t)ws->rowCount, alignof(H265D_ROW_SYNC)));
    for (int32_t i = 0; ws->rowSync && i < ws->rowCount; i++)
        new (&ws->rowSync[i]) H265D_ROW_SYNC();
    ws->rowCtx = static_cast<H265D_WORKER_CTX **>(workerAlloc(ws, sizeof(void *) * (size_t)ws->rowCount));
    queueInit(&ws->freeJobs);
    queueInit(&ws->pending);
    queueInit(&ws->finished);
    ws->locksReady = 1;
    for (int32_t i = 0; i < H265D_QUEUE_CAPACITY; i++)
        queuePush(&ws->freeJobs, &ws->records[i]);
    ws->lastCtx = H265D_WORKER_COUNT - 1;
    ws->lanes = H265D_WORKER_COUNT;
    bool ok = ws->rowSync && ws->rowCtx;
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
    free(ws->rowSync);
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

} // namespace h265d
