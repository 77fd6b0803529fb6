// Deterministic generator of the decoder's kernel tests, so that a failure
// reproduces from its printed seed.
#pragma once

#include <cstdint>

namespace testrng {

struct Rng
{
    uint64_t s;
    explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t next()
    {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return uint32_t(s >> 11);
    }
    int range(int lo, int hi) { return lo + int(next() % uint32_t(hi - lo + 1)); }
};

} // namespace testrng
