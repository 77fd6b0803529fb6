/* The small thread layer under the decoder's workers: threads with join,
 * locks, and condition variables with wait and broadcast.
 *
 * The records are plain storage so that they can live inside memory the
 * decoder allocates itself; lockInit and condInit construct them there and
 * must run when their owner is created (a lock is never made on first use,
 * which would race when two threads enter first together). Every condWait
 * belongs in a loop on its predicate. */
#ifndef H265D_THREAD_H
#define H265D_THREAD_H

#include <condition_variable>
#include <mutex>
#include <thread>

namespace h265d {

typedef void *(*ThreadStartFxn)(void *arg);

struct H265D_THREAD
{
    alignas(std::thread) unsigned char storage[sizeof(std::thread)];
    ThreadStartFxn start;
    void *arg;
    void *result; /* what the start function returned */
    int running;  /* started and not joined yet */
};

struct H265D_LOCK
{
    alignas(std::mutex) unsigned char storage[sizeof(std::mutex)];
};

struct H265D_COND
{
    alignas(std::condition_variable) unsigned char storage[sizeof(std::condition_variable)];
};

/* 0 when started, 1 when the thread could not be started. */
int threadCreate(H265D_THREAD *t, const void *attr, ThreadStartFxn start, void *arg);
/* Waits for the thread; -1 when it was never started or already joined. */
int threadJoin(H265D_THREAD *t, void **result);

int lockInit(H265D_LOCK *l);
void lockDestroy(H265D_LOCK *l);
void lockEnter(H265D_LOCK *l);
void lockLeave(H265D_LOCK *l);

int condInit(H265D_COND *c);
void condDestroy(H265D_COND *c);
void condBroadcast(H265D_COND *c);
/* The caller holds l; it is released while sleeping and held again on return. */
int condWait(H265D_COND *c, H265D_LOCK *l);

int threadLibraryInit(void);
void threadLibraryExit(void);
/* Runs threadLibraryInit once per process, whoever calls first; a caller
 * returns only after that first run has finished. Returns its result. */
int threadLibrarySetUp(void);

/* Test hooks: how often threadLibraryInit ran, and making threadCreate
 * fail as if the system had refused the thread: after the next `after`
 * calls succeed, `count` calls fail. */
int threadLibraryInitCount(void);
void threadFailNextCreates(int count, int after = 0);

} // namespace h265d

#endif
