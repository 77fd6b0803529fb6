#include <QtTest>

#include <memory>

#include "../common/h265_streams.h"
#include "hevc/tools/annexb.h"
#include "hevc/nal.h"

using namespace h265d;

using namespace h265test;

class TestNal : public QObject
{
    Q_OBJECT

private:
    /* Two 64x64 CTBs side by side: room for a second slice segment. */
    static SpsParams wideSps()
    {
        SpsParams s;
        s.width = 128;
        return s;
    }
    static SliceParams secondSlice(SliceParams s)
    {
        s.first = false;
        s.address = 1;
        s.addressBits = 1;
        return s;
    }

private slots:
    void startCodes()
    {
        int64_t off;
        int32_t prefix;
        const uint8_t four[] = {0xAA, 0, 0, 0, 1, 0x40};
        QVERIFY(findStartCode(four, sizeof four, &off, &prefix));
        QCOMPARE(off, (int64_t)1);
        QCOMPARE(prefix, 4);
        const uint8_t three[] = {0xAA, 0xBB, 0, 0, 1, 0x40};
        QVERIFY(findStartCode(three, sizeof three, &off, &prefix));
        QCOMPARE(off, (int64_t)2);
        QCOMPARE(prefix, 3);
        const uint8_t exact[] = {0, 0, 1};
        QVERIFY(findStartCode(exact, 3, &off, &prefix));
        QCOMPARE(off, (int64_t)0);
        QCOMPARE(prefix, 3);
        QVERIFY(!findStartCode(exact, 2, &off, &prefix));
        QCOMPARE(off, (int64_t)-1);
        QCOMPARE(prefix, 0);
        const uint8_t none[] = {0, 0, 2, 0, 0, 0, 0};
        QVERIFY(!findStartCode(none, sizeof none, &off, &prefix));
    }

    void emulationPrevention()
    {
        uint8_t a[] = {0x40, 0x01, 0x11, 0x00, 0x00, 0x03, 0x00, 0x22};
        QCOMPARE(removeEmulationPrevention(a, sizeof a, a + 2), (size_t)5);
        const uint8_t wantA[] = {0x11, 0x00, 0x00, 0x00, 0x22};
        QVERIFY(memcmp(a + 2, wantA, 5) == 0);
        /* 03 as the very last byte of the unit, in an exactly sized block so
         * that AddressSanitizer catches any read past it. */
        std::unique_ptr<uint8_t[]> b(new uint8_t[6]{0x40, 0x01, 0x11, 0x00, 0x00, 0x03});
        QCOMPARE(removeEmulationPrevention(b.get(), 6, b.get() + 2), (size_t)3);
        QCOMPARE(b[2], (uint8_t)0x11);
        QCOMPARE(b[4], (uint8_t)0x00);
        /* 00 00 03 03: only the first 03 goes */
        uint8_t c[] = {0x40, 0x01, 0x00, 0x00, 0x03, 0x03};
        QCOMPARE(removeEmulationPrevention(c, sizeof c, c + 2), (size_t)3);
        QCOMPARE(c[4], (uint8_t)0x03);
    }

    void headerChecks()
    {
        H265D_NAL_HEADER h;
        logs().clear();
        const uint8_t zeroTid[] = {0x02, 0x00};
        QCOMPARE(parseNalHeader(zeroTid, &h, 0, captureLog), H265D_ERR_NAL);
        QVERIFY(logged("The value of nuh_temporal_id is -1, should be in the range of 0~6!", 0));

        logs().clear();
        const uint8_t irapTid1[] = {19 << 1, 0x02};
        QCOMPARE(parseNalHeader(irapTid1, &h, 0, captureLog), 0);
        QVERIFY(logged("in the range of BLA_W_LP~RSV_IRAP_VCL23", 1));

        logs().clear();
        const uint8_t tsaTid0[] = {3 << 1, 0x01};
        QCOMPARE(parseNalHeader(tsaTid0, &h, 0, captureLog), 0);
        QVERIFY(logged("TSA_R~STSA_N", 1));

        logs().clear();
        const uint8_t layer5[] = {33 << 1, (5 << 3) | 1};
        QCOMPARE(parseNalHeader(layer5, &h, 0, captureLog), 0);
        QCOMPARE(h.nuh_layer_id, 5);
        QVERIFY(logged("The value of nuh_layer_id is 5, should be equal to 0!", 1));
    }

    void shortUnitsAreRejected()
    {
        Decoder d;
        H265D_DEC_OBJ *dec = d.obj();
        std::unique_ptr<uint8_t[]> one(new uint8_t[1]{0x40});
        QCOMPARE(decodeNalUnit(dec, one.get(), 1, 4), H265D_ERR_NAL);
        QCOMPARE(dec->errorFlag[0], 1);
        dec->errorFlag[0] = dec->errorFlag[1] = 0;
        std::unique_ptr<uint8_t[]> vcl(new uint8_t[2]{1 << 1, 0x01});
        QCOMPARE(decodeNalUnit(dec, vcl.get(), 2, 4), H265D_ERR_NAL);
        QCOMPARE(dec->errorFlag[0], 1);
        QCOMPARE(dec->vclBytes, 0u);

        /* in a stream: the next picture carries the error flag */
        Decoder s;
        s.feed(cat({headers(), slice(idr()), Bytes{0, 0, 1, 2}, slice(trailP(1))}));
        s.finish();
        QVERIFY(s.hasError(H265D_ERR_NAL));
        QCOMPARE(s.pictures.size(), (size_t)2);
        QCOMPARE(s.pictures[0].uiErrorFlag, 0u);
        QCOMPARE(s.pictures[1].uiErrorFlag, 1u);
    }

    void codedBytesMatchTheByteStream()
    {
        const Bytes stream = cat({nal(NAL_AUD_NUT, {0x50}), headers(wideSps()), slice(idr()), slice(secondSlice(idr())),
                                  nal(NAL_AUD_NUT, {0x50}), slice(trailP(1)), slice(secondSlice(trailP(1))),
                                  nal(NAL_SUFFIX_SEI_NUT, {0x05, 0x01, 0x00, 0x80}), slice(trailP(2))});
        Decoder d(initParam(128, 64, 4, IH265D_DECODE_ORDER));
        d.feed(stream);
        d.finish();
        QCOMPARE(d.pictures.size(), (size_t)3);
        const std::vector<NalSpan> units = scanNalUnits(stream.data(), stream.size());
        const std::vector<size_t> aus = accessUnitStarts(units);
        QCOMPARE(aus.size(), (size_t)3);
        for (size_t k = 0; k < aus.size(); k++) {
            std::vector<NalSpan> mine;
            for (const NalSpan &u : units)
                if (u.start >= aus[k] && (k + 1 == aus.size() || u.start < aus[k + 1]))
                    mine.push_back(u);
            QCOMPARE((uint64_t)d.pictures[k].uiCodedBytes, vclBytes(mine));
        }
    }
};

QTEST_GUILESS_MAIN(TestNal)
#include "tst_nal.moc"
