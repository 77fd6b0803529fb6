#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

#include "../common/frames.h"
#include "device/qcringbuffer.h"

namespace {

bool push(qcRingBuffer &rb, const QByteArray &a)
{
    return rb.push(reinterpret_cast<const unsigned char *>(a.constData()), unsigned(a.size()));
}

QByteArray pop(qcRingBuffer &rb, int max = 65536, uint64_t *seq = nullptr)
{
    QByteArray out(max, 0);
    unsigned int len = 0;
    if (!rb.pop(reinterpret_cast<unsigned char *>(out.data()), max, &len, seq))
        return QByteArray();
    return out.left(int(len));
}

} // namespace

class TestRingBuffer : public QObject
{
    Q_OBJECT
private slots:
    void allocateLimits()
    {
        qcRingBuffer rb;
        QVERIFY(!rb.push(reinterpret_cast<const unsigned char *>("x"), 1));
        QCOMPARE(rb.freeSpace(), -1);
        QVERIFY(!rb.allocate(1024, false));
        QVERIFY(!rb.allocate(174063617, false));
        QVERIFY(rb.allocate(1025, false));
        QVERIFY(!rb.allocate(2048, false));
        QCOMPARE(rb.freeSpace(), 1025);
        rb.release();
        QVERIFY(!rb.isAllocated());
        QCOMPARE(rb.count(), 0);
        QVERIFY(!push(rb, "abc"));
        QVERIFY(rb.allocate(4096, false));
        QVERIFY(push(rb, "abc"));
        QCOMPARE(pop(rb), QByteArray("abc"));
    }

    // The record starts from 20 bytes before the end of the store up to the
    // end, so that marker, length, sequence and payload each get split.
    void wrapAtEveryPosition_data()
    {
        QTest::addColumn<int>("offsetFromEnd");
        for (int i = 0; i <= 20; ++i)
            QTest::newRow(qPrintable(QString::number(i))) << i;
    }
    void wrapAtEveryPosition()
    {
        QFETCH(int, offsetFromEnd);
        const int cap = 2048;
        qcRingBuffer rb;
        QVERIFY(rb.allocate(cap, false));
        // Move the positions so that the next record starts offsetFromEnd
        // bytes before the end.
        int filler = cap - offsetFromEnd - 16;
        int first = filler / 2;
        QVERIFY(push(rb, frames::pattern(first, 1)));
        QVERIFY(push(rb, frames::pattern(filler - first - 16, 2)));
        QCOMPARE(pop(rb), frames::pattern(first, 1));
        QCOMPARE(pop(rb), frames::pattern(filler - first - 16, 2));
        QCOMPARE(rb.freeSpace(), cap);
        const QByteArray rec = frames::pattern(100, 3);
        QVERIFY(push(rb, rec));
        QVERIFY(push(rb, frames::pattern(7, 4)));
        uint64_t seq = 0;
        QCOMPARE(pop(rb, 65536, &seq), rec);
        QCOMPARE(seq, uint64_t(2));
        QCOMPARE(pop(rb, 65536, &seq), frames::pattern(7, 4));
        QCOMPARE(seq, uint64_t(3));
        QCOMPARE(rb.count(), 0);
        QCOMPARE(rb.freeSpace(), cap);
    }

    void overwriteDropsJustEnough()
    {
        qcRingBuffer rb;
        QVERIFY(rb.allocate(1100, true));
        for (int i = 0; i < 10; ++i)
            QVERIFY(push(rb, frames::pattern(84, i))); // 100 bytes each
        QCOMPARE(rb.freeSpace(), 100);
        QVERIFY(push(rb, frames::pattern(250, 10))); // needs 266: drops two
        QCOMPARE(rb.count(), 9);
        QCOMPARE(rb.freeSpace(), 100 + 200 - 266);
        QCOMPARE(pop(rb), frames::pattern(84, 2));
    }

    void fullWithoutOverwriteChangesNothing()
    {
        qcRingBuffer rb;
        QVERIFY(rb.allocate(1100, false));
        for (int i = 0; i < 10; ++i)
            QVERIFY(push(rb, frames::pattern(84, i)));
        QVERIFY(!push(rb, frames::pattern(85, 99)));
        QCOMPARE(rb.count(), 10);
        QCOMPARE(rb.freeSpace(), 100);
        for (int i = 0; i < 10; ++i)
            QCOMPARE(pop(rb), frames::pattern(84, i));
    }

