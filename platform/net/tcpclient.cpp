#include "platform/net/tcpclient.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {
// The end of a wait on the monotonic clock.
class Deadline
{
public:
    explicit Deadline(int timeoutMs)
        : m_end(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs))
    {}
    // Milliseconds left, 0 once it has passed.
    long long left() const
    {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(m_end - std::chrono::steady_clock::now());
        return ms.count() < 0 ? 0 : ms.count();
    }

private:
    std::chrono::steady_clock::time_point m_end;
};
} // namespace

TcpClient::~TcpClient()
{
    close();
}

void TcpClient::close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_blocking = false;
    m_receiveSliceMs = 0;
}

TcpClient::ConnectResult TcpClient::connect(const char *ipv4Text, int port, int timeoutMs, StopPredicate stop)
{
    close();
    m_stop = std::move(stop);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    if (!ipv4Text || port < 0 || port > 65535 || inet_pton(AF_INET, ipv4Text, &addr.sin_addr) != 1)
        return BadAddress;
    addr.sin_port = htons(static_cast<uint16_t>(port));

    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (m_fd < 0)
        return SocketFailed;

    int rc = ::connect(m_fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    if (rc == 0)
        return Connected;
    if (errno != EINPROGRESS) {
        close();
        return Refused;
    }
    int w = waitWritable(timeoutMs);
    if (w == StoppedWait) {
        close();
        return Stopped;
    }
    if (w == Timeout) {
        close();
        return TimedOut;
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (w == Error || getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
        close();
        return Refused;
    }
    return Connected;
}

int TcpClient::waitFor(bool readable, int timeoutMs)
{
    if (m_fd < 0)
        return Error;
    const Deadline deadline(timeoutMs);
    for (;;) {
        if (stopRequested())
            return StoppedWait;
        const long long left = deadline.left();
        pollfd p{m_fd, static_cast<short>(readable ? POLLIN : POLLOUT), 0};
        int rc = ::poll(&p, 1, static_cast<int>(left < kSliceMs ? left : kSliceMs));
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            return Error;
        }
        if (rc > 0) {
            // Hang-up and error count as ready: the following recv or
            // SO_ERROR tells what happened.
            return Ready;
        }
        if (left == 0)
            return Timeout;
    }
}

ssize_t TcpClient::send(const void *data, size_t length)
{
    if (m_fd < 0)
        return -1;
    ssize_t rc;
    do {
        rc = ::send(m_fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (rc < 0 && errno == EINTR);
    return rc;
}

ssize_t TcpClient::recv(void *data, size_t length)
{
    if (m_fd < 0)
        return -1;
    ssize_t rc;
    do {
        rc = ::recv(m_fd, data, length, MSG_DONTWAIT);
    } while (rc < 0 && errno == EINTR);
    return rc;
}

int TcpClient::recvWait(void *data, size_t length, int timeoutMs, ssize_t *received)
{
    if (m_fd < 0 || !received)
        return Error;
    if (!m_blocking) {
        const int flags = ::fcntl(m_fd, F_GETFL);
        if (flags < 0 || ::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK) < 0)
            return Error;
        m_blocking = true;
    }
    const Deadline deadline(timeoutMs);
    for (;;) {
        if (stopRequested())
            return StoppedWait;
        const long long left = deadline.left();
        if (left == 0) {
            // What is there already still counts, as a poll with no wait would.
            const ssize_t n = recv(data, length);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return Timeout;
            *received = n;
            return Ready;
        }
        const int slice = static_cast<int>(left < kSliceMs ? left : kSliceMs);
        if (slice != m_receiveSliceMs) {
            timeval tv{slice / 1000, (slice % 1000) * 1000};
            if (::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0)
                return Error;
            m_receiveSliceMs = slice;
        }
        const ssize_t n = ::recv(m_fd, data, length, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        *received = n;
        return Ready;
    }
}

} // namespace platform
