/* Tables, start-up and re-initialisation of the arithmetic decoder. */
#include "cabac.h"

#include <string.h>

namespace h265d {

/* rangeTabLps[pStateIdx][qRangeIdx]. */
static constexpr uint8_t kRangeLps[64][4] = {
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

static constexpr uint8_t kTransIdxLps[64] = {
    0,  0,  1,  2,  2,  4,  4,  5,  6,  7,  8,  9,  9,  11, 11, 12, 13, 13, 15, 15, 16, 16,
    18, 18, 19, 19, 21, 21, 22, 22, 23, 24, 24, 25, 26, 26, 27, 27, 28, 29, 29, 30, 30, 30,
    31, 32, 32, 33, 33, 33, 34, 34, 35, 35, 35, 36, 36, 36, 37, 37, 37, 38, 38, 63,
};

static constexpr CabacEngineTables makeEngineTables()
{
    CabacEngineTables t = {};
    for (int q = 0; q < 4; q++)
        for (int s = 0; s < 128; s++) {
            const int r = kRangeLps[s >> 1][q];
            int n = 0;
            while ((r << n) < 256)
                n++;
            t.rangeLps[q * 128 + s] = (uint8_t)r;
            t.lpsShift[q * 128 + s] = (uint8_t)n;
        }
    for (int s = 0; s < 128; s++) {
        const int p = s >> 1, m = s & 1;
        const int mpsNext = p < 62 ? p + 1 : p;
        t.transition[128 + s] = (uint8_t)(mpsNext * 2 + m);
        t.transition[127 - s] = (uint8_t)(kTransIdxLps[p] * 2 + (p == 0 ? 1 - m : m));
    }
    return t;
}
/* Made at compile time: no static initialiser runs, nothing is mutable. */
static constexpr CabacEngineTables kEngineTables = makeEngineTables();
const CabacEngineTables cabacTables = kEngineTables;

/* initValue per initType (rows) in the context table's layout; 160..182 are never read. */
const uint8_t h265dCtxInitValues[3][H265D_CTX_USED] = {
    {
        153, 200, 139, 141, 157, 154, 154, 154, 154, 154, 154, 154, 154, 184, 154, 154, 154, 184, 63,  154, 154,
        154, 154, 154, 154, 154, 154, 154, 154, 154, 154, 154, 154, 154, 154, 154, 154, 153, 138, 138, 111, 141,
        94,  138, 182, 154, 139, 139, 110, 110, 124, 125, 140, 153, 125, 127, 140, 109, 111, 143, 127, 111, 79,
        108, 123, 63,  110, 110, 124, 125, 140, 153, 125, 127, 140, 109, 111, 143, 127, 111, 79,  108, 123, 63,
        91,  171, 134, 141, 111, 111, 125, 110, 110, 94,  124, 108, 124, 107, 125, 141, 179, 153, 125, 107, 125,
        141, 179, 153, 125, 107, 125, 141, 179, 153, 125, 140, 139, 182, 182, 152, 136, 152, 136, 153, 136, 139,
        111, 136, 139, 111, 140, 92,  137, 138, 140, 152, 138, 139, 153, 74,  149, 92,  139, 107, 122, 152, 140,
        179, 166, 182, 140, 227, 122, 197, 138, 153, 136, 167, 152, 152, 0,   0,   0,   0,   0,   0,   0,   0,
        0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,
    },
    {
        153, 185, 107, 139, 126, 154, 197, 185, 201, 154, 154, 154, 149, 154, 139, 154, 154, 154, 152, 154, 110,
        122, 95,  79,  63,  31,  31,  153, 153, 154, 154, 140, 154, 154, 198, 168, 79,  124, 138, 94,  153, 111,
        149, 107, 167, 154, 139, 139, 125, 110, 94,  110, 95,  79,  125, 111, 110, 78,  110, 111, 111, 95,  94,
        108, 123, 108, 125, 110, 94,  110, 95,  79,  125, 111, 110, 78,  110, 111, 111, 95,  94,  108, 123, 108,
        121, 140, 61,  154, 155, 154, 139, 153, 139, 123, 123, 63,  153, 166, 183, 140, 136, 153, 154, 166, 183,
        140, 136, 153, 154, 166, 183, 140, 136, 153, 154, 170, 153, 123, 123, 107, 121, 107, 121, 167, 151, 183,
        140, 151, 183, 140, 154, 196, 196, 167, 154, 152, 167, 182, 182, 134, 149, 136, 153, 121, 136, 137, 169,
        194, 166, 167, 154, 167, 137, 182, 107, 167, 91,  122, 107, 167, 0,   0,   0,   0,   0,   0,   0,   0,
        0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,
    },
    {
        153, 160, 107, 139, 126, 154, 197, 185, 201, 154, 154, 154, 134, 154, 139, 154, 154, 183, 152, 154, 154,
        137, 95,  79,  63,  31,  31,  153, 153, 154, 154, 169, 154, 154, 198, 168, 79,  224, 167, 122, 153, 111,
        149, 92,  167, 154, 139, 139, 125, 110, 124, 110, 95,  94,  125, 111, 111, 79,  125, 126, 111, 111, 79,
        108, 123, 93,  125, 110, 124, 110, 95,  94,  125, 111, 111, 79,  125, 126, 111, 111, 79,  108, 123, 93,
        121, 140, 61,  154, 170, 154, 139, 153, 139, 123, 123, 63,  124, 166, 183, 140, 136, 153, 154, 166, 183,
        140, 136, 153, 154, 166, 183, 140, 136, 153, 154, 170, 153, 138, 138, 122, 121, 122, 121, 167, 151, 183,
        140, 151, 183, 140, 154, 196, 167, 167, 154, 152, 167, 182, 182, 134, 149, 136, 153, 121, 136, 122, 169,
        208, 166, 167, 154, 152, 167, 182, 107, 167, 91,  107, 107, 167, 0,   0,   0,   0,   0,   0,   0,   0,
        0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,
    },
};

int cabacInitType(uint32_t sliceType, uint32_t cabacInitFlag)
{
    if (sliceType == 2)
        return 0;
    if (sliceType == 1)
        return cabacInitFlag ? 2 : 1;
    return cabacInitFlag ? 1 : 2;
}

void cabacInitContextsFor(int initType, int sliceQpY, uint8_t *ctxState)
{
    const int qp = sliceQpY < 0 ? 0 : (sliceQpY > 51 ? 51 : sliceQpY);
    const uint8_t *v = h265dCtxInitValues[initType];
    for (int i = 0; i < H265D_CTX_USED; i++) {
        const int slope = (v[i] >> 4) * 5 - 45;
        const int offset = ((v[i] & 15) << 3) - 16;
        int pre = ((slope * qp) >> 4) + offset;
        pre = pre < 1 ? 1 : (pre > 126 ? 126 : pre);
        /* pStateIdx * 2 + valMps */
        ctxState[i] = (uint8_t)(pre <= 63 ? (63 - pre) * 2 : (pre - 64) * 2 + 1);
    }
    memset(ctxState + H265D_CTX_USED, 0, H265D_CTX_COUNT - H265D_CTX_USED);
}

void cabacStartAt(H265D_CABAC *c, const uint8_t *p, const uint8_t *end)
{
    c->start = p;
    c->cur = p;
    c->end = end;
    c->over = 0;
    const uint32_t b0 = cabacByte(c, 0), b1 = cabacByte(c, 1), b2 = cabacByte(c, 2);
    c->low = (b0 << 18) + (b1 << 10) + (b2 << 2) + 2;
    c->range = 510;
    const ptrdiff_t left = end - p;
    if (left >= 3) {
        c->cur = p + 3;
    } else {
        c->cur = end;
        c->over = (uint32_t)(3 - left);
    }
}

void cabacInitDecoder(H265D_BITREADER *br, H265D_CABAC *c, const uint8_t *payload, const uint8_t *end)
{
    /* alignment_bit_equal_to_one and the zero bits up to the boundary */
    readBit(br);
    while (!byteAligned(br) && !br->overrun)
        readBit(br);
    const uint8_t *p = payload + br->bitsRead / 8;
    cabacStartAt(c, p > end ? end : p, end);
}

size_t cabacNextBytePos(const H265D_CABAC *c)
{
    size_t pos = (size_t)(c->cur - c->start) + c->over;
    if (c->low & 1)
        pos--;
    if (c->low & 0x1FF)
        pos--;
    return pos;
}

const uint8_t *cabacReinitAtByte(H265D_CABAC *c, size_t skip)
{
    const size_t pos = cabacNextBytePos(c);
    const size_t size = (size_t)(c->end - c->start);
    if (pos > size || size - pos < skip)
        return nullptr;
    const uint8_t *p = c->start + pos;
    cabacStartAt(c, p + skip, c->end);
    return p;
}

} // namespace h265d
