/* Inter prediction: motion vectors of the CU, motion compensation with
 * weighted prediction, and the motion field kept for later pictures. */
#ifndef H265D_INTER_H
#define H265D_INTER_H

#include <stdint.h>
#include "slicedata.h"

namespace h265d {

struct H265D_DEC_OBJ;

/* Intermediate rows of motion compensation (both lists of one prediction
 * block). Each thread that reconstructs has its own: the serial path one,
 * each worker context one (H265D_DEC_OBJ::mcScratch). */
struct McScratch
{
    alignas(16) int16_t tmp[2][64 * 64];
};

void reconstructInterCu(struct H265D_DEC_OBJ *dec, H265D_CTU_RECORD *ctu, int cuIndex, int firstTu, int firstPu,
                        int lumaOffset, int chromaOffset, McScratch *mc);

/* The temporal/spatial MV scaling (distances clipped to -128..127, td 0 as 1). */
void scaleMv(int mvx, int mvy, int td, int tb, int16_t out[2]);

/* An MV limited so that the block's reads stay within the picture's borders. */
void clipMvForMc(int mvx, int mvy, int x, int y, int picW, int picH, int16_t out[2]);

void storeMotionField(struct H265D_DEC_OBJ *dec, const H265D_CTU_RECORD *ctu);

} // namespace h265d

#endif
