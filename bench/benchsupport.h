#pragma once

// What the benchmarks share: the median, the processor time of threads and
// of the process from /proc, the resident set, and the references measured
// in the same run (bare libavcodec decoding, one sws_scale pass). Header
// only: a bench links FFmpeg and Qt itself.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace benchsupport {

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// The median of one figure over several runs' results.
template <class Result>
double medianOf(const std::vector<Result> &results, double Result::*figure)
{
    std::vector<double> v;
    for (const Result &r : results)
        v.push_back(r.*figure);
    return median(v);
}

// utime + stime of a /proc stat file, in seconds.
inline double cpuSeconds(const QString &statPath)
{
    QFile f(statPath);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = f.readAll();
    const int close = line.lastIndexOf(')');
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    // Fields after the name start at state (3); utime is 14, stime 15.
    if (fields.size() < 13)
        return 0;
    return (fields[11].toDouble() + fields[12].toDouble()) / double(sysconf(_SC_CLK_TCK));
}

inline QString threadName(const QString &task)
{
    QFile f(QStringLiteral("/proc/self/task/%1/comm").arg(task));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll().trimmed()) : QString();
}

inline double rssMiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    f.open(QIODevice::ReadOnly);
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

inline double threadCpuMs()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Bare libavcodec on an H.264 elementary stream, one thread, no drawing.
struct BareDecoder
{
    BareDecoder()
    {
        const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        ctx = avcodec_alloc_context3(codec);
        ctx->thread_count = 1;
        avcodec_open2(ctx, codec, nullptr);
        parser = av_parser_init(AV_CODEC_ID_H264);
        pkt = av_packet_alloc();
        frame = av_frame_alloc();
    }
    ~BareDecoder()
    {
        av_frame_free(&frame);
        av_packet_free(&pkt);
        av_parser_close(parser);
        avcodec_free_context(&ctx);
    }
    // Cuts the next packet off the stream into pkt; false at its end.
    bool nextPacket(const uint8_t *&data, int &left)
    {
        while (left > 0) {
            const int used =
                av_parser_parse2(parser, ctx, &pkt->data, &pkt->size, data, left, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
            data += used;
            left -= used;
            if (pkt->size)
                return true;
        }
        return false;
    }
    // Decodes pkt; the number of pictures that came out.
    int decode()
    {
        int frames = 0;
        if (avcodec_send_packet(ctx, pkt) == 0)
            while (avcodec_receive_frame(ctx, frame) == 0) {
                ++frames;
                width = frame->width;
                height = frame->height;
            }
        return frames;
    }
    int width = 0, height = 0; // of the last picture
    AVCodecContext *ctx;
    AVCodecParserContext *parser;
    AVPacket *pkt;
    AVFrame *frame;
};

// The clip decoded three times back to back: ms per frame (wall time; its
// processor time in *cpuMs).
inline double referenceDecodeMs(const QByteArray &clip, int *width, int *height, double *cpuMs)
{
    BareDecoder d;
    int frames = 0;
    QElapsedTimer t;
    const double cpu0 = threadCpuMs();
    t.start();
    for (int pass = 0; pass < 3; ++pass) {
        const uint8_t *data = reinterpret_cast<const uint8_t *>(clip.constData());
        int left = clip.size();
        while (d.nextPacket(data, left))
            frames += d.decode();
    }
    const double ms = frames ? t.nsecsElapsed() / 1e6 / frames : 0;
    *cpuMs = frames ? (threadCpuMs() - cpu0) / frames : 0;
    *width = d.width;
    *height = d.height;
    return ms;
}

// One sws_scale pass YUV420P -> BGR0 from the picture size to the view size:
// ms per frame back to back, and in *pacedMs with gapMs between passes.
inline double referenceScaleMs(int pw, int ph, int vw, int vh, int gapMs, double *pacedMs)
{
    std::vector<uint8_t> src(size_t(av_image_get_buffer_size(AV_PIX_FMT_YUV420P, pw, ph, 1)), 100);
    std::vector<uint8_t> dst(size_t(vw) * vh * 4);
    uint8_t *sp[4];
    int sl[4];
    av_image_fill_arrays(sp, sl, src.data(), AV_PIX_FMT_YUV420P, pw, ph, 1);
    uint8_t *dp[4] = {dst.data(), nullptr, nullptr, nullptr};
    int dl[4] = {vw * 4, 0, 0, 0};
    SwsContext *sws =
        sws_getContext(pw, ph, AV_PIX_FMT_YUV420P, vw, vh, AV_PIX_FMT_BGR0, SWS_BILINEAR, nullptr, nullptr, nullptr);
    const int n = 100;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < n; ++i)
        sws_scale(sws, sp, sl, 0, ph, dp, dl);
    const double ms = t.nsecsElapsed() / 1e6 / n;
    const int paced = 25;
    qint64 ns = 0;
    for (int i = 0; i < paced; ++i) {
        usleep(useconds_t(gapMs) * 1000);
        t.start();
        sws_scale(sws, sp, sl, 0, ph, dp, dl);
        ns += t.nsecsElapsed();
    }
    *pacedMs = ns / 1e6 / paced;
    sws_freeContext(sws);
    return ms;
}

// The bench clips made by the script into *dir, or into the temporary
// folder when *dir is empty; false, said on stderr, when that fails.
inline bool makeBenchClips(const char *script, QString *dir, const QTemporaryDir &temporary)
{
    if (dir->isEmpty())
        *dir = temporary.path();
    if (QProcess::execute(QString::fromLocal8Bit(script), {*dir, QStringLiteral("bench")}) == 0)
        return true;
    std::fprintf(stderr, "make-clips.sh failed\n");
    return false;
}

// Waits in the event loop without spinning: the main thread's CPU counts
// in the figures.
inline void waitMs(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace benchsupport
