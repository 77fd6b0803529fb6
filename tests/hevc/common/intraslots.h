// The intra predictor of one mode through the slot table, picked as the
// decoder picks it.
#pragma once

#include "hevc/dsp/h265d_dsp.h"

namespace testintra {

inline void predict(const h265d::H265D_DSP_TABLE &d, int mode, int cIdx, int log2, uint8_t *top, uint8_t *left,
                    int stride, uint8_t *dst)
{
    using namespace h265d;
    switch (mode) {
    case 0:
        d.slot[H265D_SLOT_INTRA_PLANAR + log2].intraPlanar(top, left, stride, dst);
        return;
    case 1:
        d.slot[H265D_SLOT_INTRA_DC + log2].intra(cIdx, top, left, stride, dst);
        return;
    case 2:
        d.slot[H265D_SLOT_INTRA_DIAG_DOWN + log2].intra(cIdx, top, left, stride, dst);
        return;
    case 10:
        d.slot[H265D_SLOT_INTRA_HORIZONTAL + log2].intra(cIdx, top, left, stride, dst);
        return;
    case 18:
        d.slot[H265D_SLOT_INTRA_DIAG_MID + log2].intra(cIdx, top, left, stride, dst);
        return;
    case 26:
        d.slot[H265D_SLOT_INTRA_VERTICAL + log2].intra(cIdx, top, left, stride, dst);
        return;
    case 34:
        d.slot[H265D_SLOT_INTRA_DIAG_UP + log2].intra(cIdx, top, left, stride, dst);
        return;
    default:
        d.slot[H265D_SLOT_INTRA_ANGULAR + log2].intraAngular(cIdx, mode, top, left, stride, dst);
        return;
    }
}

} // namespace testintra
