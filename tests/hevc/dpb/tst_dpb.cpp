#include <QtTest>

#include "../common/h265_streams.h"

using namespace h265d;

using namespace h265test;

static const Bytes kAud = nal(NAL_AUD_NUT, {0x50});

class TestDpb : public QObject
{
    Q_OBJECT

private:
    static SpsParams sps(int reorder, int maxDecMinus1 = 4, int log2Poc = 8)
    {
        SpsParams s;
        s.numReorder = reorder;
        s.maxDecPicBufferingMinus1 = maxDecMinus1;
        s.log2MaxPocLsb = log2Poc;
        return s;
    }
    static VpsParams vps(int reorder, int maxDecMinus1 = 4)
    {
        VpsParams v;
        v.numReorder = reorder;
        v.maxDecPicBufferingMinus1 = maxDecMinus1;
        return v;
    }
    /* Feeds access units one per call with stamps 0, 1, 2, ...; each ends
     * with a delimiter so that its last unit is complete within the call. */
    static void feedAus(Decoder &d, const std::vector<Bytes> &aus)
    {
        for (size_t k = 0; k < aus.size(); k++)
            d.feed(cat({aus[k], kAud}), k);
    }
    static std::vector<uint64_t> stamps(const Decoder &d)
    {
        std::vector<uint64_t> out;
        for (const H265D_OUTARGS &p : d.pictures)
            out.push_back(p.uiTimeStamp);
        return out;
    }
    /* A decoder whose parameter sets are parsed and active. */
    static void activate(Decoder &d, const SpsParams &s)
    {
        d.feed(cat({headers(s), kAud}));
        H265D_DEC_OBJ *dec = d.obj();
        dec->vps = &dec->vpsStore[0];
        dec->sps = &dec->spsStore[0];
        dec->pps = &dec->ppsStore[0];
    }

private slots:
    void pocWrapsAround()
    {
        Decoder d;
        activate(d, sps(0, 4, 4)); /* MaxPicOrderCntLsb 16 */
        H265D_DEC_OBJ *dec = d.obj();
        H265D_SLICE_HEADER sh = {};
        sh.first_slice_segment_in_pic_flag = 1;
        dec->endOfSequence = 0;
        dec->dpb.havePrevPic = 1;
        dec->dpb.prevTid0Poc = 14;
        dec->dpb.prevPoc = 14;
        dec->dpb.prevNalUnitType = 1;
        dec->dpb.prevTemporalId = 0;
        sh.slice_pic_order_cnt_lsb = 1;
        QCOMPARE(decodePoc(dec, &sh, 1, 0), 17);
        /* and back: lsb 15 after 17 is 15 */
        dec->dpb.prevPoc = 17;
        sh.slice_pic_order_cnt_lsb = 15;
        QCOMPARE(decodePoc(dec, &sh, 1, 0), 15);
        /* negative POCs */
        dec->dpb.prevPoc = 2;
        dec->dpb.prevTid0Poc = 2;
        sh.slice_pic_order_cnt_lsb = 14;
        QCOMPARE(decodePoc(dec, &sh, 1, 0), -2);
    }

    void prevTid0PicRules()
    {
        struct
        {
            int prevType, prevTid;
            int want;
        } cases[] = {
            {1, 0, 33}, /* TRAIL_R, TemporalId 0: becomes prevTid0Pic (POC 30) */
            {0, 0, 17}, /* TRAIL_N: sub-layer non-reference, the earlier one stays (14) */
            {1, 1, 17}, /* TemporalId 1 */
            {7, 0, 17}, /* RADL_R */
            {9, 0, 17}, /* RASL_R */
        };
        for (auto &c : cases) {
            Decoder d;
            activate(d, sps(0, 4, 4));
            H265D_DEC_OBJ *dec = d.obj();
            dec->endOfSequence = 0;
            dec->dpb.havePrevPic = 1;
            dec->dpb.prevTid0Poc = 14;
            dec->dpb.prevPoc = 30;
            dec->dpb.prevNalUnitType = c.prevType;
            dec->dpb.prevTemporalId = c.prevTid;
            H265D_SLICE_HEADER sh = {};
            sh.first_slice_segment_in_pic_flag = 1;
            sh.slice_pic_order_cnt_lsb = 1;
            QCOMPARE(decodePoc(dec, &sh, 1, 0), c.want);
        }
        /* an IDR clears the record */
        Decoder d;
        activate(d, sps(0, 4, 4));
        H265D_DEC_OBJ *dec = d.obj();
        dec->dpb.havePrevPic = 1;
        dec->dpb.prevTid0Poc = 40;
        updatePrevTid0(dec, 19);
        QCOMPARE(dec->dpb.prevTid0Poc, 0);
    }

