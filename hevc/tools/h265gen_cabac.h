/* Bit writer and arithmetic encoder of the stream writer h265gen. Written
 * from the Recommendation's tables on its own, so that a fault here and a
 * fault in the decoder's engine do not hide each other: FFmpeg decodes what
 * this writes. */
#ifndef H265GEN_CABAC_H
#define H265GEN_CABAC_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace h265gen {

/* MSB-first bits into bytes. */
class BitWriter
{
public:
    void bit(int b)
    {
        if (bits_ % 8 == 0)
            bytes_.push_back(0);
        if (b)
            bytes_.back() |= (uint8_t)(0x80 >> (bits_ % 8));
        bits_++;
    }
    void bits(uint32_t v, int n)
    {
        for (int i = n - 1; i >= 0; i--)
            bit((v >> i) & 1);
    }
    void ue(uint32_t v)
    {
        const uint64_t x = (uint64_t)v + 1;
        int len = 0;
        while ((x >> len) > 1)
            len++;
        bits(0, len);
        for (int i = len; i >= 0; i--)
            bit((int)((x >> i) & 1));
    }
    void se(int32_t v) { ue(v > 0 ? (uint32_t)(2 * v - 1) : (uint32_t)(-2 * (int64_t)v)); }
    void alignZero()
    {
        while (bits_ % 8)
            bit(0);
    }
    /* rbsp_trailing_bits and byte_alignment() alike: a one, then zeros. */
    void trailing()
    {
        bit(1);
        alignZero();
    }
    size_t bitCount() const { return bits_; }
    const std::vector<uint8_t> &bytes() const { return bytes_; }
    std::vector<uint8_t> &bytes() { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    size_t bits_ = 0;
};

/* rangeTabLps[pStateIdx][qRangeIdx] */
static const uint8_t kRangeTabLps[64][4] = {
    {128, 176, 208, 240}, {128, 167, 197, 227}, {128, 158, 187, 216}, {123, 150, 178, 205}, {116, 142, 169, 195},
    {111, 135, 160, 185}, {105, 128, 152, 175}, {100, 122, 144, 166}, {95, 116, 137, 158},  {90, 110, 130, 150},
    {85, 104, 123, 142},  {81, 99, 117, 135},   {77, 94, 111, 128},   {73, 89, 105, 122},   {69, 85, 100, 116},
    {66, 80, 95, 110},    {62, 76, 90, 104},    {59, 72, 86, 99},     {56, 69, 81, 94},     {53, 65, 77, 89},
    {51, 62, 73, 85},     {48, 59, 69, 80},     {46, 56, 66, 76},     {43, 53, 63, 72},     {41, 50, 59, 69},
    {39, 48, 56, 65},     {37, 45, 54, 62},     {35, 43, 51, 59},     {33, 41, 48, 56},     {32, 39, 46, 53},
    {30, 37, 43, 50},     {29, 35, 41, 48},     {27, 33, 39, 45},     {26, 31, 37, 43},     {24, 30, 35, 41},
    {23, 28, 33, 39},     {22, 27, 32, 37},     {21, 26, 30, 35},     {20, 24, 29, 33},     {19, 23, 27, 31},
    {18, 22, 26, 30},     {17, 21, 25, 28},     {16, 20, 23, 27},     {15, 19, 22, 25},     {14, 18, 21, 24},
    {14, 17, 20, 23},     {13, 16, 19, 22},     {12, 15, 18, 21},     {12, 14, 17, 20},     {11, 14, 16, 19},
    {11, 13, 15, 18},     {10, 12, 15, 17},     {10, 12, 14, 16},     {9, 11, 13, 15},      {9, 11, 12, 14},
    {8, 10, 12, 14},      {8, 9, 11, 13},       {7, 9, 11, 12},       {7, 9, 10, 12},       {7, 8, 10, 11},
    {6, 8, 9, 11},        {6, 7, 9, 10},        {6, 7, 8, 9},         {2, 2, 2, 2},
};

static const uint8_t kTransIdxLps[64] = {
    0,  0,  1,  2,  2,  4,  4,  5,  6,  7,  8,  9,  9,  11, 11, 12, 13, 13, 15, 15, 16, 16,
    18, 18, 19, 19, 21, 21, 22, 22, 23, 24, 24, 25, 26, 26, 27, 27, 28, 29, 29, 30, 30, 30,
    31, 32, 32, 33, 33, 33, 34, 34, 35, 35, 35, 36, 36, 36, 37, 37, 37, 38, 38, 63,
};

struct Ctx
{
    uint8_t pStateIdx = 0;
    uint8_t valMps = 0;
};

/* Context state from an initValue at SliceQpY. */
inline Ctx initContext(int initValue, int qp)
{
    qp = qp < 0 ? 0 : (qp > 51 ? 51 : qp);
    const int m = (initValue >> 4) * 5 - 45;
    const int n = ((initValue & 15) << 3) - 16;
    int pre = ((m * qp) >> 4) + n;
    pre = pre < 1 ? 1 : (pre > 126 ? 126 : pre);
    Ctx c;
    c.valMps = pre <= 63 ? 0 : 1;
    c.pStateIdx = (uint8_t)(c.valMps ? pre - 64 : 63 - pre);
    return c;
}

/* The arithmetic encoder (EncodeDecision, EncodeBypass, EncodeTerminate,
 * EncodeFlush with PutBit and the outstanding bits) writing into a
 * BitWriter, which may carry other bits (PCM samples) between codewords. */
class CabacEncoder
{
public:
    explicit CabacEncoder(BitWriter &out) : out_(out) {}

