/* Intra prediction with its reference samples, and the residual of a
 * transform unit added onto the prediction. */
#ifndef H265D_INTRA_H
#define H265D_INTRA_H

#include <stdint.h>
#include "slicedata.h"

namespace h265d {

struct H265D_DEC_OBJ;

void addTuResidual(struct H265D_DEC_OBJ *dec, const H265D_CU *cu, const H265D_TU *tu, int cIdx, int log2,
                   int16_t *coeffs, uint8_t *dst, int stride);

void reconstructIntraCu(struct H265D_DEC_OBJ *dec, H265D_CTU_RECORD *ctu, int cuIndex, int firstTu, int lumaOffset,
                        int chromaOffset);

void intraNeighbourAvailability(struct H265D_DEC_OBJ *dec, const H265D_CTU_RECORD *ctu, int x, int y, int nT,
                                int flags[5]);

void predictIntraBlock(struct H265D_DEC_OBJ *dec, const H265D_CTU_RECORD *ctu, const int flags[5], int log2Size,
                       int cIdx, int mode, int x, int y, uint8_t *dst, int stride);

} // namespace h265d

#endif
