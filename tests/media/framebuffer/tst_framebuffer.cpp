#include <QtTest>

#include <atomic>
#include <algorithm>
#include <deque>
#include <random>
#include <thread>
#include <vector>

#include "media/qcframebuffer.h"

namespace {

constexpr uint32_t kHdr = 32;

// Counts the ring's "joined header" debug lines.
std::atomic<int> g_joints{0};
QtMessageHandler g_previous = nullptr;
void countJoints(QtMsgType type, const QMessageLogContext &ctx, const QString &msg)
{
    if (msg.contains(QLatin1String("---------Joint Package--------")))
        ++g_joints;
    else if (g_previous)
        g_previous(type, ctx, msg);
}

// A payload whose bytes depend on a tag, so a wrong or torn copy shows.
std::vector<uint8_t> payload(uint32_t length, uint32_t tag)
{
    std::vector<uint8_t> p(length);
    for (uint32_t i = 0; i < length; ++i)
        p[i] = uint8_t(tag * 131u + i * 7u + (i >> 8));
    return p;
}

bool push(qcFrameBuffer &fb, uint32_t length, uint32_t type, uint64_t ts, uint32_t tag)
{
    const auto p = payload(length, tag);
    return fb.pushFrame(p.data(), int32_t(length), type, ts);
}

struct Read
{
    bool ok = false;
    uint32_t length = 0, type = 0;
    uint64_t timestamp = 0;
    int64_t sequence = -1;
    std::vector<uint8_t> data;
};

Read read(qcFrameBuffer &fb, int64_t position, int32_t dstSize = 1 << 20, bool consume = false, int32_t nearTime = -1)
{
    Read r;
    r.data.assign(size_t(std::max(dstSize, 1)), 0);
    r.sequence = position;
    r.ok = fb.readFrame(r.data.data(), dstSize, &r.length, &r.type, &r.timestamp, &r.sequence, -1, consume, nearTime);
    if (r.ok)
        r.data.resize(r.length);
    return r;
}

} // namespace

