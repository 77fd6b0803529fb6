// Loop-filter kernels where streams rarely reach (flagged sides, the
// boundary-strength motion test, SAO band wrap and picture edges) and the
// drivers on a decoded picture. The filters' arithmetic is
// checked bit-exactly on whole streams by the corpus entries, for every
// processor mask.
#include "hevc/decoder.h"
#include "hevc/dsp/h265d_dsp.h"
#include "hevc/loopfilter.h"
#include "hevc/slicedata.h"

#include "../common/h265_streams.h"

#include "../common/test_rng.h"
#include "hevc/deblock.h"
#include "hevc/sao.h"

#include <QtTest>

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <vector>

using namespace h265d;

namespace {

using testrng::Rng;

int clip3(int lo, int hi, int v)
{
    return std::min(hi, std::max(lo, v));
}

H265D_MV_FIELD mvField(int slot0, int x0, int y0, int slot1 = -1, int x1 = 0, int y1 = 0)
{
    H265D_MV_FIELD f{};
    const int refs[2] = {slot0, slot1}, mvs[2][2] = {{x0, y0}, {x1, y1}};
    for (int l = 0; l < 2; ++l) {
        f.predFlag[l] = refs[l] >= 0;
        f.refSlot[l] = uint8_t(refs[l] >= 0 ? refs[l] : 0);
        f.refIdx[l] = int8_t(refs[l] >= 0 ? 0 : -1);
        f.mv[l][0] = int16_t(mvs[l][0]);
        f.mv[l][1] = int16_t(mvs[l][1]);
    }
    return f;
}

// ---- Sample adaptive offset of clause 8.7.3 on a block of a larger area.
struct SaoArea
{
    static constexpr int kStride = 80;
    static constexpr int kOrigin = 2 * kStride + 8;
    std::vector<uint8_t> pix = std::vector<uint8_t>(kStride * 72);
};

} // namespace

// ---- The drivers on the state a decoded intra stream leaves behind, with
// planted samples, maps and records.
namespace {

// i_base: 352 x 288 with 64 x 64 CTBs, so 6 x 5 CTBs, the last column and
// row 32 samples wide.
struct Planted
{
    h265test::Decoder d{h265test::initParam(352, 288, 4), false};
    H265D_DEC_OBJ *dec = nullptr;
    H265D_PICTURE *pic = nullptr;
    uint8_t *bsVer = nullptr, *bsHor = nullptr;

    bool load()
    {
        const h265test::Bytes s = h265test::corpusStream("i_base");
        if (s.empty())
            return false;
        d.feed(s);
        d.finish();
        dec = d.obj();
        pic = &dec->dpb.pic[dec->dpb.curPic];
        const size_t units = size_t(dec->side.mapW4) * (dec->h64 / 4);
        bsVer = dec->side.bs;
        bsHor = dec->side.bs + units;
        // One slice, filters across everything, QP 40, no offsets, no SAO.
        const int ctbs = dec->geo.PicSizeInCtbsY;
        for (int i = 0; i < ctbs; ++i) {
            dec->side.sliceAddr[i] = 0;
            dec->side.ctbFlags[i] = H265D_CTB_ACROSS_SLICES;
            dec->side.deblockOffsets[2 * i] = dec->side.deblockOffsets[2 * i + 1] = 0;
            memset(&dec->side.sao[i], 0, sizeof(H265D_SAO_PARAMS));
        }
        setQp(40);
        memset(dec->side.filterBypass, 0, size_t(dec->side.mapW8) * (dec->h64 / 8));
        memset(dec->side.bs, 0, 2 * units);
        memset(dec->side.edgeFlags, 0, units);
        dec->sps->sample_adaptive_offset_enabled_flag = 1;
        return true;
    }
    void setQp(int qp) { memset(dec->side.qpY, qp, size_t(dec->side.mapWMinCb) * (dec->h64 / 8)); }
    int width() const { return dec->geo.PicWidthInSamplesY; }
    int height() const { return dec->geo.PicHeightInSamplesY; }
    uint8_t &luma(int x, int y) { return pic->origin[0][ptrdiff_t(y) * pic->yStride + x]; }
    uint8_t &chroma(int c, int x, int y) { return pic->origin[c][ptrdiff_t(y) * pic->uvStride + x]; }
    // Fills the luma plane and its margins from f(x, y).
    template <typename F>
    void fillLuma(F f)
    {
        for (int y = -8; y < height() + 8; ++y)
            for (int x = -8; x < width() + 8; ++x)
                luma(x, y) = uint8_t(f(x, y));
    }
    H265D_SAO_PARAMS &sao(int ctb) { return dec->side.sao[ctb]; }
};

H265D_SAO_PARAMS edgeParams(int cls)
{
    H265D_SAO_PARAMS p{};
    for (int c = 0; c < 3; ++c) {
        p.SaoTypeIdx[c] = 2;
        p.SaoEoClass[c] = uint8_t(cls);
        const int8_t offs[5] = {0, 5, 2, -2, -5};
        std::copy(offs, offs + 5, p.SaoOffsetVal[c]);
    }
    return p;
}

} // namespace

