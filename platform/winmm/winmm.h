#pragma once

// Timer resolution and the millisecond clock of the Windows multimedia
// library. Linux timers are already fine-grained, so the resolution calls
// only report success.

#include <cstdint>

typedef uint32_t MMRESULT;
constexpr MMRESULT TIMERR_NOERROR = 0;

MMRESULT timeBeginPeriod(unsigned int periodMs);
MMRESULT timeEndPeriod(unsigned int periodMs);
void Sleep(uint32_t ms);
// Milliseconds on a monotonic clock; wraps like the original after 49 days.
uint32_t timeGetTime();