class TestFrameBuffer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { g_previous = qInstallMessageHandler(countJoints); }

    void allocationLimits()
    {
        qcFrameBuffer fb;
        QVERIFY(!fb.allocate(0x7800000));
        QCOMPARE(fb.capacity(), 0u);
        QVERIFY(fb.allocate(4096));
        QVERIFY(!fb.allocate(4096)); // storage exists already
        QVERIFY(push(fb, 100, 1, 1, 1));
        // A format change gets the same cap as a first allocation and keeps
        // everything when refused.
        QVERIFY(!fb.reallocate(0x7800000));
        QCOMPARE(fb.capacity(), 4096u);
        QCOMPARE(read(fb, -1).length, 100u);
        QVERIFY(fb.reallocate(0x77FFFFF));
        QCOMPARE(fb.capacity(), 0x77FFFFFu);
        QCOMPARE(fb.freeBytes(), 0x77FFFFFu);
        QVERIFY(!read(fb, -1).ok); // frames dropped with the old storage
    }

    void refusalsChangeNothing()
    {
        qcFrameBuffer none;
        QVERIFY(!push(none, 10, 1, 1, 1)); // no storage yet

        qcFrameBuffer fb;
        QVERIFY(fb.allocate(0xB00000));
        QVERIFY(push(fb, 1000, 1, 5, 1));
        const uint32_t free = fb.freeBytes();
        const auto big = payload(0xA00000, 3);
        QVERIFY(!fb.pushFrame(big.data(), 0, 1, 6));
        QVERIFY(!fb.pushFrame(big.data(), -5, 1, 6));
        QVERIFY(!fb.pushFrame(big.data(), 0xA00000, 1, 6));
        QVERIFY(!fb.pushFrame(nullptr, 10, 1, 6));
        QCOMPARE(fb.freeBytes(), free);

        qcFrameBuffer small;
        QVERIFY(small.allocate(5000));
        QVERIFY(push(small, 300, 1, 1, 1));
        QVERIFY(!push(small, 5000 - 31, 1, 2, 2)); // header + payload > capacity
        QCOMPARE(small.freeBytes(), 5000u - kHdr - 300);
        QCOMPARE(read(small, -1).length, 300u);
        QVERIFY(push(small, 5000 - 32, 1, 3, 3)); // exactly the capacity
        QCOMPARE(small.freeBytes(), 0u);
        QCOMPARE(read(small, -1).data, payload(5000 - 32, 3));
    }

    void recordEndingAtRingEndRestartsAtZero()
    {
        qcFrameBuffer fb;
        QVERIFY(fb.allocate(1000));
        QVERIFY(push(fb, 500 - kHdr, 1, 1, 1));
        QVERIFY(push(fb, 500 - kHdr, 1, 2, 2)); // ends exactly at 1000
        QCOMPARE(fb.freeBytes(), 0u);
        g_joints = 0;
        QVERIFY(push(fb, 500 - kHdr, 1, 3, 3)); // evicts the first, lands at 0
        Read r = read(fb, 1);
        QCOMPARE(r.sequence, 2);
        QCOMPARE(r.data, payload(500 - kHdr, 2));
        r = read(fb, 2);
        QCOMPARE(r.sequence, 3);
        QCOMPARE(r.data, payload(500 - kHdr, 3));
        // A write position left at the end would have been read as a split header.
        QCOMPARE(g_joints.load(), 0);
    }

    void evictionKeepsInvariants()
    {
        std::mt19937 rng(12345);
        for (uint32_t capacity : {4096u, 65536u, 300007u}) {
            qcFrameBuffer fb;
            QVERIFY(fb.allocate(capacity));
            std::deque<std::pair<int64_t, uint32_t>> model; // sequence, length
            uint64_t used = 0;
            int64_t seq = 0;
            std::uniform_int_distribution<uint32_t> len(1, std::min(capacity - kHdr, 20000u));
            for (int i = 0; i < 3000; ++i) {
                const uint32_t n = len(rng);
                QVERIFY(push(fb, n, i % 7 == 0 ? 1 : 2, uint64_t(i) * 40, uint32_t(i)));
                ++seq;
                while (capacity - used < kHdr + n) {
                    used -= kHdr + model.front().second;
                    model.pop_front();
                }
                model.emplace_back(seq, n);
                used += kHdr + n;
                QCOMPARE(fb.freeBytes(), capacity - uint32_t(used));
                QCOMPARE(fb.frameCount(), int(model.size()) - 2);
                // Oldest first and contiguous: walking from before the oldest
                // yields every stored record in order, then nothing.
                if (i % 97 == 0 || i == 2999) {
                    int64_t pos = model.front().first - 1;
                    for (const auto &m : model) {
                        Read r = read(fb, pos);
                        QVERIFY(r.ok);
                        QCOMPARE(r.sequence, m.first);
                        QCOMPARE(r.length, m.second);
                        QCOMPARE(r.data, payload(m.second, uint32_t(m.first - 1)));
                        pos = r.sequence;
                    }
                    QVERIFY(!read(fb, pos).ok);
                    if (model.front().first > 2) {
                        QVERIFY(!read(fb, model.front().first - 2).ok);
                        QVERIFY(fb.positionLost(model.front().first - 2, 1 << 20));
                    }
                }
            }
        }
    }

    void readerRules()
    {
        qcFrameBuffer fb;
        QVERIFY(fb.allocate(100000));
        QVERIFY(!read(fb, -1).ok); // empty
        QVERIFY(!read(fb, 0).ok);
        QVERIFY(!fb.positionLost(0, 1 << 20)); // nothing stored, nothing lost

        QVERIFY(push(fb, 50, 2, 10, 1));
        QVERIFY(push(fb, 60, 3, 20, 2));
        QVERIFY(!read(fb, -1).ok); // no key frame stored
        QVERIFY(push(fb, 70, 1, 30, 3));
        QVERIFY(push(fb, 80, 2, 40, 4));
        QVERIFY(push(fb, 90, 1, 50, 5));
        QVERIFY(push(fb, 100, 4, 60, 6));

        Read r = read(fb, -1);
        QCOMPARE(r.sequence, 5); // the newest key frame
        QCOMPARE(r.type, 1u);
        QCOMPARE(r.length, 90u);
        QCOMPARE(r.timestamp, 50u);

        // Positioned: exactly the next one, whatever its type.
        for (int64_t p = 0; p < 6; ++p) {
            r = read(fb, p);
            QVERIFY(r.ok);
            QCOMPARE(r.sequence, p + 1);
        }
        QCOMPARE(read(fb, 5).type, 4u);
        QVERIFY(!read(fb, 6).ok); // waiting for 7
        QVERIFY(!fb.positionLost(6, 1 << 20));

        // A frame exactly the reader's size is delivered in every step.
        QCOMPARE(read(fb, 3, 80).length, 80u);
        QVERIFY(!read(fb, 3, 79).ok);
        QVERIFY(fb.positionLost(3, 79));
        QCOMPARE(read(fb, -1, 90).sequence, 5);
        QVERIFY(!read(fb, -1, 89).ok); // the newest key frame does not fit

        // A failed read leaves the position alone.
        Read miss = read(fb, 6);
        QCOMPARE(miss.sequence, 6);
        // Null pointers and an empty destination fail at once.
        uint32_t len, type;
        uint64_t ts;
        int64_t seq = -1;
        uint8_t buf[256];
        QVERIFY(!fb.readFrame(nullptr, 256, &len, &type, &ts, &seq, -1, false, -1));
        QVERIFY(!fb.readFrame(buf, 0, &len, &type, &ts, &seq, -1, false, -1));
        QVERIFY(!fb.readFrame(buf, 256, nullptr, &type, &ts, &seq, -1, false, -1));
        QVERIFY(!fb.readFrame(buf, 256, &len, &type, &ts, nullptr, -1, false, -1));
    }

    void nearTimeLookup()
    {
        qcFrameBuffer fb;
        QVERIFY(fb.allocate(100000));
        // Key frames at 1000, 3000, 5000, 7000; deltas at the seconds between.
        for (int i = 0; i < 8; ++i)
            QVERIFY(push(fb, 100, i % 2 == 0 ? 1 : 2, 1000 + uint64_t(i) * 1000, uint32_t(i)));
        // First record within 500 ms of 4600 is the one at 5000 (|−400| < 500);
        // from there the last key frame wins.
        Read r = read(fb, -1, 1 << 20, false, 4600);
        QCOMPARE(r.timestamp, 7000u);
        // Nothing within 500 ms: the newest key frame, as without nearTime.
        r = read(fb, -1, 1 << 20, false, 100000);
        QCOMPARE(r.timestamp, 7000u);
        // Only the last record is near and it is no key frame: falls back too.
        r = read(fb, -1, 1 << 20, false, 8200);
        QCOMPARE(r.timestamp, 7000u);
        // A near candidate that does not fit makes the call fail.
        QVERIFY(!read(fb, -1, 99, false, 4600).ok);
    }

    // Records 1 picture, 2 key frame, 3 picture, 4 sound, 5 picture, 6 sound,
    // 7 key frame, 8 sound: where a decoder showing them from one on begins.
    void decodeStart_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("start");
        QTest::newRow("picture without a key frame before") << 1 << -1;
        QTest::newRow("key frame") << 2 << 2;
        QTest::newRow("picture") << 3 << 2;
        QTest::newRow("sound before a picture") << 4 << 2;
        QTest::newRow("sound before a key frame") << 6 << 7;
        QTest::newRow("no picture after") << 8 << -1;
        QTest::newRow("not stored") << 9 << -1;
    }
    void decodeStart()
    {
        QFETCH(int, from);
        QFETCH(int, start);
        qcFrameBuffer fb;
        QVERIFY(fb.allocate(100000));
        const uint32_t types[] = {2, 1, 2, 4, 2, 4, 1, 4};
        for (uint32_t i = 0; i < 8; ++i)
            QVERIFY(push(fb, 100, types[i], 1000 + uint64_t(i) * 40, i));
        QCOMPARE(fb.decodeStart(from), int64_t(start));
    }

    // Timestamp steps between video frames from the first key frame on,
    // over the last deltas, clamped to 1..120; 0.0 without an average.
    void frameRateEstimate_data()
    {
        QTest::addColumn<QList<int>>("types");
        QTest::addColumn<QList<qint64>>("timestamps");
        QTest::addColumn<float>("rate");
        QTest::newRow("nothing") << QList<int>{} << QList<qint64>{} << 0.0f;
        QTest::newRow("one delta") << QList<int>{1, 2} << QList<qint64>{1000, 1040} << 0.0f;
        QTest::newRow("audio counts for nothing")
            << QList<int>{1, 2, 4, 2} << QList<qint64>{1000, 1040, 1045, 1080} << 25.0f;
        QTest::newRow("before the first key frame")
            << QList<int>{2, 3, 1, 2, 2} << QList<qint64>{500000, 600000, 1000, 1100, 1200} << 10.0f;
        QTest::newRow("equal timestamps")
            << QList<int>{1, 2, 2, 2, 2} << QList<qint64>{7000, 7000, 7000, 7000, 7000} << 0.0f;
        QTest::newRow("250 clamped") << QList<int>{1, 2, 2, 2, 2, 2}
                                     << QList<qint64>{7000, 7000, 7000, 7000, 7000, 7020} << 120.0f;
        // 101 deltas of 86,000,000 ms would overflow a 32-bit sum.
        QList<int> types{1};
        QList<qint64> ts{1};
        for (int i = 0; i < 101; ++i) {
            types << 2;
            ts << ts.last() + 86000000;
        }
        QTest::newRow("long deltas") << types << ts << 1.0f;
    }
    void frameRateEstimate()
    {
        QFETCH(QList<int>, types);
        QFETCH(QList<qint64>, timestamps);
        QFETCH(float, rate);
        qcFrameBuffer fb;
        QVERIFY(fb.allocate(100000));
        for (int i = 0; i < types.size(); ++i)
            QVERIFY(push(fb, 10, uint32_t(types[i]), uint64_t(timestamps[i]), 0));
        QCOMPARE(fb.frameRate(), rate);
    }

    void consumeCreditsEveryDroppedRecord()
    {
        qcFrameBuffer fb;
        const uint32_t capacity = 200000;
        QVERIFY(fb.allocate(capacity));
        std::mt19937 rng(7);
        std::uniform_int_distribution<uint32_t> len(1, 3000);
        std::deque<uint32_t> stored; // lengths, oldest first
        uint64_t used = 0;
        uint64_t ts = 0;
        for (int take = 0; take < 1000; ++take) {
            const int frames = 1 + take % 9;
            for (int f = 0; f < frames; ++f) {
                const uint32_t n = len(rng);
                const bool key = (f % 3 == 0);
                QVERIFY(push(fb, n, key ? 1 : 2, ts += 40, 0));
                while (used + kHdr + n > capacity) {
                    used -= kHdr + stored.front();
                    stored.pop_front();
                }
                stored.push_back(n);
                used += kHdr + n;
            }
            // A seek: take the newest key frame and consume up to it.
            Read r = read(fb, -1, 65536, true);
            QVERIFY(r.ok);
            // Every record up to the taken one is gone, each credited.
            const int remaining = fb.frameCount() + 2;
            QVERIFY(remaining >= 0 && remaining < int(stored.size()));
            while (int(stored.size()) > remaining) {
                used -= kHdr + stored.front();
                stored.pop_front();
            }
            QCOMPARE(uint64_t(fb.freeBytes()), capacity - used);
        }
        QVERIFY(push(fb, 100000, 1, ts + 40, 0));
    }

    // Slow readers are overtaken by the writer and start again; every frame
    // any reader gets is whole and newer than the one before.
    void concurrentReadersSeeIntactFrames()
    {
        qcFrameBuffer fb;
        QVERIFY(fb.allocate(64 * 1024));
        std::atomic<bool> stop{false};
        std::atomic<int> failures{0}, delivered{0}, resets{0};
        auto reader = [&](bool slow) {
            std::vector<uint8_t> buf(1 << 16);
            int64_t pos = -1, last = 0;
            uint32_t len, type;
            uint64_t ts;
            while (!stop) {
                if (fb.readFrame(buf.data(), int32_t(buf.size()), &len, &type, &ts, &pos, -1, false, -1)) {
                    const auto want = payload(len, uint32_t(ts));
                    failures += pos <= last || !std::equal(want.begin(), want.end(), buf.begin());
                    last = pos;
                    ++delivered;
                    if (slow && pos % 3 == 0)
                        std::this_thread::sleep_for(std::chrono::milliseconds(3));
                } else if (fb.positionLost(pos, int32_t(buf.size()))) {
                    pos = -1;
                    ++resets;
                } else {
                    std::this_thread::yield();
                }
            }
        };
        std::vector<std::thread> readers;
        for (int i = 0; i < 4; ++i)
            readers.emplace_back(reader, i >= 2);
        std::mt19937 rng(99);
        std::uniform_int_distribution<uint32_t> len(8, 6000);
        bool pushed = true;
        // At least 4,000 frames, and on a busy machine until the slow readers were overtaken.
        for (uint32_t i = 0; i < 4000 || ((resets == 0 || delivered == 0) && i < 1000000); ++i) {
            pushed &= push(fb, len(rng), i % 12 == 0 ? 1 : 2, i, i);
            if (i % 64 == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        stop = true;
        for (auto &r : readers)
            r.join();
        QVERIFY(pushed);
        QCOMPARE(failures.load(), 0);
        QVERIFY(delivered > 0);
        QVERIFY(resets > 0);
    }
};

QTEST_GUILESS_MAIN(TestFrameBuffer)
#include "tst_framebuffer.moc"
