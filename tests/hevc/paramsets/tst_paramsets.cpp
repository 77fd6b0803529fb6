#include <QtTest>

#include "../common/h265_streams.h"
#include "hevc/nal.h"

using namespace h265d;

using namespace h265test;

class TestParamSets : public QObject
{
    Q_OBJECT

private:
    /* Parses one unit's payload with the decoder's own parser. */
    static int32_t parse(Decoder &d, const Bytes &unit)
    {
        Bytes u(unit.begin() + 4, unit.end());
        return decodeNalUnit(d.obj(), u.data(), u.size(), 4);
    }
    static SpsParams ctb64(int w, int h)
    {
        SpsParams s;
        s.width = w;
        s.height = h;
        return s;
    }

private slots:
    void otherProfilesAreRefused()
    {
        Decoder d;
        QCOMPARE(parse(d, nal(NAL_VPS_NUT, vpsRbsp())), 0);
        QCOMPARE(parse(d, nal(NAL_SPS_NUT, spsRbsp())), 0);
        QCOMPARE(d.obj()->spsStore[0].valid, 1);
        SpsParams main10;
        main10.bitDepthLuma = 10;
        main10.bitDepthChroma = 10;
        QCOMPARE(parse(d, nal(NAL_SPS_NUT, spsRbsp(main10))), H265D_ERR_SPS);
        QVERIFY(logged("The value of bit_depth_luma is 10, should be equal to 8!", 0));
        QCOMPARE(d.obj()->spsStore[0].valid, 0);
        QCOMPARE(parse(d, nal(NAL_PPS_NUT, ppsRbsp())), H265D_ERR_PPS);
        QVERIFY(logged("The ID of SPS that current PPS refered is 0, which is not exist!", 0));

        SpsParams s422;
        s422.chromaFormatIdc = 2;
        QCOMPARE(parse(d, nal(NAL_SPS_NUT, spsRbsp(s422))), H265D_ERR_SPS);
        QVERIFY(logged("The value of chroma_format_idc is 2, should be equal to 1!", 0));
    }

    void pocLsbLength()
    {
        const int values[] = {3, 4, 16, 17};
        const int32_t want[] = {H265D_ERR_SPS, 0, 0, H265D_ERR_SPS};
        for (int i = 0; i < 4; i++) {
            Decoder d;
            parse(d, nal(NAL_VPS_NUT, vpsRbsp()));
            SpsParams s;
            s.log2MaxPocLsb = values[i];
            QCOMPARE(parse(d, nal(NAL_SPS_NUT, spsRbsp(s))), want[i]);
        }
        QVERIFY(logged("log2_max_pic_order_cnt_lsb is 17, should be less than 17!", 0));
    }

    /* CTBs of 8 and 128 do not fit the coding-tree records. */
    void ctbSizeLimits()
    {
        struct
        {
            int minCb, diff;
            int32_t want;
        } cases[] = {{3, 0, H265D_ERR_SPS}, {4, 3, H265D_ERR_SPS}, {4, 0, 0}, {3, 3, 0}};
        for (auto &c : cases) {
            Decoder d;
            parse(d, nal(NAL_VPS_NUT, vpsRbsp()));
            SpsParams s;
            s.log2MinCb = c.minCb;
            s.log2DiffMaxMinCb = c.diff;
            s.log2DiffMaxMinTb = c.minCb + c.diff > 5 ? 3 : c.minCb + c.diff - 2;
            if (c.minCb + c.diff == 3)
                s.log2DiffMaxMinTb = 1;
            QCOMPARE(parse(d, nal(NAL_SPS_NUT, spsRbsp(s))), c.want);
            if (c.minCb + c.diff == 7)
                QVERIFY(logged("The value of CtbLog2SizeY is 7, should be in the range of 4~6!", 0));
            if (c.minCb + c.diff == 3)
                QVERIFY(logged("The value of CtbLog2SizeY is 3, should be in the range of 4~6!", 0));
        }
    }