    /* A new codeword from here on (slice, substream start, after PCM). */
    void start()
    {
        low_ = 0;
        range_ = 510;
        first_ = true;
        outstanding_ = 0;
    }
    void decision(Ctx &c, int bin)
    {
        const uint32_t lps = kRangeTabLps[c.pStateIdx][(range_ >> 6) & 3];
        range_ -= lps;
        if (bin != c.valMps) {
            low_ += range_;
            range_ = lps;
            if (c.pStateIdx == 0)
                c.valMps = (uint8_t)(1 - c.valMps);
            c.pStateIdx = kTransIdxLps[c.pStateIdx];
        } else if (c.pStateIdx < 62) {
            c.pStateIdx++;
        }
        renorm();
        bins_++;
    }
    void bypass(int bin)
    {
        low_ <<= 1;
        if (bin)
            low_ += range_;
        if (low_ >= 1024) {
            putBit(1);
            low_ -= 1024;
        } else if (low_ < 512) {
            putBit(0);
        } else {
            low_ -= 512;
            outstanding_++;
        }
        bins_++;
    }
    void bypassBits(uint32_t v, int n)
    {
        for (int i = n - 1; i >= 0; i--)
            bypass((v >> i) & 1);
    }
    /* A terminating bin; 1 ends the codeword (EncodeFlush, whose last bit
     * is the stop or alignment one) and pads with zeros to the byte. */
    void terminateBin(int bin)
    {
        range_ -= 2;
        if (bin) {
            low_ += range_;
            range_ = 2;
            renorm();
            putBit((low_ >> 9) & 1);
            out_.bits(((low_ >> 7) & 3) | 1, 2);
            out_.alignZero();
        } else {
            renorm();
        }
        bins_++;
    }
    uint64_t bins() const { return bins_; }

private:
    void renorm()
    {
        while (range_ < 256) {
            if (low_ < 256) {
                putBit(0);
            } else if (low_ >= 512) {
                low_ -= 512;
                putBit(1);
            } else {
                low_ -= 256;
                outstanding_++;
            }
            range_ <<= 1;
            low_ <<= 1;
        }
    }
    void putBit(int b)
    {
        if (first_)
            first_ = false;
        else
            out_.bit(b);
        for (; outstanding_ > 0; outstanding_--)
            out_.bit(1 - b);
    }

