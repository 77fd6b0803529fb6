#include "bitreader.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace h265d {

void bitReaderInit(H265D_BITREADER *br, const uint8_t *data, int32_t length, int32_t capacity)
{
    br->data = data;
    br->length = length < 0 ? 0 : length;
    br->bytePos = 0;
    br->cache = 0;
    br->cacheBits = 0;
    br->bitsRead = 0;
    br->capacity = capacity;
    br->overrun = 0;
}

static inline void refill(H265D_BITREADER *br)
{
    while (br->cacheBits <= 56 && br->bytePos < br->length) {
        br->cache |= (uint64_t)br->data[br->bytePos++] << (56 - br->cacheBits);
        br->cacheBits += 8;
    }
}

int64_t bitsLeft(const H265D_BITREADER *br)
{
    return (int64_t)br->cacheBits + 8 * (int64_t)(br->length - br->bytePos);
}

int byteAligned(const H265D_BITREADER *br)
{
    return (br->bitsRead & 7) == 0;
}

uint32_t readBits(H265D_BITREADER *br, int n)
{
    if (n <= 0)
        return 0;
    if (br->cacheBits < n)
        refill(br);
    uint32_t v = (uint32_t)(br->cache >> (64 - n));
    if (br->cacheBits < n) {
        /* Past the payload: the missing bits read as zeros. */
        br->overrun = 1;
        br->cache = 0;
        br->cacheBits = 0;
    } else {
        br->cache = n == 64 ? 0 : br->cache << n;
        br->cacheBits -= n;
    }
    br->bitsRead += (uint32_t)n;
    return v;
}

void skipBits(H265D_BITREADER *br, int n)
{
    if (n > 0)
        readBits(br, n);
}

uint32_t readBit(H265D_BITREADER *br)
{
    return readBits(br, 1);
}

uint32_t readUe(H265D_BITREADER *br)
{
    int zeros = 0;
    for (;;) {
        if (bitsLeft(br) <= 0) {
            br->overrun = 1;
            return H265D_UE_ERROR;
        }
        if (readBits(br, 1))
            break;
        if (++zeros > 31) {
            br->overrun = 1;
            return H265D_UE_ERROR;
        }
    }
    if (zeros == 0)
        return 0;
    if (bitsLeft(br) < zeros) {
        readBits(br, zeros);
        br->overrun = 1;
        return H265D_UE_ERROR;
    }
    return ((1u << zeros) - 1u) + readBits(br, zeros);
}

int32_t readSe(H265D_BITREADER *br)
{
    uint32_t k = readUe(br);
    if (k == H265D_UE_ERROR)
        return H265D_SE_ERROR;
    if (k & 1)
        return (int32_t)((k >> 1) + 1);
    return -(int32_t)(k >> 1);
}

uint32_t moreRbspData(H265D_BITREADER *br)
{
    int64_t left = bitsLeft(br);
    if (left <= 0)
        return 0;
    /* The stop bit is the last 1 of the payload; trailing zero bytes do not
     * count (they are normally stripped before parsing). */
    int32_t last = br->length - 1;
    while (last >= 0 && br->data[last] == 0)
        last--;
    if (last < 0)
        return 0;
    uint8_t b = br->data[last];
    int tz = 0;
    while (!(b & (1u << tz)))
        tz++;
    int64_t stopPos = 8 * (int64_t)last + (7 - tz);
    int64_t pos = 8 * (int64_t)br->length - left;
    return pos < stopPos ? 1u : 0u;
}

static void emit(H265D_BITREADER *br, int64_t v, const char *fmt, va_list ap)
{
    char name[96];
    vsnprintf(name, sizeof name, fmt, ap);
    br->traceFxn(br->traceCtx, name, v);
}

/* Reports the value just read under its formatted name, when tracing. */
#define TRACE_READ(br, value, fmt)                                                                                     \
    do {                                                                                                               \
        if ((br)->traceFxn) {                                                                                          \
            va_list ap;                                                                                                \
            va_start(ap, fmt);                                                                                         \
            emit((br), (value), (fmt), ap);                                                                            \
            va_end(ap);                                                                                                \
        }                                                                                                              \
    } while (0)

void traceValue(H265D_BITREADER *br, int64_t value, const char *fmt, ...)
{
    TRACE_READ(br, value, fmt);
}

uint32_t readBitsT(H265D_BITREADER *br, int n, const char *fmt, ...)
{
    const uint32_t v = readBits(br, n);
    TRACE_READ(br, v, fmt);
    return v;
}

uint32_t readBitT(H265D_BITREADER *br, const char *fmt, ...)
{
    const uint32_t v = readBits(br, 1);
    TRACE_READ(br, v, fmt);
    return v;
}

uint32_t readUeT(H265D_BITREADER *br, const char *fmt, ...)
{
    const uint32_t v = readUe(br);
    if (v != H265D_UE_ERROR)
        TRACE_READ(br, v, fmt);
    return v;
}

int32_t readSeT(H265D_BITREADER *br, const char *fmt, ...)
{
    const int32_t v = readSe(br);
    if (v != H265D_SE_ERROR)
        TRACE_READ(br, v, fmt);
    return v;
}

} // namespace h265d
