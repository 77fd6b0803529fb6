#include "platform/quitsignals.h"

#include <QSocketNotifier>

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <atomic>

namespace platform {
namespace {

const int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Written by the handler, which may run on any thread: lock-free atomics
// only. The write end is set before the handlers go in and cleared after
// they are gone.
std::atomic<int> g_writeFd{-1};
std::atomic<int> g_received{0};
std::atomic<bool> g_taken{false};

constexpr int kCount = int(sizeof(kSignals) / sizeof(kSignals[0]));

// What each of kSignals had before the object took it, given back on
// release. A signal the process was started with ignored (nohup, a start
// script meant to outlive its terminal) stays ignored and is not taken.
// Touched only by the holder's thread.
struct sigaction g_prior[kCount];
bool g_takenSignal[kCount] = {};

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs lock-free atomics");

void setAction(int sig, void (*handler)(int))
{
    struct sigaction sa;
    memset(&sa, 0, sizeof(sa));
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    // One handler at a time, so two signals close together are first and
    // second, never both first.
    for (int s : kSignals)
        sigaddset(&sa.sa_mask, s);
    sa.sa_flags = SA_RESTART;
    sigaction(sig, &sa, nullptr);
}

void onQuitSignal(int sig)
{
    const int savedErrno = errno;
    int none = 0;
    if (!g_received.compare_exchange_strong(none, sig)) {
        // The first one's close is still running: end now, by this signal.
        // It stays blocked until the handler returns, then takes the
        // default action.
        setAction(sig, SIG_DFL);
        raise(sig);
        errno = savedErrno;
        return;
    }
    const int fd = g_writeFd.load();
    if (fd >= 0) {
        const char byte = char(sig);
        // A full pipe already holds a wake-up; nothing else can go wrong here.
        (void)!write(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

QuitSignals::QuitSignals(QObject *parent) : QObject(parent)
{
    bool expected = false;
    if (!g_taken.compare_exchange_strong(expected, true))
        return;
    if (pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_pipe[0] = m_pipe[1] = -1;
        g_taken = false;
        return;
    }
    g_received = 0;
    g_writeFd = m_pipe[1];
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitSignals::onReadable);
    for (int i = 0; i < kCount; ++i) {
        sigaction(kSignals[i], nullptr, &g_prior[i]);
        g_takenSignal[i] = (g_prior[i].sa_flags & SA_SIGINFO) || g_prior[i].sa_handler != SIG_IGN;
        if (g_takenSignal[i])
            setAction(kSignals[i], onQuitSignal);
    }
}

QuitSignals::~QuitSignals()
{
    release();
}

void QuitSignals::release()
{
    if (!m_notifier)
        return;
    for (int i = 0; i < kCount; ++i) {
        if (g_takenSignal[i])
            sigaction(kSignals[i], &g_prior[i], nullptr);
        g_takenSignal[i] = false;
    }
    g_writeFd = -1;
    delete m_notifier;
    m_notifier = nullptr;
    close(m_pipe[0]);
    close(m_pipe[1]);
    m_pipe[0] = m_pipe[1] = -1;
    g_taken = false;
}

int QuitSignals::received()
{
    return g_received.load();
}

void QuitSignals::onReadable()
{
    char bytes[16];
    int last = 0;
    ssize_t n;
    while ((n = read(m_pipe[0], bytes, sizeof(bytes))) > 0)
        last = bytes[n - 1];
    // Only the first signal writes; a second one never reaches the loop.
    if (last != 0)
        emit quitRequested(last);
}

} // namespace platform
