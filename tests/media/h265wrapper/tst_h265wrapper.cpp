#include <QtTest>
#include <QCryptographicHash>

#include "media/h265/qcvideodecoder.h"
#include "tests/device/common/clips.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace {

// MD5 of the visible part of each plane of a 4:2:0 picture.
QByteArray pictureMd5(const AVFrame *f)
{
    QCryptographicHash md5(QCryptographicHash::Md5);
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane ? (f->width + 1) / 2 : f->width;
        const int h = plane ? (f->height + 1) / 2 : f->height;
        for (int y = 0; y < h; ++y)
            md5.addData(reinterpret_cast<const char *>(f->data[plane] + size_t(y) * f->linesize[plane]), w);
    }
    return md5.result().toHex();
}

// The reference: FFmpeg's hevc decoder on the same access units.
QVector<QByteArray> ffmpegPictures(const QVector<clips::Unit> &units)
{
    QVector<QByteArray> out;
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_HEVC);
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    if (!ctx || avcodec_open2(ctx, codec, nullptr) < 0)
        return out;
    AVPacket *pkt = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    auto drain = [&] {
        while (avcodec_receive_frame(ctx, frame) == 0) {
            out.append(pictureMd5(frame));
            av_frame_unref(frame);
        }
    };
    for (const auto &u : units) {
        QByteArray padded = u.bytes;
        padded.append(QByteArray(AV_INPUT_BUFFER_PADDING_SIZE, 0));
        pkt->data = reinterpret_cast<uint8_t *>(padded.data());
        pkt->size = u.bytes.size();
        avcodec_send_packet(ctx, pkt);
        drain();
    }
    avcodec_send_packet(ctx, nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    return out;
}

// Feeds chunks one per call and collects the pictures' MD5s.
QVector<QByteArray> wrapperPictures(qcVideoDecoder &dec, const QVector<QByteArray> &chunks)
{
    QVector<QByteArray> out;
    for (const QByteArray &c : chunks) {
        int got = 0;
        if (dec.decode(reinterpret_cast<const uint8_t *>(c.constData()), c.size(), &got) > 0 && got)
            out.append(pictureMd5(dec.picture()));
    }
    return out;
}

QVector<QByteArray> chunksOf(const QVector<clips::Unit> &units)
{
    QVector<QByteArray> c;
    for (const auto &u : units)
        c.append(u.bytes);
    return c;
}

} // namespace