class TestLoopFilter : public QObject
{
    Q_OBJECT

    H265D_DSP_TABLE dsp{};

private slots:
    void initTestCase();
    void flaggedSideKeepsSamples();
    void motionComparison();
    void saoBandPositions();
    void saoPictureEdges();
    void firstRowAndColumnNeverFiltered();
    void boundaryStrengthsOfACtu();
    void saoAcrossSlicesAndBypass();
};

void TestLoopFilter::initTestCase()
{
    uint32_t flags = 0;
    initDspFunctionTable(&dsp, &flags, 0);
}

void TestLoopFilter::flaggedSideKeepsSamples()
{
    // A lossless (or PCM) block before an ordinary one: a strong step that
    // both filters would smooth. Only the ordinary side may change, and it
    // changes exactly as it does when both sides are filtered.
    for (bool vertical : {true, false})
        for (bool chroma : {false, true}) {
            uint8_t original[16 * 16], kept[16 * 16], both[16 * 16];
            for (int i = 0; i < 16 * 16; ++i)
                original[i] = uint8_t(((vertical ? i % 16 : i / 16) < 8 ? 60 : 72) + ((i % 16 + i / 16) & 1));
            memcpy(kept, original, sizeof kept);
            memcpy(both, original, sizeof both);
            const int edge = vertical ? 4 * 16 + 8 : 8 * 16 + 4, before = vertical ? 1 : 16;
            const int32_t beta[2] = {64, 64}, tc[2] = {8, 8};
            const uint8_t none[2] = {0, 0}, keep[2] = {1, 1};
            const int slot =
                chroma ? (vertical ? H265D_SLOT_DEBLOCK_CHROMA_V_FLAGGED : H265D_SLOT_DEBLOCK_CHROMA_H_FLAGGED)
                       : (vertical ? H265D_SLOT_DEBLOCK_LUMA_V_FLAGGED : H265D_SLOT_DEBLOCK_LUMA_H_FLAGGED);
            if (chroma) {
                dsp.slot[slot].deblockChroma(kept + edge, 16, tc, keep, none);
                dsp.slot[slot].deblockChroma(both + edge, 16, tc, none, none);
            } else {
                dsp.slot[slot].deblockLuma(kept + edge, 16, beta, tc, keep, none);
                dsp.slot[slot].deblockLuma(both + edge, 16, beta, tc, none, none);
            }
            for (int i = 0; i < 16 * 16; ++i)
                QCOMPARE(kept[i], (vertical ? i % 16 : i / 16) < 8 ? original[i] : both[i]);
            QVERIFY(both[edge] < 72 && both[edge - before] > 61); // both sides did move
        }
}

void TestLoopFilter::motionComparison()
{
    // Strength 1 for different pictures or numbers of vectors, or vectors
    // 4 quarter samples apart in a component; with two vectors into one
    // picture, only when neither pairing of the vectors matches.
    const struct
    {
        const char *what;
        H265D_MV_FIELD p, q;
        int bs;
    } cases[] = {
        {"3 apart", mvField(0, 0, 0), mvField(0, 3, -3), 0},
        {"4 apart across", mvField(0, 0, 0), mvField(0, 4, 0), 1},
        {"4 apart down", mvField(0, 0, 0), mvField(0, 0, -4), 1},
        {"other picture", mvField(0, 0, 0), mvField(1, 0, 0), 1},
        {"same picture through the other list", mvField(0, 0, 0), mvField(-1, 0, 0, 0, 1, 1), 0},
        {"one vector and two", mvField(0, 0, 0), mvField(0, 0, 0, 1, 0, 0), 1},
        {"two pictures, lists swapped", mvField(0, 0, 0, 1, 8, 8), mvField(1, 8, 8, 0, 3, 0), 0},
        {"two pictures, lists swapped, one apart", mvField(0, 0, 0, 1, 8, 8), mvField(1, 8, 8, 0, 4, 0), 1},
        {"two pictures, one other", mvField(0, 0, 0, 1, 0, 0), mvField(0, 0, 0, 2, 0, 0), 1},
        {"one picture twice, straight pairing", mvField(0, 0, 0, 0, 8, 8), mvField(0, 0, 3, 0, 8, 8), 0},
        {"one picture twice, crossed pairing", mvField(0, 0, 0, 0, 8, 8), mvField(0, 8, 8, 0, 0, 3), 0},
        {"one picture twice, neither pairing", mvField(0, 0, 0, 0, 8, 8), mvField(0, 4, 0, 0, 8, 8), 1},
    };
    const auto bs = dsp.slot[H265D_SLOT_BS_MOTION].bsMotion;
    for (const auto &c : cases)
        QVERIFY2(bs(&c.p, &c.q) == c.bs && bs(&c.q, &c.p) == c.bs, c.what);
}

