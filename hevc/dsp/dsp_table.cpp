// The kernel table and the row copies.
#include "hevc/dsp/dsp_internal.h"

#include <cstring>

namespace h265d::dsp {

namespace {

void copyRows(const uint8_t *src, uint8_t *dst, int width, int rows, int stride)
{
    for (int y = 0; y < rows; ++y)
        std::memcpy(dst + static_cast<ptrdiff_t>(y) * stride, src + static_cast<ptrdiff_t>(y) * stride,
                    static_cast<size_t>(width));
}

} // namespace

void fillCopyKernels(H265D_DSP_TABLE *t)
{
    t->slot[H265D_SLOT_COPY_ROWS_ALIGNED].copyRows = copyRows;
    t->slot[H265D_SLOT_COPY_ROWS].copyRows = copyRows;
}

} // namespace h265d::dsp

extern "C" void initDspFunctionTable(H265D_DSP_TABLE *table, uint32_t *cpuFlags, int detect)
{
    using namespace h265d::dsp;
    *cpuFlags = 0;
    // The loop-filter slots (119..127, 0, 1) and the border extension (130)
    // are filled by their owners after this call.
    fillTransformKernels(table);
    fillIntraKernels(table);
    fillInterKernels(table);
    fillCopyKernels(table);
    (void)detect; // the vector kernels and their installers are not part of this table yet
}
