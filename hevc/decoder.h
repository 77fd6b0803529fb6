/* The decoder instance and the services its parts share. */
#ifndef H265D_DECODER_H
#define H265D_DECODER_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "bitreader.h"
#include "dpb.h"
#include "dsp/h265d_dsp.h"
#include "h265d.h"
#include "nal.h"
#include "paramsets.h"
#include "slicehdr.h"
#include "slicedata.h"

namespace h265d {

#define H265D_POOL_BLOCKS    512
#define H265D_POOL_ALIGN     64
#define H265D_MIN_SIZE       8
#define H265D_MAX_SIZE       8192
#define H265D_MAX_REFNUM     15
#define H265D_TIMESTAMP_NONE UINT64_MAX

typedef struct H265D_POOL
{
    uint32_t uiChannelID;
    int32_t ok; /* sticky: cleared by the first failure */
    int32_t count;
    void *blocks[H265D_POOL_BLOCKS];
    H265D_MALLOC_FXN MallocFxn;
    H265D_FREE_FXN FreeFxn;
} H265D_POOL;

#define H265D_STAMP_SEGS 8

/* Time stamp of the buffered bytes from 'start' on. */
typedef struct H265D_STAMP_SEG
{
    size_t start;
    uint64_t stamp;
} H265D_STAMP_SEG;

typedef struct H265D_PIC_GEOMETRY
{
    int32_t PicWidthInSamplesY;
    int32_t PicHeightInSamplesY;
    int32_t yStride;
    int32_t uvStride;
    int32_t PicWidthInMinCbsY;
    int32_t PicHeightInMinCbsY;
    int32_t minCbStride;
    int32_t PicWidthInCtbsY;
    int32_t PicHeightInCtbsY;
    int32_t PicSizeInCtbsY;
    int32_t widthIn4;
    int32_t heightIn4;
    int32_t widthIn8;
    int32_t heightIn8;
    int32_t widthIn16;
    int32_t heightIn16;
    int32_t widthInMinTb;
    int32_t heightInMinTb;
} H265D_PIC_GEOMETRY;

/* eThreadType 1: a slice segment kept until its picture is complete. Its
 * header is parsed on arrival (the picture is set up then); the slice data
 * waits in the gather buffer. */
#define H265D_MAX_GATHERED 510
typedef struct H265D_GATHERED_SLICE
{
    H265D_SLICE_HEADER sh;
    uint32_t lastIndependentAddress;
    size_t offset; /* payload in the gather buffer */
    size_t length;
} H265D_GATHERED_SLICE;

/* How each picture was decoded, one counter per path (H265D_GetPathCounts). */
struct PathCounts
{
    uint32_t uiSerial;         /* on the caller's thread */
    uint32_t uiGatheredSerial; /* gathered for the workers, decoded serially */
    uint32_t uiRowJobs;
    uint32_t uiSliceJobs;
    uint32_t uiTileJobs;
    uint32_t uiFallbacks; /* permanent switches to serial decoding */
};

/* Decoding stages whose time an instance can count (H265D_GetStageTimes
 * names them in the same order). */
enum Stage { StageParse, StageInter, StageIntra, StageResidual, StageDeblock, StageSao, StageBorder, StageCount };

/* The decoder instance behind the handle of the three calls. */
typedef struct H265D_DEC_OBJ
{
    uint32_t uiChannelID;
    uint32_t cpuFlags;
    uint32_t poolAlign;
    uint64_t picTimeStamp; /* stamp given to the next slot set up */
    uint64_t lastTimeStamp;
    int32_t eThreadType;        /* may drop to 0 for good */
    int32_t eThreadTypeCreated; /* read by Delete */
    int32_t eOutputOrder;
    uint32_t w64;
    uint32_t h64;
    int32_t iMaxRefNum;
    /* picture sequence state */
    int32_t endOfSequence;
    int32_t noRaslOutputFlag;
    int32_t firstSliceToggle;
    int32_t highestTid;
    int32_t cvsCounter;
    H265D_BITREADER br;
    uint32_t magic;
    H265D_NAL_HEADER nal;           /* the unit in hand */
    H265D_NAL_HEADER firstSliceNal; /* the picture's first slice segment */
    /* stream buffer */
    uint8_t *streamBuf;
    size_t streamFill;
    size_t streamSize;
    size_t scanPos; /* the search for the current unit's end stopped here */
    H265D_STAMP_SEG stampSeg[H265D_STAMP_SEGS];
    int32_t stampSegs;
    uint32_t vclBytes;
    int32_t errorFlag[2];
    /* active sets */
    H265D_VPS *vps;
    H265D_SPS *sps;
    H265D_PPS *pps;
    /* slice and picture state */
    H265D_SLICE_HEADER sh;
    int32_t firstSliceAccepted;
    int32_t independentSliceAccepted;
    uint32_t lastIndependentAddress;
    int32_t picErrorFlag;
    int32_t picReady; /* the picture's first slice header went through */
    int32_t firstSliceTemporalId;
    H265D_PIC_GEOMETRY geo;
    H265D_DPB dpb;
    /* stores */
    H265D_VPS *vpsStore; /* H265D_MAX_VPS */
    H265D_SPS *spsStore; /* H265D_MAX_SPS */
    H265D_PPS *ppsStore; /* H265D_MAX_PPS */
    uint32_t spsGeneration;
    H265D_USER_DATA *userData;
    H265D_MALLOC_FXN MallocFxn;
    H265D_FREE_FXN FreeFxn;
    H265D_LOG_FXN LogFxn;
    H265D_POOL pool;
    H265D_DSP_TABLE dsp;           /* pixel kernels, filled once at create */
    struct H265D_WORKERS *workers; /* eThreadType 1: the worker pool and contexts */
    /* test and tool hooks */
    int32_t bHeadersOnly;
    int32_t iCpuMask;
    PathCounts pathCounts;
    H265D_TRACE_FXN traceFxn;
    void *traceCtx;
    uint32_t traceUnitIndex;
    /* slice data */
    int32_t bParseOnly;
    uint64_t *stageTicks; /* StageCount sums, or null */
    uint64_t stageStore[StageCount];
    uint64_t stageStartTicks;
    int64_t stageStartNanos;
    H265D_SIDE_BUFFERS side;
    H265D_SLICE_CTX *sliceCtx;
    struct McScratch *mcScratch; /* [0] the caller's thread, [1 + k] worker context k */
    int32_t ctusDecoded;
    const uint8_t *sliceDataStart;
    /* gathering (eThreadType 1 at create) */
    H265D_GATHERED_SLICE *gathered; /* H265D_MAX_GATHERED */
    int32_t gatherCount;
    int32_t gatherDropped; /* the picture in hand was dropped: skip its slices */
    int32_t psInPicture;   /* a parameter set arrived inside the gathered picture */
    uint8_t *gatherBuf;
    size_t gatherSize;
    size_t gatherFill;
    int32_t keepUnit;    /* the error came from the gathered picture: keep the unit in hand */
    int32_t threadCount; /* rows dealt at once; lowered for good */
    int32_t pictureVia;  /* path of the picture being decoded (counters) */
    struct H265D_ROW_STATE *rowStates[4];
    uint8_t *saoBorders; /* lines saved for SAO inside jobs */
    /* fault injection (tests) */
    int32_t iFaultRow;
    int32_t iFaultKind;
    int64_t faultPicture; /* the picture the fault hit, -1 before */
    int64_t picturesStarted;
} H265D_DEC_OBJ;

/* Sets n bytes of each of rows rows (stride apart) to v. The side maps are
 * filled for every unit in squares of 1..16 bytes: fixed sizes become plain
 * stores where a memset of variable length would be a call each row. */
static inline void fillMapRows(uint8_t *p, ptrdiff_t stride, int n, int rows, uint8_t v)
{
    for (int j = 0; j < rows; j++, p += stride) {
        switch (n) {
        case 1:
            p[0] = v;
            break;
        case 2:
            memset(p, v, 2);
            break;
        case 4:
            memset(p, v, 4);
            break;
        case 8:
            memset(p, v, 8);
            break;
        case 16:
            memset(p, v, 16);
            break;
        default:
            memset(p, v, (size_t)n);
            break;
        }
    }
}

#define H265D_LOG(dec, level, ...) (dec)->LogFxn((dec)->uiChannelID, (level), __VA_ARGS__)
#define H265D_LOG_ERROR            0
#define H265D_LOG_WARNING          1

void *alignedAlloc(H265D_MALLOC_FXN mallocFxn, uint32_t ch, size_t size, size_t alignment);
void alignedFree(H265D_FREE_FXN freeFxn, uint32_t ch, void *p);
void *poolAlloc(H265D_POOL *pool, size_t size, size_t alignment);
void poolFreeAll(H265D_DEC_OBJ *dec);

/* Stream buffer size for the create limits (rounded to 64). */
size_t streamBufferSize(uint32_t w64, uint32_t h64);

/* sizeof(H265D_DEC_OBJ) as the library was built. */
size_t decoderObjectSize(void);

int32_t derivePictureGeometry(H265D_DEC_OBJ *dec, H265D_PIC_GEOMETRY *geo);

/* Makes the active PPS's tile maps and dequantisation tables current for
 * the active SPS; runs at picture start after the size check. */
void activatePpsTables(H265D_DEC_OBJ *dec);

} // namespace h265d

#endif