    BitWriter &out_;
    uint32_t low_ = 0, range_ = 510;
    bool first_ = true;
    int outstanding_ = 0;
    uint64_t bins_ = 0;
};

/* The writer's own context layout: only the syntax elements it writes. */
enum CtxIdx {
    C_SAO_MERGE = 0,
    C_SAO_TYPE = 1,
    C_SPLIT_CU = 2, /* 3 */
    C_CU_SKIP = 5,  /* 3 */
    C_PRED_MODE = 8,
    C_PART_MODE = 9, /* 4 */
    C_PREV_INTRA = 13,
    C_CHROMA_MODE = 14,
    C_MERGE_FLAG = 15,
    C_MERGE_IDX = 16,
    C_INTER_PRED = 17, /* 5 */
    C_REF_IDX = 22,    /* 2 */
    C_MVD_G0 = 24,
    C_MVD_G1 = 25,
    C_MVP_FLAG = 26,
    C_RQT_ROOT_CBF = 27,
    C_SPLIT_TF = 28,    /* 3 */
    C_CBF_LUMA = 31,    /* 2 */
    C_CBF_CHROMA = 33,  /* 4 */
    C_CU_QP_DELTA = 37, /* 2 */
    C_LAST_X = 39,      /* 18 */
    C_LAST_Y = 57,      /* 18 */
    C_GT1 = 75,         /* 24 */
    C_GT2 = 99,         /* 6 */
    C_COUNT = 105
};

/* initValue per initType in that layout (the Recommendation's tables for
 * each syntax element, initType 0 for I, 1 and 2 for P and B). */
static const uint8_t kInitValues[3][C_COUNT] = {
    {
        153, 200, 139, 141, 157, 154, 154, 154, 154, 184, 154, 154, 154, 184, 63,  154, 154, 154, 154, 154, 154,
        154, 154, 154, 154, 154, 154, 154, 153, 138, 138, 111, 141, 94,  138, 182, 154, 154, 154, 110, 110, 124,
        125, 140, 153, 125, 127, 140, 109, 111, 143, 127, 111, 79,  108, 123, 63,  110, 110, 124, 125, 140, 153,
        125, 127, 140, 109, 111, 143, 127, 111, 79,  108, 123, 63,  140, 92,  137, 138, 140, 152, 138, 139, 153,
        74,  149, 92,  139, 107, 122, 152, 140, 179, 166, 182, 140, 227, 122, 197, 138, 153, 136, 167, 152, 152,
    },
    {
        153, 185, 107, 139, 126, 197, 185, 201, 149, 154, 139, 154, 154, 154, 152, 110, 122, 95,  79,  63,  31,
        31,  153, 153, 140, 198, 168, 79,  124, 138, 94,  153, 111, 149, 107, 167, 154, 154, 154, 125, 110, 94,
        110, 95,  79,  125, 111, 110, 78,  110, 111, 111, 95,  94,  108, 123, 108, 125, 110, 94,  110, 95,  79,
        125, 111, 110, 78,  110, 111, 111, 95,  94,  108, 123, 108, 154, 196, 196, 167, 154, 152, 167, 182, 182,
        134, 149, 136, 153, 121, 136, 137, 169, 194, 166, 167, 154, 167, 137, 182, 107, 167, 91,  122, 107, 167,
    },
    {
        153, 160, 107, 139, 126, 197, 185, 201, 134, 154, 139, 154, 154, 183, 152, 154, 137, 95,  79,  63,  31,
        31,  153, 153, 169, 198, 168, 79,  224, 167, 122, 153, 111, 149, 92,  167, 154, 154, 154, 125, 110, 124,
        110, 95,  94,  125, 111, 111, 79,  125, 126, 111, 111, 79,  108, 123, 93,  125, 110, 124, 110, 95,  94,
        125, 111, 111, 79,  125, 126, 111, 111, 79,  108, 123, 93,  154, 196, 167, 167, 154, 152, 167, 182, 182,
        134, 149, 136, 153, 121, 136, 122, 169, 208, 166, 167, 154, 152, 167, 182, 107, 167, 91,  107, 107, 167,
    },
};

struct Contexts
{
    Ctx c[C_COUNT];
    void init(int initType, int qp)
    {
        for (int i = 0; i < C_COUNT; i++)
            c[i] = initContext(kInitValues[initType][i], qp);
    }
    Ctx &operator[](int i) { return c[i]; }
};

} // namespace h265gen

#endif
