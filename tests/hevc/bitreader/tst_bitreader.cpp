#include <QtTest>

#include "../common/h265_streams.h"
#include "hevc/bitreader.h"

using namespace h265d;

using namespace h265test;

class TestBitReader : public QObject
{
    Q_OBJECT

private:
    H265D_BITREADER reader(const Bytes &b)
    {
        H265D_BITREADER br = {};
        bitReaderInit(&br, b.data(), (int32_t)b.size(), (int32_t)b.size() + 4);
        return br;
    }

private slots:
    void expGolombValues()
    {
        /* Typed in: 1 -> 0; 00111 -> 6; then the se codes 010, 011, 00100,
         * 00101; then large values from the writer. */
        BitWriter w;
        w.u(1, 1);
        w.u(0x7, 5);
        w.u(0x2, 3);
        w.u(0x3, 3);
        w.u(0x4, 5);
        w.u(0x5, 5);
        const uint64_t values[] = {254, 255, 65535, 1u << 20, 0xFFFFFFFEull};
        for (uint64_t v : values)
            w.ue(v);
        w.se(-32768);
        w.se(32767);
        w.trailing();
        Bytes b = w.data();
        H265D_BITREADER br = reader(b);
        QCOMPARE(readUe(&br), 0u);
        QCOMPARE(readUe(&br), 6u);
        QCOMPARE(readSe(&br), 1);
        QCOMPARE(readSe(&br), -1);
        QCOMPARE(readSe(&br), 2);
        QCOMPARE(readSe(&br), -2);
        for (uint64_t v : values)
            QCOMPARE((uint64_t)readUe(&br), v);
        QCOMPARE(readSe(&br), -32768);
        QCOMPARE(readSe(&br), 32767);
        QCOMPARE(br.overrun, 0);
    }

    void payloadEndingInsidePrefixIsAnError()
    {
        Bytes b = {0x00, 0x00};
        H265D_BITREADER br = reader(b);
        QCOMPARE(readUe(&br), H265D_UE_ERROR);
        QVERIFY(br.overrun);
        H265D_BITREADER br2 = reader(b);
        QCOMPARE(readSe(&br2), H265D_SE_ERROR);
        /* prefix complete, suffix cut short */
        Bytes c = {0x00, 0x01}; /* 15 zeros, the 1, then nothing */
        H265D_BITREADER br3 = reader(c);
        QCOMPARE(readUe(&br3), H265D_UE_ERROR);
        /* an error value fails every unsigned "at most" check */
        QVERIFY(H265D_UE_ERROR > 1024u);
    }

    void overLongCodesAreRejected()
    {
        /* 31 leading zeros is the longest code: value 2^32 - 2 */
        BitWriter w;
        w.zeros(31);
        w.u(1, 1);
        w.u(0x7FFFFFFF, 31);
        w.trailing();
        Bytes b = w.data();
        H265D_BITREADER br = reader(b);
        QCOMPARE(readUe(&br), 0xFFFFFFFEu);
        QCOMPARE(br.overrun, 0);

        BitWriter x;
        x.zeros(32);
        x.u(1, 1);
        x.zeros(32);
        x.trailing();
        Bytes c = x.data();
        H265D_BITREADER br2 = reader(c);
        QCOMPARE(readUe(&br2), H265D_UE_ERROR);
        QVERIFY(br2.overrun);
    }

    void fixedFieldsUpTo32Bits()
    {
        Bytes b = {0xDE, 0xAD, 0xBE, 0xEF, 0x12, 0x34, 0x56, 0x78, 0x9A};
        H265D_BITREADER br = reader(b);
        QCOMPARE(readBits(&br, 4), 0xDu);
        QCOMPARE(readBits(&br, 32), 0xEADBEEF1u);
        QCOMPARE(readBits(&br, 1), 0u);
        skipBits(&br, 3);
        QCOMPARE(readBits(&br, 24), 0x345678u);
        QCOMPARE(br.bitsRead, 64u);
        QCOMPARE(readBits(&br, 8), 0x9Au);
        QCOMPARE(br.overrun, 0);
        /* past the end: zeros, flagged */
        QCOMPARE(readBits(&br, 8), 0u);
        QVERIFY(br.overrun);
    }

    void moreRbspDataFindsTheStopBit()
    {
        Bytes a = {0x5A, 0x80};
        H265D_BITREADER br = reader(a);
        readBits(&br, 8);
        QCOMPARE(moreRbspData(&br), 0u);
        Bytes c = {0x5A, 0xC0};
        H265D_BITREADER br2 = reader(c);
        readBits(&br2, 8);
        QCOMPARE(moreRbspData(&br2), 1u);
        readBit(&br2);
        QCOMPARE(moreRbspData(&br2), 0u);
        /* stop bit in the middle of the last byte */
        Bytes d = {0x08};
        H265D_BITREADER br3 = reader(d);
        readBits(&br3, 4);
        QCOMPARE(moreRbspData(&br3), 0u);
    }

    /* trailing_zero_8bits before the next start code must not look like a
     * second SEI message. */
    void trailingZeroBytesAreStripped()
    {
        Decoder dec;
        Bytes sei = nal(NAL_PREFIX_SEI_NUT, {0x05, 0x03, 0x11, 0x22, 0x33, 0x80});
        sei.push_back(0);
        sei.push_back(0);
        dec.feed(cat({headers(), sei, slice(idr())}));
        dec.finish();
        QCOMPARE(dec.pictures.size(), (size_t)1);
        QCOMPARE(dec.pictures[0].uiUserDataLen, 3u);
        QVERIFY(dec.errors.empty());
    }
};

QTEST_GUILESS_MAIN(TestBitReader)
#include "tst_bitreader.moc"
