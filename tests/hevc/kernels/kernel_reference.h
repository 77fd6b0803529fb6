// Straightforward sample processes of the decoding standard for 8-bit
// video, written from its equations, used to check the kernels.
#pragma once

#include <cstdint>
#include <vector>

namespace ref {

extern const int kLevelScale[6];

int clip255(int64_t v);
int16_t clip16(int64_t v);

// Scaling of one coefficient: m is the scaling factor (16 when flat).
int16_t scaleCoefficient(int level, int m, int qP, int log2N);

// Two-stage inverse transform of coeffs (N x N, raster) with the residual
// added to pred (N x N, raster); `matrix(k, n)` is the N-point basis.
void inverseTransformAdd(int n, const int16_t *coeffs, uint8_t *pred, const int *matrix);

// Intra references as the standard indexes them: p(x, -1) for x = -1..2N-1
// and p(-1, y) for y = -1..2N-1.
struct IntraRefs
{
    int n = 0;
    std::vector<int> top;  // top[x + 1] = p(x, -1)
    std::vector<int> left; // left[y + 1] = p(-1, y)
    int p(int x, int y) const { return y < 0 ? top[x + 1] : left[y + 1]; }
};

// The filtering process of neighbouring samples (luma).
IntraRefs filterReferences(const IntraRefs &r, int mode, bool strongEnabled);

} // namespace ref
