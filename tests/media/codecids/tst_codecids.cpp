#include <QtTest>

#include "media/codecids.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

using namespace media::codecids;

class TestCodecIds : public QObject
{
    Q_OBJECT
private slots:
    void videoNumbersRoundTrip_data()
    {
        QTest::addColumn<int>("stable");
        QTest::addColumn<QString>("name");
        QTest::newRow("h264") << 28 << "h264";
        QTest::newRow("hevc") << 174 << "hevc";
        QTest::newRow("mpeg4") << 13 << "mpeg4";
        QTest::newRow("mjpeg") << 8 << "mjpeg";
    }
    void videoNumbersRoundTrip()
    {
        QFETCH(int, stable);
        QFETCH(QString, name);
        const AVCodecID id = videoToAv(stable);
        QCOMPARE(QString::fromLatin1(avcodec_get_name(id)), name);
        QCOMPARE(videoFromAv(id), stable);
        // The decoder FFmpeg finds for it is the one named, not a neighbour.
        const AVCodec *dec = avcodec_find_decoder(id);
        QVERIFY(dec);
        QCOMPARE(QString::fromLatin1(dec->name).left(name.size()), name);
    }

    void unknownNumbersMapToNone()
    {
        // The current library's own numbers for H.264 and H.265 must not be
        // taken for stable ones, nor anything unknown, video or audio.
        for (int n : {27, 173, 12, 7, 0, -1, 175, 100000})
            QCOMPARE(videoToAv(n), AV_CODEC_ID_NONE);
        QCOMPARE(videoFromAv(AV_CODEC_ID_NONE), 0);
        QCOMPARE(videoFromAv(AV_CODEC_ID_VP9), 0);
        for (int n : {-1, 6, 7, 0x10006})
            QCOMPARE(audioToAv(n), AV_CODEC_ID_NONE);
        QCOMPARE(legacyIdFromAudio(6), 0);
        QCOMPARE(audioFromLegacyId(0), -1);
        QCOMPARE(audioFromLegacyId(0x10008), -1); // pcm_s16le-family neighbour, not ours
    }

    void audioNumbers_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("legacy");
        QTest::addColumn<QString>("name");
        QTest::newRow("mulaw") << 0 << 0x10006 << "pcm_mulaw";
        QTest::newRow("alaw") << 1 << 0x10007 << "pcm_alaw";
        QTest::newRow("aac") << 2 << 0x15002 << "aac";
        QTest::newRow("mp2") << 3 << 0x15000 << "mp2";
        QTest::newRow("pcm") << 4 << 0x10005 << "";
        QTest::newRow("g726") << 5 << 0x1100B << "adpcm_g726";
    }
    void audioNumbers()
    {
        QFETCH(int, number);
        QFETCH(int, legacy);
        QFETCH(QString, name);
        QCOMPARE(legacyIdFromAudio(number), legacy);
        QCOMPARE(audioFromLegacyId(legacy), number);
        const AVCodecID id = audioToAv(number);
        if (name.isEmpty()) {
            QCOMPARE(id, AV_CODEC_ID_NONE); // played raw, no decoder
        } else {
            QCOMPARE(QString::fromLatin1(avcodec_get_name(id)), name);
            QVERIFY(avcodec_find_decoder(id));
        }
    }
};

QTEST_GUILESS_MAIN(TestCodecIds)
#include "tst_codecids.moc"
