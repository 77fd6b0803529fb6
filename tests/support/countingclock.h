#pragma once

#include "platform/clock.h"

#include <atomic>

namespace testsupport {

// A clock that moves only when told to and counts how often the time of day
// is read: a thread that looks at the clock on every round of a wait has
// been round once since a moment when it has read it twice more.
class CountingClock : public platform::FakeClock
{
public:
    using FakeClock::FakeClock;
    int msecsOfDay() const override
    {
        ++m_reads;
        return FakeClock::msecsOfDay();
    }
    int reads() const { return m_reads.load(); }

private:
    mutable std::atomic<int> m_reads{0};
};

} // namespace testsupport
