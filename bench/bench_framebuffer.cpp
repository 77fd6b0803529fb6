// Push and read throughput of the frame buffer against plain memcpy.
//
//   bench_framebuffer [--runs N] [--ms M]
//
// Each case runs N times (default 3) for M milliseconds (default 300) and
// reports the median run.
#include "media/qcframebuffer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

template <typename T>
T median(std::vector<T> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// memcpy bandwidth in GB/s for blocks of `block` bytes walking through
// buffers larger than the last-level cache.
double memcpyBandwidth(size_t block, size_t totalBytes)
{
    const size_t span = 256u << 20;
    static std::vector<uint8_t> src(span, 1), dst(span, 0);
    size_t off = 0, done = 0;
    const auto t0 = Clock::now();
    while (done < totalBytes) {
        if (off + block > span)
            off = 0;
        std::memcpy(dst.data() + off, src.data() + off, block);
        off += block;
        done += block;
    }
    const auto t1 = Clock::now();
    volatile uint8_t sink = dst[off / 2];
    (void)sink;
    return double(done) / seconds(t0, t1) / 1e9;
}

struct Result
{
    double framesPerSec = 0; // pushed by the writer
    double readsPerSec = 0;  // delivered to all readers together
    double gbps = 0;         // payload bytes in and out
    double p50us = 0, p99us = 0;
    size_t bytes = 0;
};

Result runCase(uint32_t capacity, uint32_t payload, int readers, int ms)
{
    qcFrameBuffer fb;
    fb.allocate(capacity);
    std::vector<uint8_t> frame(payload, 0x5a);
    std::atomic<bool> stop{false};
    std::atomic<long> reads{0};
    std::vector<std::thread> threads;
    for (int r = 0; r < readers; ++r) {
        threads.emplace_back([&] {
            std::vector<uint8_t> dst(8u << 20);
            int64_t pos = -1;
            long mine = 0;
            while (!stop.load(std::memory_order_relaxed)) {
                uint32_t len, type;
                uint64_t ts;
                if (fb.readFrame(dst.data(), int32_t(dst.size()), &len, &type, &ts, &pos, -1, false, -1))
                    ++mine;
                else if (fb.positionLost(pos, int32_t(dst.size())))
                    pos = -1;
                else
                    std::this_thread::yield();
            }
            reads += mine;
        });
    }
    std::vector<float> lat;
    lat.reserve(1 << 20);
    long pushed = 0;
    const auto t0 = Clock::now();
    const auto end = t0 + std::chrono::milliseconds(ms);
    Clock::time_point now = t0;
    while (now < end) {
        const auto a = Clock::now();
        fb.pushFrame(frame.data(), int32_t(payload), pushed % 25 == 0 ? 1 : 2, uint64_t(pushed) * 40);
        now = Clock::now();
        lat.push_back(float(std::chrono::duration<double, std::micro>(now - a).count()));
        ++pushed;
    }
    const double secs = seconds(t0, now);
    stop = true;
    for (auto &t : threads)
        t.join();
    Result r;
    r.framesPerSec = pushed / secs;
    r.readsPerSec = reads / secs;
    r.bytes = size_t(pushed + reads) * payload;
    r.gbps = double(r.bytes) / secs / 1e9;
    std::sort(lat.begin(), lat.end());
    r.p50us = lat[lat.size() / 2];
    r.p99us = lat[std::min(lat.size() - 1, lat.size() * 99 / 100)];
    return r;
}

// ns per positioned read of a 2 KB frame in a buffer holding `frames` frames.
double positionedReadNs(int frames)
{
    const uint32_t payload = 2048;
    qcFrameBuffer fb;
    fb.allocate(uint32_t(frames) * (payload + 32) + 16);
    std::vector<uint8_t> frame(payload, 1), dst(8u << 20);
    for (int i = 0; i < frames; ++i)
        fb.pushFrame(frame.data(), int32_t(payload), i % 25 == 0 ? 1 : 2, uint64_t(i));
    const int reads = 200000;
    uint32_t len, type;
    uint64_t ts;
    const auto t0 = Clock::now();
    for (int i = 0; i < reads; ++i) {
        // Alternate between old and new records so a walk would show.
        int64_t pos = (i & 1) ? frames - 2 : 0;
        fb.readFrame(dst.data(), int32_t(dst.size()), &len, &type, &ts, &pos, -1, false, -1);
    }
    return seconds(t0, Clock::now()) * 1e9 / reads;
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 3, ms = 300;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--runs")
            runs = std::max(1, std::atoi(argv[++i]));
        else if (std::string(argv[i]) == "--ms")
            ms = std::max(20, std::atoi(argv[++i]));
    }
    std::printf("frame buffer bench: %u hardware threads, median of %d runs of %d ms\n\n",
                std::thread::hardware_concurrency(), runs, ms);
    std::printf("%-10s %-8s %-3s %12s %10s %12s %8s %8s %7s %9s %9s\n", "capacity", "payload", "rd", "push fr/s",
                "ns/frame", "reads/s", "GB/s", "memcpy", "ratio", "push p50", "push p99");
    const uint32_t capacities[] = {921600, 8294400, 1u << 20};
    const uint32_t payloads[] = {2048, 20480, 204800};
    for (uint32_t cap : capacities) {
        for (uint32_t pl : payloads) {
            for (int rd : {1, 2, 4}) {
                std::vector<Result> rs;
                for (int k = 0; k < runs; ++k)
                    rs.push_back(runCase(cap, pl, rd, ms));
                std::sort(rs.begin(), rs.end(), [](const Result &a, const Result &b) { return a.gbps < b.gbps; });
                const Result &m = rs[rs.size() / 2];
                std::vector<double> mc;
                for (int k = 0; k < runs; ++k)
                    mc.push_back(memcpyBandwidth(pl, std::min<size_t>(m.bytes, size_t(2) << 30)));
                const double ref = median(mc);
                std::printf("%-10u %-8u %-3d %12.0f %10.0f %12.0f %8.2f %8.2f %7.2f %7.1fus %7.1fus\n", cap, pl, rd,
                            m.framesPerSec, 1e9 / m.framesPerSec, m.readsPerSec, m.gbps, ref, m.gbps / ref, m.p50us,
                            m.p99us);
            }
        }
    }
    std::printf("\npositioned read of 2 KB: %.0f ns with ~40 frames stored, %.0f ns with ~30000 stored\n",
                positionedReadNs(40), positionedReadNs(30000));
    return 0;
}
