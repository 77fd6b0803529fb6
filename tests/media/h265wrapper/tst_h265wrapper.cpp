#include <QtTest>
#include <QCryptographicHash>
#include <QProcess>
#include <QTemporaryDir>

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

// The wrapper never flushes, so it ends one picture behind FFmpeg.
bool isPrefix(const QVector<QByteArray> &part, const QVector<QByteArray> &whole)
{
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

} // namespace

class TestH265Wrapper : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (clips::read("h265-360p25.h265").isEmpty())
            QSKIP("the test clips were not made (ARDO_CLIPS_DIR)");
    }

    void decodeBeforeOpen()
    {
        qcVideoDecoder dec;
        const uint8_t bytes[8] = {0, 0, 0, 1, 0x40, 1, 0, 0};
        int got = 7;
        QCOMPARE(dec.decode(bytes, 8, &got), 0);
        QCOMPARE(got, 7);
        QVERIFY(!dec.open(9000, 100));  // beyond the decoder's limits
        QCOMPARE(dec.decode(bytes, 8, &got), 0);
        QCOMPARE(got, 7);
        QVERIFY(!dec.open(0, 0));
    }

    void picturesMatchFfmpeg()
    {
        const auto units = clips::units(clips::read("h265-360p25.h265"), true);
        QVERIFY(units.size() > 10);
        qcVideoDecoder dec;
        QVERIFY(dec.open(640, 360));
        int got = 1;
        const auto &first = units[0].bytes;
        QCOMPARE(dec.decode(reinterpret_cast<const uint8_t *>(first.constData()), first.size(), &got), 0);
        QCOMPARE(got, 0);  // complete only when the next picture begins
        const auto &second = units[1].bytes;
        QCOMPARE(dec.decode(reinterpret_cast<const uint8_t *>(second.constData()), second.size(), &got),
                 second.size());
        QCOMPARE(got, 1);
        const QVector<QByteArray> reference = ffmpegPictures(units);
        QCOMPARE(pictureMd5(dec.picture()), reference.value(0));
        dec.close();

        QVERIFY(dec.open(640, 360));
        const QVector<QByteArray> mine = wrapperPictures(dec, chunksOf(units));
        QCOMPARE(mine.size(), units.size() - 1);
        QVERIFY(isPrefix(mine, reference));
    }

    void chunksCutInsideNalUnits()
    {
        const QByteArray stream = clips::read("h265-360p25.h265").left(200000);
        const auto units = clips::units(stream, true);
        QVector<QByteArray> pieces;
        for (int at = 0; at < stream.size(); at += 777)
            pieces.append(stream.mid(at, 777));
        qcVideoDecoder dec;
        QVERIFY(dec.open(640, 360));
        const QVector<QByteArray> mine = wrapperPictures(dec, pieces);
        QVERIFY(!mine.isEmpty());
        QVERIFY(isPrefix(mine, ffmpegPictures(units)));
    }

    void croppedWidthKeepsPitch()
    {
        const auto units = clips::units(clips::read("h265-odd.h265"), true);
        QVERIFY(units.size() >= 2);
        qcVideoDecoder dec;
        QVERIFY(dec.open(640, 360));
        const QVector<QByteArray> mine = wrapperPictures(dec, chunksOf(units));
        QVERIFY(!mine.isEmpty());
        const AVFrame *f = dec.picture();
        QCOMPARE(f->width, 630);
        QCOMPARE(f->height, 350);
        QVERIFY(f->linesize[0] >= f->width);
        QCOMPARE(mine.first(), ffmpegPictures(units).value(0));
    }

    void threeUnitsInOneChunk()
    {
        const auto units = clips::units(clips::read("h265-360p25.h265"), true);
        QVector<QByteArray> grouped;
        for (int i = 0; i + 2 < units.size(); i += 3)
            grouped.append(units[i].bytes + units[i + 1].bytes + units[i + 2].bytes);
        qcVideoDecoder one, three;
        QVERIFY(one.open(640, 360));
        QVERIFY(three.open(640, 360));
        const QVector<QByteArray> byOne = wrapperPictures(one, chunksOf(units));
        const QVector<QByteArray> byThree = wrapperPictures(three, grouped);
        QVERIFY(!byThree.isEmpty());
        // Each reported picture is one of the stream's, in order.
        int at = 0;
        for (const QByteArray &md5 : byThree) {
            while (at < byOne.size() && byOne[at] != md5)
                ++at;
            QVERIFY(at < byOne.size());
        }
    }

    void moreReferencesThanCreatedWith()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("ref4.h265");
        const int rc = QProcess::execute("ffmpeg", {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                                    "testsrc2=s=320x240:r=25", "-frames:v", "60", "-c:v", "libx265",
                                                    "-x265-params", "ref=4:bframes=0:keyint=20:log-level=error",
                                                    "-f", "hevc", path});
        if (rc != 0)
            QSKIP("ffmpeg with libx265 is not available");
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const auto units = clips::units(f.readAll(), true);
        qcVideoDecoder dec;
        QVERIFY(dec.open(320, 240));
        const QVector<QByteArray> mine = wrapperPictures(dec, chunksOf(units));
        QVERIFY(dec.referenceCount() >= 4);
        QVERIFY(!mine.isEmpty());
        // From the first key frame after the re-creation on, FFmpeg's pictures.
        const QVector<QByteArray> reference = ffmpegPictures(units);
        QVERIFY(reference.contains(mine.last()));
        const int start = reference.indexOf(mine.last()) - (mine.size() - 1);
        QVERIFY(start >= 0);
        QCOMPARE(mine, reference.mid(start, mine.size()));
    }
};

QTEST_GUILESS_MAIN(TestH265Wrapper)
#include "tst_h265wrapper.moc"
