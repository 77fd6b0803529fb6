// Intra predictors, reference smoothing and the PCM copy.
#include "hevc/dsp/dsp_internal.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace h265d {

namespace dsp {

namespace {

template <int Log2N>
void intraPlanar(const uint8_t *top, const uint8_t *left, int stride, uint8_t *dst)
{
    constexpr int N = 1 << Log2N;
    const int topRight = top[N];
    const int bottomLeft = left[N];
    for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x)
            dst[y * stride + x] = static_cast<uint8_t>(
                ((N - 1 - x) * left[y] + (x + 1) * topRight + (N - 1 - y) * top[x] + (y + 1) * bottomLeft + N) >>
                (Log2N + 1));
}

template <int Log2N>
void intraDc(int cIdx, uint8_t *top, uint8_t *left, int stride, uint8_t *dst)
{
    constexpr int N = 1 << Log2N;
    int sum = N;
    for (int i = 0; i < N; ++i)
        sum += top[i] + left[i];
    const int dc = sum >> (Log2N + 1);
    for (int y = 0; y < N; ++y)
        std::memset(dst + y * stride, dc, N);
    if (cIdx != 0 || N == 32)
        return;
    dst[0] = static_cast<uint8_t>((left[0] + 2 * dc + top[0] + 2) >> 2);
    for (int x = 1; x < N; ++x)
        dst[x] = static_cast<uint8_t>((top[x] + 3 * dc + 2) >> 2);
    for (int y = 1; y < N; ++y)
        dst[y * stride] = static_cast<uint8_t>((left[y] + 3 * dc + 2) >> 2);
}

template <int Log2N>
void intraVertical(int cIdx, uint8_t *top, uint8_t *left, int stride, uint8_t *dst)
{
    constexpr int N = 1 << Log2N;
    for (int y = 0; y < N; ++y)
        std::memcpy(dst + y * stride, top, N);
    if (cIdx != 0 || N == 32)
        return;
    for (int y = 0; y < N; ++y)
        dst[y * stride] = clipPixel(top[0] + ((left[y] - left[-1]) >> 1));
}

template <int Log2N>
void intraHorizontal(int cIdx, uint8_t *top, uint8_t *left, int stride, uint8_t *dst)
{
    constexpr int N = 1 << Log2N;
    for (int y = 0; y < N; ++y)
        std::memset(dst + y * stride, left[y], N);
    if (cIdx != 0 || N == 32)
        return;
    for (int x = 0; x < N; ++x)
        dst[x] = clipPixel(left[0] + ((top[x] - top[-1]) >> 1));
}

// Mode 34.
template <int Log2N>
void intraDiagonalUp(int, uint8_t *top, uint8_t *, int stride, uint8_t *dst)
{
    constexpr int N = 1 << Log2N;
    for (int y = 0; y < N; ++y)
        std::memcpy(dst + y * stride, top + y + 1, N);
}

// Mode 2.
template <int Log2N>
void intraDiagonalDown(int, uint8_t *, uint8_t *left, int stride, uint8_t *dst)
{
    constexpr int N = 1 << Log2N;
    for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x)
            dst[y * stride + x] = left[x + y + 1];
}

// Mode 18: the left column is projected in front of the corner so that each
// row is a plain copy from the top array.
template <int Log2N>
void intraDiagonalMid(int, uint8_t *top, uint8_t *left, int stride, uint8_t *dst)
{
    constexpr int N = 1 << Log2N;
    for (int k = 1; k <= N; ++k)
        top[-1 - k] = left[k - 1];
    for (int y = 0; y < N; ++y)
        std::memcpy(dst + y * stride, top - y - 1, N);
}

template <int Log2N>
void intraAngular(int, int mode, uint8_t *top, uint8_t *left, int stride, uint8_t *dst)
{
    constexpr int N = 1 << Log2N;
    const int angle = kIntraPredAngle[mode];
    const bool vertical = mode >= 18;
    uint8_t *main = vertical ? top : left;
    const uint8_t *side = vertical ? left : top;
    if (angle < 0) {
        const int last = (N * angle) >> 5;
        if (last < -1) {
            const int inv = kIntraInvAngle[mode];
            for (int x = last; x <= -1; ++x)
                main[x - 1] = side[((x * inv + 128) >> 8) - 1];
        }
    }
    for (int i = 0; i < N; ++i) {
        const int idx = ((i + 1) * angle) >> 5;
        const int fact = ((i + 1) * angle) & 31;
        const uint8_t *ref = main + idx;
        if (vertical) {
            uint8_t *out = dst + i * stride;
            for (int j = 0; j < N; ++j)
                out[j] = static_cast<uint8_t>(((32 - fact) * ref[j] + fact * ref[j + 1] + 16) >> 5);
        } else {
            uint8_t *out = dst + i;
            for (int j = 0; j < N; ++j)
                out[j * stride] = static_cast<uint8_t>(((32 - fact) * ref[j] + fact * ref[j + 1] + 16) >> 5);
        }
    }
}

