#include <QtTest>

#include "../common/h265_streams.h"

using namespace h265d;

using namespace h265test;

static const Bytes kAud = nal(NAL_AUD_NUT, {0x50});

class TestSliceHeader : public QObject
{
    Q_OBJECT

private:
    /* Decodes the units (each ended by the next) and returns the errors. */
    static std::vector<int32_t> run(Decoder &d, const Bytes &units)
    {
        d.feed(cat({units, kAud}));
        return d.errors;
    }
    static SliceParams nonFirst(SliceParams s, int address, int bits)
    {
        s.first = false;
        s.address = address;
        s.addressBits = bits;
        return s;
    }

private slots:
    void pSliceWithOnePictureBuffer()
    {
        SpsParams s;
        s.maxDecPicBufferingMinus1 = 0;
        s.numReorder = 0;
        Decoder d;
        run(d, cat({headers(s), slice(idr()), slice(trailP(1))}));
        QVERIFY(d.hasError(H265D_ERR_SLICE_HEADER));
        QVERIFY(logged("the value of slice_type is 1, it should be equal to 2!", 0));
    }

    void parameterSetReferences()
    {
        Decoder d;
        SliceParams s = idr();
        s.ppsId = 64;
        run(d, cat({headers(), slice(s)}));
        QVERIFY(logged("the value of slice_pic_parameter_set_id is 64, it should be in the range of 0~63!", 0));
        Decoder e;
        s.ppsId = 5;
        run(e, cat({headers(), slice(s)}));
        QVERIFY(logged("The ID of PPS that current SliceHeader refered is 5, which is not exist!", 0));
        QCOMPARE(e.errors, (std::vector<int32_t>{H265D_ERR_SLICE_HEADER}));
    }

    /* The independent segment before it failed: a dependent one has no
     * header to continue. */
    void dependentSegmentNeedsAnIndependentOne()
    {
        SpsParams s;
        s.width = 192;
        PpsParams p;
        p.dependentSlices = true;
        SliceParams first = idr();
        first.depEnabled = true;
        SliceParams bad = nonFirst(first, 1, 2);
        bad.qpDelta = 40;
        SliceParams dep = nonFirst(first, 2, 2);
        dep.dependent = true;
        Decoder d(initParam(192, 64));
        run(d, cat({headers(s, p), slice(first), slice(bad), slice(dep)}));
        QCOMPARE(d.errors, (std::vector<int32_t>{H265D_ERR_SLICE_HEADER, H265D_ERR_SLICE_HEADER}));
        QVERIFY(logged("the independent slice segment header is invalid !", 0));
        /* and with a good independent segment it goes through */
        Decoder e(initParam(192, 64));
        run(e, cat({headers(s, p), slice(first), slice(nonFirst(first, 1, 2)), slice(dep)}));
        QVERIFY(e.errors.empty());
        QCOMPARE(e.obj()->sh.slice_segment_address, 2u);
        QCOMPARE(e.obj()->sh.dependent_slice_segment_flag, 1u);
    }

    void segmentAddressInRange()
    {
        SpsParams s;
        s.width = 192;
        Decoder d(initParam(192, 64));
        run(d, cat({headers(s), slice(idr()), slice(nonFirst(idr(), 3, 2))}));
        QVERIFY(logged(
            "the value of slice_segment_address is 3, it should be less than PicSizeInCtbsY,whose value is 3 !", 0));
    }

    void mergeCandidates()
    {
        Decoder d;
        SliceParams p = trailP(1);
        p.fiveMinusMaxMergeCand = 5;
        run(d, cat({headers(), slice(idr()), slice(p)}));
        QVERIFY(logged("the value of max_num_merge_cand is 0, it should be in the range of 1~5!", 0));
        Decoder e;
        p.fiveMinusMaxMergeCand = 4;
        run(e, cat({headers(), slice(idr()), slice(p)}));
        QVERIFY(e.errors.empty());
        QCOMPARE(e.obj()->sh.MaxNumMergeCand, 1u);
    }

