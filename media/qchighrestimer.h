#pragma once

#include <cstdint>
#include <functional>

// A stopwatch with millisecond results as real numbers, for pacing frames.
// It reads a monotonic counter (nanoseconds by default); tests inject a
// counter of their own with its frequency.
class qcHighResTimer
{
public:
    struct Counter
    {
        std::function<int64_t()> frequency; // ticks per second
        std::function<int64_t()> count;
    };
    static Counter monotonicCounter();

    explicit qcHighResTimer(Counter counter = monotonicCounter());

    void start();
    // Milliseconds since start(); leaves the lap alone.
    double elapsed();
    // Milliseconds since the previous lap (or start()), which it then moves.
    double lap();
    double lastResult() const { return m_last; }

private:
    double toMs(int64_t ticks) const;

    Counter m_counter;
    int64_t m_ticksPerMs = 0;
    int64_t m_start = 0;
    int64_t m_current = 0;
    int64_t m_lap = 0;
    double m_last = 0.0;
};
