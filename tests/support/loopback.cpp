#include "tests/support/loopback.h"

#include <QThread>
#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

LoopbackListener::LoopbackListener(int backlog)
{
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(m_fd, backlog) != 0)
        qWarning("loopback listener: bind or listen failed");
    socklen_t len = sizeof a;
    getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &len);
    m_port = ntohs(a.sin_port);
}

LoopbackListener::~LoopbackListener()
{
    for (int fd : m_fillers)
        ::close(fd);
    ::close(m_fd);
}

void LoopbackListener::fillBacklog(int connections)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(m_port);
    for (int i = 0; i < connections; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        m_fillers.append(fd);
    }
    // The handshakes finish in the kernel; give them a moment.
    QThread::msleep(100);
}

bool waitFd(int fd, short events, int ms, const std::atomic<bool> &stop)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stop) {
        pollfd p{fd, events, 0};
        if (::poll(&p, 1, 20) > 0)
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
    }
    return false;
}

quint16 closedPort()
{
    LoopbackListener listener;
    return listener.port();
}

} // namespace testsupport