    void deblockingOffsets()
    {
        PpsParams pps;
        pps.deblockingControl = true;
        pps.deblockingOverride = true;
        SliceParams s = idr();
        s.deblockingOverride = true;
        s.overrideFlag = true;
        s.betaDiv2 = 7;
        Decoder d;
        run(d, cat({headers(SpsParams(), pps), slice(s)}));
        QVERIFY(logged("the value of slice_beta_offset is 14, it should be in the range of -12~12!", 0));
        s.betaDiv2 = 6;
        s.tcDiv2 = -6;
        Decoder e;
        run(e, cat({headers(SpsParams(), pps), slice(s)}));
        QVERIFY(e.errors.empty());
        QCOMPARE(e.obj()->sh.slice_beta_offset, 12);
        QCOMPARE(e.obj()->sh.slice_tc_offset, -12);
    }

    void entryPoints()
    {
        SpsParams s;
        s.height = 128;
        PpsParams p;
        p.wpp = true;
        SliceParams sl = idr();
        sl.entryPoints = true;
        sl.numEntryPoints = 1;
        sl.offsetLenMinus1 = 31;
        sl.offsetsMinus1 = {0x12345678u};
        Decoder d(initParam(64, 128));
        run(d, cat({headers(s, p), slice(sl)}));
        QVERIFY(d.errors.empty());
        QCOMPARE(d.obj()->sh.offset_len, 32u);
        QCOMPARE(d.obj()->sh.entry_point_offset, 0x12345679u);

        sl.numEntryPoints = 2;
        sl.offsetLenMinus1 = 7;
        sl.offsetsMinus1 = {1, 2};
        Decoder e(initParam(64, 128));
        run(e, cat({headers(s, p), slice(sl)}));
        QVERIFY(logged("it is bigger than pstCurSPS->pic_height_in_ctbs-1", 0));

        sl.numEntryPoints = 1;
        sl.offsetLenMinus1 = 32;
        sl.offsetsMinus1 = {1};
        Decoder f(initParam(64, 128));
        run(f, cat({headers(s, p), slice(sl)}));
        QVERIFY(logged("the value of offset_len is 33, it should be in the range of 1~32!", 0));
    }

    /* The total of long-term entries bounds the 34-entry lists. */
    void longTermTotal()
    {
        SpsParams s;
        s.longTerm = true;
        s.ltSps = {{1, true}, {2, true}, {3, true}, {4, true}};
        SliceParams p = trailP(1);
        p.ltPresent = true;
        p.numLtSpsInSps = 4;
        p.numLtSps = 3;
        p.ltPics = {{5, true}, {6, true}};
        Decoder d;
        run(d, cat({headers(s), slice(idr()), slice(p)}));
        QVERIFY(
            logged("the value of uiNumLtRps is 5, it should not be bigger than sps_max_dec_pic_buffering_minus1", 0));
        QVERIFY(d.hasError(H265D_ERR_SLICE_HEADER));
    }

    void setIndexAndCollocatedIndexInRange()
    {
        SpsParams s;
        s.numShortTermRps = 3;
        s.shortTermRps = [](BitWriter &w, int i) { writeStRps(w, i, {-1}, {}); };
        SliceParams p = trailP(1);
        p.stRpsIdx = 3;
        p.stRpsIdxBits = 2;
        Decoder d;
        run(d, cat({headers(s), slice(idr()), slice(p)}));
        QVERIFY(logged(
            "the value of short_term_ref_pic_set_idx is 3, it should be less than num_short_term_ref_pic_sets!", 0));
        p.stRpsIdx = 2;
        Decoder ok;
        run(ok, cat({headers(s), slice(idr()), slice(p)}));
        QVERIFY(ok.errors.empty());

        SliceParams c = trailP(2, {-1, -2});
        c.sliceTmvp = true;
        c.override = true;
        c.numRefL0 = 2;
        c.collocatedRefIdx = 2;
        Decoder e;
        run(e, cat({headers(), slice(idr()), slice(trailP(1)), slice(c)}));
        QVERIFY(logged("the value of collocated_ref_idx is 2, it should be less than", 0));
        c.collocatedRefIdx = 1;
        Decoder f;
        run(f, cat({headers(), slice(idr()), slice(trailP(1)), slice(c)}));
        QVERIFY(f.errors.empty());
        QCOMPARE(f.obj()->sh.collocated_ref_idx, 1u);
    }

