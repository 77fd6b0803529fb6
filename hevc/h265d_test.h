/* Test and tool interface of the decoder: never used by the program. */
#ifndef H265D_TEST_H
#define H265D_TEST_H

#include "h265d.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct H265D_TEST_OPTIONS
{
    /* -1: detect the processor as usual; otherwise the detected feature word
     * is ANDed with this mask, so a mask can only take features away. */
    int32_t iCpuMask;
    /* No slice data: a picture counts as decoded when the first slice
     * segment of the next picture, or the end of the stream, completes it. */
    int32_t bHeadersOnly;
    /* Parse slice data without reconstructing; a slice whose data does not
     * end exactly with its end_of_slice_segment_flag fails. */
    int32_t bParseOnly;
    /* Count the time of each decoding stage (H265D_GetStageTimes); taken
     * only by an instance that decodes on the caller's thread
     * (eThreadType 0). */
    int32_t bStageTimes;
    /* Fault injection for the abort paths, once per instance, on the first
     * picture that reaches CTB row iFaultRow (-1 off). Kind 1: the parse of
     * that row fails with H265D_ERR_SLICE_DATA; kind 2: that row reports
     * end_of_slice_segment_flag after its second CTU. */
    int32_t iFaultRow;
    int32_t iFaultKind;
    int32_t aiReserved[2];
} H265D_TEST_OPTIONS;

/* One counter per way a picture can be decoded. */
typedef struct H265D_PATH_COUNTS
{
    uint32_t uiSerial;         /* on the caller's thread */
    uint32_t uiGatheredSerial; /* gathered for the workers, decoded serially */
    uint32_t uiRowJobs;
    uint32_t uiSliceJobs;
    uint32_t uiTileJobs;
    uint32_t uiFallbacks; /* permanent switches to serial decoding */
} H265D_PATH_COUNTS;

/* Where the time of the decoding calls went. Stages do not nest; what none
 * of them covers (NAL and header parsing, reference lists, output) is the
 * rest of the caller's own measure. */
enum {
    H265D_STAGE_PARSE,    /* CABAC: the CTU syntax and the residual levels */
    H265D_STAGE_INTER,    /* motion compensation and weighted prediction */
    H265D_STAGE_INTRA,    /* intra sample prediction with its references */
    H265D_STAGE_RESIDUAL, /* dequantisation, inverse transform and add */
    H265D_STAGE_DEBLOCK,  /* boundary strengths and the edge filters */
    H265D_STAGE_SAO,
    H265D_STAGE_BORDER, /* the margins of each reference picture */
    H265D_STAGE_COUNT
};

typedef struct H265D_STAGE_TIMES
{
    double adSeconds[H265D_STAGE_COUNT];
} H265D_STAGE_TIMES;

int32_t H265D_CreateForTest(void **phHandle, const H265D_INIT_PARAM *p, const H265D_TEST_OPTIONS *t);
int32_t H265D_GetPathCounts(void *h, H265D_PATH_COUNTS *out);
/* H265D_ERR_HANDLE when the instance does not count stage times. */
int32_t H265D_GetStageTimes(void *h, H265D_STAGE_TIMES *out);

#ifdef __cplusplus
}
#endif

#endif
