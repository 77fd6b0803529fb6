// Border extension of finished pictures.
#include "hevc/dsp/dsp_internal.h"

#include <cstring>

namespace h265d::dsp {

namespace {

// Replicates the plane's edge samples padX columns to each side and padY
// rows above and below (corners included). The threaded decoder extends
// rows as they finish, so threadType 1 leaves the plane alone.
void extendBorder(int threadType, uint8_t *plane, int w, int h, int stride, int padX, int padY)
{
    if (threadType == 1)
        return;
    for (int y = 0; y < h; ++y) {
        uint8_t *row = plane + static_cast<ptrdiff_t>(y) * stride;
        std::memset(row - padX, row[0], static_cast<size_t>(padX));
        std::memset(row + w, row[w - 1], static_cast<size_t>(padX));
    }
    const uint8_t *first = plane - padX;
    const uint8_t *last = plane + static_cast<ptrdiff_t>(h - 1) * stride - padX;
    for (int y = 1; y <= padY; ++y) {
        std::memcpy(plane - padX - static_cast<ptrdiff_t>(y) * stride, first, static_cast<size_t>(w + 2 * padX));
        std::memcpy(plane - padX + static_cast<ptrdiff_t>(h - 1 + y) * stride, last,
                    static_cast<size_t>(w + 2 * padX));
    }
}

} // namespace

void fillLoopFilterKernels(H265D_DSP_TABLE *t)
{
    t->slot[H265D_SLOT_EXTEND_BORDER].extendBorder = extendBorder;
}

} // namespace h265d::dsp