    void referenceSetsFindTheirSlots()
    {
        Decoder d;
        d.feed(cat(
            {headers(sps(0), PpsParams(), vps(0)), slice(idr()), slice(trailP(1)), slice(trailP(2, {-1, -2})), kAud}));
        QVERIFY(d.errors.empty());
        const H265D_DPB *dpb = &d.obj()->dpb;
        const H265D_PICTURE *cur = &dpb->pic[dpb->curPic];
        QCOMPARE(cur->poc, 2);
        QCOMPARE(cur->refInfo.stCurrBefore.num, 2);
        QCOMPARE(cur->refInfo.stCurrBefore.poc[0], 1);
        QCOMPARE(cur->refInfo.stCurrBefore.poc[1], 0);
        QCOMPARE(dpb->pic[cur->refInfo.stCurrBefore.slot[0]].poc, 1);
        QCOMPARE(dpb->pic[cur->refInfo.stCurrBefore.slot[1]].poc, 0);
        QCOMPARE(cur->refList[0].num, 1);
        QCOMPARE(cur->refList[0].poc[0], 1);
        QVERIFY(!logged("", 0));
    }

    void tooManyReferences()
    {
        Decoder d(initParam(64, 64, 1));
        d.feed(cat({headers(), slice(idr()), slice(trailP(1)), slice(trailP(2, {-1, -2})), kAud}));
        QVERIFY(d.hasError(H265D_ERR_REFNUM));
        QVERIFY(logged("The value of RefPic is 2, should be less than or equal to 1!", 0));
    }

    void listsRejectTheCurrentOrAnUndecodedPicture()
    {
        Decoder d;
        d.feed(cat({headers(), slice(idr()), slice(trailP(1)), kAud}));
        H265D_DEC_OBJ *dec = d.obj();
        H265D_SLICE_HEADER sh = {};
        sh.slice_type = 1;
        sh.num_ref_idx_l0_active = 1;
        sh.NumPicTotalCurr = 1;
        sh.refInfo.stCurrBefore.num = 1;
        sh.refInfo.stCurrBefore.poc[0] = 0;
        sh.refInfo.stCurrBefore.slot[0] = 0;
        dec->dpb.curPoc = 2;
        QCOMPARE(buildRefPicLists(dec, &sh), 0);
        QCOMPARE(sh.refList[0].poc[0], 0);
        sh.refInfo.stCurrBefore.poc[0] = 2; /* the current picture */
        QCOMPARE(buildRefPicLists(dec, &sh), H265D_ERR_SLICE_HEADER);
        sh.refInfo.stCurrBefore.poc[0] = 1;
        sh.refInfo.stCurrBefore.slot[0] = (uint8_t)dec->dpb.curPic; /* still being decoded */
        QCOMPARE(dec->dpb.pic[dec->dpb.curPic].state, 0);
        QCOMPARE(buildRefPicLists(dec, &sh), H265D_ERR_SLICE_HEADER);
        /* list 0 repeats the candidates up to num_ref_idx_l0_active */
        sh.refInfo.stCurrBefore.poc[0] = 0;
        sh.refInfo.stCurrBefore.slot[0] = 0;
        sh.num_ref_idx_l0_active = 3;
        QCOMPARE(buildRefPicLists(dec, &sh), 0);
        QCOMPARE(sh.refList[0].num, 3);
        QCOMPARE(sh.refList[0].poc[2], 0);
    }

    void missingReferenceStandsInWithSlotZero()
    {
        Decoder d(initParam(64, 64, 4, IH265D_DECODE_ORDER));
        d.feed(cat({headers(), slice(idr()), slice(trailP(1)), slice(trailP(2, {-5})), kAud}));
        d.finish();
        QVERIFY(d.errors.empty());
        QVERIFY(logged("some of the refrence frames is not exist!", 1));
        QCOMPARE(d.pictures.size(), (size_t)3);
        QCOMPARE(d.pictures[1].uiErrorFlag, 0u);
        QCOMPARE(d.pictures[2].uiErrorFlag, 1u);
    }

