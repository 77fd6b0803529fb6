#include "kernel_reference.h"

#include <algorithm>
#include <cstdlib>

namespace ref {

const int kMatrix4[4][4] = {
    {64, 64, 64, 64},
    {83, 36, -36, -83},
    {64, -64, -64, 64},
    {36, -83, 83, -36},
};

const int kMatrix8[8][8] = {
    {64, 64, 64, 64, 64, 64, 64, 64},     {89, 75, 50, 18, -18, -50, -75, -89}, {83, 36, -36, -83, -83, -36, 36, 83},
    {75, -18, -89, -50, 50, 89, 18, -75}, {64, -64, -64, 64, 64, -64, -64, 64}, {50, -89, 18, 75, -75, -18, 89, -50},
    {36, -83, 83, -36, -36, 83, -83, 36}, {18, -50, 75, -89, 89, -75, 50, -18},
};

const int kDst4[4][4] = {
    {29, 55, 74, 84},
    {74, 74, 0, -74},
    {84, -29, -74, 55},
    {55, -84, 74, -29},
};

const int kLumaFilter[4][8] = {
    {0, 0, 0, 64, 0, 0, 0, 0},
    {-1, 4, -10, 58, 17, -5, 1, 0},
    {-1, 4, -11, 40, 40, -11, 4, -1},
    {0, 1, -5, 17, 58, -10, 4, -1},
};

const int kChromaFilter[8][4] = {
    {0, 64, 0, 0},    {-2, 58, 10, -2}, {-4, 54, 16, -2}, {-6, 46, 28, -4},
    {-4, 36, 36, -4}, {-4, 28, 46, -6}, {-2, 16, 54, -4}, {-2, 10, 58, -2},
};

const int kIntraPredAngle[35] = {0,   0,   32,  26,  21,  17, 13, 9,  5, 2, 0, -2, -5, -9, -13, -17, -21, -26,
                                 -32, -26, -21, -17, -13, -9, -5, -2, 0, 2, 5, 9,  13, 17, 21,  26,  32};

const int kInvAngle[35] = {0,     0,     0,    0,    0,    0,    0,    0,    0,    0,    0,    -4096,
                           -1638, -910,  -630, -482, -390, -315, -256, -315, -390, -482, -630, -910,
                           -1638, -4096, 0,    0,    0,    0,    0,    0,    0,    0,    0};

const int kLevelScale[6] = {40, 45, 51, 57, 64, 72};

int clip255(int64_t v)
{
    return v < 0 ? 0 : (v > 255 ? 255 : int(v));
}

int16_t clip16(int64_t v)
{
    return int16_t(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
}

int16_t scaleCoefficient(int level, int m, int qP, int log2N)
{
    const int bdShift = 8 + log2N - 5;
    const int64_t v =
        (int64_t(level) * m * kLevelScale[qP % 6] * (int64_t(1) << (qP / 6)) + (int64_t(1) << (bdShift - 1))) >>
        bdShift;
    return clip16(v);
}

void inverseTransformAdd(int n, const int16_t *coeffs, uint8_t *pred, const int *matrix)
{
    // First stage: every column; intermediate clipped to 16 bits.
    std::vector<int64_t> g(n * n);
    for (int x = 0; x < n; ++x)
        for (int y = 0; y < n; ++y) {
            int64_t e = 0;
            for (int j = 0; j < n; ++j)
                e += int64_t(matrix[j * n + y]) * coeffs[j * n + x];
            g[y * n + x] = clip16((e + 64) >> 7);
        }
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            int64_t r = 0;
            for (int j = 0; j < n; ++j)
                r += int64_t(matrix[j * n + x]) * g[y * n + j];
            const int64_t res = (r + (1 << 11)) >> 12;
            pred[y * n + x] = uint8_t(clip255(pred[y * n + x] + res));
        }
}

void intraPredict(const IntraRefs &r, int mode, int cIdx, std::vector<int> &out)
{
    const int n = r.n;
    int log2 = 0;
    while ((1 << log2) < n)
        ++log2;
    out.assign(n * n, 0);
    auto at = [&](int x, int y) -> int & { return out[y * n + x]; };
    if (mode == 0) {
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x)
                at(x, y) = ((n - 1 - x) * r.p(-1, y) + (x + 1) * r.p(n, -1) + (n - 1 - y) * r.p(x, -1) +
                            (y + 1) * r.p(-1, n) + n) >>
                           (log2 + 1);
        return;
    }
    if (mode == 1) {
        int sum = 0;
        for (int i = 0; i < n; ++i)
            sum += r.p(i, -1) + r.p(-1, i);
        const int dc = (sum + n) >> (log2 + 1);
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x)
                at(x, y) = dc;
        if (cIdx == 0 && n < 32) {
            at(0, 0) = (r.p(-1, 0) + 2 * dc + r.p(0, -1) + 2) >> 2;
            for (int x = 1; x < n; ++x)
                at(x, 0) = (r.p(x, -1) + 3 * dc + 2) >> 2;
            for (int y = 1; y < n; ++y)
                at(0, y) = (r.p(-1, y) + 3 * dc + 2) >> 2;
        }
        return;
    }
    const int angle = kIntraPredAngle[mode];
    std::vector<int> refBuf(3 * n + 2, -1000000);
    int *refArr = refBuf.data() + n; // ref[-n .. 2n]
    if (mode >= 18) {
        for (int x = 0; x <= n; ++x)
            refArr[x] = r.p(-1 + x, -1);
        if (angle < 0) {
            if (((n * angle) >> 5) < -1)
                for (int x = (n * angle) >> 5; x <= -1; ++x)
                    refArr[x] = r.p(-1, -1 + ((x * kInvAngle[mode] + 128) >> 8));
        } else {
            for (int x = n + 1; x <= 2 * n; ++x)
                refArr[x] = r.p(-1 + x, -1);
        }
        for (int y = 0; y < n; ++y) {
            const int iIdx = ((y + 1) * angle) >> 5;
            const int iFact = ((y + 1) * angle) & 31;
            for (int x = 0; x < n; ++x)
                at(x, y) = iFact ? ((32 - iFact) * refArr[x + iIdx + 1] + iFact * refArr[x + iIdx + 2] + 16) >> 5
                                 : refArr[x + iIdx + 1];
        }
        if (mode == 26 && cIdx == 0 && n < 32)
            for (int y = 0; y < n; ++y)
                at(0, y) = clip255(r.p(0, -1) + ((r.p(-1, y) - r.p(-1, -1)) >> 1));
    } else {
        for (int x = 0; x <= n; ++x)
            refArr[x] = r.p(-1, -1 + x);
        if (angle < 0) {
            if (((n * angle) >> 5) < -1)
                for (int x = (n * angle) >> 5; x <= -1; ++x)
                    refArr[x] = r.p(-1 + ((x * kInvAngle[mode] + 128) >> 8), -1);
        } else {
            for (int x = n + 1; x <= 2 * n; ++x)
                refArr[x] = r.p(-1, -1 + x);
        }
        for (int x = 0; x < n; ++x) {
            const int iIdx = ((x + 1) * angle) >> 5;
            const int iFact = ((x + 1) * angle) & 31;
            for (int y = 0; y < n; ++y)
                at(x, y) = iFact ? ((32 - iFact) * refArr[y + iIdx + 1] + iFact * refArr[y + iIdx + 2] + 16) >> 5
                                 : refArr[y + iIdx + 1];
        }
        if (mode == 10 && cIdx == 0 && n < 32)
            for (int x = 0; x < n; ++x)
                at(x, 0) = clip255(r.p(-1, 0) + ((r.p(x, -1) - r.p(-1, -1)) >> 1));
    }
}

