/* h265dec: feeds an H.265 Annex B file through H265D_Create / H265D_Decode /
 * H265D_Delete the way a careful caller does and prints every picture. */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "../decoder.h"
#include "../h265d.h"
#include "../h265d_test.h"
#include "annexb.h"
#include "md5.h"
#include "../nal.h"

using namespace h265d;

namespace {

bool g_quiet = false;

void logToStderr(uint32_t, int32_t level, const char *fmt, ...)
{
    if (g_quiet)
        return;
    va_list ap;
    va_start(ap, fmt);
    fputs(level == 0 ? "E: " : "W: ", stderr);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
}

void quietLog(uint32_t, int32_t, const char *, ...) {}

/* Every allocation is counted: decoding must not allocate after Create. */
unsigned long g_allocations = 0;

void *mallocFxn(uint32_t, size_t n)
{
    g_allocations++;
    return malloc(n);
}

void freeFxn(uint32_t, void *p)
{
    free(p);
}

struct Options
{
    int threads = 0;
    int order = IH265D_DISPLAY_ORDER;
    std::string chunk = "au";
    int maxRef = 15;
    int maxW = 0, maxH = 0;
    int cpuMask = -1;
    bool ts = false;
    std::string yuv;
    bool headersOnly = false;
    bool parseOnly = false;
    bool trace = false;
    bool paths = false;
    bool time = false;
    int faultRow = -1, faultKind = 0;
    std::string input;
};

int usage(const char *msg)
{
    if (msg)
        fprintf(stderr, "h265dec: %s\n", msg);
    fprintf(stderr, "usage: h265dec [--threads 0|1] [--order decode|display] [--chunk au|N|rand:SEED] [--maxref N]\n"
                    "               [--maxsize WxH] [--cpumask portable|sse2|sse41|avx|detect] [--ts] [--yuv FILE]\n"
                    "               [--headers-only] [--parse-only] [--trace-headers] [--paths] [--time] [--quiet]\n"
                    "               [--fault-row N --fault-kind 1|2] FILE\n");
    return 2;
}

bool parseArgs(int argc, char **argv, Options &o, const char **err)
{
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto value = [&](std::string &out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--threads") {
            if (!value(v) || (v != "0" && v != "1"))
                return *err = "--threads takes 0 or 1", false;
            o.threads = v == "1";
        } else if (a == "--order") {
            if (!value(v) || (v != "decode" && v != "display"))
                return *err = "--order takes decode or display", false;
            o.order = v == "decode" ? IH265D_DECODE_ORDER : IH265D_DISPLAY_ORDER;
        } else if (a == "--chunk") {
            if (!value(v))
                return *err = "--chunk needs a value", false;
            if (v != "au" && v.rfind("rand:", 0) != 0 && atol(v.c_str()) <= 0)
                return *err = "--chunk takes au, a positive byte count or rand:SEED", false;
            o.chunk = v;
        } else if (a == "--maxref") {
            if (!value(v))
                return *err = "--maxref needs a value", false;
            o.maxRef = atoi(v.c_str());
        } else if (a == "--fault-row" || a == "--fault-kind") {
            if (!value(v))
                return *err = "--fault-row and --fault-kind need a value", false;
            (a == "--fault-row" ? o.faultRow : o.faultKind) = atoi(v.c_str());
        } else if (a == "--maxsize") {
            if (!value(v) || sscanf(v.c_str(), "%dx%d", &o.maxW, &o.maxH) != 2)
                return *err = "--maxsize takes WxH", false;
        } else if (a == "--cpumask") {
            if (!value(v))
                return *err = "--cpumask needs a value", false;
            if (v == "portable")
                o.cpuMask = 0;
            else if (v == "sse2")
                o.cpuMask = (int)~(H265D_CPU_SSE41 | H265D_CPU_AVX);
            else if (v == "sse41")
                o.cpuMask = (int)~H265D_CPU_AVX;
            else if (v == "avx" || v == "detect")
                o.cpuMask = -1;
            else
                return *err = "--cpumask takes portable, sse2, sse41, avx or detect", false;
        } else if (a == "--ts") {
            o.ts = true;
        } else if (a == "--yuv") {
            if (!value(o.yuv))
                return *err = "--yuv needs a file", false;
        } else if (a == "--parse-only") {
            o.parseOnly = true;
        } else if (a == "--headers-only") {
            o.headersOnly = true;
        } else if (a == "--trace-headers") {
            o.trace = true;
        } else if (a == "--paths") {
            o.paths = true;
        } else if (a == "--time") {
            o.time = true;
        } else if (a == "--quiet") {
            g_quiet = true;
        } else if (!a.empty() && a[0] == '-') {
            return *err = "unknown option", false;
        } else if (o.input.empty()) {
            o.input = a;
        } else {
            return *err = "only one input file", false;
        }
    }
    if (o.input.empty())
        return *err = "no input file", false;
    return true;
}