    void displayOrderWaitsForReorderPictures()
    {
        Decoder d;
        const std::vector<Bytes> aus = {cat({headers(sps(2), PpsParams(), vps(2)), slice(idr())}),
                                        slice(trailP(4, {-4})), slice(trailB(2, {-2}, {2})),
                                        slice(trailB(1, {-1}, {1, 3})), slice(trailB(3, {-1, -3}, {1}))};
        feedAus(d, {aus[0], aus[1], aus[2]});
        QCOMPARE(d.pictures.size(), (size_t)0); /* two complete pictures wait */
        d.feed(cat({aus[3], kAud}), 3);
        QCOMPARE(d.pictures.size(), (size_t)1); /* three wait: the first leaves */
        d.feed(cat({aus[4], kAud}), 4);
        d.finish();
        QCOMPARE(stamps(d), (std::vector<uint64_t>{0, 3, 2, 4, 1}));
        QCOMPARE(d.pictures[1].eFrameType, 2);
        QCOMPARE(d.pictures[4].eFrameType, 1);
    }

    void newSequenceReturnsTheOldOneFirst()
    {
        Decoder d;
        SliceParams idr2 = idr();
        feedAus(d, {cat({headers(sps(2), PpsParams(), vps(2)), slice(idr())}), slice(trailP(8, {-8})),
                    slice(trailP(9, {-1})), slice(idr2), slice(trailP(1, {-1}))});
        d.finish();
        QVERIFY(d.errors.empty());
        QCOMPARE(stamps(d), (std::vector<uint64_t>{0, 1, 2, 3, 4}));
    }

    void craAfterEndOfSequenceDropsWaitingPictures()
    {
        Decoder d;
        SliceParams cra;
        cra.nalType = NAL_CRA_NUT;
        cra.pocLsb = 8;
        cra.sliceType = 2;
        SliceParams rasl = trailB(6, {-1}, {2});
        rasl.nalType = NAL_RASL_N;
        feedAus(d, {cat({headers(sps(2), PpsParams(), vps(2)), slice(idr())}), slice(trailP(1)), slice(trailP(2)),
                    cat({nal(NAL_EOS_NUT, {}), slice(cra)}), slice(rasl), slice(trailP(9, {-1}))});
        d.finish();
        QVERIFY(d.errors.empty());
        QCOMPARE(stamps(d), (std::vector<uint64_t>{0, 3, 5}));
        QVERIFY(!logged("refrence frames"));
    }

    void fullBufferTakesSlotZeroBack()
    {
        /* three slots, reordering allows four waiting pictures */
        Decoder d(initParam(64, 64, 1));
        feedAus(d, {cat({headers(sps(4), PpsParams(), vps(4)), slice(idr())}), slice(trailP(1)), slice(trailP(2)),
                    slice(trailP(3))});
        d.finish();
        QVERIFY(d.errors.empty());
        QCOMPARE(stamps(d), (std::vector<uint64_t>{1, 2, 3}));
    }

    /* Pictures of the old size still waiting after a size change keep the
     * strides they were decoded with. */
    void stridesStayWithTheirPictures()
    {
        SpsParams big = sps(2);
        big.width = 128;
        Decoder d(initParam(128, 64));
        feedAus(d,
                {cat({headers(sps(2), PpsParams(), vps(2)), slice(idr())}), slice(trailP(1)),
                 cat({nal(NAL_SPS_NUT, spsRbsp(big)), nal(NAL_PPS_NUT, ppsRbsp()), slice(idr())}), slice(trailP(1))});
        d.finish();
        QVERIFY(d.errors.empty());
        QCOMPARE(d.pictures.size(), (size_t)4);
        QCOMPARE(d.pictures[0].uiYStride, 320u);
        QCOMPARE(d.pictures[1].uiYStride, 320u);
        QCOMPARE(d.pictures[1].uiUVStride, 160u);
        QCOMPARE(d.pictures[1].uiDecWidth, 64u);
        QCOMPARE(d.pictures[2].uiYStride, 384u);
        QCOMPARE(d.pictures[2].uiDecWidth, 128u);
    }
};

QTEST_GUILESS_MAIN(TestDpb)
#include "tst_dpb.moc"
