/* H.265 (HEVC) Main profile decoder: the three calls and their records.
 *
 * A caller creates one instance per stream, feeds it Annex B byte-stream
 * chunks of any size and receives at most one picture per call. All memory
 * is taken through the caller's callbacks at create time. The calls below
 * say who owns which buffer, how long a picture stays valid and which
 * thread may call. */
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

/* Decode result when the chunk was used up without a picture (not an
 * error; eDecodeStatus is IH265D_STATUS_NEED_DATA beside it). */
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

/* Threads: an instance belongs to no thread, but its calls must not overlap;
 * one caller at a time, on any thread (the program's player calls each of
 * its instances from its own decoding thread). Different instances are
 * independent and may be used on different threads at once. An instance
 * created with eThreadType 1 runs worker threads of its own, started here and
 * joined by H265D_Delete.
 *
 * Memory: everything the instance needs, up to the limits given (iMaxWidth,
 * iMaxHeight, iMaxRefNum), is taken here through MallocFxn and given back
 * through FreeFxn by H265D_Delete; decoding takes nothing more through them
 * (the workers of eThreadType 1 keep their per-row state on the heap).
 * MallocFxn may return null: the create then fails cleanly. LogFxn gets the
 * channel id, a level (0 error, 1 warning) and a printf format.
 * pstInitParam is read during the call only.
 *
 * Returns H265D_OK and the handle in *phDecoder, or:
 *   H265D_ERR_NULL        phDecoder or pstInitParam null
 *   H265D_ERR_LOGFXN, H265D_ERR_MALLOCFXN, H265D_ERR_FREEFXN  callback missing
 *   H265D_ERR_WIDTH, H265D_ERR_HEIGHT  limit outside 8..8192
 *   H265D_ERR_REFNUM      iMaxRefNum outside 0..15
 *   H265D_ERR_THREADTYPE  eThreadType neither 0 nor 1
 *   H265D_ERR_MALLOC      MallocFxn returned null
 *   H265D_ERR_THREAD      the worker threads could not be started
 * An eOutputOrder other than the two known ones is logged and taken as
 * IH265D_DISPLAY_ORDER. */
int32_t H265D_Create(void **phDecoder, const H265D_INIT_PARAM *pstInitParam);

/* Feeds stream bytes and returns at most one picture.
 *
 * pstInArgs->pStream: Annex B bytes in chunks of any size (start codes may
 * straddle calls). The instance copies what it takes into its own buffer, so
 * the caller's buffer is free again when the call returns. uiTimeStamp goes
 * with the bytes of this call; a picture carries the stamp of the call that
 * delivered its first slice segment.
 *
 * A call returns as soon as a picture is ready, possibly before it has taken
 * the whole chunk: pstOutArgs->uiBytesUsed says how many bytes were taken,
 * and the caller calls again with the rest (pStream + uiBytesUsed) until
 * H265D_NEED_MORE_DATA says the chunk is used up.
 *
 * Results with eDecodeMode IH265D_DECODE_NORMAL:
 *   H265D_OK, eDecodeStatus IH265D_STATUS_PICTURE: a picture is in pstOutArgs.
 *   H265D_NEED_MORE_DATA (1, not an error), eDecodeStatus
 *     IH265D_STATUS_NEED_DATA: the whole chunk was taken and no picture is
 *     ready yet; feed more.
 * With IH265D_DECODE_END (end of stream; pStream may be null): the buffered
 * bytes are decoded and the pictures still held are returned one per call,
 * H265D_OK with IH265D_STATUS_PICTURE each, then H265D_OK with
 * IH265D_STATUS_END once none is left.
 *
 * The picture: pucOutYUV[0..2] are the Y, U and V planes (4:2:0,
 * uiDecWidth x uiDecHeight luma samples, strides uiYStride and uiUVStride)
 * inside the instance's own memory, as is pucUserData. They are valid until
 * the next H265D_Decode or H265D_Delete on this instance and must not be
 * written or freed by the caller: copy or display the picture before calling
 * again. uiErrorFlag is set when the
 * picture or one it refers to was damaged (concealed, not exact).
 *
 * Errors (eDecodeStatus IH265D_STATUS_FAILED). The instance stays usable;
 * uiBytesUsed tells how far the chunk was taken, and the caller goes on with
 * the rest as after any other result. The damaged unit (or the gathered
 * picture it belongs to) is dropped.
 *   H265D_ERR_NULL    hDecoder, pstInArgs or pstOutArgs null
 *   H265D_ERR_HANDLE  hDecoder is not a live instance
 *   H265D_ERR_STREAM  pStream null in IH265D_DECODE_NORMAL
 *   H265D_ERR_NAL, H265D_ERR_VPS, H265D_ERR_SPS, H265D_ERR_PPS,
 *   H265D_ERR_SLICE_HEADER, H265D_ERR_SLICE_DATA  a damaged or unsupported
 *     unit of that kind
 *   H265D_ERR_WIDTH, H265D_ERR_HEIGHT, H265D_ERR_REFNUM  the stream needs
 *     more than the limits given at create */
int32_t H265D_Decode(void *hDecoder, const H265D_INARGS *pstInArgs, H265D_OUTARGS *pstOutArgs);

/* Stops the instance's workers, gives all its memory back through FreeFxn
 * and invalidates the handle (and every picture pointer it returned).
 * Returns H265D_OK, or H265D_ERR_NULL / H265D_ERR_HANDLE for a null handle or
 * one that is not a live instance. The handle must not be used afterwards. */
int32_t H265D_Delete(void *hDecoder);

#ifdef __cplusplus
}
#endif

#endif
