#include <QtTest>

#include <random>
#include <vector>

#include "../common/h265_streams.h"
#include "hevc/cabac.h"
#include "hevc/decoder.h"
#include "hevc/slicedata.h"
#include "hevc/tools/h265gen_cabac.h"
#include "hevc/syntax.h"

using namespace h265d;

using h265test::Bytes;

namespace {

/* The stream writer's arithmetic encoder (its own tables, not the
 * decoder's), writing into bytes of its own. */
class CabacEncoder
{
public:
    using Ctx = h265gen::Ctx;
    CabacEncoder() : enc_(bits_) {}
    void decision(Ctx &ctx, int bin) { enc_.decision(ctx, bin); }
    void bypass(int bin) { enc_.bypass(bin); }
    void bypassBits(uint32_t v, int n) { enc_.bypassBits(v, n); }
    void terminate(int bin) { enc_.terminateBin(bin); }
    const Bytes &bytes() const { return bits_.bytes(); }

private:
    h265gen::BitWriter bits_;
    h265gen::CabacEncoder enc_;
};

/* Encoder-side contexts initialised like the decoder's. */
struct EncContexts
{
    CabacEncoder::Ctx ctx[H265D_CTX_COUNT];
    explicit EncContexts(int initType = 0, int qp = 26)
    {
        uint8_t st[H265D_CTX_COUNT];
        cabacInitContextsFor(initType, qp, st);
        for (int i = 0; i < H265D_CTX_COUNT; i++) {
            ctx[i].pStateIdx = (uint8_t)(st[i] >> 1);
            ctx[i].valMps = (uint8_t)(st[i] & 1);
        }
    }
};

/* Exp-Golomb of order k in bypass bins. */
void encodeEgk(CabacEncoder &e, uint32_t v, int k)
{
    while (v >= (1u << k)) {
        e.bypass(1);
        v -= 1u << k;
        k++;
    }
    e.bypass(0);
    e.bypassBits(v, k);
}

struct Harness
{
    h265test::Decoder d{h265test::initParam()};
    H265D_SLICE_CTX *ctx = new H265D_SLICE_CTX();
    Bytes data;
    ~Harness() { delete ctx; }
    H265D_DEC_OBJ *dec() { return d.obj(); }
    void start(const Bytes &b, int initType = 0, int qp = 26)
    {
        data = b;
        data.resize(b.size()); /* exact size: ASan sees any read past the data */
        cabacInitContextsFor(initType, qp, ctx->cabac.ctxState);
        cabacStartAt(&ctx->cabac, data.data(), data.data() + data.size());
        dec()->pps = &dec()->ppsStore[0];
        dec()->sps = &dec()->spsStore[0];
    }
};

} // namespace

class TestCabac : public QObject
{
    Q_OBJECT

private slots:
    void decisionsRoundTrip_data();
    void decisionsRoundTrip();
    void residualLevelLimits();
    void mvdLimits();
    void cuQpDeltaLimits();
    void wppStartChecksTheCtbAboveRight();
    void damagedSliceDataStaysInside();
};

namespace {

/* One 4x4 luma block whose only coefficient is at (0, 0) with the given
 * level: last position (0, 0), greater1 and greater2 set, the remaining
 * level with Rice parameter 0. */
Bytes dcBlock(int64_t level, bool negative, int forcePrefix = -1)
{
    EncContexts ec;
    CabacEncoder e;
    e.decision(ec.ctx[CTX_LAST_X_PREFIX], 0);
    e.decision(ec.ctx[CTX_LAST_Y_PREFIX], 0);
    e.decision(ec.ctx[CTX_GREATER1 + 1], 1);
    e.decision(ec.ctx[CTX_GREATER2], 1);
    e.bypass(negative ? 1 : 0);
    if (forcePrefix >= 0) {
        for (int i = 0; i < forcePrefix; i++)
            e.bypass(1);
        for (int i = 0; i < 40; i++)
            e.bypass(1);
    } else {
        const int64_t rem = level - 3;
        if (rem < 3) {
            for (int i = 0; i < rem; i++)
                e.bypass(1);
            e.bypass(0);
        } else {
            int p = 3;
            while ((((int64_t)1 << (p - 2)) + 2) <= rem)
                p++;
            for (int i = 0; i < p; i++)
                e.bypass(1);
            e.bypass(0);
            e.bypassBits((uint32_t)(rem - (((int64_t)1 << (p - 3)) + 2)), p - 3);
        }
    }
    e.terminate(1);
    return e.bytes();
}

} // namespace

