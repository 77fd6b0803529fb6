/* H.265 (HEVC) Main profile decoder: the three calls and their records.
 *
 * A caller creates one instance per stream, feeds it Annex B byte-stream
 * chunks of any size and receives at most one picture per call. All memory
 * is taken through the caller's callbacks at create time. */
#ifndef H265D_H
#define H265D_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define H265D_OK               ((int32_t)0)
#define H265D_ERR_NULL         ((int32_t)0xF0401000u)
#define H265D_ERR_HANDLE       ((int32_t)0xF0401001u)
#define H265D_ERR_MALLOC       ((int32_t)0xF0402000u)
#define H265D_ERR_WIDTH        ((int32_t)0xF0402001u)
#define H265D_ERR_HEIGHT       ((int32_t)0xF0402002u)
#define H265D_ERR_REFNUM       ((int32_t)0xF0402003u)
#define H265D_ERR_THREADTYPE   ((int32_t)0xF0402004u)
#define H265D_ERR_MALLOCFXN    ((int32_t)0xF0402005u)
#define H265D_ERR_FREEFXN      ((int32_t)0xF0402006u)
#define H265D_ERR_LOGFXN       ((int32_t)0xF0402007u)
#define H265D_ERR_STREAM       ((int32_t)0xF0402008u)
#define H265D_ERR_NAL          ((int32_t)0xF0404001u)
#define H265D_ERR_VPS          ((int32_t)0xF0404002u)
#define H265D_ERR_SPS          ((int32_t)0xF0404003u)
#define H265D_ERR_PPS          ((int32_t)0xF0404004u)
#define H265D_ERR_SLICE_HEADER ((int32_t)0xF0404005u)
#define H265D_ERR_SLICE_DATA   ((int32_t)0xF0404006u)
#define H265D_ERR_THREAD       ((int32_t)0xE0404008u)

/* Decode result when the chunk was used up without a picture. */
#define H265D_NEED_MORE_DATA ((int32_t)1)

#define H265D_HANDLE_MAGIC 0x11335577u

enum { IH265D_DECODE_ORDER = 0, IH265D_DISPLAY_ORDER = 1 };

enum { IH265D_DECODE_NORMAL = 0, IH265D_DECODE_END = 1 };

enum { IH265D_STATUS_PICTURE = 0, IH265D_STATUS_NEED_DATA = 1, IH265D_STATUS_END = 2, IH265D_STATUS_FAILED = 3 };

typedef void *(*H265D_MALLOC_FXN)(uint32_t uiChannelID, size_t uiSize);
typedef void (*H265D_FREE_FXN)(uint32_t uiChannelID, void *p);
typedef void (*H265D_LOG_FXN)(uint32_t uiChannelID, int32_t iLevel, const char *pszFormat, ...);

typedef struct H265D_INIT_PARAM
{
    uint32_t uiChannelID;
    int32_t iMaxWidth;
    int32_t iMaxHeight;
    int32_t iMaxRefNum;
    int32_t eThreadType;
    int32_t eOutputOrder;
    int32_t iReserved;
    H265D_MALLOC_FXN MallocFxn;
    H265D_FREE_FXN FreeFxn;
    H265D_LOG_FXN LogFxn;
} H265D_INIT_PARAM;

typedef struct H265D_INARGS
{
    const uint8_t *pStream;
    uint32_t uiStreamLen;
    uint64_t uiTimeStamp;
    int32_t eDecodeMode;
    int32_t iReserved;
} H265D_INARGS;

typedef struct H265D_OUTARGS
{
    uint32_t uiChannelID;
    uint32_t uiBytesUsed;
    uint64_t uiTimeStamp;
    int32_t eFrameType;
    int32_t eDecodeStatus;
    uint32_t uiDecWidth;
    uint32_t uiDecHeight;
    uint32_t uiYStride;
    uint32_t uiUVStride;
    uint8_t *pucOutYUV[3];
    uint32_t uiCodedBytes;
    uint32_t uiReserved0;
    uint32_t uiUserDataLen;
    uint8_t *pucUserData;
    uint32_t uiReserved1;
    uint32_t uiAspectRatioIdc;
    uint32_t uiSarWidth;
    uint32_t uiSarHeight;
    uint32_t uiNumUnitsInTick;
    uint32_t uiTimeScale;
    uint32_t auiCuStats[18];
    uint32_t uiErrorFlag;
} H265D_OUTARGS;

int32_t H265D_Create(void **phDecoder, const H265D_INIT_PARAM *pstInitParam);
int32_t H265D_Decode(void *hDecoder, const H265D_INARGS *pstInArgs, H265D_OUTARGS *pstOutArgs);
int32_t H265D_Delete(void *hDecoder);

#ifdef __cplusplus
}
#endif

#endif
