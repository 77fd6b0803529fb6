#include "platform/winmm/winmm.h"

#include <chrono>
#include <thread>

MMRESULT timeBeginPeriod(unsigned int)
{
    return TIMERR_NOERROR;
}

MMRESULT timeEndPeriod(unsigned int)
{
    return TIMERR_NOERROR;
}

void Sleep(uint32_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uint32_t timeGetTime()
{
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
