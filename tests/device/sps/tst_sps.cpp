#include <QtTest>

#include "../common/clips.h"
#include "device/spsparser.h"

namespace {

// Writes SPS bits for what the encoders do not produce.
class BitWriter
{
public:
    void bit(int b) { bits(uint64_t(b & 1), 1); }
    void bits(uint64_t v, int n)
    {
        for (int i = n - 1; i >= 0; --i) {
            m_cur = uint8_t((m_cur << 1) | ((v >> i) & 1));
            if (++m_n == 8) {
                m_bytes.append(char(m_cur));
                m_cur = 0;
                m_n = 0;
            }
        }
    }
    void ue(uint64_t v)
    {
        const uint64_t x = v + 1;
        int len = 0;
        while ((x >> len) > 1)
            ++len;
        bits(0, len);
        bits(x, len + 1);
    }
    void se(int64_t v) { ue(v > 0 ? uint64_t(2 * v - 1) : uint64_t(-2 * v)); }
    // rbsp_trailing_bits, then emulation prevention over the body.
    QByteArray finish(int headerBytes)
    {
        bit(1);
        while (m_n)
            bit(0);
        QByteArray out = m_bytes.left(headerBytes);
        int zeros = 0;
        for (int i = headerBytes; i < m_bytes.size(); ++i) {
            const uchar c = uchar(m_bytes[i]);
            if (zeros >= 2 && c <= 3) {
                out.append(char(3));
                zeros = 0;
            }
            out.append(char(c));
            zeros = c == 0 ? zeros + 1 : 0;
        }
        return out;
    }

private:
    QByteArray m_bytes;
    uint8_t m_cur = 0;
    int m_n = 0;
};

struct H264Fields
{
    int profile = 66;
    int chroma = 1;
    bool scaling = false;
    int pocType = 2;
    int cycle = 0;
    uint64_t logFrameNum = 0;
    uint64_t refFrames = 1;
    uint64_t widthMbsMinus1 = 39;
    uint64_t heightMapsMinus1 = 22;
};

QByteArray h264Sps(const H264Fields &f)
{
    BitWriter w;
    w.bits(0x67, 8);
    w.bits(uint64_t(f.profile), 8);
    w.bits(0, 8);
    w.bits(30, 8);
    w.ue(0);
    if (f.profile == 100 || f.profile == 110 || f.profile == 122 || f.profile == 144) {
        w.ue(uint64_t(f.chroma));
        if (f.chroma == 3)
            w.bit(0);
        w.ue(0);
        w.ue(0);
        w.bit(0);
        w.bit(f.scaling);
        if (f.scaling) {
            const int lists = f.chroma == 3 ? 12 : 8;
            for (int i = 0; i < lists; ++i) {
                w.bit(1);
                const int size = i < 6 ? 16 : 64;
                // A list of varying scales ending early with a zero scale on odd lists.
                int last = 8;
                for (int j = 0; j < size; ++j) {
                    int next = (i & 1) && j == 5 ? 0 : 8 + (j % 13);
                    int delta = next - last;
                    if (delta > 127)
                        delta -= 256;
                    if (delta < -128)
                        delta += 256;
                    w.se(delta);
                    if (next == 0)
                        break;
                    last = next;
                }
            }
        }
    }
    w.ue(f.logFrameNum);
    w.ue(uint64_t(f.pocType));
    if (f.pocType == 0) {
        w.ue(2);
    } else if (f.pocType == 1) {
        w.bit(0);
        w.se(-3);
        w.se(5);
        w.ue(uint64_t(f.cycle));
        for (int i = 0; i < f.cycle; ++i)
            w.se(i - 100);
    }
    w.ue(f.refFrames);
    w.bit(0);
    w.ue(f.widthMbsMinus1);
    w.ue(f.heightMapsMinus1);
    w.bit(1); // frame_mbs_only_flag and on: not read
    w.bits(0x1234, 16);
    return w.finish(1);
}

struct H265Fields
{
    int subLayersMinus1 = 0;
    bool subFlags = false;
    uint64_t width = 640;
    uint64_t height = 360;
    int chroma = 1;
    bool window = false;
    int depthLuma = 0;
    int depthChroma = 0;
};

QByteArray h265Sps(const H265Fields &f)
{
    BitWriter w;
    w.bits(0x4201, 16);
    w.bits(0, 4);
    w.bits(uint64_t(f.subLayersMinus1), 3);
    w.bit(1);
    w.bits(0, 2);
    w.bit(0);
    w.bits(1, 5);
    w.bits(0x60000000, 32);
    w.bits(0xB, 4);
    w.bits(0, 44);
    w.bits(93, 8);
    for (int i = 0; i < f.subLayersMinus1; ++i) {
        w.bit(f.subFlags);
        w.bit(f.subFlags);
    }
    if (f.subLayersMinus1 > 0)
        w.bits(0, (8 - f.subLayersMinus1) * 2);
    for (int i = 0; i < f.subLayersMinus1; ++i) {
        if (f.subFlags) {
            // Non-zero profile bits so that a wrong skip shows.
            w.bits(0x5A5A5A5A5A5ALL, 44);
            w.bits(0x3C3C3C3C3C3LL, 44);
            w.bits(0x77, 8);
        }
    }
    w.ue(0);
    w.ue(uint64_t(f.chroma));
    if (f.chroma == 3)
        w.bit(0);
    w.ue(f.width);
    w.ue(f.height);
    w.bit(f.window);
    if (f.window) {
        w.ue(1);
        w.ue(2);
        w.ue(3);
        w.ue(4);
    }
    w.ue(uint64_t(f.depthLuma));
    w.ue(uint64_t(f.depthChroma));
    w.ue(4);
    return w.finish(2);
}

uint32_t sizeOf(int w, int h)
{
    return (uint32_t(w) << 16) + uint32_t(h);
}

QByteArray withStart(const QByteArray &nal)
{
    return QByteArray("\0\0\0\1", 4) + nal;
}

uint32_t parse(const QByteArray &frame, int codec)
{
    return ParseSpsResolution(reinterpret_cast<const uchar *>(frame.constData()), frame.size(), codec);
}

// The first access unit holding a key picture, from the file start to the
// first start code of the next picture's first slice.
QByteArray firstKeyFrame(const QByteArray &clip, bool h265)
{
    const auto list = clips::nals(clip);
    bool seenKey = false;
    for (const auto &n : list) {
        const int t = h265 ? clips::h265Type(clip, n) : clips::h264Type(clip, n);
        const bool key = h265 ? (t >= 16 && t <= 23) : t == 5;
        const bool slice = h265 ? t < 32 : (t >= 1 && t <= 5);
        if (seenKey && slice && !key)
            return clip.left(n.start);
        if (key)
            seenKey = true;
    }
    return clip;
}

QByteArray spsNal(const QByteArray &clip, bool h265)
{
    for (const auto &n : clips::nals(clip)) {
        const int t = h265 ? clips::h265Type(clip, n) : clips::h264Type(clip, n);
        if (t == (h265 ? 33 : 7))
            return clip.mid(n.payload, n.end - n.payload);
    }
    return QByteArray();
}

} // namespace

