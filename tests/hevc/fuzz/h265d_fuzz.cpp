/* Fuzz target over the decoder's Decode call. The first byte picks the
 * thread type, the output order and the chunking seed; the rest is the
 * stream, fed in seeded chunks the way a careful caller feeds it and then
 * drained with end-of-stream calls. Nothing is kept between runs.
 *
 * A decoder that stops making progress (errors without taking bytes or
 * working off buffered units, or an end-of-stream drain that never ends) is
 * a hang for every real caller, so it aborts here and counts as a finding. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "hevc/h265d.h"

namespace {

void *fuzzMalloc(uint32_t, size_t n)
{
    return malloc(n);
}

void fuzzFree(uint32_t, void *p)
{
    free(p);
}

void fuzzLog(uint32_t, int32_t, const char *, ...) {}

/* Calls in a row that neither take bytes nor return a picture before the
 * run counts as a hang. Such a call may still work off one buffered unit
 * (each at least four bytes with its start code), so the bound grows with
 * the input. */
size_t stallLimit(size_t size)
{
    return 64 + size / 4;
}

void stalled()
{
    abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t control = data[0];
    data++;
    size--;

    H265D_INIT_PARAM p = {};
    p.iMaxWidth = 512;
    p.iMaxHeight = 512;
    p.iMaxRefNum = 4;
    p.eThreadType = control & 1;
    p.eOutputOrder = (control >> 1) & 1 ? IH265D_DISPLAY_ORDER : IH265D_DECODE_ORDER;
    p.MallocFxn = fuzzMalloc;
    p.FreeFxn = fuzzFree;
    p.LogFxn = fuzzLog;
    void *h = nullptr;
    if (H265D_Create(&h, &p) != H265D_OK)
        abort(); /* valid parameters: creation must work */

    /* Chunk sizes from a small generator seeded by the control byte: from
     * single bytes to a few kilobytes, so units and start codes split at
     * every place. */
    uint32_t rng = 0x9E3779B9u ^ (uint32_t)(control >> 2);
    size_t pos = 0;
    while (pos < size) {
        rng = rng * 1664525u + 1013904223u;
        size_t len = (rng >> 8) % ((rng >> 28) < 4 ? 16 : 4096) + 1;
        if (len > size - pos)
            len = size - pos;
        size_t used = 0;
        size_t stall = 0;
        while (used < len) {
            H265D_INARGS in = {};
            H265D_OUTARGS out = {};
            in.pStream = data + pos + used;
            in.uiStreamLen = (uint32_t)(len - used);
            in.uiTimeStamp = pos;
            in.eDecodeMode = IH265D_DECODE_NORMAL;
            const int32_t r = H265D_Decode(h, &in, &out);
            if (out.uiBytesUsed > len - used)
                abort(); /* more taken than given */
            used += out.uiBytesUsed;
            if (r == H265D_NEED_MORE_DATA)
                break;
            const bool progress = out.uiBytesUsed > 0 || (r == H265D_OK && out.eDecodeStatus == IH265D_STATUS_PICTURE);
            stall = progress ? 0 : stall + 1;
            if (stall > stallLimit(size))
                stalled();
        }
        pos += len;
    }
    size_t stall = 0;
    for (size_t calls = 0;; calls++) {
        H265D_INARGS in = {};
        H265D_OUTARGS out = {};
        in.eDecodeMode = IH265D_DECODE_END;
        const int32_t r = H265D_Decode(h, &in, &out);
        if (r == H265D_OK && out.eDecodeStatus == IH265D_STATUS_END)
            break;
        stall = r == H265D_OK && out.eDecodeStatus == IH265D_STATUS_PICTURE ? 0 : stall + 1;
        if (stall > stallLimit(size) || calls > 2 * stallLimit(size))
            stalled();
    }
    if (H265D_Delete(h) != H265D_OK)
        abort();
    return 0;
}
