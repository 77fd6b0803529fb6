/* hevc_bench: our H.265 decoder against FFmpeg's on the same streams, in one run.
 *
 * The streams are made once with ffmpeg (lavfi source) piped into x265 and
 * kept in streams/ next to the program. Both decoders run in this process and
 * are fed the same access units from memory, so neither pays for process
 * start-up, file reading or demuxing that the other does not. For each stream
 * one round times ours on one thread and with workers (eThreadType 1), and
 * libavcodec with one thread, four threads and its default threading, in
 * turn; the ratios are taken round by round and the median printed, so a
 * machine whose speed drifts (other work on it) moves both sides of a ratio
 * alike. Then the memory one 1080p instance costs, the way the program's
 * wrapper creates it, and where one thread's time goes, stage by stage (one
 * more run with the stage clock on).
 *
 * Options: --runs N (default 5), --only 1080p|2160p. */
#include "hevc/decoder.h"
#include "hevc/h265d.h"
#include "hevc/h265d_test.h"
#include "hevc/workers.h"
#include "hevc/tools/annexb.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <new>
#include <string>
#include <thread>
#include <vector>

using namespace h265d;

/* Live bytes of C++ allocations, to see what the decoder's workers take
 * outside the caller's MallocFxn. */
static std::atomic<long long> g_heapLive{0};

void *operator new(size_t n)
{
    void *p = malloc(n ? n : 1);
    if (!p)
        throw std::bad_alloc();
    g_heapLive += (long long)malloc_usable_size(p);
    return p;
}
void operator delete(void *p) noexcept
{
    if (p) {
        g_heapLive -= (long long)malloc_usable_size(p);
        free(p);
    }
}
void operator delete(void *p, size_t) noexcept
{
    operator delete(p);
}

