// Replication of a plane's edge samples into its margins, which motion
// compensation reads for vectors pointing outside the picture.
#include "hevc/dsp/dsp_internal.h"

#include <cstring>

namespace h265d {

void padPlane(int threadType, uint8_t *plane, int w, int h, int stride, int padX, int padY)
{
    // With threads the row bands' side margins are already done by the rows' workers.
    if (threadType != 1) {
        for (int y = 0; y < h; ++y) {
            uint8_t *row = plane + static_cast<ptrdiff_t>(y) * stride;
            std::memset(row - padX, row[0], static_cast<size_t>(padX));
            std::memset(row + w, row[w - 1], static_cast<size_t>(padX));
        }
    }
    const size_t full = static_cast<size_t>(w + 2 * padX);
    uint8_t *first = plane - padX;
    uint8_t *last = plane + static_cast<ptrdiff_t>(h - 1) * stride - padX;
    for (int k = 1; k <= padY; ++k) {
        std::memcpy(first - static_cast<ptrdiff_t>(k) * stride, first, full);
        std::memcpy(last + static_cast<ptrdiff_t>(k) * stride, last, full);
    }
}

namespace dsp {

void fillPadKernels(H265D_DSP_TABLE *t)
{
    t->slot[H265D_SLOT_EXTEND_BORDER].extendBorder = padPlane;
}

} // namespace dsp

} // namespace h265d
