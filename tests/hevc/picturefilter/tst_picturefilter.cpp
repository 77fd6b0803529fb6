#include <QtTest>

#include "../common/h265_streams.h"
#include "hevc/decoder.h"
#include "hevc/loopfilter.h"
#include "hevc/slicedata.h"

using namespace h265d;

namespace {

/* A decoder left with the state of i_base's last picture (352x288, one
 * slice, 64x64 CTBs); the tests then prepare maps and samples by hand and
 * run the picture filters again. */
struct Prepared
{
    h265test::Decoder d{h265test::initParam(352, 288, 4), false};
    bool ok = false;
    Prepared()
    {
        QFile f(QString("%1/i_base.hevc").arg(QString(qgetenv("HEVC_CORPUS_DIR"))));
        if (!f.open(QIODevice::ReadOnly))
            return;
        const QByteArray all = f.readAll();
        d.feed(h265test::Bytes(all.begin(), all.end()));
        d.finish();
        ok = d.pictures.size() == 4;
        H265D_SIDE_BUFFERS *sb = &dec()->side;
        const size_t n4 = (size_t)sb->mapW4 * (dec()->h64 / 4);
        memset(sb->edgeFlags, 0, n4);
        memset(sb->filterBypass, 0, (size_t)sb->mapW8 * (dec()->h64 / 8));
        /* lossless units can only be marked where the PPS allows them */
        dec()->pps->transquant_bypass_enabled_flag = 1;
        memset(sb->qpY, 30, (size_t)sb->mapWMinCb * (dec()->h64 / 8));
        memset(sb->intraMode, 1, n4);
        memset(sb->ctbFlags, H265D_CTB_ACROSS_SLICES, (size_t)dec()->geo.PicSizeInCtbsY);
        memset(sb->deblockOffsets, 0, 2 * (size_t)dec()->geo.PicSizeInCtbsY);
        memset(sb->sao, 0, sizeof(H265D_SAO_PARAMS) * (size_t)dec()->geo.PicSizeInCtbsY);
        for (int c = 0; c < 3; c++) {
            const int w = c ? 176 : 352, h = c ? 144 : 288;
            for (int y = 0; y < h; y++)
                memset(row(c, y), 100, (size_t)w);
        }
    }
    H265D_DEC_OBJ *dec() { return d.obj(); }
    H265D_PICTURE *pic() { return &dec()->dpb.pic[dec()->dpb.curPic]; }
    uint8_t *row(int c, int y) { return pic()->origin[c] + (ptrdiff_t)y * (c ? pic()->uvStride : pic()->yStride); }
};

} // namespace

class TestPictureFilter : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        if (qgetenv("HEVC_CORPUS_DIR").isEmpty())
            QSKIP("no corpus");
    }

    /* A lossless (transquant bypass) side keeps its samples while the other
     * side of the same edge is filtered. */
    void bypassSideKeepsItsSamples()
    {
        Prepared s;
        QVERIFY(s.ok);
        H265D_DEC_OBJ *dec = s.dec();
        dec->sps->sample_adaptive_offset_enabled_flag = 0;
        /* a vertical intra edge at x = 64 over rows 64..71, step 90 | 110 */
        for (int y = 64; y < 72; y++) {
            memset(s.row(0, y) + 56, 90, 8);
            memset(s.row(0, y) + 64, 110, 8);
            dec->side.edgeFlags[(y >> 2) * dec->side.mapW4 + (64 >> 2)] = 1;
        }
        dec->side.filterBypass[(64 >> 3) * dec->side.mapW8 + (56 >> 3)] = 1; /* p side lossless */
        filterPicture(dec);
        for (int y = 64; y < 72; y++) {
            for (int x = 56; x < 64; x++)
                QCOMPARE((int)s.row(0, y)[x], 90);
            QVERIFY(s.row(0, y)[64] < 110); /* q0 moved towards p */
        }
        /* without the flag both sides move */
        for (int y = 64; y < 72; y++) {
            memset(s.row(0, y) + 56, 90, 8);
            memset(s.row(0, y) + 64, 110, 8);
        }
        dec->side.filterBypass[(64 >> 3) * dec->side.mapW8 + (56 >> 3)] = 0;
        filterPicture(dec);
        QVERIFY(s.row(0, 64)[63] > 90);
        QVERIFY(s.row(0, 64)[64] < 110);
    }

    /* The picture's first column and row have no edge to filter, and an
     * edge of a slice with deblocking off stays as it is. */
    void pictureEdgesAndDisabledSlices()
    {
        Prepared s;
        QVERIFY(s.ok);
        H265D_DEC_OBJ *dec = s.dec();
        dec->sps->sample_adaptive_offset_enabled_flag = 0;
        for (int y = 0; y < 8; y++) {
            dec->side.edgeFlags[(y >> 2) * dec->side.mapW4] = 3;
            memset(s.row(0, y) + 8, 140, 8);
            dec->side.edgeFlags[(y >> 2) * dec->side.mapW4 + 2] = 1;
        }
        dec->side.ctbFlags[0] |= H265D_CTB_DEBLOCK_OFF;
        filterPicture(dec);
        for (int y = 0; y < 8; y++) {
            QCOMPARE((int)s.row(0, y)[0], 100);
            QCOMPARE((int)s.row(0, y)[7], 100);
            QCOMPARE((int)s.row(0, y)[8], 140);
        }
    }

    /* Edge offset leaves the picture's first column alone for class 0. */
    void edgeOffsetAtThePictureEdge()
    {
        Prepared s;
        QVERIFY(s.ok);
        H265D_DEC_OBJ *dec = s.dec();
        dec->sps->sample_adaptive_offset_enabled_flag = 1;
        H265D_SAO_PARAMS *p = &dec->side.sao[0];
        p->SaoTypeIdx[0] = 2;
        p->SaoEoClass[0] = 0;
        const int8_t offs[5] = {0, 5, 3, -3, -5};
        memcpy(p->SaoOffsetVal[0], offs, 5);
        s.row(0, 10)[0] = 50; /* a local minimum, but on the picture edge */
        s.row(0, 10)[5] = 50; /* a local minimum inside */
        filterPicture(dec);
        QCOMPARE((int)s.row(0, 10)[0], 50);
        QCOMPARE((int)s.row(0, 10)[5], 55);
    }
};

QTEST_GUILESS_MAIN(TestPictureFilter)
#include "tst_picturefilter.moc"
