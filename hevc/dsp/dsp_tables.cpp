#include "hevc/dsp/dsp_internal.h"

namespace h265d {

namespace dsp {

namespace {

// The 32-point matrix holds 33 distinct magnitudes: entry (k, n) is the value
// for the angle index m = (2n + 1) * k taken modulo the period, folded into
// 0..32 by the cosine's symmetries. kCosine[m] is the Recommendation's integer
// for index m (row 0 is all 64).
constexpr int8_t kCosine[33] = {
    64, 90, 90, 90, 89, 88, 87, 85, 83, 82, 80, 78, 75, 73, 70, 67, 64,
    61, 57, 54, 50, 46, 43, 38, 36, 31, 25, 22, 18, 13, 9,  4,  0,
};

constexpr TransformMatrix buildMatrix()
{
    TransformMatrix m{};
    for (int k = 0; k < 32; ++k) {
        for (int n = 0; n < 32; ++n) {
            if (k == 0) {
                m[k][n] = 64;
                continue;
            }
            int idx = ((2 * n + 1) * k) % 128;
            int sign = 1;
            if (idx > 64) {
                idx = 128 - idx;
            }
            if (idx > 32) {
                idx = 64 - idx;
                sign = -1;
            }
            m[k][n] = static_cast<int8_t>(sign * kCosine[idx]);
        }
    }
    return m;
}

} // namespace

const TransformMatrix kTransformMatrix = buildMatrix();

const int8_t kDstMatrix[4][4] = {
    {29, 55, 74, 84},
    {74, 74, 0, -74},
    {84, -29, -74, 55},
    {55, -84, 74, -29},
};

const int8_t kLumaTaps[4][8] = {
    {0, 0, 0, 64, 0, 0, 0, 0},
    {-1, 4, -10, 58, 17, -5, 1, 0},
    {-1, 4, -11, 40, 40, -11, 4, -1},
    {0, 1, -5, 17, 58, -10, 4, -1},
};

const int8_t kChromaTaps[8][4] = {
    {0, 64, 0, 0},    {-2, 58, 10, -2}, {-4, 54, 16, -2}, {-6, 46, 28, -4},
    {-4, 36, 36, -4}, {-4, 28, 46, -6}, {-2, 16, 54, -4}, {-2, 10, 58, -2},
};

const int8_t kIntraPredAngle[35] = {
    0,   0,   32,  26,  21,  17, 13, 9,  5, 2, 0, -2, -5, -9, -13, -17, -21, -26,
    -32, -26, -21, -17, -13, -9, -5, -2, 0, 2, 5, 9,  13, 17, 21,  26,  32,
};

const int16_t kIntraInvAngle[35] = {
    0,    0,    0,    0,    0,    0,    0,     0,     0, 0, 0, -4096, -1638, -910, -630, -482, -390, -315,
    -256, -315, -390, -482, -630, -910, -1638, -4096, 0, 0, 0, 0,     0,     0,    0,    0,    0,
};

const uint8_t kLevelScale[6] = {40, 45, 51, 57, 64, 72};

} // namespace dsp

} // namespace h265d