    void recordSizeLimits()
    {
        qcRingBuffer rb;
        QVERIFY(rb.allocate(10485760 + 16, false));
        QByteArray big(10485760, 'x');
        QVERIFY(push(rb, big));
        QCOMPARE(rb.freeSpace(), 0);
        rb.clear();
        QByteArray tooBig(10485761, 'y');
        QVERIFY(!push(rb, tooBig));
        QVERIFY(!rb.push(reinterpret_cast<const unsigned char *>("x"), 0));

        qcRingBuffer small;
        QVERIFY(small.allocate(2000, true));
        QVERIFY(!push(small, frames::pattern(1985, 0))); // 16 + 1985 > 2000, even with overwrite
        QVERIFY(push(small, frames::pattern(1984, 0)));
    }

    void tooSmallPopKeepsRecord()
    {
        qcRingBuffer rb;
        QVERIFY(rb.allocate(4096, false));
        QVERIFY(push(rb, frames::pattern(50, 1)));
        QVERIFY(push(rb, frames::pattern(20, 2)));
        unsigned char small[10];
        unsigned int len = 0;
        QVERIFY(!rb.pop(small, sizeof small, &len));
        QCOMPARE(len, 50u);
        QCOMPARE(rb.count(), 2);
        QCOMPARE(rb.freeSpace(), 4096 - 66 - 36);
        QCOMPARE(pop(rb), frames::pattern(50, 1));
        QCOMPARE(pop(rb), frames::pattern(20, 2));
        QCOMPARE(rb.count(), 0);
        QCOMPARE(rb.freeSpace(), 4096);
    }

    void clearRestartsSequence()
    {
        qcRingBuffer rb;
        QVERIFY(rb.allocate(4096, false));
        QVERIFY(push(rb, "a"));
        QVERIFY(push(rb, "b"));
        rb.clear();
        QCOMPARE(rb.count(), 0);
        QVERIFY(push(rb, "c"));
        uint64_t seq = 99;
        QCOMPARE(pop(rb, 100, &seq), QByteArray("c"));
        QCOMPARE(seq, uint64_t(0));
    }

    void corruptedMarkerClears()
    {
        qcRingBuffer rb;
        QVERIFY(rb.allocate(2048, false));
        QVERIFY(push(rb, frames::pattern(40, 1)));
        QVERIFY(push(rb, frames::pattern(40, 2)));
        QVERIFY(pop(rb).size() == 40);
        // Break the only queued record's marker: nothing to resynchronise on.
        rb.m_store[rb.m_readPos + 1] = 0;
        QVERIFY(pop(rb).isEmpty());
        QCOMPARE(rb.count(), 0);
        QCOMPARE(rb.freeSpace(), 2048);
        QVERIFY(push(rb, frames::pattern(10, 3)));
        QCOMPARE(pop(rb), frames::pattern(10, 3));
    }

    void twoProducersOneConsumerAndClear()
    {
        qcRingBuffer rb;
        QVERIFY(rb.allocate(64 * 1024, true));
        std::atomic<bool> done{false};
        auto producer = [&](int id) {
            uint32_t n = 0;
            while (!done) {
                const int len = 12 + int(n % 300);
                QByteArray a(len, 0);
                qToLittleEndian<quint32>(uint32_t(id), a.data());
                qToLittleEndian<quint32>(n, a.data() + 4);
                uint32_t sum = 0;
                for (int i = 12; i < len; ++i) {
                    a[i] = char((n * 7 + i) & 0xFF);
                    sum += uchar(a[i]);
                }
                qToLittleEndian<quint32>(sum, a.data() + 8);
                push(rb, a);
                ++n;
            }
        };
        std::thread p1(producer, 1), p2(producer, 2);
        std::thread clearer([&] {
            while (!done) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                rb.clear();
            }
        });
        int64_t last[3] = {-1, -1, -1};
        int popped = 0;
        bool whole = true, ordered = true;
        QElapsedTimer t;
        t.start();
        std::vector<unsigned char> out(1024);
        while (t.elapsed() < 2000) {
            unsigned int len = 0;
            if (!rb.pop(out.data(), int(out.size()), &len)) {
                std::this_thread::yield();
                continue;
            }
            ++popped;
            const uint32_t id = qFromLittleEndian<quint32>(out.data());
            const uint32_t n = qFromLittleEndian<quint32>(out.data() + 4);
            uint32_t sum = 0;
            for (unsigned i = 12; i < len; ++i)
                sum += out[i];
            if (id < 1 || id > 2 || len != 12 + n % 300 || sum != qFromLittleEndian<quint32>(out.data() + 8)) {
                whole = false;
                break;
            }
            if (int64_t(n) <= last[id])
                ordered = false;
            last[id] = n;
        }
        done = true;
        p1.join();
        p2.join();
        clearer.join();
        QVERIFY(whole);
        QVERIFY(ordered);
        QVERIFY(popped > 100);
    }
};

QTEST_GUILESS_MAIN(TestRingBuffer)
#include "tst_ring.moc"