    void tileChecks()
    {
        Decoder d(initParam(320, 192));
        parse(d, nal(NAL_VPS_NUT, vpsRbsp()));
        QCOMPARE(parse(d, nal(NAL_SPS_NUT, spsRbsp(ctb64(320, 192)))), 0);
        PpsParams both;
        both.tiles = true;
        both.wpp = true;
        both.tileCols = 2;
        QCOMPARE(parse(d, nal(NAL_PPS_NUT, ppsRbsp(both))), H265D_ERR_PPS);
        QVERIFY(logged("tile and wpp can not be both open!", 0));

        logs().clear();
        PpsParams two;
        two.tiles = true;
        two.tileCols = 2;
        QCOMPARE(parse(d, nal(NAL_PPS_NUT, ppsRbsp(two))), 0);
        QVERIFY(logged("column_width[0] of tile is 128, it should be bigger than 256!", 1));
        QVERIFY(logged("column_width[1] of tile is 192, it should be bigger than 256!", 1));

        PpsParams many;
        many.tiles = true;
        many.tileCols = 6;
        QCOMPARE(parse(d, nal(NAL_PPS_NUT, ppsRbsp(many))), H265D_ERR_PPS);
        QVERIFY(logged("the value of num_tile_columns is 6,it should not be bigger than iPicWidthInCtbsY!", 0));
    }