void TestCabac::decisionsRoundTrip_data()
{
    QTest::addColumn<int>("percentOnes");
    for (int p : {1, 10, 50, 90, 99})
        QTest::addRow("%d%% ones", p) << p;
}

/* Every context state, both symbols of each, in every range quarter: bins
 * written by the stream writer's encoder come back from the decision step
 * with the same context states after them. Skewed bins hold a context at
 * its high states and hit them with the rare symbol. */
void TestCabac::decisionsRoundTrip()
{
    QFETCH(int, percentOnes);
    std::mt19937 rng(4242u + (unsigned)percentOnes);
    CabacEncoder enc;
    CabacEncoder::Ctx encCtx[128];
    uint8_t decState[128];
    for (int s = 0; s < 128; s++) {
        encCtx[s].pStateIdx = (uint8_t)(s >> 1);
        encCtx[s].valMps = (uint8_t)(s & 1);
        decState[s] = (uint8_t)s;
    }
    std::vector<std::pair<int, int>> bins; /* context, bin */
    for (int i = 0; i < 200000; i++) {
        const int c = (int)(rng() % 128);
        const int bin = (int)(rng() % 100) < percentOnes ? 1 : 0;
        enc.decision(encCtx[c], bin);
        bins.emplace_back(c, bin);
    }
    enc.terminate(1);
    Harness h;
    h.start(enc.bytes());
    for (size_t i = 0; i < bins.size(); i++)
        if (cabacDecodeDecision(&h.ctx->cabac, &decState[bins[i].first]) != bins[i].second)
            QFAIL(qPrintable(QString("bin %1 of context %2 decoded wrongly").arg(i).arg(bins[i].first)));
    QCOMPARE(cabacDecodeTerminate(&h.ctx->cabac), 1);
    for (int s = 0; s < 128; s++)
        QCOMPARE((int)decState[s], encCtx[s].pStateIdx * 2 + encCtx[s].valMps);
}

void TestCabac::residualLevelLimits()
{
    Harness h;
    H265D_TU tu = {};
    int16_t coeffs[16];
    h.start(dcBlock(32767, false));
    QCOMPARE(parseResidualCoding(h.dec(), h.ctx, &tu, 2, 0, 0, coeffs, 0), 0);
    QCOMPARE((int)coeffs[0], 32767);
    QCOMPARE(tu.coeffCount[0], 1);
    QCOMPARE(tu.columnBound[0], 4);
    h.start(dcBlock(32768, true));
    QCOMPARE(parseResidualCoding(h.dec(), h.ctx, &tu, 2, 0, 0, coeffs, 0), 0);
    QCOMPARE((int)coeffs[0], -32768);
    h265test::logs().clear();
    h.start(dcBlock(32768, false));
    QCOMPARE(parseResidualCoding(h.dec(), h.ctx, &tu, 2, 0, 0, coeffs, 0), H265D_ERR_SLICE_DATA);
    QVERIFY(h265test::logged("the value of trans_coeff_level is 32768, it should be in the range of -32768~32767!"));
    /* Prefixes that cannot give a legal level are refused before any shift. */
    for (int prefix : {20, 32}) {
        h265test::logs().clear();
        h.start(dcBlock(0, false, prefix));
        QCOMPARE(parseResidualCoding(h.dec(), h.ctx, &tu, 2, 0, 0, coeffs, 0), H265D_ERR_SLICE_DATA);
        QVERIFY(h265test::logged("trans_coeff_level"));
    }
}

