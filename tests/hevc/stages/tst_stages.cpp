// The stage clock behind the benchmark's breakdown: it must see every stage a
// real stream goes through, stay within the decode's own time, leave the
// pictures as they are, and refuse instances it cannot count safely.
#include <QCryptographicHash>
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

// Decodes the whole stream; returns a hash over every picture's planes.
QByteArray decodeAll(void *h, const h265test::Bytes &s, int *pictures)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    *pictures = 0;
    auto take = [&](const H265D_OUTARGS &out) {
        ++*pictures;
        for (int c = 0; c < 3; c++) {
            const uint32_t w = c ? out.uiDecWidth / 2 : out.uiDecWidth,
                           rows = c ? out.uiDecHeight / 2 : out.uiDecHeight;
            const uint32_t stride = c ? out.uiUVStride : out.uiYStride;
            for (uint32_t y = 0; y < rows; y++)
                hash.addData(reinterpret_cast<const char *>(out.pucOutYUV[c] + (size_t)y * stride), (int)w);
        }
    };
    size_t pos = 0;
    for (int guard = 0; guard < 100000; guard++) {
        H265D_INARGS in = {};
        H265D_OUTARGS out = {};
        in.pStream = s.data() + pos;
        in.uiStreamLen = (uint32_t)(s.size() - pos);
        const int32_t r = H265D_Decode(h, &in, &out);
        pos += out.uiBytesUsed;
        if (r == H265D_OK && out.eDecodeStatus == IH265D_STATUS_PICTURE)
            take(out);
        else if (r != H265D_NEED_MORE_DATA || pos >= s.size())
            break;
    }
    for (int guard = 0; guard < 100; guard++) {
        H265D_INARGS in = {};
        H265D_OUTARGS out = {};
        in.eDecodeMode = IH265D_DECODE_END;
        if (H265D_Decode(h, &in, &out) != H265D_OK || out.eDecodeStatus != IH265D_STATUS_PICTURE)
            break;
        take(out);
    }
    return hash.result();
}

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
        int plainPictures = 0, timedPictures = 0;
        const QByteArray expected = decodeAll(plain.h, s, &plainPictures);
        const QByteArray got = decodeAll(timed.h, s, &timedPictures);
        QCOMPARE(timedPictures, 24);
        QCOMPARE(plainPictures, timedPictures);
        QCOMPARE(got, expected);

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