IntraRefs filterReferences(const IntraRefs &r, int mode, bool strongEnabled)
{
    const int n = r.n;
    if (mode == 1 || n == 4)
        return r;
    const int minDist = std::min(std::abs(mode - 26), std::abs(mode - 10));
    const int thres = n == 8 ? 7 : (n == 16 ? 1 : 0);
    if (minDist <= thres)
        return r;
    IntraRefs f = r;
    const int corner = r.p(-1, -1);
    const bool biInt = strongEnabled && n == 32 &&
                       std::abs(corner + r.p(2 * n - 1, -1) - 2 * r.p(n - 1, -1)) < (1 << 3) &&
                       std::abs(corner + r.p(-1, 2 * n - 1) - 2 * r.p(-1, n - 1)) < (1 << 3);
    if (biInt) {
        for (int y = 0; y <= 62; ++y)
            f.left[y + 1] = ((63 - y) * corner + (y + 1) * r.p(-1, 63) + 32) >> 6;
        for (int x = 0; x <= 62; ++x)
            f.top[x + 1] = ((63 - x) * corner + (x + 1) * r.p(63, -1) + 32) >> 6;
        return f;
    }
    const int c = (r.p(-1, 0) + 2 * corner + r.p(0, -1) + 2) >> 2;
    f.left[0] = c;
    f.top[0] = c;
    for (int y = 0; y <= 2 * n - 2; ++y)
        f.left[y + 1] = (r.p(-1, y + 1) + 2 * r.p(-1, y) + r.p(-1, y - 1) + 2) >> 2;
    for (int x = 0; x <= 2 * n - 2; ++x)
        f.top[x + 1] = (r.p(x - 1, -1) + 2 * r.p(x, -1) + r.p(x + 1, -1) + 2) >> 2;
    return f;
}

void interpolate(int taps, const uint8_t *src, int srcStride, int w, int h, int xFrac, int yFrac, std::vector<int> &out)
{
    const int shift1 = 0, shift2 = 6, shift3 = 6;
    const int before = taps == 8 ? 3 : 1;
    auto fx = [&](int i) { return taps == 8 ? kLumaFilter[xFrac][i] : kChromaFilter[xFrac][i]; };
    auto fy = [&](int i) { return taps == 8 ? kLumaFilter[yFrac][i] : kChromaFilter[yFrac][i]; };
    auto s = [&](int x, int y) { return int(src[y * srcStride + x]); };
    out.assign(w * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int v = 0;
            if (xFrac == 0 && yFrac == 0) {
                v = s(x, y) << shift3;
            } else if (yFrac == 0) {
                for (int i = 0; i < taps; ++i)
                    v += fx(i) * s(x + i - before, y);
                v >>= shift1;
            } else if (xFrac == 0) {
                for (int i = 0; i < taps; ++i)
                    v += fy(i) * s(x, y + i - before);
                v >>= shift1;
            } else {
                for (int nRow = 0; nRow < taps; ++nRow) {
                    int t = 0;
                    for (int i = 0; i < taps; ++i)
                        t += fx(i) * s(x + i - before, y + nRow - before);
                    v += fy(nRow) * (t >> shift1);
                }
                v >>= shift2;
            }
            out[y * w + x] = v;
        }
}

} // namespace ref
