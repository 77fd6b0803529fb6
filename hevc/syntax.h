/* The CTU syntax under CABAC: coding_tree_unit() and what it contains,
 * 7.3.8. */
#ifndef H265D_SYNTAX_H
#define H265D_SYNTAX_H

#include <stdint.h>
#include "slicedata.h"

namespace h265d {

struct H265D_DEC_OBJ;

/* Parsing and reconstruction of one CTU (exposed for the tests). */
int32_t parseCodingTreeUnit(struct H265D_DEC_OBJ *dec, H265D_SLICE_CTX *ctx);

/* Residual coding of one transform block into coeffs (nT x nT, zeroed here). */
int32_t parseResidualCoding(struct H265D_DEC_OBJ *dec, H265D_SLICE_CTX *ctx, H265D_TU *tu, int log2TrafoSize,
                            int cuTransquantBypass, int cIdx, int16_t *coeffs, int scanIdx);

int32_t deriveChromaQpFor(int qpY, int offset);

/* mvd_coding into pu->mvd[list]; cu_qp_delta_abs (at most 26). */
int32_t decodeMvdCoding(struct H265D_DEC_OBJ *dec, H265D_CABAC *c, H265D_PU *pu, int list);

int32_t decodeCuQpDeltaAbs(struct H265D_DEC_OBJ *dec, H265D_CABAC *c, int *value);

} // namespace h265d

#endif
