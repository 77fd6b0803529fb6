// libFuzzer target: the stream frame scan with its re-timing, fed the way the
// client feeds it (pieces appended to a buffer, the unconsumed tail kept).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "device/streamparser.h"

namespace {

int64_t g_now = 0;
uint64_t g_sink = 0;

void onFrame(const unsigned char *data, int length, int, int, qint64 ts, void *)
{
    if (length > 0)
        g_sink += data[0] + data[length - 1] + uint64_t(ts);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // First byte: the clock's start (including the day's end); second: piece size.
    g_now = int64_t(data[0]) * 340000;
    const size_t piece = 1 + data[1] * 37;
    data += 2;
    size -= 2;
    StreamFrameParser parser(&onFrame, nullptr, [] { return g_now += 7; });
    parser.onProgress = [](int s) { g_sink += uint64_t(s); };
    std::vector<unsigned char> buffer;
    size_t at = 0;
    while (at < size) {
        const size_t n = piece < size - at ? piece : size - at;
        buffer.insert(buffer.end(), data + at, data + at + n);
        at += n;
        const int done = parser.scan(buffer.data(), int(buffer.size()));
        if (done < 0 || size_t(done) > buffer.size())
            __builtin_trap();
        buffer.erase(buffer.begin(), buffer.begin() + done);
    }
    return 0;
}
