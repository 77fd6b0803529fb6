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
    void rightEdgeSubstitutesAboveRight();
    void ctbRowBoundaryReadsTheLineStore();
    void pcmLeavesTheCodedLumaMapAlone();
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

void TestIntra::rightEdgeSubstitutesAboveRight()
{
    Decoded s("i_base");
    H265D_DEC_OBJ *dec = s.dec();
    H265D_CTU_RECORD *ctu = new H265D_CTU_RECORD(s.ctuAt(320, 64));
    int flags[5];
    intraNeighbourAvailability(dec, ctu, 348, 72, 4, flags);
    QCOMPARE(flags[3], 1); /* above */
    QCOMPARE(flags[4], 0); /* above-right lies outside the picture */
    for (int x = 347; x < 352; x++)
        *s.luma(x, 71) = (uint8_t)(10 * (x - 340));
    uint8_t out[4 * 4];
    /* mode 34 reads top[x + y + 1]: every sample beyond the block's width is p[3][-1] */
    predictIntraBlock(dec, ctu, flags, 2, 0, 34, 348, 72, out, 4);
    const int last = *s.luma(351, 71);
    QCOMPARE((int)out[3], last);
    QCOMPARE((int)out[3 * 4 + 3], last);
    QCOMPARE((int)out[2 * 4 + 1], last);
    QCOMPARE((int)out[0], (int)*s.luma(349, 71));
    QCOMPARE((int)out[1], (int)*s.luma(350, 71));
    delete ctu;
}

void TestIntra::ctbRowBoundaryReadsTheLineStore()
{
    Decoded s("i_base");
    H265D_DEC_OBJ *dec = s.dec();
    H265D_CTU_RECORD *ctu = new H265D_CTU_RECORD(s.ctuAt(64, 64));
    /* the stored unfiltered row of CTB row 0 differs from the picture */
    uint8_t *store = dec->side.lineStore[0] + 0 * dec->side.lineStride[0] + 64;
    for (int x = 63; x < 80; x++) {
        store[x] = (uint8_t)(200 - x);
        *s.luma(x, 63) = 7;
    }
    int flags[5];
    intraNeighbourAvailability(dec, ctu, 64, 64, 8, flags);
    uint8_t out[8 * 8];
    predictIntraBlock(dec, ctu, flags, 3, 0, 26, 64, 64, out, 8);
    for (int y = 0; y < 8; y++)
        for (int x = 1; x < 8; x++)
            QCOMPARE((int)out[y * 8 + x], 200 - (64 + x));
    /* inside the CTB the picture is read */
    predictIntraBlock(dec, ctu, flags, 3, 0, 26, 64, 72, out, 8);
    for (int x = 1; x < 8; x++)
        QCOMPARE((int)out[x], (int)*s.luma(64 + x, 71));
    delete ctu;
}

void TestIntra::pcmLeavesTheCodedLumaMapAlone()
{
    Decoded s("i_base");
    H265D_DEC_OBJ *dec = s.dec();
    H265D_CTU_RECORD *ctu = new H265D_CTU_RECORD(s.ctuAt(0, 0));
    memset(dec->side.codedLuma, 0, (size_t)dec->side.mapW4 * (dec->h64 / 4));
    H265D_CU &cu = ctu->cu[0];
    memset(&cu, 0, sizeof cu);
    cu.x = 16;
    cu.y = 8;
    cu.log2CbSize = 3;
    cu.CuPredMode = 1;
    cu.pcm_flag = 1;
    ctu->numCu = 1;
    for (int i = 0; i < 64; i++)
        ctu->coeffY[i] = (int16_t)(i * 3);
    for (int i = 0; i < 16; i++) {
        ctu->coeffCb[i] = (int16_t)(100 + i);
        ctu->coeffCr[i] = (int16_t)(200 + i);
    }
    reconstructIntraCu(dec, ctu, 0, 0, 0, 0);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++)
            QCOMPARE((int)*s.luma(16 + x, 8 + y), (y * 8 + x) * 3);
    const H265D_PICTURE *p = s.pic();
    QCOMPARE((int)p->origin[1][4 * p->uvStride + 8 + 3], 103);
    QCOMPARE((int)p->origin[2][5 * p->uvStride + 8], 204);
    for (int i = 0; i < dec->side.mapW4 * (int)(dec->h64 / 4); i++)
        QCOMPARE((int)dec->side.codedLuma[i], 0);
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