    void sliceQpRange()
    {
        const int deltas[] = {26, -27, 25, -26};
        const bool good[] = {false, false, true, true};
        for (int i = 0; i < 4; i++) {
            SliceParams s = idr();
            s.qpDelta = deltas[i];
            Decoder d;
            run(d, cat({headers(), slice(s)}));
            QCOMPARE(d.errors.empty(), good[i]);
            if (good[i])
                QCOMPARE(d.obj()->sh.SliceQpY, 26 + deltas[i]);
        }
        QVERIFY(!logged("SliceQpY is -1"));
        Decoder d;
        SliceParams s = idr();
        s.qpDelta = -27;
        run(d, cat({headers(), slice(s)}));
        QVERIFY(logged("the value of SliceQpY is -1, it should be in the range of 0~51!", 0));
    }

    void predWeightTable()
    {
        PpsParams pps;
        pps.weightedPred = true;
        auto table = [](int lumaDenom, int dLumaWeight, int dChromaOffset) {
            return [=](BitWriter &w) {
                w.ue((uint64_t)lumaDenom);
                w.se(0);
                w.flag(true);
                w.flag(true);
                w.se(dLumaWeight);
                w.se(-5);
                for (int j = 0; j < 2; j++) {
                    w.se(3);
                    w.se(dChromaOffset);
                }
            };
        };
        SliceParams p = trailP(1);
        p.predWeight = table(6, 10, 100);
        Decoder d;
        run(d, cat({headers(SpsParams(), pps), slice(idr()), slice(p)}));
        QVERIFY(d.errors.empty());
        const H265D_PRED_WEIGHT &w = d.obj()->sh.pwt;
        QCOMPARE((int)w.LumaWeight[0][0], 74);
        QCOMPARE((int)w.luma_offset[0][0], -5);
        QCOMPARE((int)w.ChromaWeight[0][0][1], 67);
        QCOMPARE((int)w.ChromaOffset[0][0][0], 100 - ((128 * 67) >> 6) + 128);
        p.predWeight = table(6, 10, -512);
        Decoder c;
        run(c, cat({headers(SpsParams(), pps), slice(idr()), slice(p)}));
        QVERIFY(c.errors.empty());
        QCOMPARE((int)c.obj()->sh.pwt.ChromaOffset[0][0][0], -128); /* clipped */

        p.predWeight = table(8, 0, 0);
        Decoder e;
        run(e, cat({headers(SpsParams(), pps), slice(idr()), slice(p)}));
        QVERIFY(logged("the value of luma_log2_weight_denom is 8, it should be in the range of 0~7!", 0));
        p.predWeight = table(6, 128, 0);
        Decoder f;
        run(f, cat({headers(SpsParams(), pps), slice(idr()), slice(p)}));
        QVERIFY(logged("the value of delta_luma_weight_l0 is 128", 0));
        p.predWeight = table(6, 0, -513);
        Decoder g;
        run(g, cat({headers(SpsParams(), pps), slice(idr()), slice(p)}));
        QVERIFY(logged("the value of delta_chroma_offset_l0 is -513", 0));
    }

    void pictureLargerThanTheCreateLimits()
    {
        SpsParams wide;
        wide.width = 128;
        Decoder d(initParam(64, 64));
        run(d, cat({headers(wide), slice(idr())}));
        QCOMPARE(d.errors, (std::vector<int32_t>{H265D_ERR_WIDTH}));
        QVERIFY(logged("PicWidthInSamplesY is 128, should be less than or equal to 64!", 0));
        SpsParams tall;
        tall.height = 128;
        Decoder e(initParam(64, 64));
        run(e, cat({headers(tall), slice(idr())}));
        QCOMPARE(e.errors, (std::vector<int32_t>{H265D_ERR_HEIGHT}));
        QVERIFY(logged("PicHeightInSamplesY is 128, should be less than or equal to 64!", 0));
        /* the limit is the create size brought up to a multiple of 64 */
        Decoder f(initParam(40, 40));
        run(f, cat({headers(), slice(idr())}));
        QVERIFY(f.errors.empty());
    }
};

QTEST_GUILESS_MAIN(TestSliceHeader)
#include "tst_slicehdr.moc"