class TestH265Wrapper : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (clips::read("h265-360p-ref1.h265").isEmpty())
            QSKIP("the test clips were not made (ARDO_CLIPS_DIR)");
    }

    void decodeBeforeOpen()
    {
        qcVideoDecoder dec;
        const uint8_t bytes[8] = {0, 0, 0, 1, 0x40, 1, 0, 0};
        int got = 7;
        QCOMPARE(dec.decode(bytes, 8, &got), 0);
        QCOMPARE(got, 7);
        QVERIFY(!dec.open(9000, 100)); // beyond the decoder's limits
        QCOMPARE(dec.decode(bytes, 8, &got), 0);
        QCOMPARE(got, 7);
        QVERIFY(!dec.open(0, 0));
    }

    // Whichever allocation of open fails, open takes back everything it
    // made, the decoder instance included, and the wrapper decodes nothing.
    void failedOpenTakesBackEverything()
    {
        const auto units = clips::units(clips::read("h265-360p-ref1.h265"), true);
        QVERIFY(units.size() >= 2);
        const QByteArray two = units[0].bytes + units[1].bytes;
        int failures = 0;
        bool opened = false;
        for (int n = 0; !opened && n < 100000; ++n) {
            qcVideoDecoder::failAllocationsAfter(n);
            qcVideoDecoder dec;
            opened = dec.open(640, 360);
            qcVideoDecoder::failAllocationsAfter(-1);
            if (opened)
                break;
            ++failures;
            QVERIFY(!dec.isOpen());
            QCOMPARE(qcVideoDecoder::allocationsHeld(), 0);
            int got = 7;
            QCOMPARE(dec.decode(reinterpret_cast<const uint8_t *>(two.constData()), two.size(), &got), 0);
            QCOMPARE(got, 7);
        }
        QVERIFY(opened);
        // The decoder instance's own allocations, the frame and three planes.
        QVERIFY2(failures >= 5, qPrintable(QString::number(failures)));
        QCOMPARE(qcVideoDecoder::allocationsHeld(), 0);

        // A failed open leaves a wrapper that opens and decodes afterwards.
        qcVideoDecoder dec;
        qcVideoDecoder::failAllocationsAfter(failures - 1);
        QVERIFY(!dec.open(640, 360));
        qcVideoDecoder::failAllocationsAfter(-1);
        QVERIFY(dec.open(640, 360));
        QVERIFY(qcVideoDecoder::allocationsHeld() >= 5);
        int got = 0;
        QCOMPARE(dec.decode(reinterpret_cast<const uint8_t *>(two.constData()), two.size(), &got), two.size());
        QCOMPARE(got, 1);
        dec.close();
        QCOMPARE(qcVideoDecoder::allocationsHeld(), 0);
    }

    void picturesMatchFfmpeg()
    {
        const auto units = clips::units(clips::read("h265-360p-ref1.h265"), true);
        QVERIFY(units.size() > 10);
        const QVector<QByteArray> reference = ffmpegPictures(units);
        QCOMPARE(reference.size(), units.size());
        qcVideoDecoder dec;
        QVERIFY(dec.open(640, 360));
        int got = 1;
        const auto &first = units[0].bytes;
        QCOMPARE(dec.decode(reinterpret_cast<const uint8_t *>(first.constData()), first.size(), &got), 0);
        QCOMPARE(got, 0); // complete only when the next picture begins
        const auto &second = units[1].bytes;
        QCOMPARE(dec.decode(reinterpret_cast<const uint8_t *>(second.constData()), second.size(), &got), second.size());
        QCOMPARE(got, 1);
        QCOMPARE(pictureMd5(dec.picture()), reference.value(0));
        dec.close();

        // Every picture, each one call after its access unit; the last stays
        // inside, since the wrapper never ends the stream.
        QVERIFY(dec.open(640, 360));
        const QVector<QByteArray> mine = wrapperPictures(dec, chunksOf(units));
        QCOMPARE(mine, reference.mid(0, units.size() - 1));
        QCOMPARE(dec.referenceCount(), 2);
    }

    void chunksCutInsideNalUnits()
    {
        const QByteArray stream = clips::read("h265-360p-ref1.h265");
        const auto units = clips::units(stream, true);
        QVector<QByteArray> pieces;
        for (int at = 0; at < stream.size(); at += 777)
            pieces.append(stream.mid(at, 777));
        qcVideoDecoder dec;
        QVERIFY(dec.open(640, 360));
        int got = 1;
        QCOMPARE(dec.decode(reinterpret_cast<const uint8_t *>(pieces[0].constData()), pieces[0].size(), &got), 0);
        QCOMPARE(got, 0);
        const QVector<QByteArray> mine = wrapperPictures(dec, pieces.mid(1));
        // The newest picture of each call: the stream's, in order, ending
        // with the one before the last.
        const QVector<QByteArray> reference = ffmpegPictures(units);
        QVERIFY(!mine.isEmpty());
        int at = 0;
        for (const QByteArray &md5 : mine) {
            while (at < reference.size() && reference[at] != md5)
                ++at;
            QVERIFY(at < reference.size());
        }
        QCOMPARE(mine.last(), reference.value(reference.size() - 2));
    }

    void croppedWidthKeepsPitch()
    {
        const auto units = clips::units(clips::read("h265-odd.h265"), true);
        QVERIFY(units.size() >= 2);
        qcVideoDecoder dec;
        QVERIFY(dec.open(630, 350));
        const QVector<QByteArray> mine = wrapperPictures(dec, chunksOf(units));
        QCOMPARE(mine.size(), 1);
        const AVFrame *f = dec.picture();
        QCOMPARE(f->width, 630);
        QCOMPARE(f->height, 350);
        // The decoder's pitch, not the visible width repacked.
        QVERIFY(f->linesize[0] > f->width);
        QCOMPARE(f->linesize[1], f->linesize[2]);
        QVERIFY(f->linesize[1] >= (f->width + 1) / 2);
        QCOMPARE(mine.first(), ffmpegPictures(units).value(0));
    }

    // Three access units in one chunk complete two pictures, and the
    // picture of the first of them is still inside: the call reports the
    // newest and leaves none behind, so each chunk's picture is the same one
    // that feeding unit by unit gives after the chunk's second unit.
    void threeUnitsInOneChunk()
    {
        const auto units = clips::units(clips::read("h265-360p-ref1.h265"), true);
        QVector<QByteArray> grouped;
        for (int i = 0; i + 2 < units.size(); i += 3)
            grouped.append(units[i].bytes + units[i + 1].bytes + units[i + 2].bytes);
        qcVideoDecoder dec;
        QVERIFY(dec.open(640, 360));
        const QVector<QByteArray> byThree = wrapperPictures(dec, grouped);
        const QVector<QByteArray> reference = ffmpegPictures(units);
        QCOMPARE(byThree.size(), grouped.size());
        for (int k = 0; k < byThree.size(); ++k)
            QCOMPARE(byThree[k], reference.value(3 * k + 1));
    }

    void moreReferencesThanCreatedWith()
    {
        // Made with four reference pictures and a key frame every 20.
        const auto units = clips::units(clips::read("h265-240p-ref4.h265"), true);
        QCOMPARE(units.size(), 60);
        QVERIFY(units[20].key && units[40].key);
        qcVideoDecoder dec;
        QVERIFY(dec.open(320, 240));
        const QVector<QByteArray> mine = wrapperPictures(dec, chunksOf(units));
        QCOMPARE(dec.referenceCount(), 4);
        // From the first key frame after the re-creation on, FFmpeg's
        // pictures; before it, the first instance's until it failed.
        const QVector<QByteArray> reference = ffmpegPictures(units);
        QVERIFY(mine.size() > 39);
        QCOMPARE(mine.mid(mine.size() - 39), reference.mid(20, 39));
        const QVector<QByteArray> before = mine.mid(0, mine.size() - 39);
        QVERIFY(!before.isEmpty());
        QCOMPARE(before, reference.mid(0, before.size()));
    }
};

QTEST_GUILESS_MAIN(TestH265Wrapper)
#include "tst_h265wrapper.moc"
