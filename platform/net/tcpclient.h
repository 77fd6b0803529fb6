#pragma once

#include <cstddef>
#include <functional>
#include <sys/types.h>

namespace platform {

// A plain POSIX TCP client socket whose every wait is cut into short slices
// that consult a stop predicate, so that an owner asking its thread to end is
// never held up by a network time-out. Sends never raise SIGPIPE.
class TcpClient
{
public:
    using StopPredicate = std::function<bool()>;

    enum ConnectResult { Connected = 0, BadAddress, SocketFailed, Refused, TimedOut, Stopped };
    enum WaitResult { Ready = 1, Timeout = 0, Error = -1, StoppedWait = -2 };

    TcpClient() = default;
    ~TcpClient();
    TcpClient(const TcpClient &) = delete;
    TcpClient &operator=(const TcpClient &) = delete;

    // Dotted IPv4 text only; the predicate is kept for the later waits.
    ConnectResult connect(const char *ipv4Text, int port, int timeoutMs, StopPredicate stop = {});

    int waitReadable(int timeoutMs) { return waitFor(true, timeoutMs); }
    int waitWritable(int timeoutMs) { return waitFor(false, timeoutMs); }

    // Neither blocks: they move what the socket can take or has now.
    ssize_t send(const void *data, size_t length);
    ssize_t recv(void *data, size_t length);
    // Waits up to timeoutMs for data and reads what has arrived, sleeping in
    // the receive call itself: one system call per wake-up instead of a poll
    // and a read. Ready with *received > 0 (bytes), 0 (the peer closed) or
    // < 0 (error); else Timeout, StoppedWait or Error.
    int recvWait(void *data, size_t length, int timeoutMs, ssize_t *received);
    void close();

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    void setStopPredicate(StopPredicate stop) { m_stop = std::move(stop); }

    // Longest single sleep of any wait, in milliseconds.
    static constexpr int kSliceMs = 100;

private:
    int waitFor(bool readable, int timeoutMs);
    bool stopRequested() const { return m_stop && m_stop(); }

    int m_fd = -1;
    bool m_blocking = false;  // recvWait switched the socket to blocking reads
    int m_receiveSliceMs = 0; // the receive time-out set on the socket
    StopPredicate m_stop;
};

} // namespace platform
