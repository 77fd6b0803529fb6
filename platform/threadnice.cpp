#include "platform/threadnice.h"

#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {
id_t currentTid()
{
    // PRIO_PROCESS with a thread id addresses that single thread on Linux.
    return static_cast<id_t>(::syscall(SYS_gettid));
}
} // namespace

bool setCurrentThreadNice(int nice)
{
    if (nice < -20 || nice > 19)
        return false;
    return ::setpriority(PRIO_PROCESS, currentTid(), nice) == 0;
}

int currentThreadNice()
{
    errno = 0;
    const int value = ::getpriority(PRIO_PROCESS, currentTid());
    return errno == 0 ? value : 0;
}

namespace {
// Never raises: a thread already nicer than asked stays where it is.
bool lowerTo(int nice)
{
    return currentThreadNice() >= nice || setCurrentThreadNice(nice);
}
} // namespace

bool applyThreadPriority(QThread::Priority priority)
{
    switch (priority) {
    case QThread::IdlePriority:
        return lowerTo(19);
    case QThread::LowestPriority:
    case QThread::LowPriority:
        return lowerTo(10);
    case QThread::NormalPriority:
    case QThread::InheritPriority:
        return true;
    case QThread::HighPriority:
    case QThread::HighestPriority:
    case QThread::TimeCriticalPriority:
        break;
    }
    return false;
}

} // namespace platform