namespace {

std::atomic<long long> g_mallocFxnLive{0};

void *benchMalloc(uint32_t, size_t size)
{
    void *p = malloc(size);
    if (p)
        g_mallocFxnLive += (long long)malloc_usable_size(p);
    return p;
}

void benchFree(uint32_t, void *p)
{
    if (p) {
        g_mallocFxnLive -= (long long)malloc_usable_size(p);
        free(p);
    }
}

void quietLog(uint32_t, int32_t, const char *, ...) {}

struct Stream
{
    const char *name;
    int w, h, frames;
    bool camera;
    int bitrate;
    int keyint;         /* 0: x265's default */
    const char *source; /* the lavfi source graph, at %dx%d */
    std::string path;
};

bool exists(const std::string &p)
{
    struct stat st;
    return stat(p.c_str(), &st) == 0 && st.st_size > 0;
}

bool makeStream(const Stream &s)
{
    const std::string tmp = s.path + ".part";
    char cmd[1024];
    std::string x265opts = s.camera ? "--preset fast --bframes 0 --ref 1" : "--preset medium";
    if (s.keyint > 0)
        x265opts += " --keyint " + std::to_string(s.keyint);
    char source[256];
    snprintf(source, sizeof source, s.source, s.w, s.h);
    snprintf(cmd, sizeof cmd,
             "ffmpeg -v error -f lavfi -i '%s' -frames:v %d -pix_fmt yuv420p -f yuv4mpegpipe - | x265 --log-level "
             "error --no-progress --y4m --input - %s --bitrate %d --output '%s'",
             source, s.frames, x265opts.c_str(), s.bitrate, tmp.c_str());
    fprintf(stderr, "making %s ...\n", s.path.c_str());
    if (system(cmd) != 0 || !exists(tmp))
        return false;
    return rename(tmp.c_str(), s.path.c_str()) == 0;
}

/* CPU seconds of the calling thread: on one thread, the time a decoder
 * worked, whatever else shares the machine. */
double threadCpuSeconds()
{
    struct timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return (double)ts.tv_sec + ts.tv_nsec * 1e-9;
}

struct Decoded
{
    double secs = 0;
    double cpuSecs = 0; /* the calling thread's */
    unsigned pictures = 0;
    uint32_t checksum = 0;
    bool failed = false;
    H265D_STAGE_TIMES stages = {};
};

void *createDecoder(int w, int h, int maxRef, int threadType, bool stageTimes = false)
{
    H265D_INIT_PARAM p = {};
    p.iMaxWidth = w;
    p.iMaxHeight = h;
    p.iMaxRefNum = maxRef;
    p.eThreadType = threadType;
    p.eOutputOrder = IH265D_DISPLAY_ORDER;
    p.MallocFxn = benchMalloc;
    p.FreeFxn = benchFree;
    p.LogFxn = quietLog;
    H265D_TEST_OPTIONS t = {};
    t.iCpuMask = -1;
    t.bStageTimes = stageTimes ? 1 : 0;
    void *dec = nullptr;
    if (H265D_CreateForTest(&dec, &p, &t) != H265D_OK)
        return nullptr;
    return dec;
}

/* One row in the middle of the picture: touching it keeps the work honest
 * without costing enough to matter. */
uint32_t rowSum(const H265D_OUTARGS &out)
{
    const uint8_t *row = out.pucOutYUV[0] + (size_t)out.uiYStride * (out.uiDecHeight / 2);
    uint32_t s = 0;
    for (uint32_t x = 0; x < out.uiDecWidth; x += 8)
        s = s * 31 + row[x];
    return s;
}

/* Feeds whole access units, then drains; returns false on a decoder error. */
bool feed(void *dec, const uint8_t *p, size_t len, Decoded &d, bool drain)
{
    size_t pos = 0;
    for (;;) {
        H265D_INARGS in = {};
        H265D_OUTARGS out = {};
        in.pStream = p + pos;
        in.uiStreamLen = (uint32_t)(len - pos);
        in.eDecodeMode = drain ? IH265D_DECODE_END : IH265D_DECODE_NORMAL;
        const int32_t r = H265D_Decode(dec, &in, &out);
        pos += out.uiBytesUsed;
        if (r == H265D_OK && out.eDecodeStatus == IH265D_STATUS_PICTURE) {
            d.pictures++;
            d.checksum ^= rowSum(out);
            continue;
        }
        if (drain && r == H265D_OK && out.eDecodeStatus == IH265D_STATUS_END)
            return true;
        if (!drain && r == H265D_NEED_MORE_DATA)
            return true;
        d.failed = true;
        return false;
    }
}

Decoded decodeOurs(const std::vector<uint8_t> &data, const std::vector<size_t> &aus, const Stream &s, int threadType,
                   bool stageTimes = false)
{
    Decoded d;
    void *dec = createDecoder(s.w, s.h, s.camera ? 2 : 6, threadType, stageTimes);
    if (!dec) {
        d.failed = true;
        return d;
    }
    const auto t0 = std::chrono::steady_clock::now();
    const double cpu0 = threadCpuSeconds();
    for (size_t i = 0; i < aus.size() && !d.failed; i++) {
        const size_t end = i + 1 < aus.size() ? aus[i + 1] : data.size();
        feed(dec, data.data() + aus[i], end - aus[i], d, false);
    }
    if (!d.failed)
        feed(dec, nullptr, 0, d, true);
    d.secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    d.cpuSecs = threadCpuSeconds() - cpu0;
    if (stageTimes && H265D_GetStageTimes(dec, &d.stages) != H265D_OK)
        d.failed = true;
    H265D_Delete(dec);
    return d;
}

/* libavcodec on the same access units; threads 0 is its own choice (frame
 * and slice threads on every core). Returns the seconds, or -1. */
double decodeFfmpeg(const std::vector<uint8_t> &padded, size_t len, const std::vector<size_t> &aus, int threads,
                    unsigned *pictures, double *cpuSecs)
{
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_HEVC);
    AVCodecContext *ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVPacket *pkt = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    double secs = -1;
    *pictures = 0;
    *cpuSecs = 0;
    if (ctx && pkt && frame) {
        ctx->thread_count = threads;
        if (avcodec_open2(ctx, codec, nullptr) == 0) {
            bool ok = true;
            const auto t0 = std::chrono::steady_clock::now();
            const double cpu0 = threadCpuSeconds();
            for (size_t i = 0; i <= aus.size() && ok; i++) {
                if (i < aus.size()) {
                    const size_t end = i + 1 < aus.size() ? aus[i + 1] : len;
                    pkt->data = const_cast<uint8_t *>(padded.data() + aus[i]);
                    pkt->size = (int)(end - aus[i]);
                    ok = avcodec_send_packet(ctx, pkt) == 0;
                } else {
                    ok = avcodec_send_packet(ctx, nullptr) == 0;
                }
                for (int r; ok && (r = avcodec_receive_frame(ctx, frame)) != AVERROR(EAGAIN);) {
                    if (r == AVERROR_EOF)
                        break;
                    ok = r == 0;
                    if (ok)
                        (*pictures)++;
                }
            }
            if (ok) {
                secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
                *cpuSecs = threadCpuSeconds() - cpu0;
            }
        }
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    return secs;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

long residentBytes()
{
    FILE *f = fopen("/proc/self/statm", "r");
    long pages = 0, rss = 0;
    if (f) {
        if (fscanf(f, "%ld %ld", &pages, &rss) != 2)
            rss = 0;
        fclose(f);
    }
    return rss * sysconf(_SC_PAGESIZE);
}

std::string cpuModel()
{
    FILE *f = fopen("/proc/cpuinfo", "r");
    std::string model = "unknown";
    if (!f)
        return model;
    char line[512];
    while (fgets(line, sizeof line, f)) {
        if (strncmp(line, "model name", 10) == 0) {
            const char *c = strchr(line, ':');
            if (c) {
                model = c + 2;
                while (!model.empty() && (model.back() == '\n' || model.back() == ' '))
                    model.pop_back();
            }
            break;
        }
    }
    fclose(f);
    return model;
}

const char *const kStageNames[H265D_STAGE_COUNT] = {"parse", "inter", "intra", "residual", "deblock", "sao", "border"};

/* One row of the breakdown: each stage's share of the timed loop, the rest
 * (headers, reference lists, output, the clock's own cost) last. */
std::string stageRow(const Stream &s, const Decoded &d)
{
    char buf[256];
    int n = snprintf(buf, sizeof buf, "%-15s %6.2f s", s.name, d.secs);
    double covered = 0;
    for (int i = 0; i < H265D_STAGE_COUNT; i++) {
        const double share = d.secs > 0 ? 100.0 * d.stages.adSeconds[i] / d.secs : 0;
        covered += share;
        n +=
            snprintf(buf + n, sizeof buf - n, "  %*.1f%%", (int)std::max<size_t>(strlen(kStageNames[i]), 5) - 1, share);
    }
    snprintf(buf + n, sizeof buf - n, "  %4.1f%%", std::max(0.0, 100.0 - covered));
    return buf;
}

void memoryLine(const Stream &s, const std::vector<uint8_t> &data, const std::vector<size_t> &aus)
{
    const long rss0 = residentBytes();
    const long long heap0 = g_heapLive.load();
    void *dec = createDecoder(1920, 1080, 2, 1);
    if (!dec) {
        printf("memory per 1080p instance: H265D_Create failed\n");
        return;
    }
    const long long mallocFxn = g_mallocFxnLive.load();
    const long rssCreate = residentBytes() - rss0;
    Decoded d;
    for (size_t i = 0; i < aus.size() && d.pictures == 0 && !d.failed; i++) {
        const size_t end = i + 1 < aus.size() ? aus[i + 1] : data.size();
        feed(dec, data.data() + aus[i], end - aus[i], d, false);
    }
    const long rssPicture = residentBytes() - rss0;
    /* The workers' memory comes from posix_memalign, which the counting
     * operator new does not see: the instance counts it itself. */
    const H265D_WORKERS *workers = static_cast<const H265D_DEC_OBJ *>(dec)->workers;
    const long long workerHeap = g_heapLive.load() - heap0 + (workers ? (long long)workers->bytes : 0);
    const double mb = 1024.0 * 1024.0;
    printf("memory per 1080p instance: %.1f MB MallocFxn + %.1f MB worker heap "
           "(resident +%.1f MB after Create, +%.1f MB after the first picture; %s)\n",
           mallocFxn / mb, workerHeap / mb, rssCreate / mb, rssPicture / mb, s.name);
    H265D_Delete(dec);
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 5;
    std::string only;
    for (int i = 1; i < argc; i++) {
        if (!strcmp(argv[i], "--runs") && i + 1 < argc) {
            runs = std::max(1, atoi(argv[++i]));
        } else if (!strcmp(argv[i], "--only") && i + 1 < argc) {
            only = argv[++i];
        } else {
            fprintf(stderr, "usage: hevc_bench [--runs N] [--only 1080p|2160p]\n");
            return 2;
        }
    }

    std::string dir = "streams";
    {
        char self[4096];
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        if (n > 0) {
            self[n] = 0;
            std::string p(self);
            dir = p.substr(0, p.rfind('/')) + "/streams";
        }
    }
    mkdir(dir.c_str(), 0755);

    const char *const still = "testsrc2=size=%dx%d:rate=25,noise=alls=6:allf=t";
    /* A slow pan over the whole picture, as a camera that turns: every block
     * moves, by fractions of a sample. */
    const char *const panning = "testsrc2=size=%dx%d:rate=25,scroll=h=0.0013:v=0.0007,noise=alls=6:allf=t";
    std::vector<Stream> streams = {
        {"1080p camera", 1920, 1080, 250, true, 4000, 0, still, {}},
        {"1080p default", 1920, 1080, 250, false, 4000, 0, still, {}},
        {"1080p pan k50", 1920, 1080, 250, true, 4000, 50, panning, {}},
        {"2160p camera", 3840, 2160, 125, true, 12000, 0, still, {}},
        {"2160p default", 3840, 2160, 125, false, 12000, 0, still, {}},
    };
    for (Stream &s : streams) {
        std::string file = s.name;
        std::replace(file.begin(), file.end(), ' ', '_');
        s.path = dir + "/" + file + ".hevc";
        // Only the streams this run decodes: a 1080p run needs no 2160p encode.
        const bool selected = only.empty() || strncmp(s.name, only.c_str(), only.size()) == 0;
        if (selected && !exists(s.path) && !makeStream(s)) {
            fprintf(stderr, "hevc_bench: cannot make %s (needs ffmpeg and x265)\n", s.path.c_str());
            return 1;
        }
    }

    printf("frames per second, medians of %d rounds; ratios taken round by round (1t/ff-t1 cpu: of the\n"
           "thread's CPU time, steadier than the clock on a busy machine)\n",
           runs);
    printf("stream          frames  ours-1t  ours-4w    ff-t1    ff-t4  ff-auto  1t/ff-t1  4w/1t  4w/ff-t4  "
           "4w/ff-auto  1t/ff-t1 cpu\n");
    fflush(stdout);
    std::vector<std::string> stageRows;
    for (const Stream &s : streams) {
        if (!only.empty() && strncmp(s.name, only.c_str(), only.size()) != 0)
            continue;
        std::vector<uint8_t> data;
        if (!readFile(s.path, data)) {
            fprintf(stderr, "hevc_bench: cannot read %s\n", s.path.c_str());
            return 1;
        }
        const size_t len = data.size();
        const std::vector<size_t> aus = accessUnitStarts(scanNalUnits(data.data(), len));
        std::vector<uint8_t> padded(data);
        padded.resize(len + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        /* Seconds per run: ours 1t, ours 4w, ff 1, ff 4, ff auto; each
         * single-thread pair runs back to back. */
        std::vector<double> secs[5], oneVsFf, oneVsFfCpu, workersVsOne, workersVsFf4, workersVsFfAuto;
        unsigned pictures = 0;
        bool failed = false, ffFailed = false;
        auto ours = [&](int threadType, double *cpu) {
            const Decoded d = decodeOurs(data, aus, s, threadType);
            failed = failed || d.failed || d.secs <= 0;
            pictures = d.pictures;
            *cpu = d.cpuSecs;
            return d.secs;
        };
        auto ffmpeg = [&](int threads, double *cpu) {
            unsigned ffPictures = 0;
            const double secs = decodeFfmpeg(padded, len, aus, threads, &ffPictures, cpu);
            ffFailed = ffFailed || secs <= 0 || ffPictures != pictures;
            return secs;
        };
        for (int r = 0; r < runs && !failed && !ffFailed; r++) {
            double t[5], cpu[5] = {0, 0, 0, 0, 0};
            t[0] = ours(0, &cpu[0]);
            t[2] = ffmpeg(1, &cpu[2]);
            t[1] = ours(1, &cpu[1]);
            t[3] = ffmpeg(4, &cpu[3]);
            t[4] = ffmpeg(0, &cpu[4]);
            if (failed || ffFailed)
                break;
            for (int k = 0; k < 5; k++)
                secs[k].push_back(t[k]);
            oneVsFf.push_back(t[2] / t[0]);
            oneVsFfCpu.push_back(cpu[2] / cpu[0]);
            workersVsOne.push_back(t[0] / t[1]);
            workersVsFf4.push_back(t[3] / t[1]);
            workersVsFfAuto.push_back(t[4] / t[1]);
        }
        double fps[5];
        for (int k = 0; k < 5; k++) {
            const double m = median(secs[k]);
            fps[k] = m > 0 ? pictures / m : 0;
        }
        printf("%-15s %6u  %7.1f  %7.1f  %7.1f  %7.1f  %7.1f  %8.2f  %5.2f  %8.2f  %10.2f  %11.2f%s\n", s.name,
               pictures, fps[0], fps[1], fps[2], fps[3], fps[4], median(oneVsFf), median(workersVsOne),
               median(workersVsFf4), median(workersVsFfAuto), median(oneVsFfCpu),
               failed     ? "  (our decoder reported an error)"
               : ffFailed ? "  (libavcodec failed or disagreed)"
                          : "");
        fflush(stdout);
        const Decoded staged = decodeOurs(data, aus, s, 0, true);
        if (!staged.failed)
            stageRows.push_back(stageRow(s, staged));
    }

    if (!stageRows.empty()) {
        printf("\nours on one thread, by stage (stage clock on, one run):\nstream          time    ");
        for (const char *name : kStageNames)
            printf("  %5s", name);
        printf("  other\n");
        for (const std::string &row : stageRows)
            printf("%s\n", row.c_str());
        printf("(parse: the arithmetic decoding share; with four workers, rows of a stream without entry points\n"
               "parse one after another, rows with them as a wavefront)\n\n");
    }

    std::vector<uint8_t> data;
    if (readFile(streams[0].path, data))
        memoryLine(streams[0], data, accessUnitStarts(scanNalUnits(data.data(), data.size())));
    printf("processor: %s, %u cores; compiler: %s\n", cpuModel().c_str(), std::thread::hardware_concurrency(),
           __VERSION__);
    return 0;
}
