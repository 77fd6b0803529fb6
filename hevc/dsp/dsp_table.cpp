// The kernel table and the row copies.
#include "hevc/dsp/dsp_internal.h"

#include <cstring>

namespace h265d {

namespace dsp {

void copyRows(const uint8_t *src, uint8_t *dst, int width, int rows, int stride)
{
    for (int y = 0; y < rows; ++y)
        std::memcpy(dst + static_cast<ptrdiff_t>(y) * stride, src + static_cast<ptrdiff_t>(y) * stride,
                    static_cast<size_t>(width));
}

void fillCopyKernels(H265D_DSP_TABLE *t)
{
    t->slot[H265D_SLOT_COPY_ROWS_ALIGNED].copyRows = copyRows;
    t->slot[H265D_SLOT_COPY_ROWS].copyRows = copyRows;
}

} // namespace dsp

void initDspFunctionTableMasked(H265D_DSP_TABLE *table, uint32_t *cpuFlags, uint32_t mask)
{
    using namespace h265d::dsp;
    *cpuFlags = 0;
    fillDeblockKernels(table);
    fillSaoKernels(table);
    fillTransformKernels(table);
    fillIntraKernels(table);
    fillInterKernels(table);
    fillCopyKernels(table);
    fillPadKernels(table);
    if (mask == 0)
        return;
    *cpuFlags = detectCpuFeatures() & mask;
    installSimdKernels(table, *cpuFlags);
}

void initDspFunctionTable(H265D_DSP_TABLE *table, uint32_t *cpuFlags, int detect)
{
    initDspFunctionTableMasked(table, cpuFlags, detect ? 0xFFFFFFFFu : 0u);
}

} // namespace h265d
