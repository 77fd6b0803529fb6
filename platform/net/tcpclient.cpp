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
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        if (stopRequested())
            return StoppedWait;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left < 0)
            left = 0;
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
        rc = ::send(m_fd, data, length, MSG_NOSIGNAL);
    } while (rc < 0 && errno == EINTR);
    return rc;
}

ssize_t TcpClient::recv(void *data, size_t length)
{
    if (m_fd < 0)
        return -1;
    ssize_t rc;
    do {
        rc = ::recv(m_fd, data, length, 0);
    } while (rc < 0 && errno == EINTR);
    return rc;
}

} // namespace platform