void TestLoopFilter::saoBandPositions()
{
    // Position 30 wraps: bands 30, 31, 0, 1 take offsets 1..4.
    H265D_SAO_PARAMS p{};
    p.SaoTypeIdx[1] = 1;
    p.sao_band_position[1] = 30;
    const int8_t offs[5] = {0, 1, 2, 3, -4};
    std::copy(offs, offs + 5, p.SaoOffsetVal[1]);
    uint8_t block[2 * 32];
    for (int band = 0; band < 32; ++band) {
        block[band] = uint8_t(band * 8);
        block[32 + band] = uint8_t(band * 8 + 7);
    }
    dsp.slot[H265D_SLOT_SAO_BAND].saoBand(block, 32, &p, 32, 2, 1);
    for (int band = 0; band < 32; ++band) {
        const int off = band == 30 ? 1 : band == 31 ? 2 : band == 0 ? 3 : band == 1 ? -4 : 0;
        QCOMPARE(int(block[band]), clip3(0, 255, band * 8 + off));
        QCOMPARE(int(block[32 + band]), clip3(0, 255, band * 8 + 7 + off));
    }
}

void TestLoopFilter::saoPictureEdges()
{
    // A block at the left edge keeps its first column under the classes that
    // look left (0, 2, 3) but not under the vertical class; at the top edge
    // its first row under 1, 2, 3.
    const auto edge = dsp.slot[H265D_SLOT_SAO_EDGE].saoEdge;
    for (int cls = 0; cls < 4; ++cls)
        for (bool leftEdge : {true, false}) {
            SaoArea src;
            Rng rng(16);
            for (auto &v : src.pix)
                v = uint8_t(rng.range(0, 1) ? 200 : 100); // many local peaks and valleys
            H265D_SAO_PARAMS p{};
            p.SaoTypeIdx[0] = 2;
            p.SaoEoClass[0] = uint8_t(cls);
            const int8_t offs[5] = {0, 7, 3, -3, -7};
            std::copy(offs, offs + 5, p.SaoOffsetVal[0]);
            const unsigned avail = 0xF & ~(leftEdge ? H265D_SAO_AVAIL_LEFT : H265D_SAO_AVAIL_ABOVE);
            SaoArea a = src;
            uint8_t *d = a.pix.data() + SaoArea::kOrigin;
            const uint8_t *s = src.pix.data() + SaoArea::kOrigin;
            edge(d, s, SaoArea::kStride, &p, avail, 16, 16, 0);
            const bool looksAcross = leftEdge ? cls != 1 : cls != 0;
            int kept = 0, changedInside = 0;
            for (int k = 0; k < 16; ++k) {
                const int at = leftEdge ? k * SaoArea::kStride : k;
                kept += d[at] == s[at];
                changedInside += d[at + SaoArea::kStride + 1] != s[at + SaoArea::kStride + 1];
            }
            if (looksAcross)
                QCOMPARE(kept, 16);
            else
                QVERIFY(kept < 16);
            QVERIFY(changedInside > 0);
        }
}

