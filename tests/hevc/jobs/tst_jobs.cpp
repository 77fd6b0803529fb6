#include <QtTest>

#include <algorithm>
#include <atomic>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include "../common/h265_streams.h"
#include "hevc/decoder.h"
#include "hevc/loopfilter.h"
#include "hevc/thread.h"
#include "hevc/workers.h"

using namespace h265d;

using namespace h265test;

namespace {

/* A picture of CTUs whose "parse" and "reconstruction" only record when
 * they ran, so that the wavefront's ordering rules can be checked. */
struct FakePicture
{
    int rows = 0, cols = 0, firstCol = 0, lastCol = 0;
    std::vector<std::atomic<int>> parsed;        /* per row: CTUs parsed */
    std::vector<std::atomic<int>> reconstructed; /* per row: CTUs done */
    std::vector<std::atomic<int>> timesDone;     /* per CTU */
    std::atomic<int> orderFaults{0};
    int failRow = -1;     /* parse fails in this row */
    int earlyEndRow = -1; /* end of slice after the second CTU of this row */
    int reconFailRow = -1;
    bool holdRow0 = false; /* row 0 waits in CTU 2 until row 1 has parsed a CTU */
    std::atomic<int> jobsInRow0{0};

    FakePicture(int r, int c)
        : rows(r), cols(c), firstCol(0), lastCol(c - 1), parsed(r), reconstructed(r), timesDone(r * c)
    {}
    void reset()
    {
        resetRows();
        for (auto &p : timesDone)
            p = 0;
        orderFaults = 0;
    }
    /* The per-row counts the ordering checks read, before each tile. */
    void resetRows()
    {
        for (auto &p : parsed)
            p = 0;
        for (auto &p : reconstructed)
            p = 0;
    }
    int width() const { return lastCol - firstCol + 1; }
};

int32_t fakeParse(H265D_WORKER_CTX *ctx, int32_t col, int32_t *endOfSlice)
{
    FakePicture *pic = static_cast<FakePicture *>(ctx->ops->user);
    const int r = ctx->row;
    /* A row parses CTU col after the row above has parsed CTU col + 1 when
     * rows start at their entry points, else after the whole row above. */
    const int need = ctx->ops->wavefrontParse ? std::min(col - pic->firstCol + 2, pic->width()) : pic->width();
    const bool atOnce = ctx->firstRow || (ctx->ops->independentRows && ctx->ops->independentRows[r]);
    if (!atOnce && pic->parsed[r - 1].load() < need)
        pic->orderFaults++;
    if (col < pic->firstCol || col > pic->lastCol)
        pic->orderFaults++;
    if (pic->holdRow0 && r == 0 && col == pic->firstCol + 2) {
        QElapsedTimer t;
        t.start();
        while (pic->parsed[1].load() == 0 && !t.hasExpired(20000))
            std::this_thread::yield();
        if (pic->parsed[1].load() == 0)
            pic->orderFaults++;
    }
    if (r == pic->failRow && col == pic->firstCol + 1)
        return H265D_ERR_SLICE_DATA;
    pic->parsed[r]++;
    *endOfSlice = r == pic->earlyEndRow && col == pic->firstCol + 1;
    return 0;
}

int32_t fakeReconstruct(H265D_WORKER_CTX *ctx, int32_t col)
{
    FakePicture *pic = static_cast<FakePicture *>(ctx->ops->user);
    const int r = ctx->row;
    if (!ctx->firstRow) {
        /* Row above: CTU col + 2 done, or the whole row. */
        const int above = pic->reconstructed[r - 1].load();
        if (above < std::min(col - pic->firstCol + 3, pic->width()))
            pic->orderFaults++;
    }
    /* Reconstruction is the slow part, as in a real decoder, so that each
     * row catches up with the row above and the waits matter. */
    for (int i = 0; i < 4; i++)
        std::this_thread::yield();
    if (col < pic->firstCol || col > pic->lastCol)
        pic->orderFaults++;
    if (r == pic->reconFailRow && col == pic->firstCol + 2)
        return H265D_ERR_SLICE_DATA;
    pic->timesDone[r * pic->cols + col]++;
    pic->reconstructed[r]++;
    return 0;
}

const H265D_ROW_OPS kOps = {fakeParse, fakeReconstruct, nullptr, nullptr, 0};

struct Pool
{
    H265D_WORKERS *ws = nullptr;
    H265D_ROW_OPS ops = kOps;
    explicit Pool(uint32_t h64 = 1088) { createWorkerState(&ws, h64); }
    ~Pool() { stopWorkers(ws); }
    int32_t run(FakePicture &pic)
    {
        pic.reset();
        ops.user = &pic;
        return submitRowJobs(ws, &ops, pic.rows, 0, pic.cols - 1, pic.cols);
    }
};

/* Counts the instance's blocks from MallocFxn. */
std::set<void *> g_live;
void *countingMalloc(uint32_t, size_t n)
{
    void *p = malloc(n);
    g_live.insert(p);
    return p;
}
void countingFree(uint32_t, void *p)
{
    g_live.erase(p);
    free(p);
}

/* Instances on several threads at once: the shared capture log is not for them. */
void quietLog(uint32_t, int32_t, const char *, ...) {}

/* A whole stream through a new instance of the thread type, in decode
 * order; `prepare` sees the instance before every call. */
template <typename Prepare>
Decoded decodeWith(const Bytes &stream, int threads, int times, size_t chunk, Prepare prepare, bool margins = false)
{
    H265D_INIT_PARAM p = initParam(512, 288);
    p.eThreadType = threads;
    p.eOutputOrder = IH265D_DECODE_ORDER;
    p.LogFxn = quietLog;
    void *h = nullptr;
    if (H265D_Create(&h, &p) != H265D_OK)
        return Decoded();
    const Decoded d = decodeStream(h, stream, times, chunk, prepare, margins);
    H265D_Delete(h);
    return d;
}

Decoded decode(const Bytes &stream, int threads, int times = 1, size_t chunk = 4096, bool margins = false)
{
    return decodeWith(
        stream, threads, times, chunk, [](H265D_DEC_OBJ *) {}, margins);
}

} // namespace