    void tileScanConversion()
    {
        Decoder d(initParam(320, 192));
        parse(d, nal(NAL_VPS_NUT, vpsRbsp()));
        parse(d, nal(NAL_SPS_NUT, spsRbsp(ctb64(320, 192))));
        PpsParams p;
        p.tiles = true;
        p.tileCols = 3;
        p.tileRows = 2;
        QCOMPARE(parse(d, nal(NAL_PPS_NUT, ppsRbsp(p))), 0);
        const H265D_PPS *pps = &d.obj()->ppsStore[0];
        const int colBd[] = {0, 1, 3, 5}, rowBd[] = {0, 1, 3};
        for (int i = 0; i < 4; i++)
            QCOMPARE(pps->colBd[i], colBd[i]);
        for (int i = 0; i < 3; i++)
            QCOMPARE(pps->rowBd[i], rowBd[i]);
        const int rsToTs[] = {0, 1, 2, 3, 4, 5, 7, 8, 11, 12, 6, 9, 10, 13, 14};
        const int tileId[] = {0, 1, 1, 2, 2, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
        for (int rs = 0; rs < 15; rs++) {
            QCOMPARE(pps->ctbAddrRsToTs[rs], rsToTs[rs]);
            QCOMPARE(pps->ctbAddrTsToRs[rsToTs[rs]], rs);
        }
        for (int ts = 0; ts < 15; ts++)
            QCOMPARE(pps->tileId[ts], tileId[ts]);

        /* explicit spacing: widths 2, 1 and the rest (2) */
        PpsParams e = p;
        e.id = 1;
        e.uniform = false;
        e.colWidthsMinus1 = {1, 0};
        e.rowHeightsMinus1 = {1};
        QCOMPARE(parse(d, nal(NAL_PPS_NUT, ppsRbsp(e))), 0);
        const H265D_PPS *pe = &d.obj()->ppsStore[1];
        QCOMPARE(pe->colBd[1], 2);
        QCOMPARE(pe->colBd[2], 3);
        QCOMPARE(pe->colBd[3], 5);
        QCOMPARE(pe->rowBd[1], 2);
    }

    /* Explicit widths whose 32-bit sum would wrap round to a small value. */
    void tileSumsCannotOverflow()
    {
        Decoder d(initParam(320, 192));
        parse(d, nal(NAL_VPS_NUT, vpsRbsp()));
        parse(d, nal(NAL_SPS_NUT, spsRbsp(ctb64(320, 192))));
        PpsParams p;
        p.tiles = true;
        p.tileCols = 3;
        p.uniform = false;
        p.colWidthsMinus1 = {0x80000000u, 0x7FFFFFFFu};
        p.rowHeightsMinus1 = {};
        QCOMPARE(parse(d, nal(NAL_PPS_NUT, ppsRbsp(p))), H265D_ERR_PPS);
        QVERIFY(logged("column_width[2] of tile is", 0));
        QCOMPARE(d.obj()->ppsStore[0].valid, 0);
    }

    /* An SPS larger than the create limits leaves the tables alone; a
     * replacing SPS that fits gets fresh tables at the next picture. */
    void tablesFollowTheActiveSps()
    {
        Decoder d(initParam(64, 64));
        SpsParams big;
        big.width = 256;
        big.height = 128;
        big.log2MinCb = 3;
        big.log2DiffMaxMinCb = 1; /* CTB 16 */
        big.log2DiffMaxMinTb = 2;
        PpsParams p;
        p.tiles = true;
        p.tileCols = 2;
        const Bytes aud = nal(NAL_AUD_NUT, {0x50});
        d.feed(cat({headers(big, p), slice(idr()), aud}));
        QVERIFY(d.hasError(H265D_ERR_WIDTH));
        QVERIFY(logged("PicWidthInSamplesY is 256, should be less than or equal to 64!", 0));
        QCOMPARE(d.obj()->ppsStore[0].tablesSpsGeneration, 0u);

        SpsParams small = big;
        small.width = 64;
        small.height = 64;
        d.errors.clear();
        d.feed(cat({nal(NAL_SPS_NUT, spsRbsp(small)), slice(idr()), aud}));
        d.finish();
        QVERIFY(d.errors.empty());
        QCOMPARE(d.pictures.size(), (size_t)1);
        const H265D_PPS *pps = &d.obj()->ppsStore[0];
        QCOMPARE(pps->tablesSpsGeneration, d.obj()->spsStore[0].generation);
        /* 4x4 CTBs in two tile columns of 2: raster 2 is the first of tile 1 */
        QCOMPARE(pps->ctbAddrRsToTs[2], 8);
        QCOMPARE(pps->ctbAddrRsToTs[4], 2);
    }

    void scalingFactors()
    {
        Decoder d;
        parse(d, nal(NAL_VPS_NUT, vpsRbsp()));
        SpsParams s;
        s.scalingList = true;
        QCOMPARE(parse(d, nal(NAL_SPS_NUT, spsRbsp(s))), 0);
        QCOMPARE(parse(d, nal(NAL_PPS_NUT, ppsRbsp())), 0);
        const H265D_PPS *pps = &d.obj()->ppsStore[0];
        static const int ls[6] = {40, 45, 51, 57, 64, 72};
        for (int q = 0; q < 6; q++) {
            QCOMPARE((int)dequantTable(pps, 0, 0, q)[5], 16 * ls[q]);
            QCOMPARE((int)dequantTable(pps, 1, 0, q)[63], 115 * ls[q]); /* last of the diagonal scan */
            QCOMPARE((int)dequantTable(pps, 1, 3, q)[63], 91 * ls[q]);
            QCOMPARE((int)dequantTable(pps, 2, 0, q)[255], 115 * ls[q]); /* up-sampled by 2 */
            QCOMPARE((int)dequantTable(pps, 2, 0, q)[254], 115 * ls[q]);
            QCOMPARE((int)dequantTable(pps, 3, 0, q)[1023], 115 * ls[q]);
            QCOMPARE((int)dequantTable(pps, 2, 0, q)[0], 16 * ls[q]); /* DC */
        }
        /* (x=1, y=0) of the 8x8 list is scan position 2 (value 16), (x=0, y=1)
         * position 1; (x=2, y=0) is position 5 (17 intra). */
        QCOMPARE((int)dequantTable(pps, 1, 0, 0)[32], 17 * 40);
        QCOMPARE((int)dequantTable(pps, 1, 0, 0)[25], 16 * 40); /* (1, 3): scan position 11 */
        QCOMPARE((int)dequantTable(pps, 2, 0, 0)[128], 17 * 40);
        QCOMPARE((int)dequantTable(pps, 2, 0, 0)[145], 17 * 40);

        /* explicit lists: predicted copies and a DC of its own */
        Decoder e;
        parse(e, nal(NAL_VPS_NUT, vpsRbsp()));
        SpsParams x;
        x.scalingList = true;
        x.scalingListData = [](BitWriter &w) {
            for (int sizeId = 0; sizeId < 4; sizeId++)
                for (int m = 0; m < 6; m += sizeId == 3 ? 3 : 1) {
                    if (sizeId == 2 && m == 0) {
                        w.flag(true);
                        w.se(12); /* DC 20 */
                        w.se(1);  /* first entry 21, then deltas 0 */
                        for (int i = 1; i < 64; i++)
                            w.se(0);
                    } else if (sizeId == 1 && m == 1) {
                        w.flag(false);
                        w.ue(1); /* copy of matrix 0 */
                    } else if (sizeId == 2 && m == 1) {
                        w.flag(false);
                        w.ue(1); /* copy of the explicit matrix, DC included */
                    } else {
                        w.flag(false);
                        w.ue(0); /* default */
                    }
                }
        };
        QCOMPARE(parse(e, nal(NAL_SPS_NUT, spsRbsp(x))), 0);
        QCOMPARE(parse(e, nal(NAL_PPS_NUT, ppsRbsp())), 0);
        const H265D_SPS *sps = &e.obj()->spsStore[0];
        QCOMPARE(memcmp(sps->scaling_list.list[1][1], sps->scaling_list.list[1][0], 64), 0);
        QCOMPARE((int)sps->scaling_list.dc[2][1], 20);
        const H265D_PPS *pe = &e.obj()->ppsStore[0];
        QCOMPARE((int)dequantTable(pe, 2, 0, 1)[0], 20 * 45);
        QCOMPARE((int)dequantTable(pe, 2, 0, 1)[1], 21 * 45);
        QCOMPARE((int)dequantTable(pe, 2, 1, 1)[255], 21 * 45);
        QCOMPARE((int)dequantTable(pe, 2, 1, 1)[0], 20 * 45);
    }

    void interPredictedRps()
    {
        auto sps = [](int maxDecMinus1) {
            SpsParams s;
            s.maxDecPicBufferingMinus1 = maxDecMinus1;
            s.numReorder = 0;
            s.numShortTermRps = 2;
            s.shortTermRps = [](BitWriter &w, int i) {
                if (i == 0) {
                    writeStRps(w, 0, {-1, -2}, {});
                    return;
                }
                w.flag(true); /* inter_ref_pic_set_prediction_flag */
                w.flag(true); /* delta_rps_sign: deltaRps = -1 */
                w.ue(0);      /* abs_delta_rps_minus1 */
                for (int j = 0; j <= 2; j++)
                    w.flag(true);
            };
            return s;
        };
        VpsParams v;
        v.maxDecPicBufferingMinus1 = 4;
        Decoder d;
        parse(d, nal(NAL_VPS_NUT, vpsRbsp(v)));
        QCOMPARE(parse(d, nal(NAL_SPS_NUT, spsRbsp(sps(4)))), 0);
        const H265D_ST_RPS *r = &d.obj()->spsStore[0].st_rps[1];
        QCOMPARE(r->num_negative_pics, 3);
        QCOMPARE(r->num_positive_pics, 0);
        QCOMPARE(r->delta_poc_s0[0], -1);
        QCOMPARE(r->delta_poc_s0[1], -2);
        QCOMPARE(r->delta_poc_s0[2], -3);

        /* the derived set needs more pictures than the SPS allows */
        QCOMPARE(parse(d, nal(NAL_SPS_NUT, spsRbsp(sps(2)))), H265D_ERR_SPS);
        QVERIFY(logged("the value of num_negative_pics is 3,it should be less than sps_max_dec_pic_buffering !", 0));
    }

    /* Every hrd_parameters() is read; the SPS after it parses. */
    void vpsWithSeveralHrds()
    {
        VpsParams v;
        v.timing = true;
        v.numHrd = 3;
        Decoder d;
        d.feed(cat({headers(SpsParams(), PpsParams(), v), slice(idr())}));
        d.finish();
        QVERIFY(d.errors.empty());
        QVERIFY(logged("The value of vps_num_hrd_parameters is 3, it should not be bigger than 1!", 1));
        QCOMPARE(d.pictures.size(), (size_t)1);
        QCOMPARE(d.pictures[0].uiNumUnitsInTick, 1u);
        QCOMPARE(d.pictures[0].uiTimeScale, 25u);
    }

    /* Interlaced and odd display metadata: warnings, and the stream decodes. */
    void vuiValuesOnlyWarn()
    {
        SpsParams s;
        s.vui = [](BitWriter &w) {
            w.flag(true);
            w.u(255, 8);
            w.u(4, 16);
            w.u(3, 16); /* SAR 4:3 */
            w.flag(false);
            w.flag(true);
            w.u(5, 3);
            w.flag(false);
            w.flag(true);
            w.u(1, 8);
            w.u(1, 8);
            w.u(0, 8); /* matrix_coeffs 0 needs 4:4:4 */
            w.flag(true);
            w.ue(6); /* chroma_sample_loc_type_top_field above 5 */
            w.ue(0);
            w.flag(false);
            w.flag(true); /* field_seq_flag */
            w.flag(true); /* frame_field_info_present_flag */
            w.flag(false);
            w.flag(false);
            w.flag(false);
        };
        Decoder d;
        d.feed(cat({headers(s), slice(idr())}));
        d.finish();
        QVERIFY(d.errors.empty());
        QCOMPARE(d.pictures.size(), (size_t)1);
        QVERIFY(logged("the value of matrix_coeffs is error !", 1));
        QVERIFY(logged("the value of chroma_sample_loc_type_top_field is error !", 1));
        QVERIFY(logged("the value of field_seq_flag is error !", 1));
        QVERIFY(logged("the value of frame_field_info_present_flag is error !", 1));
        QCOMPARE(d.pictures[0].uiAspectRatioIdc, 255u);
        QCOMPARE(d.pictures[0].uiSarWidth, 4u);
        QCOMPARE(d.pictures[0].uiSarHeight, 3u);
    }

    /* A 240 message larger than the store is skipped; a size that runs past
     * the payload is cut to what is there. */
    void oversizedAndTruncatedSei()
    {
        Bytes big = {240};
        for (int i = 0; i < 11; i++)
            big.push_back(0xFF);
        big.push_back(3000 - 11 * 255);
        for (int i = 0; i < 3000; i++)
            big.push_back(0x5A);
        big.push_back(0x80);
        Bytes cut = {240, 100, 1, 2, 3, 4, 0x80};
        Decoder d(initParam(64, 64, 4, IH265D_DECODE_ORDER));
        d.feed(cat(
            {headers(), nal(NAL_PREFIX_SEI_NUT, big), slice(idr()), nal(NAL_PREFIX_SEI_NUT, cut), slice(trailP(1))}));
        d.finish();
        QVERIFY(d.errors.empty());
        QVERIFY(logged("Lens of user data is bigger than MAX user data lens!", 1));
        QCOMPARE(d.pictures.size(), (size_t)2);
        QCOMPARE(d.pictures[0].uiUserDataLen, 0u);
        QCOMPARE(d.pictures[1].uiUserDataLen, 5u);
        QCOMPARE(d.userData[1][0], (uint8_t)1);
        QCOMPARE(d.userData[1][4], (uint8_t)0x80);
    }
};

QTEST_GUILESS_MAIN(TestParamSets)
#include "tst_paramsets.moc"
