/* MSB-first reader of NAL unit payloads (emulation prevention already removed). */
#ifndef H265D_BITREADER_H
#define H265D_BITREADER_H

#include <stdint.h>

namespace h265d {

/* Returned by readUe for a code that runs past the payload or has more than
 * 31 leading zeros; never a valid value, so unsigned range checks reject it. */
#define H265D_UE_ERROR 0xFFFFFFFFu
#define H265D_SE_ERROR 0x7FFFFFFF

typedef void (*H265D_TRACE_FXN)(void *pCtx, const char *pszName, int64_t value);

typedef struct H265D_BITREADER
{
    const uint8_t *data;
    int32_t length;  /* payload bytes */
    int32_t bytePos; /* next byte not yet loaded into the cache */
    uint64_t cache;  /* next bits, left-aligned */
    int32_t cacheBits;
    uint32_t bitsRead;
    int32_t capacity;
    int32_t overrun; /* a read went past the payload or a code was malformed */
    /* Syntax trace for tools; null in normal decoding. */
    H265D_TRACE_FXN traceFxn;
    void *traceCtx;
} H265D_BITREADER;

void bitReaderInit(H265D_BITREADER *br, const uint8_t *data, int32_t length, int32_t capacity);
uint32_t readBits(H265D_BITREADER *br, int n); /* 1..32 */
void skipBits(H265D_BITREADER *br, int n);     /* 0..32 */
uint32_t readBit(H265D_BITREADER *br);
uint32_t readUe(H265D_BITREADER *br);
int32_t readSe(H265D_BITREADER *br);
uint32_t moreRbspData(H265D_BITREADER *br);
/* Bits not yet consumed (zero once the payload is used up). */
int64_t bitsLeft(const H265D_BITREADER *br);
int byteAligned(const H265D_BITREADER *br);

/* Reads that also report the element to the trace hook under its syntax
 * name (printf-style, for indexed names). */
uint32_t readBitsT(H265D_BITREADER *br, int n, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
uint32_t readBitT(H265D_BITREADER *br, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
uint32_t readUeT(H265D_BITREADER *br, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
int32_t readSeT(H265D_BITREADER *br, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
void traceValue(H265D_BITREADER *br, int64_t value, const char *fmt, ...) __attribute__((format(printf, 3, 4)));

} // namespace h265d

#endif
