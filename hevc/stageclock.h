/* Time spent per decoding stage, for the benchmark's breakdown. Off unless a
 * test instance asks for it, and then only on one thread: the counters are
 * plain sums owned by the caller's thread. */
#ifndef H265D_STAGECLOCK_H
#define H265D_STAGECLOCK_H

#include <stdint.h>

#include "decoder.h"

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#define H265D_STAGE_TICKS() ((uint64_t)__rdtsc())
#else
#include <time.h>
static inline uint64_t h265dStageNanos(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec;
}
#define H265D_STAGE_TICKS() h265dStageNanos()
#endif

namespace h265d {
/* Adds the time of its scope to one stage when the instance counts them. */
class StageClock
{
public:
    StageClock(const H265D_DEC_OBJ *dec, int stage)
        : sum_(dec->stageTicks ? &dec->stageTicks[stage] : nullptr), start_(sum_ ? H265D_STAGE_TICKS() : 0)
    {}
    ~StageClock()
    {
        if (sum_)
            *sum_ += H265D_STAGE_TICKS() - start_;
    }
    StageClock(const StageClock &) = delete;
    StageClock &operator=(const StageClock &) = delete;

private:
    uint64_t *sum_;
    uint64_t start_;
};

} // namespace h265d

#endif