void TestLoopFilter::firstRowAndColumnNeverFiltered()
{
    Planted p;
    if (!p.load())
        QSKIP("no corpus");
    // The whole-picture driver with an intra edge on every 4x4 boundary;
    // flat inside, a step into the margins: only an edge at x = 0 or y = 0
    // could change a sample.
    const size_t units = size_t(p.dec->side.mapW4) * (p.dec->h64 / 4);
    memset(p.dec->side.edgeFlags, 3, units);
    memset(p.dec->side.intraMode, 1, units);
    p.dec->sps->sample_adaptive_offset_enabled_flag = 0;
    p.fillLuma([&](int x, int y) { return x < 0 || y < 0 || x >= p.width() || y >= p.height() ? 180 : 100; });
    p.setQp(51);
    filterPicture(p.dec);
    for (int y = -4; y < p.height(); ++y)
        for (int x = -4; x < p.width(); ++x)
            if (p.luma(x, y) != (x < 0 || y < 0 ? 180 : 100))
                QFAIL(qPrintable(QString("sample (%1, %2) changed").arg(x).arg(y)));
    // A slice with deblocking off keeps the edges of its CTBs (down to the
    // rows the edge below, of a CTB that filters, may change).
    p.fillLuma([](int x, int) { return x < 72 ? 100 : 140; });
    p.dec->side.ctbFlags[1] |= H265D_CTB_DEBLOCK_OFF;
    filterPicture(p.dec);
    for (int y = 0; y < 61; ++y) {
        QCOMPARE(int(p.luma(71, y)), 100);
        QCOMPARE(int(p.luma(72, y)), 140);
    }
    QVERIFY(p.luma(71, 64) != 100);
}

void TestLoopFilter::boundaryStrengthsOfACtu()
{
    Planted p;
    if (!p.load())
        QSKIP("no corpus");
    H265D_DEC_OBJ *dec = p.dec;
    // CTB (64, 0): one intra 64 x 64 unit split into four 32 x 32 transform
    // units; its left neighbour inter with coded luma in one 4 x 4 unit.
    auto *ctu = new H265D_CTU_RECORD{};
    ctu->x = 64;
    ctu->ctbSize = 64;
    ctu->ctbLog2 = 6;
    ctu->ctbX = 1;
    ctu->ctbAddrRs = 1;
    ctu->numCu = 1;
    ctu->cu[0].x = 64;
    ctu->cu[0].log2CbSize = 6;
    ctu->cu[0].CuPredMode = 1;
    ctu->numTu = 4;
    for (int i = 0; i < 4; ++i) {
        ctu->tu[i].x = 64 + 32 * (i & 1);
        ctu->tu[i].y = 32 * (i >> 1);
        ctu->tu[i].log2TrafoSize = 5;
    }
    for (int i = 0; i < 4; ++i) // as reconstruction marks them
        markBlockEdges(dec, ctu->tu[i].x, ctu->tu[i].y, 32, 32, 1, 2);
    const int w4 = dec->side.mapW4;
    for (int y = 0; y < 64; y += 4)
        for (int x = 0; x < 128; x += 4)
            dec->side.intraMode[(y >> 2) * w4 + (x >> 2)] = x >= 64 ? 1 : 255;
    const size_t units = size_t(w4) * (dec->h64 / 4);
    memset(p.bsVer, 7, units);
    memset(p.bsHor, 7, units);
    computeBoundaryStrength(dec, ctu, p.bsVer, p.bsHor);
    for (int y = 0; y < 64; y += 4)
        for (int x = 64; x < 128; x += 4) {
            const int v = p.bsVer[(y >> 2) * w4 + (x >> 2)], h = p.bsHor[(y >> 2) * w4 + (x >> 2)];
            QCOMPARE(v, (x == 64 || x == 96) ? 2 : 0);
            QCOMPARE(h, (y == 32) ? 2 : 0); // the picture's first row is no edge
        }
    // The CTU's left neighbour keeps its strengths.
    QCOMPARE(int(p.bsVer[60 >> 2]), 7);
    // A slice with deblocking disabled: no strengths at all.
    dec->side.ctbFlags[1] |= H265D_CTB_DEBLOCK_OFF;
    computeBoundaryStrength(dec, ctu, p.bsVer, p.bsHor);
    for (int y = 0; y < 64; y += 4)
        for (int x = 64; x < 128; x += 4)
            QVERIFY(p.bsVer[(y >> 2) * w4 + (x >> 2)] == 0 && p.bsHor[(y >> 2) * w4 + (x >> 2)] == 0);
    // ... while its sample adaptive offset still runs.
    p.fillLuma([](int, int) { return 100; });
    p.sao(1).SaoTypeIdx[0] = 1;
    p.sao(1).sao_band_position[0] = 100 >> 3;
    p.sao(1).SaoOffsetVal[0][1] = 3;
    applySaoCtu(dec, 64, 0);
    QCOMPARE(int(p.luma(64, 0)), 103);
    QCOMPARE(int(p.luma(127, 63)), 103);
    QCOMPARE(int(p.luma(63, 0)), 100);
    QCOMPARE(int(p.luma(128, 0)), 100);
    // Across a slice boundary that forbids it, nothing is computed for the left edge.
    dec->side.ctbFlags[1] = 0;
    dec->side.sliceAddr[1] = 1;
    computeBoundaryStrength(dec, ctu, p.bsVer, p.bsHor);
    QCOMPARE(int(p.bsVer[64 >> 2]), 0);
    QCOMPARE(int(p.bsVer[96 >> 2]), 2);
    delete ctu;
}

