/* A threaded instance's picture: its slice segments gathered as they
 * arrive, then decoded as one list by the workers or serially. */
#ifndef H265D_PICTURE_H
#define H265D_PICTURE_H

#include <stddef.h>
#include <stdint.h>

namespace h265d {

struct H265D_DEC_OBJ;

/* Gathering of a threaded instance (picture.cpp). */
int32_t allocGatherState(H265D_DEC_OBJ *dec);

void freeGatherState(H265D_DEC_OBJ *dec);

/* Keeps the slice segment whose header is in dec->sh; 0 or the error of a
 * dropped picture. */
int32_t gatherSlice(H265D_DEC_OBJ *dec, const uint8_t *payload, size_t length);

/* Decodes the gathered picture, if any, and empties the list. */
int32_t decodePicture(H265D_DEC_OBJ *dec);

/* Whether the fault option hits the CTB row now being parsed. */
int faultHits(H265D_DEC_OBJ *dec, int32_t row, int32_t kind);

} // namespace h265d

#endif