class TestJobs : public QObject
{
    Q_OBJECT

private slots:
    void everyCtuOnceInWavefrontOrder()
    {
        /* Wide and tall pictures, one row, one column. With rows that start
         * at their entry points, a row parses after the second CTU above:
         * row 0 holds its third CTU until row 1 has parsed one. */
        Pool pool;
        QVERIFY(pool.ws);
        for (int wavefront : {0, 1})
            for (auto size :
                 {std::make_pair(16, 22), std::make_pair(5, 6), std::make_pair(4, 4), std::make_pair(68, 30),
                  std::make_pair(1, 8), std::make_pair(9, 1), std::make_pair(2, 3), std::make_pair(17, 9)}) {
                pool.ops.wavefrontParse = wavefront;
                FakePicture pic(size.first, size.second);
                pic.holdRow0 = wavefront && pic.rows >= 2 && pic.cols >= 3;
                for (int round = 0; round < 20; round++) {
                    QCOMPARE(pool.run(pic), 0);
                    QCOMPARE(pic.orderFaults.load(), 0);
                    for (int i = 0; i < pic.rows * pic.cols; i++)
                        QCOMPARE(pic.timesDone[i].load(), 1);
                    for (int r = 0; r < pic.rows; r++)
                        QCOMPARE(pool.ws->rowSync[r].progress.load(), pic.cols + H265D_ROW_FINISHED);
                }
            }
    }