/* The picture size of the first SPS that the library's own parser accepts. */
bool firstSpsSize(const std::vector<uint8_t> &data, const std::vector<NalSpan> &units, int *w, int *h)
{
    H265D_INIT_PARAM p = {};
    p.iMaxWidth = 64;
    p.iMaxHeight = 64;
    p.iMaxRefNum = 0;
    p.MallocFxn = mallocFxn;
    p.FreeFxn = freeFxn;
    p.LogFxn = quietLog;
    void *h265 = nullptr;
    if (H265D_Create(&h265, &p) != 0)
        return false;
    H265D_DEC_OBJ *dec = (H265D_DEC_OBJ *)h265;
    bool found = false;
    for (const NalSpan &u : units) {
        if (u.type != NAL_VPS_NUT && u.type != NAL_SPS_NUT)
            continue;
        std::vector<uint8_t> unit(data.begin() + (long)u.payload, data.begin() + (long)u.end);
        while (unit.size() > 2 && unit.back() == 0)
            unit.pop_back();
        const size_t n = removeEmulationPrevention(unit.data(), unit.size(), unit.data() + 2);
        H265D_BITREADER br = {};
        bitReaderInit(&br, unit.data() + 2, (int32_t)n, (int32_t)n + 4);
        if (u.type == NAL_VPS_NUT) {
            parseVps(dec, &br, 0, quietLog);
        } else if (parseSps(dec, &br, 0, quietLog) == 0) {
            for (int i = 0; i < H265D_MAX_SPS; i++)
                if (dec->spsStore[i].valid) {
                    *w = (int)dec->spsStore[i].pic_width_in_luma_samples;
                    *h = (int)dec->spsStore[i].pic_height_in_luma_samples;
                    found = *w <= H265D_MAX_SIZE && *h <= H265D_MAX_SIZE;
                }
            if (found)
                break;
        }
    }
    H265D_Delete(h265);
    return found;
}

struct Chunk
{
    size_t start, len;
    uint64_t ts;
};

std::vector<Chunk> makeChunks(const Options &o, size_t size, const std::vector<NalSpan> &units)
{
    std::vector<Chunk> chunks;
    if (o.chunk == "au") {
        std::vector<size_t> starts = accessUnitStarts(units);
        for (size_t k = 0; k < starts.size(); k++) {
            const size_t end = k + 1 < starts.size() ? starts[k + 1] : size;
            chunks.push_back({starts[k], end - starts[k], o.ts ? (uint64_t)k : 0});
        }
    } else if (o.chunk.rfind("rand:", 0) == 0) {
        std::mt19937 gen((uint32_t)strtoul(o.chunk.c_str() + 5, nullptr, 10));
        std::uniform_int_distribution<size_t> dist(1, 65536);
        for (size_t pos = 0; pos < size;) {
            size_t n = dist(gen);
            if (n > size - pos)
                n = size - pos;
            chunks.push_back({pos, n, 0});
            pos += n;
        }
    } else {
        const size_t step = (size_t)atol(o.chunk.c_str());
        for (size_t pos = 0; pos < size; pos += step)
            chunks.push_back({pos, step < size - pos ? step : size - pos, 0});
    }
    return chunks;
}

struct Printer
{
    const Options &o;
    FILE *yuv = nullptr;
    unsigned count = 0;

    void picture(const H265D_OUTARGS &out)
    {
        if (o.parseOnly) {
            count++;
            return;
        }
        const uint64_t n = o.ts ? out.uiTimeStamp : count;
        const uint32_t w = out.uiDecWidth, h = out.uiDecHeight;
        if (o.headersOnly) {
            printf("pic %u ts %llu type %d size %ux%u stride %u/%u err %u ud %u vcl %u\n", count,
                   (unsigned long long)out.uiTimeStamp, out.eFrameType, w, h, out.uiYStride, out.uiUVStride,
                   out.uiErrorFlag, out.uiUserDataLen, out.uiCodedBytes);
        } else {
            if (out.uiErrorFlag)
                fprintf(stderr, "W: picture %u carries the error flag\n", count);
            Md5 md5;
            for (int c = 0; c < 3; c++) {
                const uint32_t pw = c ? w / 2 : w, ph = c ? h / 2 : h;
                const uint32_t stride = c ? out.uiUVStride : out.uiYStride;
                for (uint32_t y = 0; y < ph; y++) {
                    md5.update(out.pucOutYUV[c] + (size_t)y * stride, pw);
                    if (yuv)
                        fwrite(out.pucOutYUV[c] + (size_t)y * stride, 1, pw, yuv);
                }
            }
            printf("0, %llu, %llu, 1, %u, %s\n", (unsigned long long)n, (unsigned long long)n, w * h * 3 / 2,
                   md5.hex().c_str());
        }
        count++;
    }
};

struct TraceState
{
    unsigned units = 0;
};

