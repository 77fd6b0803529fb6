/* The arithmetic decoder of the slice data and its context variables. */
#ifndef H265D_CABAC_H
#define H265D_CABAC_H

#include <stddef.h>
#include <stdint.h>

#include "bitreader.h"

namespace h265d {

#define H265D_CTX_COUNT 192
#define H265D_CTX_USED  183

/* Context table layout. */
enum {
    CTX_SAO_MERGE = 0,
    CTX_SAO_TYPE = 1,
    CTX_SPLIT_CU = 2,
    CTX_TRANSQUANT_BYPASS = 5,
    CTX_CU_SKIP = 6,
    CTX_CU_QP_DELTA = 9,
    CTX_PRED_MODE = 12,
    CTX_PART_MODE = 13,
    CTX_PREV_INTRA_LUMA = 17,
    CTX_INTRA_CHROMA = 18,
    CTX_MERGE_FLAG = 20,
    CTX_MERGE_IDX = 21,
    CTX_INTER_PRED_IDC = 22,
    CTX_REF_IDX = 27,
    CTX_MVD_GREATER0 = 31,
    CTX_MVD_GREATER1 = 34,
    CTX_MVP_FLAG = 35,
    CTX_RQT_ROOT_CBF = 36,
    CTX_SPLIT_TRANSFORM = 37,
    CTX_CBF_LUMA = 40,
    CTX_CBF_CHROMA = 42,
    CTX_TRANSFORM_SKIP = 46,
    CTX_LAST_X_PREFIX = 48,
    CTX_LAST_Y_PREFIX = 66,
    CTX_CODED_SUB_BLOCK = 84,
    CTX_SIG_COEFF = 88,
    CTX_GREATER1 = 130,
    CTX_GREATER2 = 154
};

typedef struct H265D_CABAC
{
    uint32_t low;   /* ivlOffset scaled by 2^17, 16 look-ahead bits below */
    uint32_t range; /* ivlCurrRange, 256..510 after renormalisation */
    const uint8_t *start;
    const uint8_t *cur;
    const uint8_t *end;
    /* Bytes "fetched" past end: served as zeros, counted so that positions
     * computed from the engine stay exact. */
    uint32_t over;
    int32_t firstQgInSlice;
    int32_t qpY;
    int32_t cuQpDeltaVal;
    int32_t isCuQpDeltaCoded;
    int32_t lumaIntraMode;
    uint8_t ctxState[H265D_CTX_COUNT];
} H265D_CABAC;

/* The engine's tables, laid out for its scaled representation: LPS ranges
 * twice per state (the state byte carries valMps), the renormalisation
 * shift that each LPS range needs, and transitions addressed by the state
 * (MPS) or its complement (LPS). Constant: computed by the compiler. */
struct CabacEngineTables
{
    uint8_t rangeLps[4 * 128];
    uint8_t lpsShift[4 * 128];
    uint8_t transition[256];
};
extern const CabacEngineTables cabacTables;
/* initValue per initType and context index. */
extern const uint8_t h265dCtxInitValues[3][H265D_CTX_USED];

/* Starts the engine at the byte after the slice header (reads the
 * alignment bits from br). end: first byte after the slice data. */
void cabacInitDecoder(H265D_BITREADER *br, H265D_CABAC *c, const uint8_t *payload, const uint8_t *end);
/* Starts the engine at p (nothing read from a bit reader). */
void cabacStartAt(H265D_CABAC *c, const uint8_t *p, const uint8_t *end);
/* initType 0 for I, 1/2 for P/B (swapped by cabac_init_flag); qp is SliceQpY. */
void cabacInitContextsFor(int initType, int sliceQpY, uint8_t *ctxState);
int cabacInitType(uint32_t sliceType, uint32_t cabacInitFlag);
/* Byte offset from start of the byte after the last terminate bin of 1. */
size_t cabacNextBytePos(const H265D_CABAC *c);
/* Restarts skip bytes after the terminated data; null (engine unchanged)
 * when fewer than skip bytes remain. */
const uint8_t *cabacReinitAtByte(H265D_CABAC *c, size_t skip);

/* The engine's steps over any state with the fields low, range, cur, end and
 * over: the instance's own, or a copy in a hot loop's registers (see
 * H265D_CABAC_LOCAL), which the byte stores of the context states cannot
 * force back to memory. */
template <class E>
inline uint32_t cabacByteT(const E &e, int k)
{
    return e.end - e.cur > k ? e.cur[k] : 0;
}

template <class E>
inline void cabacAdvance2T(E &e)
{
    const ptrdiff_t left = e.end - e.cur;
    if (left >= 2) {
        e.cur += 2;
    } else {
        e.cur += left;
        e.over += (uint32_t)(2 - left);
    }
}

template <class E>
inline void cabacRefillT(E &e)
{
    e.low += (cabacByteT(e, 0) << 9) + (cabacByteT(e, 1) << 1) - 0xFFFF;
    cabacAdvance2T(e);
}

/* Both steps below choose between the most and the least probable symbol
 * with a mask instead of a branch: the bins of residual data are close to
 * random, and a mispredicted branch per bin costs more than the few
 * instructions that compute both sides. lps is all ones when the offset lies
 * in the least probable symbol's interval (low >= scaled; both stay below
 * 2^27, so the difference's sign says it). */
template <class E>
inline int cabacDecodeDecisionT(E &e, uint8_t *state)
{
    const uint32_t s = *state;
    const uint32_t i = (e.range & 0xC0) * 2 + s;
    const uint32_t rLps = cabacTables.rangeLps[i];
    const uint32_t rMps = e.range - rLps;
    const uint32_t scaled = rMps << 17;
    uint32_t low = e.low;
    const uint32_t lps = (uint32_t)((int32_t)(scaled - 1 - low) >> 31);
    low -= scaled & lps;
    const uint32_t range = rMps ^ ((rMps ^ rLps) & lps);
    /* MPS: transition[128 + s]; LPS: transition[127 - s]. Both are read
     * as soon as the state is, and the decided symbol only chooses: a bin
     * that reuses the context waits for this store, and a lookup after the
     * decision would lengthen that wait. */
    const int bin = (int)((s ^ lps) & 1);
    const uint32_t nextMps = cabacTables.transition[128 + s];
    const uint32_t nextLps = cabacTables.transition[127 - s];
    *state = (uint8_t)(nextMps ^ ((nextMps ^ nextLps) & lps));
    /* The shift is known before the range is chosen, so no lookup of the
     * new range lies on the chain from one bin to the next: rMps is at
     * least 128, so an MPS shifts by one at most, and each LPS range's
     * shift comes from the table beside it. */
    const uint32_t mpsShift = (rMps >> 8) ^ 1;
    const uint32_t shift = mpsShift ^ ((mpsShift ^ cabacTables.lpsShift[i]) & lps);
    e.range = range << shift;
    low <<= shift;
    if (!(low & 0xFFFF)) {
        const int k = __builtin_ctz(low) - 16;
        const uint32_t x = (cabacByteT(e, 0) << 9) + (cabacByteT(e, 1) << 1) - 0xFFFF;
        low += x << k;
        cabacAdvance2T(e);
    }
    e.low = low;
    return bin;
}

template <class E>
inline int cabacDecodeBypassT(E &e)
{
    e.low <<= 1;
    if (!(e.low & 0xFFFF))
        cabacRefillT(e);
    const uint32_t scaled = e.range << 17;
    const uint32_t one = (uint32_t)((int32_t)(scaled - 1 - e.low) >> 31);
    e.low -= scaled & one;
    return (int)(one & 1);
}

template <class E>
inline uint32_t cabacDecodeBypassBitsT(E &e, int n)
{
    uint32_t v = 0;
    for (int i = 0; i < n; i++)
        v = (v << 1) | (uint32_t)cabacDecodeBypassT(e);
    return v;
}

/* A copy of the engine for one hot function, written back when it goes out
 * of scope; the instance's engine must not be used meanwhile. */
struct H265D_CABAC_LOCAL
{
    H265D_CABAC *owner;
    uint32_t low, range;
    const uint8_t *cur, *end;
    uint32_t over;
    explicit H265D_CABAC_LOCAL(H265D_CABAC *c)
        : owner(c), low(c->low), range(c->range), cur(c->cur), end(c->end), over(c->over)
    {}
    ~H265D_CABAC_LOCAL()
    {
        owner->low = low;
        owner->range = range;
        owner->cur = cur;
        owner->over = over;
    }
    H265D_CABAC_LOCAL(const H265D_CABAC_LOCAL &) = delete;
    H265D_CABAC_LOCAL &operator=(const H265D_CABAC_LOCAL &) = delete;
};

static inline uint32_t cabacByte(const H265D_CABAC *c, int k)
{
    return cabacByteT(*c, k);
}

static inline void cabacRefill(H265D_CABAC *c)
{
    cabacRefillT(*c);
}

static inline int cabacDecodeDecision(H265D_CABAC *c, uint8_t *state)
{
    return cabacDecodeDecisionT(*c, state);
}

static inline int cabacDecodeBypass(H265D_CABAC *c)
{
    return cabacDecodeBypassT(*c);
}

static inline uint32_t cabacDecodeBypassBits(H265D_CABAC *c, int n)
{
    return cabacDecodeBypassBitsT(*c, n);
}

static inline int cabacDecodeTerminate(H265D_CABAC *c)
{
    c->range -= 2;
    if (c->low >= c->range << 17)
        return 1;
    if (c->range < 256) {
        c->range <<= 1;
        c->low <<= 1;
        if (!(c->low & 0xFFFF))
            cabacRefill(c);
    }
    return 0;
}

} // namespace h265d

#endif