// [1 2 1] over the run left[2N-1] .. left[0], corner, top[0] .. top[2N-1];
// the two end samples stay.
template <int N>
void smoothReferences(uint8_t *left, uint8_t *top)
{
    uint8_t l[2 * N + 1];
    uint8_t t[2 * N + 1];
    std::memcpy(l, left - 1, sizeof l);
    std::memcpy(t, top - 1, sizeof t);
    const uint8_t corner = static_cast<uint8_t>((l[1] + 2 * l[0] + t[1] + 2) >> 2);
    for (int i = 1; i < 2 * N; ++i) {
        left[i - 1] = static_cast<uint8_t>((l[i - 1] + 2 * l[i] + l[i + 1] + 2) >> 2);
        top[i - 1] = static_cast<uint8_t>((t[i - 1] + 2 * t[i] + t[i + 1] + 2) >> 2);
    }
    left[-1] = corner;
    top[-1] = corner;
}

template <int Log2N>
void intraSmooth(int strongEnabled, int mode, uint8_t *left, uint8_t *top)
{
    constexpr int N = 1 << Log2N;
    constexpr int kThreshold = Log2N == 3 ? 7 : (Log2N == 4 ? 1 : 0);
    if (mode == 1)
        return; // DC is never filtered
    const int dist = std::min(std::abs(mode - 26), std::abs(mode - 10));
    if (dist <= kThreshold)
        return;
    if (N == 32 && strongEnabled) {
        const int corner = top[-1];
        const int lastLeft = left[2 * N - 1];
        const int lastTop = top[2 * N - 1];
        if (std::abs(corner + lastTop - 2 * top[N - 1]) < 8 && std::abs(corner + lastLeft - 2 * left[N - 1]) < 8) {
            for (int i = 0; i < 2 * N - 1; ++i) {
                left[i] = static_cast<uint8_t>(((63 - i) * corner + (i + 1) * lastLeft + 32) >> 6);
                top[i] = static_cast<uint8_t>(((63 - i) * corner + (i + 1) * lastTop + 32) >> 6);
            }
            return;
        }
    }
    smoothReferences<N>(left, top);
}

template <int Log2N>
void pcmCopy(int stride, const int16_t *samples, uint8_t *dst)
{
    constexpr int N = 1 << Log2N;
    for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x)
            dst[y * stride + x] = static_cast<uint8_t>(samples[y * N + x] & 0xFF);
}

template <int Log2N>
void fillSize(H265D_DSP_TABLE *t)
{
    t->slot[H265D_SLOT_INTRA_PLANAR + Log2N].intraPlanar = intraPlanar<Log2N>;
    t->slot[H265D_SLOT_INTRA_ANGULAR + Log2N].intraAngular = intraAngular<Log2N>;
    t->slot[H265D_SLOT_INTRA_DC + Log2N].intra = intraDc<Log2N>;
    t->slot[H265D_SLOT_INTRA_VERTICAL + Log2N].intra = intraVertical<Log2N>;
    t->slot[H265D_SLOT_INTRA_HORIZONTAL + Log2N].intra = intraHorizontal<Log2N>;
    t->slot[H265D_SLOT_INTRA_DIAG_UP + Log2N].intra = intraDiagonalUp<Log2N>;
    t->slot[H265D_SLOT_INTRA_DIAG_DOWN + Log2N].intra = intraDiagonalDown<Log2N>;
    t->slot[H265D_SLOT_INTRA_DIAG_MID + Log2N].intra = intraDiagonalMid<Log2N>;
    if constexpr (Log2N >= 3)
        t->slot[H265D_SLOT_INTRA_SMOOTH + Log2N].intraSmooth = intraSmooth<Log2N>;
    t->slot[H265D_SLOT_PCM_COPY + Log2N].pcmCopy = pcmCopy<Log2N>;
}

} // namespace

void fillIntraKernels(H265D_DSP_TABLE *t)
{
    fillSize<2>(t);
    fillSize<3>(t);
    fillSize<4>(t);
    fillSize<5>(t);
}

} // namespace dsp

} // namespace h265d