class TestSps : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (clips::dir().isEmpty())
            QSKIP("ARDO_CLIPS_DIR is not set");
    }

    void realClips_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("high 360p") << "h264-360p25.h264" << 640 << 368;
        QTest::newRow("baseline") << "h264-360p-baseline.h264" << 640 << 368;
        QTest::newRow("240p") << "h264-240p25.h264" << 320 << 240;
        QTest::newRow("1080p") << "h264-1080p25.h264" << 1920 << 1088;
        QTest::newRow("intra-class") << "h264-avci50.h264" << 1440 << 1088;
        QTest::newRow("h265 360p") << "h265-360p25.h265" << 640 << 360;
        QTest::newRow("h265 sub-layer") << "h265-360p-tl.h265" << 640 << 360;
        QTest::newRow("h265 window") << "h265-odd.h265" << 632 << 352;
    }
    void realClips()
    {
        QFETCH(QString, file);
        QFETCH(int, width);
        QFETCH(int, height);
        const QByteArray clip = clips::read(file);
        QVERIFY2(!clip.isEmpty(), qPrintable(file));
        const bool h265 = file.endsWith(".h265");
        const int codec = h265 ? kCodecH265 : kCodecH264;

        const QByteArray key = firstKeyFrame(clip, h265);
        const QByteArray before = key;
        QCOMPARE(parse(key, codec), sizeOf(width, height));
        QCOMPARE(key, before);

        // The SPS as the last unit of a frame runs to the frame's end.
        const QByteArray sps = spsNal(clip, h265);
        QVERIFY(!sps.isEmpty());
        const QByteArray tail =
            QByteArray("\0\0\0\1", 4) + clip.mid(0, 0) + QByteArray("\x06\x05\x01\x80", 4) + withStart(sps);
        QCOMPARE(parse(tail, codec), sizeOf(width, height));

        // The wrong codec finds no SPS or reads nothing sensible; never crashes.
        parse(key, h265 ? kCodecH264 : kCodecH265);
        QCOMPARE(parse(key, 99), 0u);
    }

    void everyTruncation()
    {
        // One of each syntax the parser walks: baseline, an intra-class high
        // profile, sub-layers, a conformance window.
        for (const char *file : {"h264-360p-baseline.h264", "h264-avci50.h264", "h265-360p-tl.h265", "h265-odd.h265"}) {
            const QByteArray clip = clips::read(file);
            const bool h265 = QByteArray(file).endsWith(".h265");
            const QByteArray sps = spsNal(clip, h265);
            const uint32_t full = parse(withStart(sps), h265 ? kCodecH265 : kCodecH264);
            QVERIFY(full != 0);
            for (int len = 0; len < sps.size(); ++len) {
                const uint32_t r = parse(withStart(sps.left(len)), h265 ? kCodecH265 : kCodecH264);
                QVERIFY2(r == 0 || r == full, file);
                // A cut followed by zeros reads long runs of zero bits: it must end promptly.
                parse(withStart(sps.left(len) + QByteArray(64, '\0')), h265 ? kCodecH265 : kCodecH264);
            }
        }
    }

    void craftedH265()
    {
        H265Fields f;
        f.subLayersMinus1 = 2;
        f.subFlags = true;
        QCOMPARE(parse(withStart(h265Sps(f)), kCodecH265), sizeOf(640, 360));
        f.subLayersMinus1 = 6;
        f.width = 1280;
        f.height = 720;
        QCOMPARE(parse(withStart(h265Sps(f)), kCodecH265), sizeOf(1280, 720));
        f.subLayersMinus1 = 0;
        f.chroma = 3;
        f.window = true;
        QCOMPARE(parse(withStart(h265Sps(f)), kCodecH265), sizeOf(1280, 720));

        H265Fields depth;
        depth.depthLuma = 2;
        QCOMPARE(parse(withStart(h265Sps(depth)), kCodecH265), 0u);
        for (uint64_t bad : {uint64_t(0), uint64_t(70000)}) {
            H265Fields s;
            s.width = bad;
            QCOMPARE(parse(withStart(h265Sps(s)), kCodecH265), 0u);
            s.width = 640;
            s.height = bad;
            QCOMPARE(parse(withStart(h265Sps(s)), kCodecH265), 0u);
        }
    }

    void craftedH264()
    {
        H264Fields poc1;
        poc1.pocType = 1;
        poc1.cycle = 255;
        QCOMPARE(parse(withStart(h264Sps(poc1)), kCodecH264), sizeOf(640, 368));
        poc1.cycle = 256;
        QCOMPARE(parse(withStart(h264Sps(poc1)), kCodecH264), 0u);

        // Long zero runs before the width force an emulation-prevention byte.
        H264Fields epb;
        QByteArray escaped;
        for (int shift = 16; shift < 30 && !escaped.contains(QByteArray("\0\0\3", 3)); ++shift) {
            epb.refFrames = uint64_t(1) << shift;
            escaped = h264Sps(epb);
        }
        QVERIFY(escaped.contains(QByteArray("\0\0\3", 3)));
        QCOMPARE(parse(withStart(escaped), kCodecH264), sizeOf(640, 368));

        H264Fields lists444;
        lists444.profile = 244; // high-profile fields are not read for 244
        QCOMPARE(parse(withStart(h264Sps(lists444)), kCodecH264), sizeOf(640, 368));
        lists444.profile = 100;
        lists444.chroma = 3;
        lists444.scaling = true;
        lists444.widthMbsMinus1 = 89;
        lists444.heightMapsMinus1 = 67;
        QCOMPARE(parse(withStart(h264Sps(lists444)), kCodecH264), sizeOf(1440, 1088));
        lists444.chroma = 1;
        QCOMPARE(parse(withStart(h264Sps(lists444)), kCodecH264), sizeOf(1440, 1088));

        H264Fields zero;
        zero.widthMbsMinus1 = uint64_t(-1) >> 40; // far past 65,535 pixels
        QCOMPARE(parse(withStart(h264Sps(zero)), kCodecH264), 0u);
        H264Fields wide;
        wide.widthMbsMinus1 = 4374; // 70,000 pixels
        QCOMPARE(parse(withStart(h264Sps(wide)), kCodecH264), 0u);
    }

    void framing()
    {
        H264Fields f;
        const QByteArray sps = h264Sps(f);
        QCOMPARE(parse(sps, kCodecH264), 0u);                           // no start code
        QCOMPARE(parse(QByteArray("\0\0\1", 3) + sps, kCodecH264), 0u); // 3-byte only
        QCOMPARE(parse(withStart(sps.left(8)), kCodecH264), 0u);        // under 9 bytes
        QVERIFY(parse(withStart(sps) + withStart("\x68\xce\x38\x80"), kCodecH264) != 0);
        const QByteArray h265 = h265Sps(H265Fields());
        QCOMPARE(parse(withStart(h265.left(19)), kCodecH265), 0u);
        QCOMPARE(parse(QByteArray(), kCodecH264), 0u);
        int w = 0, h = 0;
        QVERIFY(!ParseH264Sps(reinterpret_cast<const uchar *>("\x68\0\0\0\0\0\0\0\0\0"), 10, &w, &h));
    }
};

QTEST_GUILESS_MAIN(TestSps)
#include "tst_sps.moc"
