/* Sample adaptive offset of one CTB, on the serial path or in a job. */
#ifndef H265D_SAO_H
#define H265D_SAO_H

#include "loopfilter.h"

namespace h265d {

struct H265D_DEC_OBJ;

/* Sample adaptive offset of the CTB at (x, y), whose neighbours are deblocked. */
void applySaoCtu(struct H265D_DEC_OBJ *dec, int x, int y);

/* The same inside a worker job. */
void applySaoCtuInJob(struct H265D_DEC_OBJ *dec, int x, int y, const H265D_SAO_JOB *job);

} // namespace h265d

#endif
