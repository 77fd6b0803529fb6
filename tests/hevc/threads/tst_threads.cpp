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
};

QTEST_GUILESS_MAIN(TestThreads)
#include "tst_threads.moc"
