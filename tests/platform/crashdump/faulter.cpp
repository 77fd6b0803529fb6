// Installs the crash handler and faults in the way named by argv[1].
#include "platform/crashhandler.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

extern "C" {

__attribute__((noinline)) void faulterNullWrite()
{
    volatile int *p = nullptr;
    *p = 42;
}

__attribute__((noinline)) void faulterDivide()
{
    volatile int zero = 0;
    volatile int x = 7 / zero;
    (void)x;
}

// Called through a volatile pointer so that the return address stays inside
// the function that faults (a known no-return call may end the function).
void (*volatile g_abort)() = abort;
volatile int g_after = 0;

__attribute__((noinline)) void faulterAbort()
{
    g_abort();
    g_after = 1;
}

__attribute__((noinline)) void faulterThrow()
{
    if (g_after == 0)
        throw std::runtime_error("nobody catches this");
    g_after = 2;
}

__attribute__((noinline)) void faulterWorker()
{
    printf("worker tid %ld\n", long(syscall(SYS_gettid)));
    fflush(stdout);
    faulterNullWrite();
}
}

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    if (!platform::installCrashHandler("Korvista.dmp"))
        return 3;
    const char *mode = argv[1];
    if (!strcmp(mode, "segv"))
        faulterNullWrite();
    else if (!strcmp(mode, "thread")) {
        std::thread t(faulterWorker);
        t.join();
    } else if (!strcmp(mode, "abort"))
        faulterAbort();
    else if (!strcmp(mode, "throw"))
        faulterThrow();
    else if (!strcmp(mode, "fpe"))
        faulterDivide();
    return 4;
}