void TestCabac::mvdLimits()
{
    struct Case
    {
        int x, y;
        bool ok;
    };
    for (const Case &k : {Case{-32768, 32767, true}, Case{32768, 0, false}, Case{0, -32769, false}, Case{1, -1, true},
                          Case{0, 5, true}, Case{200000, 0, false}}) {
        EncContexts ec(1);
        CabacEncoder e;
        const int v[2] = {k.x, k.y};
        for (int i = 0; i < 2; i++)
            e.decision(ec.ctx[CTX_MVD_GREATER0], v[i] != 0);
        for (int i = 0; i < 2; i++)
            if (v[i])
                e.decision(ec.ctx[CTX_MVD_GREATER1], std::abs(v[i]) > 1);
        for (int i = 0; i < 2; i++) {
            if (!v[i])
                continue;
            if (std::abs(v[i]) > 1)
                encodeEgk(e, (uint32_t)(std::abs(v[i]) - 2), 1);
            e.bypass(v[i] < 0);
        }
        e.terminate(1);
        Harness h;
        h.start(e.bytes(), 1);
        H265D_PU pu = {};
        h265test::logs().clear();
        const int32_t r = decodeMvdCoding(h.dec(), &h.ctx->cabac, &pu, 0);
        if (k.ok) {
            QCOMPARE(r, 0);
            QCOMPARE((int)pu.mvd[0][0], k.x);
            QCOMPARE((int)pu.mvd[0][1], k.y);
        } else {
            QCOMPARE(r, H265D_ERR_SLICE_DATA);
            QVERIFY(h265test::logged("the value of stMvd is"));
        }
    }
}

void TestCabac::cuQpDeltaLimits()
{
    for (int value : {0, 4, 5, 26, 27, 1000}) {
        EncContexts ec;
        CabacEncoder e;
        for (int i = 0; i < 5 && i <= value; i++)
            e.decision(ec.ctx[i == 0 ? CTX_CU_QP_DELTA : CTX_CU_QP_DELTA + 1], i < value ? 1 : 0);
        if (value >= 5)
            encodeEgk(e, (uint32_t)(value - 5), 0);
        e.terminate(1);
        Harness h;
        h.start(e.bytes());
        int got = -1;
        h265test::logs().clear();
        const int32_t r = decodeCuQpDeltaAbs(h.dec(), &h.ctx->cabac, &got);
        if (value <= 26) {
            QCOMPARE(r, 0);
            QCOMPARE(got, value);
        } else {
            QCOMPARE(r, H265D_ERR_SLICE_DATA);
            QVERIFY(h265test::logged("the value of cu_qp_delta is"));
        }
    }
}

