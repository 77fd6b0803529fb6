#include <QtTest>

#include <atomic>
#include <stdlib.h>
#include <thread>
#include <vector>

#include "../common/h265_streams.h"
#include "hevc/thread.h"

using namespace h265d;

using namespace h265test;

namespace {

/* Records live in zeroed heap memory, as inside a decoder instance. */
template <typename T>
T *zeroed(size_t n = 1)
{
    return static_cast<T *>(calloc(n, sizeof(T)));
}

void *returnArgPlusOne(void *arg)
{
    return static_cast<char *>(arg) + 1;
}

struct Turns
{
    H265D_LOCK lock;
    H265D_COND cond;
    long turn; /* whose turn: turn % threads */
    long rounds;
    int threads;
};

struct TurnArg
{
    Turns *t;
    int id;
};

/* Each thread waits for its turn, takes it and wakes everyone: a lost
 * wake-up leaves every thread asleep and the test runs into its timeout. */
void *takeTurns(void *p)
{
    TurnArg *a = static_cast<TurnArg *>(p);
    Turns *t = a->t;
    for (;;) {
        lockEnter(&t->lock);
        while (t->turn < t->rounds && t->turn % t->threads != a->id)
            condWait(&t->cond, &t->lock);
        if (t->turn >= t->rounds) {
            lockLeave(&t->lock);
            return nullptr;
        }
        t->turn++;
        condBroadcast(&t->cond);
        lockLeave(&t->lock);
    }
}

int32_t createThreaded(void **h)
{
    H265D_INIT_PARAM p = initParam();
    p.eThreadType = 1;
    return H265D_Create(h, &p);
}

} // namespace

class TestThreads : public QObject
{
    Q_OBJECT

private slots:
    /* Runs first: nothing in this process has touched the layer yet. */
    void libraryIsSetUpOnceByThreadedDecoders()
    {
        QCOMPARE(threadLibraryInitCount(), 0);
        {
            Decoder serial;
            QVERIFY(serial.h);
        }
        QCOMPARE(threadLibraryInitCount(), 0);

        void *a = nullptr, *b = nullptr;
        QCOMPARE(createThreaded(&a), H265D_OK);
        QCOMPARE(H265D_Delete(a), H265D_OK);
        QCOMPARE(createThreaded(&b), H265D_OK);
        QCOMPARE(H265D_Delete(b), H265D_OK);
        QCOMPARE(threadLibraryInitCount(), 1);

        std::atomic<int> ok{0};
        std::vector<std::thread> ts;
        for (int i = 0; i < 2; i++)
            ts.emplace_back([&ok] {
                void *h = nullptr;
                if (createThreaded(&h) == H265D_OK && H265D_Delete(h) == H265D_OK)
                    ok++;
            });
        for (std::thread &t : ts)
            t.join();
        QCOMPARE(ok.load(), 2);
        QCOMPARE(threadLibraryInitCount(), 1);
        QCOMPARE(threadLibrarySetUp(), 0);
        QCOMPARE(threadLibraryInitCount(), 1);
    }

    void joinReturnsTheStartFunctionsResult()
    {
        H265D_THREAD *t = zeroed<H265D_THREAD>();
        char base[4];
        QCOMPARE(threadCreate(t, nullptr, returnArgPlusOne, base), 0);
        void *result = nullptr;
        QCOMPARE(threadJoin(t, &result), 0);
        QCOMPARE(result, static_cast<void *>(base + 1));
        QCOMPARE(threadJoin(t, &result), -1); /* joined already */
        /* The record can start the next thread; a null result slot is fine. */
        QCOMPARE(threadCreate(t, nullptr, returnArgPlusOne, base + 1), 0);
        QCOMPARE(threadJoin(t, nullptr), 0);
        QCOMPARE(t->result, static_cast<void *>(base + 2));
        free(t);
    }

    void createFailureIsReported()
    {
        H265D_THREAD *t = zeroed<H265D_THREAD>(2);
        threadFailNextCreates(1);
        QCOMPARE(threadCreate(&t[0], nullptr, returnArgPlusOne, nullptr), 1);
        QCOMPARE(threadJoin(&t[0], nullptr), -1); /* nothing to join */
        QCOMPARE(threadCreate(&t[1], nullptr, returnArgPlusOne, nullptr), 0);
        QCOMPARE(threadJoin(&t[1], nullptr), 0);
        free(t);
    }

    void waitReleasesTheLockWhileAsleep()
    {
        Turns *t = zeroed<Turns>();
        QCOMPARE(lockInit(&t->lock), 0);
        QCOMPARE(condInit(&t->cond), 0);
        std::atomic<bool> waiting{false};
        std::thread waiter([&] {
            lockEnter(&t->lock);
            waiting = true;
            while (t->turn == 0)
                condWait(&t->cond, &t->lock);
            t->turn = 2; /* the lock is held again here */
            lockLeave(&t->lock);
        });
        while (!waiting)
            std::this_thread::yield();
        lockEnter(&t->lock); /* only possible once the waiter sleeps */
        t->turn = 1;
        condBroadcast(&t->cond);
        lockLeave(&t->lock);
        waiter.join();
        QCOMPARE(t->turn, 2L);
        condDestroy(&t->cond);
        lockDestroy(&t->lock);
        free(t);
    }

    void noLostWakeUpBetweenFourThreads()
    {
        Turns *t = zeroed<Turns>();
        QCOMPARE(lockInit(&t->lock), 0);
        QCOMPARE(condInit(&t->cond), 0);
        t->threads = 4;
        t->rounds = 100000;
        H265D_THREAD *th = zeroed<H265D_THREAD>(4);
        TurnArg args[4];
        for (int i = 0; i < 4; i++) {
            args[i] = {t, i};
            QCOMPARE(threadCreate(&th[i], nullptr, takeTurns, &args[i]), 0);
        }
        for (int i = 0; i < 4; i++)
            QCOMPARE(threadJoin(&th[i], nullptr), 0);
        QCOMPARE(t->turn, 100000L);
        condDestroy(&t->cond);
        lockDestroy(&t->lock);
        free(th);
        free(t);
    }
};

QTEST_GUILESS_MAIN(TestThreads)
#include "tst_threads.moc"