    void tilesOneAfterTheOtherInTileScanOrder()
    {
        /* Three tile columns of uneven width and two tile rows: each call
         * covers its tile once, in wavefront order within the tile, and
         * leaves the later tiles untouched. */
        Pool pool;
        const int colBd[] = {0, 3, 9, 13}, rowBd[] = {0, 2, 11};
        FakePicture pic(11, 13);
        pic.reset();
        pool.ops.user = &pic;
        std::vector<int> done(11 * 13, 0);
        for (int tr = 0; tr < 2; tr++)
            for (int tc = 0; tc < 3; tc++) {
                pic.firstCol = colBd[tc];
                pic.lastCol = colBd[tc + 1] - 1;
                pic.resetRows();
                QCOMPARE(submitTileRowJobs(pool.ws, &pool.ops, rowBd[tr], rowBd[tr + 1], pic.firstCol, pic.lastCol), 0);
                QCOMPARE(pic.orderFaults.load(), 0);
                for (int r = rowBd[tr]; r < rowBd[tr + 1]; r++)
                    for (int c = pic.firstCol; c <= pic.lastCol; c++)
                        done[r * 13 + c] = 1;
                for (int i = 0; i < 11 * 13; i++)
                    QCOMPARE(pic.timesDone[i].load(), done[i]);
                for (int r = rowBd[tr]; r < rowBd[tr + 1]; r++)
                    QCOMPARE(pool.ws->rowSync[r].progress.load(), pic.width() + H265D_ROW_FINISHED);
            }
        /* A tile that fails or ends its slice early reports it, and the next
         * tile (or picture) starts from clean state. */
        pic.reset();
        pic.firstCol = 3;
        pic.lastCol = 8;
        pic.failRow = 5;
        QCOMPARE(submitTileRowJobs(pool.ws, &pool.ops, 2, 11, 3, 8), H265D_ERR_SLICE_DATA);
        QCOMPARE(pic.reconstructed[10].load(), 0);
        pic.failRow = -1;
        pic.earlyEndRow = 2; /* the tile's first row */
        pic.resetRows();
        QCOMPARE(submitTileRowJobs(pool.ws, &pool.ops, 2, 11, 3, 8), H265D_JOBS_EARLY_END);
        pic.earlyEndRow = -1;
        pic.reset();
        QCOMPARE(submitTileRowJobs(pool.ws, &pool.ops, 2, 11, 3, 8), 0);
        QCOMPARE(pic.orderFaults.load(), 0);
        QCOMPARE(pic.reconstructed[10].load(), 6);
        /* Rows beyond the instance's limit are refused, not written. */
        QCOMPARE(submitTileRowJobs(pool.ws, &pool.ops, 0, pool.ws->rowCount, 0, 3), H265D_ERR_SLICE_DATA);
    }

    void rowsStartingSlicesParseAtOnceAndReconstructBehind()
    {
        /* Every third row starts an independent slice: it parses without
         * waiting for the row above (row 0 holds its parse until row 1 has
         * parsed), yet reconstructs behind it, as loop filtering across
         * slices needs; the other rows wait for the go flag. */
        Pool pool;
        std::vector<uint8_t> starts(12, 0);
        for (int r = 0; r < 12; r += 3)
            starts[(size_t)r] = 1;
        starts[1] = 1;
        pool.ops.independentRows = starts.data();
        for (int round = 0; round < 10; round++) {
            FakePicture pic(12, 10);
            pic.holdRow0 = true;
            pool.ops.user = &pic;
            pic.reset();
            QCOMPARE(submitSliceRowJobs(pool.ws, &pool.ops, 12, 10), 0);
            QCOMPARE(pic.orderFaults.load(), 0);
            for (int i = 0; i < 12 * 10; i++)
                QCOMPARE(pic.timesDone[i].load(), 1);
        }
    }

