// The stage clock behind the benchmark's breakdown: it must see every stage a
// real stream goes through, stay within the decode's own time, leave the
// pictures as they are, and refuse instances it cannot count safely.
#include <QtTest>

#include "../common/h265_streams.h"
#include "hevc/decoder.h"

using namespace h265d;

namespace {

struct Instance
{
    void *h = nullptr;
    Instance(int threadType, bool stageTimes)
    {
        H265D_INIT_PARAM p = h265test::initParam(352, 288, 4);
        p.eThreadType = threadType;
        H265D_TEST_OPTIONS t = {};
        t.iCpuMask = -1;
        t.bStageTimes = stageTimes ? 1 : 0;
        if (H265D_CreateForTest(&h, &p, &t) != H265D_OK)
            h = nullptr;
    }
    ~Instance()
    {
        if (h)
            H265D_Delete(h);
    }
};

} // namespace

class TestStages : public QObject
{
    Q_OBJECT

private slots:
    void everyStageOfARealStreamIsCounted()
    {
        // m_default: intra and inter pictures, B prediction, deblocking and SAO.
        const h265test::Bytes s = h265test::corpusStream("m_default");
        QVERIFY2(!s.empty(), "the corpus stream m_default is missing");
        Instance plain(0, false), timed(0, true);
        QVERIFY(plain.h && timed.h);
        const auto none = [](H265D_DEC_OBJ *) {};
        const h265test::Decoded expected = h265test::decodeStream(plain.h, s, 1, s.size(), none);
        const h265test::Decoded got = h265test::decodeStream(timed.h, s, 1, s.size(), none);
        QCOMPARE(got.pictures.size(), (size_t)24);
        QCOMPARE(got.pictures, expected.pictures);

        H265D_STAGE_TIMES st = {};
        QCOMPARE(H265D_GetStageTimes(timed.h, &st), H265D_OK);
        for (int i = 0; i < H265D_STAGE_COUNT; i++)
            QVERIFY2(st.adSeconds[i] > 0, qPrintable(QString("stage %1 counted no time").arg(i)));

        // Later reads go on summing, never back.
        H265D_STAGE_TIMES again = {};
        QCOMPARE(H265D_GetStageTimes(timed.h, &again), H265D_OK);
        QVERIFY(again.adSeconds[H265D_STAGE_PARSE] >= st.adSeconds[H265D_STAGE_PARSE] * 0.95);
    }

    void onlyOneThreadInstancesCount()
    {
        H265D_STAGE_TIMES st = {};
        Instance plain(0, false);
        QVERIFY(plain.h);
        QCOMPARE(((H265D_DEC_OBJ *)plain.h)->stageTicks, (uint64_t *)nullptr);
        QCOMPARE(H265D_GetStageTimes(plain.h, &st), H265D_ERR_HANDLE);
        QCOMPARE(H265D_GetStageTimes(plain.h, nullptr), H265D_ERR_NULL);
        // Workers would add to the same sums at once: such an instance does
        // not count, and says so.
        Instance threaded(1, true);
        QVERIFY(threaded.h);
        QCOMPARE(H265D_GetStageTimes(threaded.h, &st), H265D_ERR_HANDLE);
        QCOMPARE(H265D_GetStageTimes(nullptr, &st), H265D_ERR_NULL);
    }
};

QTEST_GUILESS_MAIN(TestStages)
#include "tst_stages.moc"
