/* In-loop filters of the picture under decode: boundary strengths and
 * deblocking per CTU, sample adaptive offset one CTB behind. */
#ifndef H265D_LOOPFILTER_H
#define H265D_LOOPFILTER_H

#include <stddef.h>
#include <stdint.h>

namespace h265d {

struct H265D_DEC_OBJ;
struct H265D_SLICE_CTX;
struct H265D_CTU_RECORD;

/* Per-CTB bit next to the slice's H265D_CTB_* bits: offset applied, its
 * deblocked samples are in the work planes. */
#define H265D_CTB_SAO_DONE 4u

/* Bytes of the SAO work planes for the create limits. */
size_t saoWorkSize(uint32_t w64, uint32_t h64);
/* Plane c of the SAO work picture: the deblocked samples of the CTBs
 * already offset, laid out with the current picture's stride. */
uint8_t *saoWorkPlane(struct H265D_DEC_OBJ *dec, int c);

/* SAO inside worker jobs never touches the work picture, which jobs of
 * other rows would share: each context offsets a CTB from its own block
 * copy (the CTB and a one-sample ring, laid out with the picture's stride),
 * and a CTB's deblocked bottom line and right column are saved, before it
 * is offset, into per-CTB-row stores shared by the jobs, where the CTBs
 * offset after it read them. */
typedef struct H265D_SAO_JOB
{
    uint8_t *block;   /* this context's block copy, saoBlockSize() bytes */
    uint8_t *borders; /* the picture's saved lines, saoBordersSize() bytes */
} H265D_SAO_JOB;

/* Bytes of one context's block copy and of the saved lines, for the create limits. */
size_t saoBlockSize(uint32_t w64);
size_t saoBordersSize(uint32_t w64, uint32_t h64);
/* Saves the deblocked bottom line and right column of the CTB at (x, y),
 * all planes, before it is offset. */
void saveFilterBorders(struct H265D_DEC_OBJ *dec, const H265D_SAO_JOB *job, int x, int y);
/* Saved samples in plane c: the bottom line of CTB row ctbRow (indexed by
 * the plane's x), and the right column of CTB (ctbCol, ctbRow) (by the row
 * within that CTB). A row's CTBs are offset left to right, so the columns
 * of the last two of each row are kept. */
uint8_t *saoSavedLine(struct H265D_DEC_OBJ *dec, const H265D_SAO_JOB *job, int c, int ctbRow);
uint8_t *saoSavedColumn(struct H265D_DEC_OBJ *dec, const H265D_SAO_JOB *job, int c, int ctbCol, int ctbRow);
/* Plane c of the job's block copy: picture sample (bx, by) of the CTB in
 * hand is at the pointer plus bx, the ring row above one stride before. */
uint8_t *saoBlockPlane(struct H265D_DEC_OBJ *dec, const H265D_SAO_JOB *job, int c);

/* After a CTU is reconstructed: its strengths, its deblocking, and SAO of
 * the CTBs whose neighbourhood it completes; job is null on the serial
 * path, which offsets through the work picture. */
void filterCtu(struct H265D_DEC_OBJ *dec, struct H265D_SLICE_CTX *ctx, const H265D_SAO_JOB *job);
/* Both filters over a whole reconstructed picture from its maps, CTB by CTB
 * in the order decoding runs them. */
void filterPicture(struct H265D_DEC_OBJ *dec);

} // namespace h265d

#endif