void TestCabac::wppStartChecksTheCtbAboveRight()
{
    /* A 4x2 CTB picture with wavefronts. A slice starts at CTB 2 (inside the
     * first row); the second row's start must not take over states stored
     * after CTB 1, which belongs to the slice before. */
    Harness h;
    H265D_DEC_OBJ *dec = h.dec();
    h.start(Bytes(64, 0x55));
    H265D_PPS *pps = dec->pps;
    pps->entropy_coding_sync_enabled_flag = 1;
    pps->tiles_enabled_flag = 0;
    for (int i = 0; i < 8; i++) {
        pps->ctbAddrRsToTs[i] = i;
        pps->ctbAddrTsToRs[i] = i;
        pps->tileId[i] = 0;
    }
    dec->geo.PicWidthInCtbsY = 4;
    dec->geo.PicHeightInCtbsY = 2;
    dec->geo.PicSizeInCtbsY = 8;
    dec->sh.slice_segment_address = 2;
    dec->sh.dependent_slice_segment_flag = 0;
    dec->sh.SliceQpY = 30;
    dec->lastIndependentAddress = 2;
    h.ctx->initType = 0;
    for (int i = 0; i < 8; i++)
        dec->side.sliceAddr[i] = -1;
    dec->side.sliceAddr[0] = dec->side.sliceAddr[1] = 0;
    dec->side.sliceAddr[2] = dec->side.sliceAddr[3] = 2;
    uint8_t fresh[H265D_CTX_COUNT];
    cabacInitContextsFor(0, 30, fresh);

    memset(h.ctx->wppStore, 0x22, sizeof h.ctx->wppStore);
    memset(h.ctx->cabac.ctxState, 0x33, sizeof h.ctx->cabac.ctxState);
    cabacStartCtu(dec, h.ctx, 4);
    QCOMPARE(memcmp(h.ctx->cabac.ctxState, fresh, H265D_CTX_USED), 0);
    QCOMPARE(h.ctx->cabac.firstQgInSlice, 1);

    /* The same picture with one slice: the stored states are taken over. */
    dec->side.sliceAddr[0] = dec->side.sliceAddr[1] = 2;
    dec->sh.slice_segment_address = 0;
    memset(h.ctx->cabac.ctxState, 0x33, sizeof h.ctx->cabac.ctxState);
    cabacStartCtu(dec, h.ctx, 4);
    QCOMPARE((int)h.ctx->cabac.ctxState[0], 0x22);

    /* One CTB wide: every row starts afresh and nothing is ever stored. */
    dec->geo.PicWidthInCtbsY = 1;
    memset(h.ctx->wppStore, 0x22, sizeof h.ctx->wppStore);
    memset(h.ctx->cabac.ctxState, 0x33, sizeof h.ctx->cabac.ctxState);
    cabacStartCtu(dec, h.ctx, 1);
    QCOMPARE(memcmp(h.ctx->cabac.ctxState, fresh, H265D_CTX_USED), 0);
    cabacSaveWppContexts(dec, h.ctx, 1);
    QCOMPARE((int)h.ctx->wppStore[0], 0x22);

    /* Without wavefronts a one-CTB-wide picture carries the states on. */
    pps->entropy_coding_sync_enabled_flag = 0;
    memset(h.ctx->cabac.ctxState, 0x33, sizeof h.ctx->cabac.ctxState);
    cabacStartCtu(dec, h.ctx, 1);
    QCOMPARE((int)h.ctx->cabac.ctxState[0], 0x33);
}

void TestCabac::damagedSliceDataStaysInside()
{
    const QByteArray dir = qgetenv("HEVC_CORPUS_DIR");
    if (dir.isEmpty())
        QSKIP("no corpus");
    for (const char *name : {"i_base", "m_default"}) {
        QFile f(QString("%1/%2.hevc").arg(QString(dir), name));
        if (!f.open(QIODevice::ReadOnly))
            QSKIP("corpus stream missing");
        const QByteArray all = f.read(400000);
        const Bytes stream(all.begin(), all.end());
        /* start codes of the units */
        std::vector<size_t> starts;
        for (size_t i = 0; i + 3 < stream.size(); i++)
            if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1)
                starts.push_back(i + 3);
        std::mt19937 rng(11);
        int variants = 0;
        for (size_t u = 0; u < starts.size() && variants < 24; u++) {
            const size_t begin = starts[u];
            const size_t end = u + 1 < starts.size() ? starts[u + 1] - 3 : stream.size();
            const int type = (stream[begin] >> 1) & 0x3F;
            if (type >= 32 || end - begin < 40)
                continue;
            for (int v = 0; v < 3; v++, variants++) {
                Bytes mutated(stream.begin(), stream.begin() + (long)end);
                if (v == 0) {
                    /* cut inside the slice data */
                    mutated.resize(begin + 20 + rng() % (end - begin - 20));
                } else {
                    /* random slice data after the header */
                    for (size_t i = begin + 12 + rng() % 8; i < end; i++)
                        mutated[i] = (uint8_t)rng();
                }
                mutated.insert(mutated.end(), stream.begin() + (long)end, stream.end());
                h265test::Decoder d(h265test::initParam(352, 288, 4), false);
                d.feed(mutated);
                d.finish();
            }
        }
        QVERIFY(variants > 0);
    }
}

QTEST_GUILESS_MAIN(TestCabac)
#include "tst_cabac.moc"
