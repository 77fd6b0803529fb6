/* Deblocking of the picture under decode: boundary strengths and the
 * edge filters, CTU by CTU. */
#ifndef H265D_DEBLOCK_H
#define H265D_DEBLOCK_H

#include <stdint.h>

namespace h265d {

struct H265D_DEC_OBJ;
struct H265D_CTU_RECORD;

/* Strengths of the CTU's edges into the picture's bS maps (none for a slice
 * with deblocking disabled). */
void computeBoundaryStrength(struct H265D_DEC_OBJ *dec, const struct H265D_CTU_RECORD *ctu, uint8_t *bsVer,
                             uint8_t *bsHor);

/* The same from the edge map alone, for the CTB at CTB coordinates (ctbX, ctbY). */
void computeCtbStrengths(struct H265D_DEC_OBJ *dec, int ctbX, int ctbY, uint8_t *bsVer, uint8_t *bsHor);

/* Vertical, then horizontal edges of the CTU at (x, y), as far as the CTUs
 * decoded so far allow. */
void deblockCtu(struct H265D_DEC_OBJ *dec, int x, int y, const uint8_t *bsVer, const uint8_t *bsHor);

} // namespace h265d

#endif
