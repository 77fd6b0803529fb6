/* Slice data: the decoding context, the CTU parse record, the picture side
 * maps and the routines that parse and reconstruct coding tree units. */
#ifndef H265D_SLICEDATA_H
#define H265D_SLICEDATA_H

#include <stdint.h>

#include "cabac.h"
#include "dsp/h265d_dsp.h"

namespace h265d {

struct H265D_DEC_OBJ;
struct H265D_SLICE_HEADER;

#define H265D_MAX_CU_PER_CTU 64
#define H265D_MAX_TU_PER_CTU 256
#define H265D_MAX_PU_PER_CTU 256

#define H265D_CTB_DEBLOCK_OFF   1u
#define H265D_CTB_ACROSS_SLICES 2u

typedef struct H265D_PU
{
    uint8_t merge_flag;
    uint8_t merge_idx;
    uint8_t inter_pred_idc;
    uint8_t ref_idx_l0;
    uint8_t ref_idx_l1;
    uint8_t mvp_l0_flag;
    uint8_t mvp_l1_flag;
    int16_t mvd[2][2]; /* [list][horizontal, vertical] */
    int32_t x, y, w, h;
} H265D_PU;

typedef struct H265D_CU
{
    int32_t x, y;
    uint8_t log2CbSize;
    uint8_t cu_transquant_bypass_flag;
    int32_t CuPredMode; /* 1 intra, 0 inter */
    int32_t PartMode;
    int32_t IntraPredModeY[4];
    int32_t IntraPredModeC;
    uint8_t pcm_flag;
    uint8_t cu_skip_flag;
    int8_t qp[3]; /* Qp'Y, Qp'Cb, Qp'Cr */
    int32_t numTu;
    int32_t numPu;
} H265D_CU;

typedef struct H265D_TU
{
    int32_t x, y;
    int32_t coeffCount[3];
    int32_t columnBound[3];
    uint8_t log2TrafoSize;
    uint8_t cbf_cb, cbf_cr, cbf_luma;
    uint8_t transform_skip_flag[3];
} H265D_TU;

/* Motion kept per 16x16 block of a decoded picture for temporal prediction. */
typedef struct H265D_COL_MV
{
    int16_t mv[2][2];
    uint8_t predFlag[2];
    uint8_t longTerm[2];
    int32_t refPoc[2];
} H265D_COL_MV;

typedef struct H265D_CTU_RECORD
{
    int32_t x, y; /* luma samples */
    int32_t ctbX, ctbY;
    int32_t ctbAddrRs, ctbAddrTs;
    int32_t ctbSize, ctbLog2;
    uint8_t availAbove, availLeft, availAboveLeft, availAboveRight;
    int32_t rightLimit, bottomLimit;
    int32_t end_of_slice_segment_flag;
    int32_t numCu, numTu, numPu;
    const struct H265D_SLICE_HEADER *sh; /* the CTU's slice segment (reference lists) */
    alignas(16) int16_t coeffY[4096];
    alignas(16) int16_t coeffCb[1024];
    alignas(16) int16_t coeffCr[1024];
    H265D_CU cu[H265D_MAX_CU_PER_CTU];
    H265D_TU tu[H265D_MAX_TU_PER_CTU];
    H265D_PU pu[H265D_MAX_PU_PER_CTU];
} H265D_CTU_RECORD;

/* One per thread that parses: engine, WPP store and CTU record. */
typedef struct H265D_SLICE_CTX
{
    H265D_CABAC cabac;
    uint8_t wppStore[H265D_CTX_COUNT];
    H265D_CTU_RECORD ctu;
    int32_t initType;
    int32_t qgPrevQp; /* qPY_PREV of the current quantisation group */
    /* The slice segment parsed, and its SliceAddrRs; null: the instance's
     * current header and address (one slice at a time). */
    const struct H265D_SLICE_HEADER *sh;
    uint32_t sliceAddrRs;
    /* Coding unit counters of this context; null: the picture's own. */
    uint32_t *cuStats;
} H265D_SLICE_CTX;

/* The header and address a context parses with. */
const struct H265D_SLICE_HEADER *ctxSliceHeader(const struct H265D_DEC_OBJ *dec, const H265D_SLICE_CTX *ctx);
uint32_t ctxSliceAddress(const struct H265D_DEC_OBJ *dec, const H265D_SLICE_CTX *ctx);

/* Picture side maps (sizes for the create limits). */
typedef struct H265D_SIDE_BUFFERS
{
    uint8_t *ctDepth;      /* per minimum CB */
    uint8_t *skipFlag;     /* per minimum CB */
    int8_t *qpY;           /* per minimum CB */
    uint8_t *intraMode;    /* per 4x4: 255 not intra */
    uint8_t *codedLuma;    /* per 4x4 */
    uint8_t *filterBypass; /* per 8x8: 2 PCM + 1 transquant bypass */
    uint8_t *edgeFlags;    /* per 4x4: transform (1 left, 2 top) and prediction (4, 8) block edges */
    uint8_t *ctbFlags;     /* per CTB: H265D_CTB_* of its slice */
    int32_t *minTbAddrZs;  /* per minimum TB */
    /* What minTbAddrZs was derived from: the SPS parse and the PPS's CTB
     * order (a PPS parsed anew may keep its slot and change its tiles). */
    uint32_t minTbZsSpsGeneration; /* 0: not derived */
    int32_t *minTbZsTsOrder;       /* per CTB */
    int32_t *sliceAddr;            /* per CTB: the slice's address (SliceAddrRs) */
    H265D_SAO_PARAMS *sao;         /* per CTB */
    int8_t *deblockOffsets;        /* per CTB: beta, tc (twice the _div2 values) */
    uint8_t *lineStore[3];         /* two rows per plane: unfiltered bottom rows, by CTB row parity */
    int32_t lineStride[3];
    void *mvRecords;       /* per 4x4 motion records (inter prediction) */
    uint8_t *bs;           /* per 4x4: vertical and horizontal edge strengths */
    void *colRecords;      /* per 16x16 */
    uint8_t *saoWork;      /* SAO work planes (loopfilter.h) */
    uint32_t *rowCounters; /* per CTB row: 4x4 records used */
    int32_t mapW4;         /* widths of the maps */
    int32_t mapWMinCb;
    int32_t mapWMinTb;
    int32_t mapW8;
} H265D_SIDE_BUFFERS;

void allocSideBuffers(struct H265D_DEC_OBJ *dec);
/* Decodes the slice data of the slice segment in dec->sh from the payload. */
int32_t decodeSliceData(struct H265D_DEC_OBJ *dec, const uint8_t *payload, const uint8_t *end);

/* The parts of decodeSliceData that the picture decode driver shares:
 * map clearing at picture start, the engine at a slice's data, one CTU's
 * parse (with its neighbours and WPP states) and the picture's finish. */
void startPictureData(struct H265D_DEC_OBJ *dec);
void startSliceEngine(struct H265D_DEC_OBJ *dec, H265D_SLICE_CTX *ctx, const uint8_t *payload, const uint8_t *end);
int32_t parseCtuAt(struct H265D_DEC_OBJ *dec, H265D_SLICE_CTX *ctx, int32_t ctbAddrTs);
void finishPictureData(struct H265D_DEC_OBJ *dec);

struct McScratch;
/* mc: the calling thread's motion compensation scratch. */
void reconstructCtu(struct H265D_DEC_OBJ *dec, H265D_SLICE_CTX *ctx, McScratch *mc);
void updateCtuNeighbours(struct H265D_DEC_OBJ *dec, H265D_SLICE_CTX *ctx, int32_t ctbAddrTs);
void cabacStartCtu(struct H265D_DEC_OBJ *dec, H265D_SLICE_CTX *ctx, int32_t ctbAddrTs);
void cabacSaveWppContexts(struct H265D_DEC_OBJ *dec, H265D_SLICE_CTX *ctx, int32_t ctbAddrTs);

void padPictureBorders(struct H265D_DEC_OBJ *dec);
/* Side margins of CTB rows [firstRow, firstRow + rowCount), luma and chroma. */
void extendRowBorders(struct H265D_DEC_OBJ *dec, int rowCount, int firstRow);
/* Marks the left and top edges of a block in the edge map (bits: left, top). */
void markBlockEdges(struct H265D_DEC_OBJ *dec, int x, int y, int w, int h, int leftBit, int topBit);

} // namespace h265d

#endif
