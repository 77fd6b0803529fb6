// The intra predictor of one mode through the slot table, picked as the
// decoder picks it.
#pragma once

#include "hevc/dsp/h265d_dsp.h"

namespace testintra {

inline void predict(const h265d::H265D_DSP_TABLE &d, int mode, int cIdx, int log2, uint8_t *top, uint8_t *left,
                    int stride, uint8_t *dst)
{
    using namespace h265d;
    // The modes with a predictor of their own; the rest are angular.
    const int own = mode == 1    ? H265D_SLOT_INTRA_DC
                    : mode == 2  ? H265D_SLOT_INTRA_DIAG_DOWN
                    : mode == 10 ? H265D_SLOT_INTRA_HORIZONTAL
                    : mode == 18 ? H265D_SLOT_INTRA_DIAG_MID
                    : mode == 26 ? H265D_SLOT_INTRA_VERTICAL
                    : mode == 34 ? H265D_SLOT_INTRA_DIAG_UP
                                 : -1;
    if (mode == 0)
        d.slot[H265D_SLOT_INTRA_PLANAR + log2].intraPlanar(top, left, stride, dst);
    else if (own >= 0)
        d.slot[own + log2].intra(cIdx, top, left, stride, dst);
    else
        d.slot[H265D_SLOT_INTRA_ANGULAR + log2].intraAngular(cIdx, mode, top, left, stride, dst);
}

} // namespace testintra
