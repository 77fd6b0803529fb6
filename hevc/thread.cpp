#include "thread.h"

#include <atomic>
#include <new>
#include <system_error>

namespace h265d {

namespace {

std::thread &threadOf(H265D_THREAD *t)
{
    return *std::launder(reinterpret_cast<std::thread *>(t->storage));
}

std::mutex &mutexOf(H265D_LOCK *l)
{
    return *std::launder(reinterpret_cast<std::mutex *>(l->storage));
}

std::condition_variable &condOf(H265D_COND *c)
{
    return *std::launder(reinterpret_cast<std::condition_variable *>(c->storage));
}

std::once_flag g_once;
int g_initResult = 0;
std::atomic<int> g_initCount{0};
std::mutex g_failMutex;
int g_failCreates = 0;
int g_failAfter = 0;

} // namespace

int threadCreate(H265D_THREAD *t, const void *, ThreadStartFxn start, void *arg)
{
    t->start = start;
    t->arg = arg;
    t->result = nullptr;
    t->running = 0;
    {
        std::lock_guard<std::mutex> hold(g_failMutex);
        if (g_failAfter > 0) {
            g_failAfter--;
        } else if (g_failCreates > 0) {
            g_failCreates--;
            return 1;
        }
    }
    try {
        new (t->storage) std::thread([t] { t->result = t->start(t->arg); });
    } catch (const std::system_error &) {
        return 1;
    }
    t->running = 1;
    return 0;
}

int threadJoin(H265D_THREAD *t, void **result)
{
    if (!t->running)
        return -1;
    std::thread &th = threadOf(t);
    try {
        th.join();
    } catch (const std::system_error &) {
        return -1;
    }
    th.~thread();
    t->running = 0;
    if (result)
        *result = t->result;
    return 0;
}

int lockInit(H265D_LOCK *l)
{
    new (l->storage) std::mutex();
    return 0;
}

void lockDestroy(H265D_LOCK *l)
{
    using std::mutex;
    mutexOf(l).~mutex();
}

void lockEnter(H265D_LOCK *l)
{
    mutexOf(l).lock();
}

void lockLeave(H265D_LOCK *l)
{
    mutexOf(l).unlock();
}

int condInit(H265D_COND *c)
{
    new (c->storage) std::condition_variable();
    return 0;
}

void condDestroy(H265D_COND *c)
{
    using std::condition_variable;
    condOf(c).~condition_variable();
}

void condBroadcast(H265D_COND *c)
{
    condOf(c).notify_all();
}

int condWait(H265D_COND *c, H265D_LOCK *l)
{
    std::unique_lock<std::mutex> held(mutexOf(l), std::adopt_lock);
    condOf(c).wait(held);
    held.release();
    return 0;
}

/* The standard library needs no process-wide set-up; what is left is the
 * once-only guarantee the decoders rely on. */
int threadLibraryInit(void)
{
    g_initCount.fetch_add(1);
    return 0;
}

void threadLibraryExit(void) {}

int threadLibrarySetUp(void)
{
    std::call_once(g_once, [] { g_initResult = threadLibraryInit(); });
    return g_initResult;
}

int threadLibraryInitCount(void)
{
    return g_initCount.load();
}

void threadFailNextCreates(int count, int after)
{
    std::lock_guard<std::mutex> hold(g_failMutex);
    g_failCreates = count;
    g_failAfter = after;
}

} // namespace h265d
