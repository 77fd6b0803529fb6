// libFuzzer target: the SPS picture-size search and readers of both codecs.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/spsparser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 1 << 16)
        return 0;
    // A copy of exactly the input, so that any read past it is caught.
    std::vector<uchar> frame(data, data + size);
    const uint32_t a = ParseSpsResolution(frame.data(), int(frame.size()), kCodecH264);
    const uint32_t b = ParseSpsResolution(frame.data(), int(frame.size()), kCodecH265);
    for (uint32_t r : {a, b}) {
        if (r != 0 && ((r >> 16) == 0 || (r & 0xFFFF) == 0))
            __builtin_trap();
    }
    int w = 0, h = 0;
    ParseH264Sps(frame.data(), int(frame.size()), &w, &h);
    ParseH265Sps(frame.data(), int(frame.size()), &w, &h);
    return 0;
}