void traceLine(void *ctx, const char *name, int64_t value)
{
    TraceState *t = (TraceState *)ctx;
    if (strcmp(name, "nal_unit") == 0)
        printf("nal %u type %lld\n", t->units++, (long long)value);
    else
        printf("%s = %lld\n", name, (long long)value);
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    const char *err = nullptr;
    if (!parseArgs(argc, argv, o, &err))
        return usage(err);
    std::vector<uint8_t> data;
    if (!readFile(o.input, data)) {
        fprintf(stderr, "h265dec: cannot read %s\n", o.input.c_str());
        return 2;
    }
    const std::vector<NalSpan> units = scanNalUnits(data.data(), data.size());
    if (o.maxW <= 0 || o.maxH <= 0) {
        if (!firstSpsSize(data, units, &o.maxW, &o.maxH)) {
            o.maxW = 1920;
            o.maxH = 1080;
        }
    }

    H265D_INIT_PARAM p = {};
    p.uiChannelID = 0;
    p.iMaxWidth = o.maxW;
    p.iMaxHeight = o.maxH;
    p.iMaxRefNum = o.maxRef;
    p.eThreadType = o.threads;
    p.eOutputOrder = o.order;
    p.MallocFxn = mallocFxn;
    p.FreeFxn = freeFxn;
    p.LogFxn = logToStderr;
    H265D_TEST_OPTIONS t = {};
    t.iCpuMask = o.cpuMask;
    t.bHeadersOnly = (o.headersOnly || o.trace) ? 1 : 0;
    t.bParseOnly = o.parseOnly ? 1 : 0;
    t.iFaultRow = o.faultRow;
    t.iFaultKind = o.faultKind;
    void *h = nullptr;
    int32_t r = H265D_CreateForTest(&h, &p, &t);
    if (r != 0) {
        fprintf(stderr, "h265dec: H265D_Create failed: 0x%08X\n", (unsigned)r);
        return 2;
    }
    const unsigned long allocatedAtCreate = g_allocations;
    TraceState trace;
    if (o.trace) {
        H265D_DEC_OBJ *dec = (H265D_DEC_OBJ *)h;
        dec->traceFxn = traceLine;
        dec->traceCtx = &trace;
    }

    Printer printer{o};
    if (!o.yuv.empty()) {
        printer.yuv = fopen(o.yuv.c_str(), "wb");
        if (!printer.yuv) {
            fprintf(stderr, "h265dec: cannot write %s\n", o.yuv.c_str());
            H265D_Delete(h);
            return 2;
        }
    }

    const auto t0 = std::chrono::steady_clock::now();
    bool failed = false;
    unsigned calls = 0;
    auto report = [&](int32_t res) {
        fprintf(stderr, "error 0x%08X at call %u\n", (unsigned)res, calls);
        failed = true;
    };
    const bool showPictures = !o.trace;
    for (const Chunk &c : makeChunks(o, data.size(), units)) {
        size_t pos = 0;
        for (;;) {
            H265D_INARGS in = {};
            H265D_OUTARGS out = {};
            in.pStream = data.data() + c.start + pos;
            in.uiStreamLen = (uint32_t)(c.len - pos);
            in.uiTimeStamp = c.ts;
            in.eDecodeMode = IH265D_DECODE_NORMAL;
            calls++;
            r = H265D_Decode(h, &in, &out);
            pos += out.uiBytesUsed;
            if (r == H265D_OK && out.eDecodeStatus == IH265D_STATUS_PICTURE) {
                if (showPictures)
                    printer.picture(out);
                continue;
            }
            if (r == H265D_NEED_MORE_DATA)
                break;
            report(r);
        }
    }
    for (;;) {
        H265D_INARGS in = {};
        H265D_OUTARGS out = {};
        in.eDecodeMode = IH265D_DECODE_END;
        calls++;
        r = H265D_Decode(h, &in, &out);
        if (r != H265D_OK) {
            report(r);
            continue;
        }
        if (out.eDecodeStatus == IH265D_STATUS_END)
            break;
        if (out.eDecodeStatus == IH265D_STATUS_PICTURE && showPictures)
            printer.picture(out);
    }
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (o.paths) {
        H265D_PATH_COUNTS pc = {};
        H265D_GetPathCounts(h, &pc);
        fprintf(stderr, "paths: serial %u gathered-serial %u row %u slice %u tile %u fallbacks %u\n", pc.uiSerial,
                pc.uiGatheredSerial, pc.uiRowJobs, pc.uiSliceJobs, pc.uiTileJobs, pc.uiFallbacks);
    }
    if (o.time)
        fprintf(stderr, "time %.3f s, %u pictures, %.1f pictures/s\n", secs, printer.count,
                secs > 0 ? printer.count / secs : 0.0);
    if (printer.yuv)
        fclose(printer.yuv);
    if (g_allocations != allocatedAtCreate) {
        fprintf(stderr, "h265dec: allocation during decode\n");
        failed = true;
    }
    H265D_Delete(h);
    return failed ? 1 : 0;
}
