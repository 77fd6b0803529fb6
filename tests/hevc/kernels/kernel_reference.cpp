#include "kernel_reference.h"

#include <algorithm>
#include <cstdlib>

namespace ref {

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

} // namespace ref
