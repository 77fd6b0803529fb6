/* In-loop filters of the picture under decode: boundary strengths and
 * deblocking per CTU, sample adaptive offset one CTB behind. */
#ifndef H265D_LOOPFILTER_H
#define H265D_LOOPFILTER_H

#include <stddef.h>
#include <stdint.h>

struct H265D_DEC_OBJ;
struct H265D_SLICE_CTX;
struct H265D_CTU_RECORD;

/* Per-CTB bit next to the slice's H265D_CTB_* bits: offset applied, its
 * deblocked samples are in the work planes. */
#define H265D_CTB_SAO_DONE 4u

#ifdef __cplusplus
extern "C" {
#endif

/* Bytes of the SAO work planes for the create limits. */
size_t saoWorkSize(uint32_t w64, uint32_t h64);
/* Plane c of the SAO work picture: the deblocked samples of the CTBs
 * already offset, laid out with the current picture's stride. */
uint8_t *saoWorkPlane(struct H265D_DEC_OBJ *dec, int c);

/* After a CTU is reconstructed: its strengths, its deblocking, and SAO of
 * the CTBs whose neighbourhood it completes. */
void filterCtu(struct H265D_DEC_OBJ *dec, struct H265D_SLICE_CTX *ctx);
/* Strengths of the CTU's edges into the picture's bS maps (none for a slice
 * with deblocking disabled). */
void computeBoundaryStrength(struct H265D_DEC_OBJ *dec, const struct H265D_CTU_RECORD *ctu, uint8_t *bsVer,
                             uint8_t *bsHor);
/* The same from the edge map alone, for the CTB at CTB coordinates (ctbX, ctbY). */
void computeCtbStrengths(struct H265D_DEC_OBJ *dec, int ctbX, int ctbY, uint8_t *bsVer, uint8_t *bsHor);
/* Vertical, then horizontal edges of the CTU at (x, y), as far as the CTUs
 * decoded so far allow. */
void deblockCtu(struct H265D_DEC_OBJ *dec, int x, int y, const uint8_t *bsVer, const uint8_t *bsHor);
/* Sample adaptive offset of the CTB at (x, y), whose neighbours are deblocked. */
void applySaoCtu(struct H265D_DEC_OBJ *dec, int x, int y);
/* Both filters over a whole reconstructed picture from its maps, CTB by CTB
 * in the order decoding runs them. */
void filterPicture(struct H265D_DEC_OBJ *dec);

#ifdef __cplusplus
}
#endif

#endif
