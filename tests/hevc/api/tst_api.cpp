#include <QtTest>

#include <random>
#include <set>

#include "../common/h265_streams.h"

using namespace h265d;

using namespace h265test;

namespace {

/* Allocator that counts blocks and can fail the k-th request. */
struct Counting
{
    static int calls;
    static int failAt; /* 0: never */
    static std::set<void *> live;
    static void *alloc(uint32_t, size_t n)
    {
        calls++;
        if (failAt && calls == failAt)
            return nullptr;
        void *p = malloc(n);
        live.insert(p);
        return p;
    }
    static void release(uint32_t, void *p)
    {
        live.erase(p);
        free(p);
    }
    static void reset(int fail = 0)
    {
        calls = 0;
        failAt = fail;
    }
};
int Counting::calls = 0;
int Counting::failAt = 0;
std::set<void *> Counting::live;

const Bytes kAud = nal(NAL_AUD_NUT, {0x50});

} // namespace

class TestApi : public QObject
{
    Q_OBJECT

private slots:
    void createChecksItsArguments_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("refs");
        QTest::addColumn<int>("threads");
        QTest::addColumn<QString>("missing"); /* the callbacks left out */
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message"); /* the one error logged */
        QTest::newRow("no MallocFxn") << 64 << 64 << 4 << 0 << "malloc" << H265D_ERR_MALLOCFXN
                                      << "H265D_Create : pstInitParam->MallocFxn is NULL !\n";
        QTest::newRow("no FreeFxn") << 64 << 64 << 4 << 0 << "free" << H265D_ERR_FREEFXN
                                    << "H265D_Create : pstInitParam->FreeFxn is NULL !\n";
        const QString width = "H265D_Create : pstInitParam->iMaxWidth should be in the range of 8 ~ 8192 !\n";
        const QString refs = "H265D_Create : pstInitParam->iMaxRefNum should be in the range of 0 ~ 15 !\n";
        QTest::newRow("width 7") << 7 << 64 << 4 << 0 << "" << H265D_ERR_WIDTH << width;
        QTest::newRow("width 8193") << 8193 << 64 << 4 << 0 << "" << H265D_ERR_WIDTH << width;
        QTest::newRow("height 8193")
            << 64 << 8193 << 4 << 0 << "" << H265D_ERR_HEIGHT
            << "H265D_Create : pstInitParam->iMaxHeight should be in the range of 8 ~ 8192 !\n";
        QTest::newRow("refs -1") << 64 << 64 << -1 << 0 << "" << H265D_ERR_REFNUM << refs;
        QTest::newRow("refs 16") << 64 << 64 << 16 << 0 << "" << H265D_ERR_REFNUM << refs;
        QTest::newRow("thread type 2") << 64 << 64 << 4 << 2 << "" << H265D_ERR_THREADTYPE << "eThreadType";
        /* the first failing check wins */
        QTest::newRow("width before refs") << 7 << 64 << 99 << 5 << "" << H265D_ERR_WIDTH << "iMaxWidth";
        QTest::newRow("FreeFxn before width") << 7 << 64 << 4 << 0 << "free" << H265D_ERR_FREEFXN << "FreeFxn";
        /* no log callback: nothing can be said */
        QTest::newRow("no LogFxn") << 7 << 64 << 4 << 0 << "log malloc" << H265D_ERR_LOGFXN << "";
        /* the edges of the ranges are accepted */
        QTest::newRow("8x8") << 8 << 8 << 0 << 0 << "" << H265D_OK << "";
        QTest::newRow("8192x8") << 8192 << 8 << 0 << 0 << "" << H265D_OK << "";
        QTest::newRow("8x8192") << 8 << 8192 << 15 << 0 << "" << H265D_OK << "";
    }

    void createChecksItsArguments()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, refs);
        QFETCH(int, threads);
        QFETCH(QString, missing);
        QFETCH(int, code);
        QFETCH(QString, message);
        H265D_INIT_PARAM q = initParam(width, height, refs);
        q.eThreadType = threads;
        if (missing.contains("malloc"))
            q.MallocFxn = nullptr;
        if (missing.contains("free"))
            q.FreeFxn = nullptr;
        if (missing.contains("log"))
            q.LogFxn = nullptr;
        void *h = nullptr;
        logs().clear();
        QCOMPARE(H265D_Create(&h, &q), code);
        if (code == H265D_OK) {
            QCOMPARE(H265D_Delete(h), H265D_OK);
        } else {
            QVERIFY(!h);
            QCOMPARE(logs().size(), message.isEmpty() ? (size_t)0 : (size_t)1);
            if (!message.isEmpty()) {
                QVERIFY(logs()[0].text.find(message.toStdString()) != std::string::npos);
                QCOMPARE(logs()[0].level, 0);
            }
        }
        QCOMPARE(H265D_Create(nullptr, &q), H265D_ERR_NULL);
        QCOMPARE(H265D_Create(&h, nullptr), H265D_ERR_NULL);
    }

    void unknownOutputOrderActsAsDisplayOrder()
    {
        H265D_INIT_PARAM p = initParam(64, 64, 4, 7);
        Decoder d(p);
        QVERIFY(
            logged("H265D_Create : pstInitParam->eOutputOrder is invalid, default to be IH265D_DISPLAY_ORDER!\n", 1));
        QCOMPARE(d.obj()->eOutputOrder, 7);
        SpsParams s;
        s.numReorder = 2;
        VpsParams v;
        v.numReorder = 2;
        d.feed(cat({headers(s, PpsParams(), v), slice(idr()), kAud}), 0);
        d.feed(cat({slice(trailP(2, {-2})), kAud}), 1);
        d.feed(cat({slice(trailB(1, {-1}, {1})), kAud}), 2);
        QCOMPARE(d.pictures.size(), (size_t)0); /* decode order would have returned two */
        d.finish();
        QCOMPARE(d.pictures.size(), (size_t)3);
        QCOMPARE(d.pictures[1].uiTimeStamp, 2u);
    }

    /* Whichever allocation fails, nothing stays allocated. */
    void failedAllocationsLeaveNothing()
    {
        H265D_INIT_PARAM p = initParam(64, 64, 15);
        p.MallocFxn = Counting::alloc;
        p.FreeFxn = Counting::release;
        Counting::reset();
        void *h = nullptr;
        QCOMPARE(H265D_Create(&h, &p), H265D_OK);
        const int total = Counting::calls;
        QVERIFY(total > 10);
        QVERIFY(total <= 86);
        QCOMPARE(H265D_Delete(h), H265D_OK);
        QVERIFY(Counting::live.empty());
        for (int k = 1; k <= total; k++) {
            Counting::reset(k);
            logs().clear();
            h = nullptr;
            QCOMPARE(H265D_Create(&h, &p), H265D_ERR_MALLOC);
            QVERIFY(Counting::live.empty());
            QVERIFY(logged(k == 1 ? "p_dec_obj malloc failed!" : "H265D_Create : malloc failed!", 0));
        }
    }

    void decodeAllocatesNothing()
    {
        H265D_INIT_PARAM p = initParam(128, 64, 4);
        p.MallocFxn = Counting::alloc;
        p.FreeFxn = Counting::release;
        Counting::reset();
        Decoder d(p);
        const int afterCreate = Counting::calls;
        SpsParams wide;
        wide.width = 128;
        d.feed(cat({headers(), slice(idr()), slice(trailP(1)), nal(NAL_SPS_NUT, spsRbsp(wide)), slice(idr()),
                    nal(NAL_PREFIX_SEI_NUT, {240, 2, 1, 2, 0x80}), slice(trailP(1))}));
        d.finish();
        QCOMPARE(d.pictures.size(), (size_t)4);
        QCOMPARE(Counting::calls, afterCreate);
    }

    void badHandles()
    {
        H265D_INARGS in = {};
        H265D_OUTARGS out = {};
        QCOMPARE(H265D_Decode(nullptr, &in, &out), H265D_ERR_NULL);
        QCOMPARE(H265D_Delete(nullptr), H265D_ERR_NULL);
        H265D_INIT_PARAM p = initParam();
        p.MallocFxn = Counting::alloc;
        p.FreeFxn = Counting::release;
        Counting::reset();
        void *h = nullptr;
        QCOMPARE(H265D_Create(&h, &p), H265D_OK);
        const size_t blocks = Counting::live.size();
        H265D_DEC_OBJ *dec = (H265D_DEC_OBJ *)h;
        dec->magic = 0x12345678;
        QCOMPARE(H265D_Decode(h, &in, &out), H265D_ERR_HANDLE);
        QCOMPARE(H265D_Delete(h), H265D_ERR_HANDLE);
        QCOMPARE(Counting::live.size(), blocks);
        dec->magic = H265D_HANDLE_MAGIC;

        logs().clear();
        QCOMPARE(H265D_Decode(h, nullptr, &out), H265D_ERR_NULL);
        QVERIFY(logged("H265D_Decode : pstInArgs is NULL !\n", 0));
        QCOMPARE(H265D_Decode(h, &in, nullptr), H265D_ERR_NULL);
        QVERIFY(logged("H265D_Decode : pstOutArgs is NULL !\n", 0));
        in.pStream = nullptr;
        QCOMPARE(H265D_Decode(h, &in, &out), H265D_ERR_STREAM);
        QVERIFY(logged("H265D_Decode : pstInArgs->pStream is NULL !\n", 0));
        QCOMPARE(H265D_Delete(h), H265D_OK);
        QVERIFY(Counting::live.empty());
    }

    /* A picture returned mid-chunk leaves the rest buffered; empty calls
     * decode it; the end of the stream drains one picture per call (in
     * display order: hevc.dpb). */
    void chunkAndEndOfStream()
    {
        Decoder d(initParam(64, 64, 4, IH265D_DECODE_ORDER));
        const Bytes stream = cat({headers(), slice(idr()), slice(trailP(1)), slice(trailP(2)), kAud});
        H265D_INARGS in = {};
        H265D_OUTARGS out = {};
        in.pStream = stream.data();
        in.uiStreamLen = (uint32_t)stream.size();
        QCOMPARE(H265D_Decode(d.h, &in, &out), H265D_OK);
        QCOMPARE(out.eDecodeStatus, 0);
        QCOMPARE(out.uiBytesUsed, (uint32_t)stream.size());
        const uint8_t none = 0;
        in.pStream = &none;
        in.uiStreamLen = 0;
        out = {};
        QCOMPARE(H265D_Decode(d.h, &in, &out), H265D_OK);
        QCOMPARE(out.eDecodeStatus, 0);
        QCOMPARE(out.uiBytesUsed, 0u);
        out = {};
        QCOMPARE(H265D_Decode(d.h, &in, &out), H265D_NEED_MORE_DATA);
        QCOMPARE(out.eDecodeStatus, 1);
        in.pStream = nullptr;
        in.eDecodeMode = IH265D_DECODE_END;
        QCOMPARE(H265D_Decode(d.h, &in, &out), H265D_OK);
        QCOMPARE(out.eDecodeStatus, 0);
        QCOMPARE(H265D_Decode(d.h, &in, &out), H265D_OK);
        QCOMPARE(out.eDecodeStatus, 2);
        QCOMPARE(H265D_Decode(d.h, &in, &out), H265D_OK);
        QCOMPARE(out.eDecodeStatus, 2);
    }

    /* Fed one access unit per call, a picture leaves with the next unit's
     * call: the first three bytes of a slice segment that opens a picture
     * end the one before, without waiting for the rest of that unit. */
    void pictureLeavesWhenTheNextBegins()
    {
        for (int threads = 0; threads < 2; threads++) {
            H265D_INIT_PARAM p = initParam(64, 64, 4, IH265D_DECODE_ORDER);
            p.eThreadType = threads;
            Decoder d(p);
            d.feed(cat({headers(), slice(idr())}), 0);
            QCOMPARE(d.pictures.size(), (size_t)0);
            const Bytes second = slice(trailP(1));
            /* start code and the two header bytes: not yet */
            d.feed(Bytes(second.begin(), second.begin() + 6), 1);
            QCOMPARE(d.pictures.size(), (size_t)0);
            d.feed(Bytes(second.begin() + 6, second.begin() + 7), 1);
            QCOMPARE(d.pictures.size(), (size_t)1);
            QCOMPARE(d.pictures[0].uiTimeStamp, (uint64_t)0);
            d.feed(Bytes(second.begin() + 7, second.end()), 1);
            d.feed(slice(trailP(2)), 2);
            QCOMPARE(d.pictures.size(), (size_t)2);
            QCOMPARE(d.pictures[1].uiTimeStamp, (uint64_t)1);
            /* a unit that opens no picture ends none */
            d.feed(kAud, 3);
            QCOMPARE(d.pictures.size(), (size_t)2);
            d.finish();
            QVERIFY(d.errors.empty());
            QCOMPARE(d.pictures.size(), (size_t)3);
            QCOMPARE(d.pictures[2].uiTimeStamp, (uint64_t)2);
        }
    }

    /* A full buffer without a start code keeps its last three bytes, so a
     * start code across the boundary is still found. */
    void fullBufferKeepsItsTail()
    {
        Decoder d(initParam(64, 64, 4, IH265D_DECODE_ORDER));
        const size_t size = d.obj()->streamSize;
        Bytes junk(size, 0xAB);
        junk[size - 2] = 0;
        junk[size - 1] = 0;
        d.feed(junk);
        QCOMPARE(d.obj()->streamFill, (size_t)3);
        Bytes stream = cat({headers(), slice(idr()), slice(trailP(1)), kAud});
        d.feed(Bytes(stream.begin() + 3, stream.end())); /* "00 00" came with the junk; the rest of "00 00 01" here */
        d.finish();
        QVERIFY(d.errors.empty());
        QCOMPARE(d.pictures.size(), (size_t)2);
    }

    /* Damaged streams give errors, never a read or write out of bounds
     * (AddressSanitizer watches) and never a hang. */
    void corruptStreamsAreSurvived()
    {
        SpsParams s;
        s.width = 128;
        s.height = 128;
        s.numReorder = 2;
        s.numShortTermRps = 2;
        s.shortTermRps = [](BitWriter &w, int i) { writeStRps(w, i, {-1 - i}, {}); };
        s.vui = [](BitWriter &w) {
            w.flag(false);
            w.flag(false);
            w.flag(false);
            w.flag(false);
            w.flag(false);
            w.flag(false);
            w.flag(false);
            w.flag(false);
            w.flag(true);
            w.u(1, 32);
            w.u(25, 32);
            w.flag(false);
            w.flag(true);
            writeHrd(w, 0, 2);
            w.flag(false);
        };
        PpsParams p;
        p.tiles = true;
        p.tileCols = 2;
        p.tileRows = 2;
        p.weightedPred = true;
        VpsParams v;
        v.numReorder = 2;
        SliceParams first = idr();
        first.entryPoints = true;
        SliceParams pw = trailP(1);
        pw.entryPoints = true;
        pw.numStRpsInSps = 2;
        auto weights = [](int refs) {
            return [refs](BitWriter &w) {
                w.ue(5);
                w.se(1);
                for (int i = 0; i < refs; i++)
                    w.flag(true);
                for (int i = 0; i < refs; i++)
                    w.flag(true);
                for (int i = 0; i < refs; i++) {
                    w.se(3);
                    w.se(-2);
                    w.se(1);
                    w.se(7);
                    w.se(-1);
                    w.se(-9);
                }
            };
        };
        pw.predWeight = weights(1);
        SliceParams b = trailB(3, {-2, -3}, {});
        b.entryPoints = true;
        b.numStRpsInSps = 2;
        b.sliceType = 1;
        b.predWeight = weights(2);
        b.override = true;
        b.numRefL0 = 2;
        const Bytes base = cat({headers(s, p, v), nal(NAL_PREFIX_SEI_NUT, {240, 4, 1, 2, 3, 4, 0x80}), slice(first),
                                slice(pw), nal(NAL_PREFIX_SEI_NUT, {5, 2, 9, 9, 0x80}), slice(b), kAud});
        Decoder clean(initParam(128, 128, 2));
        clean.feed(base);
        clean.finish();
        QVERIFY(clean.errors.empty());
        QCOMPARE(clean.pictures.size(), (size_t)3);
        std::mt19937 rng(12345);
        for (int round = 0; round < 40; round++) {
            Decoder d(initParam(128, 128, 2));
            for (int i = 0; i < 10; i++) {
                Bytes damaged = base;
                const int flips = 1 + (int)(rng() % 4);
                for (int f = 0; f < flips; f++)
                    damaged[rng() % damaged.size()] ^= (uint8_t)(1u << (rng() % 8));
                if (rng() % 4 == 0)
                    damaged.resize(damaged.size() - rng() % (damaged.size() / 2));
                d.feed(damaged);
            }
            d.finish(); /* returns only once the end of the stream is reported */
            QVERIFY(d.pictures.size() <= 40);
        }
    }

    /* A CPU mask can only take processor features away. */
    void cpuMask()
    {
        H265D_INIT_PARAM p = initParam();
        H265D_TEST_OPTIONS t = {};
        void *h = nullptr;
        t.iCpuMask = 0;
        QCOMPARE(H265D_CreateForTest(&h, &p, &t), H265D_OK);
        QCOMPARE(((H265D_DEC_OBJ *)h)->cpuFlags, 0u);
        H265D_DSP_TABLE portable;
        memset(&portable, 0, sizeof portable); /* slots of the loop filters stay empty */
        uint32_t none = 1;
        initDspFunctionTable(&portable, &none, 0);
        QCOMPARE(memcmp(&((H265D_DEC_OBJ *)h)->dsp, &portable, sizeof portable), 0);
        H265D_Delete(h);
        t.iCpuMask = -1;
        QCOMPARE(H265D_CreateForTest(&h, &p, &t), H265D_OK);
        QCOMPARE(((H265D_DEC_OBJ *)h)->cpuFlags, detectCpuFeatures());
        H265D_Delete(h);
        t.iCpuMask = (int32_t)~H265D_CPU_AVX;
        QCOMPARE(H265D_CreateForTest(&h, &p, &t), H265D_OK);
        QCOMPARE(((H265D_DEC_OBJ *)h)->cpuFlags, detectCpuFeatures() & ~H265D_CPU_AVX);
        H265D_Delete(h);
    }
};

QTEST_GUILESS_MAIN(TestApi)
#include "tst_api.moc"
