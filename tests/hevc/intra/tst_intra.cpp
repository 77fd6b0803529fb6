#include <QtTest>

#include <vector>

#include "../common/h265_streams.h"
#include "hevc/decoder.h"
#include "hevc/slicedata.h"
#include "hevc/intra.h"

using namespace h265d;

using h265test::Bytes;
using h265test::corpusStream;

namespace {

/* A decoder left in the state of the last picture of a corpus stream, so
 * that reconstruction routines can be called on its picture and maps. */
struct Decoded
{
    h265test::Decoder d;
    explicit Decoded(const char *name, int w = 352, int h = 288) : d(h265test::initParam(w, h, 4), false)
    {
        stream = corpusStream(name);
        d.feed(stream);
        d.finish();
    }
    Bytes stream;
    H265D_DEC_OBJ *dec() { return d.obj(); }
    H265D_PICTURE *pic() { return &dec()->dpb.pic[dec()->dpb.curPic]; }
    uint8_t *luma(int x, int y) { return pic()->origin[0] + (ptrdiff_t)y * pic()->yStride + x; }
    /* A CTU record for the CTB at (x, y) with every neighbour available. */
    H265D_CTU_RECORD ctuAt(int x, int y)
    {
        H265D_CTU_RECORD c{};
        const int log2 = (int)dec()->sps->CtbLog2SizeY;
        c.ctbLog2 = log2;
        c.ctbSize = 1 << log2;
        c.x = x;
        c.y = y;
        c.ctbX = x >> log2;
        c.ctbY = y >> log2;
        c.availAbove = c.availLeft = c.availAboveLeft = c.availAboveRight = 1;
        c.rightLimit = dec()->geo.PicWidthInSamplesY;
        const int bottom = y + c.ctbSize;
        c.bottomLimit = bottom < dec()->geo.PicHeightInSamplesY ? bottom : dec()->geo.PicHeightInSamplesY;
        return c;
    }
};

} // namespace

class TestIntra : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        if (qgetenv("HEVC_CORPUS_DIR").isEmpty() || corpusStream("i_base").empty())
            QSKIP("no corpus");
    }
    void constrainedPredictionWithoutIntraNeighbours();
    void cuStatsCoverThePicture();
};

void TestIntra::constrainedPredictionWithoutIntraNeighbours()
{
    Decoded s("i_base");
    QVERIFY(s.d.pictures.size() == 4);
    H265D_DEC_OBJ *dec = s.dec();
    H265D_CTU_RECORD *ctu = new H265D_CTU_RECORD(s.ctuAt(64, 64));
    dec->pps->constrained_intra_pred_flag = 1;
    memset(dec->side.intraMode, 255, (size_t)dec->side.mapW4 * (dec->h64 / 4)); /* all inter */
    int flags[5];
    intraNeighbourAvailability(dec, ctu, 72, 72, 8, flags);
    for (int f : flags)
        QCOMPARE(f, 0);
    uint8_t out[8 * 8];
    for (int mode : {0, 1, 10, 18, 26, 7}) {
        memset(out, 0, sizeof out);
        predictIntraBlock(dec, ctu, flags, 3, 0, mode, 72, 72, out, 8);
        for (uint8_t v : out)
            QCOMPARE((int)v, 128);
    }
    /* one intra 4x4 unit on the left: its samples fill the whole reference */
    dec->side.intraMode[(76 >> 2) * dec->side.mapW4 + (68 >> 2)] = 1;
    intraNeighbourAvailability(dec, ctu, 72, 72, 8, flags);
    QCOMPARE(flags[1], 1);
    predictIntraBlock(dec, ctu, flags, 3, 0, 10, 72, 72, out, 8);
    /* horizontal prediction: rows 4..7 copy the intra unit's samples, rows
     * 0..3 (inter neighbours) are substituted from the first of them */
    for (int y = 1; y < 8; y++)
        QCOMPARE((int)out[y * 8 + 3], (int)*s.luma(71, y < 4 ? 76 : 72 + y));
    dec->pps->constrained_intra_pred_flag = 0;
    delete ctu;
}

void TestIntra::cuStatsCoverThePicture()
{
    static const int kArea[18] = {16,   64, 256, 1024, 4096, 0,  64,  256,  1024,
                                  4096, 64, 256, 1024, 4096, 64, 256, 1024, 4096};
    for (const char *name : {"i_base", "i_ctu16", "i_tu4", "i_crop", "i_crop66", "i_cu32"}) {
        Decoded s(name);
        QVERIFY2(!s.d.pictures.empty(), name);
        const int area = (int)(s.dec()->sps->pic_width_in_luma_samples * s.dec()->sps->pic_height_in_luma_samples);
        for (const H265D_OUTARGS &o : s.d.pictures) {
            int sum = 0;
            for (int i = 0; i < 18; i++)
                sum += (int)o.auiCuStats[i] * kArea[i];
            QCOMPARE(sum, area);
            QCOMPARE(o.auiCuStats[5], 0u);
            for (int i = 10; i < 18; i++)
                QCOMPARE(o.auiCuStats[i], 0u);
        }
    }
}

QTEST_GUILESS_MAIN(TestIntra)
#include "tst_intra.moc"