    void faultsEndThePictureWithoutBlockedWorkers_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("wavefront");
        QTest::addColumn<int>("failRow");
        QTest::addColumn<int>("earlyEndRow");
        QTest::addColumn<int>("reconFailRow");
        QTest::addColumn<int>("code");
        QTest::newRow("parse error") << 16 << false << 3 << -1 << -1 << H265D_ERR_SLICE_DATA;
        QTest::newRow("parse error, few rows") << 5 << false << 3 << -1 << -1 << H265D_ERR_SLICE_DATA;
        QTest::newRow("parse error, wavefront") << 12 << true << 4 << -1 << -1 << H265D_ERR_SLICE_DATA;
        QTest::newRow("reconstruction error") << 12 << false << -1 << -1 << 6 << H265D_ERR_SLICE_DATA;
        /* An early end of a slice asks for the serial path, in the first row too. */
        QTest::newRow("early end") << 16 << false << -1 << 3 << -1 << H265D_JOBS_EARLY_END;
        QTest::newRow("early end, first row") << 16 << false << -1 << 0 << -1 << H265D_JOBS_EARLY_END;
        QTest::newRow("early end, wavefront") << 12 << true << -1 << 6 << -1 << H265D_JOBS_EARLY_END;
        /* An error elsewhere in the same picture outranks the early end. */
        QTest::newRow("error and early end") << 16 << false << 0 << 1 << -1 << H265D_ERR_SLICE_DATA;
    }

    void faultsEndThePictureWithoutBlockedWorkers()
    {
        QFETCH(int, rows);
        QFETCH(bool, wavefront);
        QFETCH(int, failRow);
        QFETCH(int, earlyEndRow);
        QFETCH(int, reconFailRow);
        QFETCH(int, code);
        Pool pool;
        pool.ops.wavefrontParse = wavefront;
        FakePicture pic(rows, 22);
        pic.failRow = failRow;
        pic.earlyEndRow = earlyEndRow;
        pic.reconFailRow = reconFailRow;
        QCOMPARE(pool.run(pic), code);
        if (failRow >= 0) {
            QCOMPARE(pic.timesDone[failRow * 22 + 5].load(), 0);
            for (int r = failRow + 1; r < rows; r++)
                QCOMPARE(pic.reconstructed[r].load(), 0); /* rows below never reconstruct */
        }
        /* The next picture decodes in full. */
        pic.failRow = pic.earlyEndRow = pic.reconFailRow = -1;
        QCOMPARE(pool.run(pic), 0);
        QCOMPARE(pic.orderFaults.load(), 0);
        QCOMPARE(pic.reconstructed[rows - 1].load(), 22);
    }

    void threadedInstanceStartsAndStopsItsWorkers()
    {
        H265D_INIT_PARAM p = initParam(352, 288);
        p.eThreadType = 1;
        p.MallocFxn = countingMalloc;
        p.FreeFxn = countingFree;
        for (int i = 0; i < 200; i++) {
            void *h = nullptr;
            QCOMPARE(H265D_Create(&h, &p), H265D_OK);
            H265D_DEC_OBJ *dec = (H265D_DEC_OBJ *)h;
            QVERIFY(dec->workers);
            QCOMPARE(dec->workers->threadCount, 4);
            QCOMPARE(dec->workers->rowCount, 320 / 16 + 1);
            QCOMPARE(H265D_Delete(h), H265D_OK);
            QVERIFY(g_live.empty());
        }
        p.eThreadType = 0;
        void *h = nullptr;
        QCOMPARE(H265D_Create(&h, &p), H265D_OK);
        QVERIFY(!((H265D_DEC_OBJ *)h)->workers);
        QCOMPARE(H265D_Delete(h), H265D_OK);
    }

    void deleteWithAGatheredPictureAndGrowingRows()
    {
        /* A picture still gathered when the instance is deleted is freed
         * with it; the row states grow with the picture width and the
         * instance's worker bytes follow them. */
        const Bytes narrow = corpusStream("m_256"), wide = corpusStream("m_wide");
        if (narrow.empty() || wide.empty())
            QSKIP("corpus streams missing");
        H265D_INIT_PARAM p = initParam(512, 288);
        p.eThreadType = 1;
        p.MallocFxn = countingMalloc;
        p.FreeFxn = countingFree;
        void *h = nullptr;
        QCOMPARE(H265D_Create(&h, &p), H265D_OK);
        H265D_DEC_OBJ *dec = (H265D_DEC_OBJ *)h;
        const size_t atCreate = dec->workers->bytes;
        std::vector<size_t> held;
        for (const Bytes *s : {&wide, &narrow}) {
            /* Until two more pictures went through the rows, stopping
             * inside a picture. */
            const uint32_t before = dec->pathCounts.uiRowJobs;
            for (size_t pos = 0; pos < s->size() && (dec->pathCounts.uiRowJobs < before + 2 || !dec->gatherCount);) {
                H265D_INARGS in = {};
                H265D_OUTARGS out = {};
                in.pStream = s->data() + pos;
                /* A picture leaves as soon as three bytes of the next one's
                 * first slice are in, so it stays gathered at the end of a
                 * call only when the call ends just after a start code:
                 * byte by byte once enough rows went through. */
                const size_t chunk = dec->pathCounts.uiRowJobs < before + 2 ? 200 : 1;
                in.uiStreamLen = (uint32_t)std::min<size_t>(chunk, s->size() - pos);
                const int32_t r = H265D_Decode(h, &in, &out);
                QVERIFY(r == H265D_OK || r == H265D_NEED_MORE_DATA);
                pos += out.uiBytesUsed;
            }
            QVERIFY(dec->pathCounts.uiRowJobs >= before + 2);
            held.push_back(dec->workers->bytes - atCreate);
        }
        QVERIFY(dec->gatherCount > 0);
        /* 4 contexts x the widest row's CTU states (8 CTBs of 64, then 16
         * of 16), counted once. */
        QCOMPARE(held[0], 4 * 8 * sizeof(H265D_SLICE_CTX));
        QCOMPARE(held[1], 4 * 16 * sizeof(H265D_SLICE_CTX));
        QCOMPARE(H265D_Delete(h), H265D_OK);
        QVERIFY(g_live.empty());
    }

    void threadStartFailureFailsCreateAndFreesAll()
    {
        H265D_INIT_PARAM p = initParam(352, 288);
        p.eThreadType = 1;
        p.MallocFxn = countingMalloc;
        p.FreeFxn = countingFree;
        for (int started = 0; started < 4; started++) {
            /* Some workers run already when the next one cannot start. */
            void *h = nullptr;
            threadFailNextCreates(1, started);
            QCOMPARE(H265D_Create(&h, &p), H265D_ERR_THREAD);
            QVERIFY(!h);
            QVERIFY(g_live.empty());
        }
        threadFailNextCreates(0);
        void *h = nullptr;
        QCOMPARE(H265D_Create(&h, &p), H265D_OK);
        QCOMPARE(H265D_Delete(h), H265D_OK);
    }

    void segmentInsideARowSendsOnlyItsPictureToTheSerialPath()
    {
        /* A segment starting inside a CTB row sends that picture, and only
         * that one, to the serial path: the pictures of whole-row segments
         * after it take slice-row jobs again. */
        const Bytes midrow = corpusStream("g_slices_midrow"), rows = corpusStream("g_rows_dep");
        if (midrow.empty() || rows.empty())
            QSKIP("corpus stream missing");
        Bytes s = midrow;
        s.insert(s.end(), rows.begin(), rows.end());
        const Decoded serial = decode(s, 0), threaded = decode(s, 1);
        QCOMPARE(threaded.pictures, serial.pictures);
        QCOMPARE(threaded.pictures.size(), (size_t)6);
        QCOMPARE(threaded.paths.uiGatheredSerial, 3u);
        QCOMPARE(threaded.paths.uiSliceJobs, 3u);
        QCOMPARE(threaded.paths.uiFallbacks, 0u);
    }

    void parameterSetInsideAPictureSwitchesThreadingOff()
    {
        /* A copy of the PPS between two slice segments of the second
         * picture: that picture and all later ones take the serial path, for
         * good, and decode as the serial decoder does. */
        const Bytes s = corpusStream("m_slices");
        if (s.empty())
            QSKIP("corpus stream missing");
        std::vector<size_t> starts; /* offsets of the 00 00 01 start codes */
        for (size_t i = 0; i + 3 < s.size(); i++)
            if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1)
                starts.push_back(i);
        auto typeAt = [&](size_t k) { return (s[starts[k] + 3] >> 1) & 0x3F; };
        auto firstSlice = [&](size_t k) { return typeAt(k) < 32 && (s[starts[k] + 5] & 0x80); };
        size_t pps = SIZE_MAX, at = SIZE_MAX;
        int pictures = 0;
        for (size_t k = 0; k < starts.size() && at == SIZE_MAX; k++) {
            if (typeAt(k) == 34 && pps == SIZE_MAX)
                pps = k;
            if (firstSlice(k))
                pictures++;
            else if (typeAt(k) < 32 && pictures == 2)
                at = k; /* the second slice segment of the second picture */
        }
        QVERIFY(pps != SIZE_MAX && at != SIZE_MAX);
        Bytes unit(s.begin() + (long)starts[pps], s.begin() + (long)starts[pps + 1]);
        while (!unit.empty() && unit.back() == 0)
            unit.pop_back(); /* the next start code's leading zero */
        Bytes spliced(s.begin(), s.begin() + (long)starts[at]);
        spliced.insert(spliced.end(), unit.begin(), unit.end());
        spliced.insert(spliced.end(), s.begin() + (long)starts[at], s.end());
        /* Margins too: after the fallback no job fills the rows' sides. */
        const Decoded serial = decode(spliced, 0, 1, 4096, true), threaded = decode(spliced, 1, 1, 4096, true);
        QCOMPARE(threaded.pictures, serial.pictures);
        QCOMPARE(threaded.pictures.size(), (size_t)24);
        QVERIFY(threaded.errors.empty());
        QCOMPARE(threaded.paths.uiFallbacks, 1u);
        QCOMPARE(threaded.paths.uiSliceJobs, 1u); /* the first picture only */
        QCOMPARE(threaded.paths.uiGatheredSerial, 23u);
    }

    void marginsAsTheSerialDecoderFillsThem_data()
    {
        /* Row jobs (16x16 CTBs, a picture of one CTB row: nothing done in
         * the jobs; fewer rows than workers lower the worker count for
         * good), slice-row jobs (each slice starts a CTB row; segments cut
         * at row starts, most of them dependent, with and without
         * wavefronts), tile jobs (one segment over tiles of every spacing,
         * with and without filtering across their edges, intra and inter). */
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("jobs");
        QTest::addColumn<int>("workers"); /* 0: not checked */
        const char *rows[] = {"m_default", "m_ctu16", "m_wide", "m_wide1"};
        const int workers[] = {0, 0, 2, 1};
        for (int i = 0; i < 4; i++)
            QTest::newRow(rows[i]) << rows[i] << "row" << workers[i];
        for (const char *name : {"m_slices", "i_slices", "m_slices_p", "g_rows_dep", "g_rows_dep_wpp", "g_p_rows_dep"})
            QTest::newRow(name) << name << "slice" << 0;
        for (const char *name :
             {"g_tiles_uniform", "g_tiles_explicit", "g_tiles_nolf", "g_tiles_64", "g_pcm_nolf", "g_p_tiles"})
            QTest::newRow(name) << name << "tile" << 0;
        /* Several slice segments with tiles: the serial path, for good. */
        QTest::newRow("g_tiles_slices") << "g_tiles_slices"
                                        << "fallback" << 0;
    }

    void marginsAsTheSerialDecoderFillsThem()
    {
        /* The jobs fill each CTB row's side margins, the finish the last
         * row's and those above and below; the pictures, margins included,
         * and the coding unit counts are the serial decoder's, every picture
         * counted as jobs of one kind. SAO inside the jobs works in each
         * context's own block copy: the work picture the serial path offsets
         * through keeps the pattern written into it before the first picture. */
        QFETCH(QString, name);
        QFETCH(QString, jobs);
        QFETCH(int, workers);
        const Bytes s = corpusStream(qPrintable(name));
        if (s.empty())
            QSKIP("corpus stream missing");
        bool armed = false, touched = false;
        const auto watch = [&](H265D_DEC_OBJ *dec) {
            const size_t n = saoWorkSize(dec->w64, dec->h64);
            uint8_t *work = dec->side.saoWork;
            if (!work)
                return;
            if (!armed && dec->picturesStarted == 0) {
                memset(work, 0xA5, n);
                armed = true;
            } else if (armed && !std::all_of(work, work + n, [](uint8_t b) { return b == 0xA5; })) {
                touched = true;
            }
        };
        const Decoded serial = decode(s, 0, 1, 4096, true), threaded = decodeWith(s, 1, 1, 333, watch, true);
        QVERIFY(!serial.pictures.empty());
        QCOMPARE(threaded.pictures, serial.pictures);
        QCOMPARE(threaded.cuStats, serial.cuStats);
        QVERIFY(threaded.errors.empty());
        const H265D_PATH_COUNTS &p = threaded.paths;
        const uint32_t n = (uint32_t)serial.pictures.size();
        QCOMPARE(p.uiRowJobs, jobs == "row" ? n : 0u);
        QCOMPARE(p.uiSliceJobs, jobs == "slice" ? n : 0u);
        QCOMPARE(p.uiTileJobs, jobs == "tile" ? n : 0u);
        QCOMPARE(p.uiFallbacks, jobs == "fallback" ? 1u : 0u);
        if (jobs != "fallback")
            QCOMPARE(p.uiGatheredSerial, 0u);
        if (workers)
            QCOMPARE(threaded.threadCount, workers);
        QVERIFY(armed && (!touched || jobs == "fallback"));
    }

    void twoInstancesOnTwoThreads()
    {
        const Bytes a = corpusStream("m_camera"), b = corpusStream("m_default");
        if (a.empty() || b.empty())
            QSKIP("corpus streams missing");
        const Decoded wantA = decode(a, 0), wantB = decode(b, 0);
        Decoded gotA, gotB;
        std::thread ta([&] { gotA = decode(a, 1, 1, 1000); });
        std::thread tb([&] { gotB = decode(b, 1, 1, 777); });
        ta.join();
        tb.join();
        QCOMPARE(gotA.pictures, wantA.pictures);
        QCOMPARE(gotB.pictures, wantB.pictures);
        QVERIFY(gotA.paths.uiRowJobs > 0 && gotB.paths.uiRowJobs > 0);
    }

    void soakOfTenThousandPictures()
    {
        const Bytes one = corpusStream("m_wide1");
        if (one.empty())
            QSKIP("corpus stream missing");
        /* ThreadSanitizer runs many times slower: a tenth of the rounds. */
        const int rounds = qEnvironmentVariableIsSet("TSAN_OPTIONS") ? 125 : 1250;
        const Decoded d = decode(one, 1, rounds, 65536);
        QCOMPARE(d.pictures.size(), (size_t)rounds * 8);
        QVERIFY(d.errors.empty());
        QCOMPARE(d.paths.uiRowJobs, (uint32_t)rounds * 8);
        /* Every round gives the same eight pictures. */
        for (size_t i = 8; i < d.pictures.size(); i++)
            QCOMPARE(d.pictures[i], d.pictures[i % 8]);
    }

    void overfullGatherDropsOnlyThatPicture()
    {
        /* A picture whose slice segments do not fit the gather buffer, or
         * that has one segment too many, fails once; the instance is not
         * stuck and the all-intra pictures after it decode as the serial
         * decoder does. */
        const Bytes s = corpusStream("i_slices");
        if (s.empty())
            QSKIP("corpus stream missing");
        const Decoded want = decode(s, 0);
        QCOMPARE(want.pictures.size(), (size_t)4);
        const std::pair<int32_t, std::function<void(H265D_DEC_OBJ *)>> cases[] = {
            {H265D_ERR_NULL, [](H265D_DEC_OBJ *dec) { dec->gatherFill = dec->gatherSize - 16; }},
            {-1, [](H265D_DEC_OBJ *dec) { dec->gatherCount = H265D_MAX_GATHERED; }},
        };
        for (const auto &c : cases) {
            bool done = false;
            /* Small chunks, so that the first picture's first slice segment
             * is gathered alone before the state is filled up. */
            const Decoded got = decodeWith(s, 1, 1, 64, [&](H265D_DEC_OBJ *dec) {
                if (!done && dec->gatherCount == 1) {
                    c.second(dec);
                    done = true;
                }
            });
            QVERIFY(done);
            QCOMPARE(got.errors, std::vector<int32_t>{c.first});
            QCOMPARE(got.pictures, std::vector<uint64_t>(want.pictures.begin() + 1, want.pictures.end()));
        }
    }
};

QTEST_GUILESS_MAIN(TestJobs)
#include "tst_jobs.moc"
