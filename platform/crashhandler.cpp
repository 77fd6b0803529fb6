#include "platform/crashhandler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <string>

namespace platform {
namespace {

// Fixed once at install time: getcwd() and allocation are not allowed in the handler.
char *g_dumpPath = nullptr;
// The alternate stack of the installing thread; lives as long as the process.
void *g_altStack = nullptr;

const int kAltStackSize = 64 * 1024;
const int kMaxFrames = 128;

const int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

const char *signalName(int sig)
{
    switch (sig) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGFPE:
        return "SIGFPE";
    case SIGILL:
        return "SIGILL";
    case SIGABRT:
        return "SIGABRT";
    default:
        return "?";
    }
}

void writeAll(int fd, const char *data, size_t len)
{
    while (len > 0) {
        ssize_t n = write(fd, data, len);
        if (n <= 0)
            return;
        data += n;
        len -= size_t(n);
    }
}

void writeStr(int fd, const char *s)
{
    writeAll(fd, s, strlen(s));
}

// Formats without printf, which is not async-signal-safe. 24 characters hold
// any 64-bit number in decimal with sign, or in hex.
void writeNumber(int fd, uint64_t value, bool negative, int base)
{
    char buf[24];
    int pos = int(sizeof(buf));
    do {
        const int digit = int(value % uint64_t(base));
        buf[--pos] = char(digit < 10 ? '0' + digit : 'a' + digit - 10);
        value /= uint64_t(base);
    } while (value != 0 && pos > 1);
    if (negative)
        buf[--pos] = '-';
    writeAll(fd, buf + pos, sizeof(buf) - size_t(pos));
}

void writeDec(int fd, long long v)
{
    if (v < 0)
        writeNumber(fd, uint64_t(-(v + 1)) + 1, true, 10);
    else
        writeNumber(fd, uint64_t(v), false, 10);
}

void writeHex(int fd, uintptr_t v)
{
    writeStr(fd, "0x");
    writeNumber(fd, uint64_t(v), false, 16);
}

void writeReport(int fd, int sig, siginfo_t *info)
{
    writeStr(fd, "signal ");
    writeDec(fd, sig);
    writeStr(fd, " (");
    writeStr(fd, signalName(sig));
    writeStr(fd, ") code ");
    writeDec(fd, info ? info->si_code : 0);
    writeStr(fd, " address ");
    writeHex(fd, info ? uintptr_t(info->si_addr) : 0);
    writeStr(fd, "\npid ");
    writeDec(fd, getpid());
    writeStr(fd, " tid ");
    writeDec(fd, (long long)syscall(SYS_gettid));
    writeStr(fd, "\ntime ");
    writeDec(fd, (long long)time(nullptr));
    writeStr(fd, "\nbacktrace:\n");

    void *frames[kMaxFrames];
    const int count = backtrace(frames, kMaxFrames);
    backtrace_symbols_fd(frames, count, fd);

    writeStr(fd, "maps:\n");
    const int maps = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (maps >= 0) {
        char buf[4096];
        ssize_t n;
        while ((n = read(maps, buf, sizeof(buf))) > 0)
            writeAll(fd, buf, size_t(n));
        close(maps);
    }
}

void crashHandler(int sig, siginfo_t *info, void *)
{
    // SA_RESETHAND has restored the default action: a fault in here ends the
    // process instead of looping back into this handler.
    if (g_dumpPath) {
        // The report shows the process's memory map and stack: for the owner
        // only, and never through a link someone else placed at the path.
        const int fd = open(g_dumpPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            fchmod(fd, 0600);
            writeReport(fd, sig, info);
            close(fd);
        }
    }
    // Delivered with the default action once the handler returns (or at once
    // when the signal is not blocked), so the process ends by this signal.
    raise(sig);
}

} // namespace

bool installCrashHandler(const char *fileName)
{
    if (!fileName || !*fileName)
        return false;

    std::string path;
    if (fileName[0] != '/') {
        std::string cwd(4096, '\0');
        while (!getcwd(&cwd[0], cwd.size())) {
            if (cwd.size() > (1u << 20))
                return false;
            cwd.assign(cwd.size() * 2, '\0');
        }
        path = cwd.c_str();
        if (path.empty() || path.back() != '/')
            path += '/';
    }
    path += fileName;
    char *copy = strdup(path.c_str());
    if (!copy)
        return false;
    free(g_dumpPath);
    g_dumpPath = copy;

    // The first backtrace() loads libgcc; doing that inside a handler could allocate.
    void *warm[2];
    backtrace(warm, 2);

    if (!g_altStack) {
        stack_t ss;
        memset(&ss, 0, sizeof(ss));
        ss.ss_sp = malloc(kAltStackSize);
        ss.ss_size = kAltStackSize;
        ss.ss_flags = 0;
        if (ss.ss_sp && sigaltstack(&ss, nullptr) == 0)
            g_altStack = ss.ss_sp;
        else
            free(ss.ss_sp);
    }

    bool ok = true;
    for (int sig : kSignals) {
        struct sigaction sa;
        memset(&sa, 0, sizeof(sa));
        sa.sa_sigaction = crashHandler;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
        if (sigaction(sig, &sa, nullptr) != 0)
            ok = false;
    }
    return ok;
}

} // namespace platform
