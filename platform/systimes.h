#pragma once

#include <QtGlobal>

namespace platform {

// Processor times of the whole machine, summed over all processors, in
// clock ticks since boot: user = user + nice, idle = idle + iowait, and
// kernel = system + irq + softirq + steal + idle (the kernel time includes
// the idle time, as the sampler's formula expects). False when the times
// cannot be read.
bool readSystemTimes(quint64 &idle, quint64 &kernel, quint64 &user);

// The same from one "cpu ..." line of /proc/stat; columns missing at the
// end count as 0, but user, nice, system and idle must be there.
bool parseSystemTimes(const char *line, quint64 &idle, quint64 &kernel, quint64 &user);

} // namespace platform