void TestLoopFilter::saoAcrossSlicesAndBypass()
{
    Planted p;
    if (!p.load())
        QSKIP("no corpus");
    H265D_DEC_OBJ *dec = p.dec;
    Rng rng(17);
    std::vector<uint8_t> orig;
    p.fillLuma([&](int, int) { return int(rng.range(0, 1) ? 140 : 120); });
    const H265D_PICTURE *pic = p.pic;
    orig.assign(pic->origin[0] - 8 * pic->yStride - 8, pic->origin[0] + 300 * pic->yStride);
    // CTB 1 starts a slice that does not filter across its boundaries.
    dec->side.sliceAddr[1] = 1;
    dec->side.ctbFlags[1] = 0;
    p.sao(0) = edgeParams(0);
    p.sao(1) = edgeParams(0);
    applySaoCtu(dec, 0, 0);
    applySaoCtu(dec, 64, 0);
    auto before = [&](int x, int y) { return orig[size_t(y + 8) * pic->yStride + x + 8]; };
    int changed63 = 0, changed65 = 0;
    for (int y = 0; y < 64; ++y) {
        QCOMPARE(p.luma(64, y), before(64, y));
        QCOMPARE(p.luma(63, y), before(63, y)); // the earlier CTB follows the later one's flag
        QCOMPARE(p.luma(0, y), before(0, y));   // picture edge
        changed63 += p.luma(62, y) != before(62, y);
        changed65 += p.luma(65, y) != before(65, y);
    }
    QVERIFY(changed63 > 0 && changed65 > 0);

    // Lossless units keep their samples after the offset.
    p.fillLuma([](int, int) { return 100; });
    dec->pps->transquant_bypass_enabled_flag = 1;
    dec->side.filterBypass[1 * dec->side.mapW8 + 1] = 1; // luma (8..15, 8..15), chroma (4..7, 4..7)
    dec->side.filterBypass[6 * dec->side.mapW8 + 6] = 1; // luma (48..55, 48..55), chroma (24..27, 24..27)
    for (int c = 1; c <= 2; ++c)
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                p.chroma(c, x, y) = 100;
    H265D_SAO_PARAMS band{};
    for (int c = 0; c < 3; ++c) {
        band.SaoTypeIdx[c] = 1;
        band.sao_band_position[c] = 100 >> 3;
        band.SaoOffsetVal[c][1] = -4;
    }
    p.sao(0) = band;
    dec->side.ctbFlags[0] &= ~H265D_CTB_SAO_DONE;
    applySaoCtu(dec, 0, 0);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x) {
            const bool kept = x >= 8 && x < 16 && y >= 8 && y < 16;
            QCOMPARE(int(p.luma(x, y)), kept ? 100 : 96);
            if (x < 12 && y < 12) {
                const bool keptC = x >= 4 && x < 8 && y >= 4 && y < 8;
                QCOMPARE(int(p.chroma(1, x, y)), keptC ? 100 : 96);
                QCOMPARE(int(p.chroma(2, x, y)), keptC ? 100 : 96);
            }
        }
    // A lossless unit outside the CTB's top-left quarter keeps its chroma
    // too; the chroma next to it is offset.
    QCOMPARE(int(p.luma(50, 50)), 100);
    QCOMPARE(int(p.luma(47, 50)), 96);
    for (int c = 1; c <= 2; ++c) {
        QCOMPARE(int(p.chroma(c, 24, 24)), 100);
        QCOMPARE(int(p.chroma(c, 27, 27)), 100);
        QCOMPARE(int(p.chroma(c, 23, 25)), 96);
        QCOMPARE(int(p.chroma(c, 28, 25)), 96);
    }
}

QTEST_GUILESS_MAIN(TestLoopFilter)
#include "tst_loopfilter.moc"
