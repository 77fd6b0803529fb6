/* Worker threads of a threaded instance: a pool of four threads fed through
 * three small job queues, four worker contexts used round-robin, and the
 * row synchronisation that lets CTU rows run as a wavefront.
 *
 * Ordering: a row parses after the row above has parsed its last CTU (the
 * go flag) or, when the rows' entropy states start where the stream says
 * (wavefrontParse), CTU (r, c) parses once row r - 1 has parsed CTU c + 1;
 * CTU (r, c) is reconstructed and filtered after row r - 1 has finished
 * CTU c + 2 or the whole row. Every job ends through one guard that
 * publishes its final progress and go flag (and, on failure, the abort
 * flags), so no waiter is left asleep whatever path a job takes. */
#ifndef H265D_WORKERS_H
#define H265D_WORKERS_H

#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include "thread.h"

namespace h265d {

#define H265D_WORKER_COUNT   4
#define H265D_QUEUE_CAPACITY 4
/* Added to a row's progress once the whole row is finished. */
#define H265D_ROW_FINISHED 10000
/* Submitter result: a row job met the end of its slice segment before the
 * end of its row; the picture must be decoded again on the serial path. */
#define H265D_JOBS_EARLY_END 1

struct H265D_WORKERS;
struct H265D_WORKER_CTX;

typedef int32_t (*H265D_JOB_FXN)(H265D_WORKER_CTX *ctx);

struct H265D_JOB
{
    H265D_JOB_FXN fn;
    H265D_WORKER_CTX *arg;
    int32_t result;
};

struct H265D_JOB_QUEUE
{
    H265D_JOB *items[H265D_QUEUE_CAPACITY + 1]; /* null-terminated */
    /* Changed under the lock; read without it by waiters that poll
     * before they sleep. */
    std::atomic<int32_t> count;
    std::atomic<uint32_t> pushes;
    H265D_LOCK lock;
    H265D_COND changed; /* something was added or taken */
};

/* One CTB row's progress, on a cache line of its own: the row's worker
 * writes it at every CTU while the row below polls it, and the workers of
 * neighbouring rows must not take each other's lines away. A waiter that
 * goes to sleep leaves what it waits for, so that the row wakes it only
 * once that is reached. */
struct alignas(64) H265D_ROW_SYNC
{
    std::atomic<int32_t> progress;       /* CTUs finished, + H265D_ROW_FINISHED when done */
    std::atomic<int32_t> parsed;         /* CTUs parsed; H265D_ROW_FINISHED is the go flag */
    std::atomic<int32_t> progressWanted; /* a sleeping waiter's target, 0 for none */
    std::atomic<int32_t> parsedWanted;
};

/* What a row job does with its CTUs; supplied by the CTU drivers. The parse
 * reports end_of_slice_segment_flag through endOfSlice. */
struct H265D_ROW_OPS
{
    int32_t (*parseCtu)(H265D_WORKER_CTX *ctx, int32_t col, int32_t *endOfSlice);
    int32_t (*reconstructCtu)(H265D_WORKER_CTX *ctx, int32_t col);
    void *user;
    /* Per CTB row: 1 when the row's first CTU starts an independent slice
     * segment, so that it parses at once; null: only the first row does. */
    const uint8_t *independentRows;
    /* 1: a row takes its entropy state from the row above's second CTU and
     * its data from its own entry point, so it need not wait for the row
     * above to finish parsing. */
    int32_t wavefrontParse;
};

struct H265D_WORKER_CTX
{
    H265D_WORKERS *ws;
    int32_t index;
    /* the job in hand */
    int32_t row;      /* CTB row of the picture */
    int32_t firstCol; /* columns [firstCol, lastCol] */
    int32_t lastCol;
    int32_t firstRow; /* no row above to wait for */
    int32_t lastRow;
    int32_t wholeRow; /* the job covers the full picture width */
    int32_t col;      /* CTU in hand */
    int32_t progress; /* CTUs finished, -1 before the job starts */
    int32_t go;
    int32_t abort;
    int32_t inFlight; /* posted and not yet waited for (caller's thread only) */
    /* the rows dealt to this context: dealtRow, + dealtStep, ... below
     * dealtEnd, of a picture (or tile) whose rows start at dealtFirst */
    int32_t dealtRow;
    int32_t dealtStep;
    int32_t dealtEnd;
    int32_t dealtFirst;
    const H265D_ROW_OPS *ops;
    /* go and progress of this context's rows; waiters of the row below
     * sleep on these */
    H265D_LOCK goLock;
    H265D_COND goCond;
    H265D_LOCK progressLock;
    H265D_COND progressCond;
    void *user; /* the CTU drivers' per-context decoding state */
};

struct H265D_WORKERS
{
    std::atomic<int32_t> stop;
    int32_t threadCount;
    H265D_THREAD threads[H265D_WORKER_COUNT];
    void (*init)(void *arg);
    void *initArg;
    H265D_JOB records[H265D_QUEUE_CAPACITY];
    H265D_JOB_QUEUE freeJobs; /* a stack */
    H265D_JOB_QUEUE pending;  /* taken from the front */
    H265D_JOB_QUEUE finished; /* searched by argument */
    H265D_WORKER_CTX *ctx[H265D_WORKER_COUNT];
    int32_t lastCtx; /* round-robin */
    int32_t lanes;   /* contexts in use (fewer when pictures have fewer rows) */
    std::atomic<int32_t> pictureAbort;
    /* Per CTB row, written by the row's job: its progress and go flag, and
     * which context holds the row (whose locks a waiter sleeps on). Rows
     * stay readable after a context moves on. */
    int32_t rowCount; /* (H64 / 16) + 1 */
    H265D_ROW_SYNC *rowSync;
    H265D_WORKER_CTX **rowCtx;
    size_t bytes; /* heap bytes held, for the benchmark */
    int32_t locksReady;
};

/* Zero-filled, 16-byte (or `align`) aligned memory from the runtime heap,
 * counted in ws. */
void *workerAlloc(H265D_WORKERS *ws, size_t size, size_t align = 16);

/* Sets up the pool, its four threads and four contexts for pictures of up
 * to h64 luma rows. 0, or -1 with everything freed and *out null. */
int32_t createWorkerState(H265D_WORKERS **out, uint32_t h64);
/* Stops the threads and frees everything; null is fine. */
void stopWorkers(H265D_WORKERS *ws);

int32_t postJob(H265D_WORKERS *ws, H265D_JOB_FXN fn, H265D_WORKER_CTX *arg);
int32_t waitJob(H265D_WORKERS *ws, H265D_WORKER_CTX *arg);

void signalGo(H265D_WORKER_CTX *ctx);
/* The row in hand has parsed `parsed` CTUs. */
void publishParsed(H265D_WORKER_CTX *ctx, int32_t parsed);
/* Returns 0 once the row above may be followed in parsing CTU col (all of
 * it parsed, or CTU col + 1 with ops->wavefrontParse), -1 when the picture
 * was aborted meanwhile. */
int32_t waitGo(H265D_WORKER_CTX *ctx, int32_t col);
void publishProgress(H265D_WORKER_CTX *ctx, int32_t done, int32_t finished);
/* Returns 0 once the row above has finished CTU col + 2 (or the row), -1
 * when the picture was aborted meanwhile. */
int32_t waitRowAbove(H265D_WORKER_CTX *ctx, int32_t col);

/* Deals CTB rows [0, rows) over columns [firstCol, lastCol] round-robin to
 * the contexts (one job per context runs its rows in turn) and waits for
 * all of them. 0, the first job error, or H265D_JOBS_EARLY_END. */
int32_t submitRowJobs(H265D_WORKERS *ws, const H265D_ROW_OPS *ops, int32_t rows, int32_t firstCol, int32_t lastCol,
                      int32_t picWidthInCtbs);
/* Deals rows over the first `lanes` contexts only (1..4). */
void setWorkerLanes(H265D_WORKERS *ws, int32_t lanes);
/* Slice-row jobs: rows [0, rows) over the whole width; a row that starts an
 * independent slice segment (ops->independentRows) parses without waiting
 * for the row above, every row reconstructs behind the row above. */
int32_t submitSliceRowJobs(H265D_WORKERS *ws, const H265D_ROW_OPS *ops, int32_t rows, int32_t picWidthInCtbs);
/* One tile: its CTB rows [firstRow, endRow) over the tile's columns, waited
 * for before returning, so that tiles never run side by side. */
int32_t submitTileRowJobs(H265D_WORKERS *ws, const H265D_ROW_OPS *ops, int32_t firstRow, int32_t endRow,
                          int32_t firstCol, int32_t lastCol);

} // namespace h265d

#endif
