#pragma once

#include <QThread>

namespace platform {

// Thread priorities on Linux. Under the default scheduler QThread's
// priorities change nothing except IdlePriority, so a thread that should
// yield to others lowers its own nice value instead, first thing in run().
//
// Lowering a thread's importance (a higher nice value) always works.
// Raising it (a lower nice value) needs CAP_SYS_NICE or a raised
// RLIMIT_NICE; without them the call fails and changes nothing. The
// "high", "highest" and "time-critical" priorities are therefore no-ops
// here that report false: a live player asking for the highest priority
// runs at normal priority.

// Sets the calling thread's nice value (-20 .. 19). False when the system
// refused; the value is then unchanged.
bool setCurrentThreadNice(int nice);

// The calling thread's nice value.
int currentThreadNice();

// Applies a QThread priority to the calling thread:
// Lowest and Low -> nice +10, Idle -> +19, Normal and Inherit -> unchanged
// (true), High, Highest and TimeCritical -> unchanged (false).
bool applyThreadPriority(QThread::Priority priority);

} // namespace platform
