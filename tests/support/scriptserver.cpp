#include "tests/support/scriptserver.h"

#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

ScriptServer::ScriptServer(Script script, bool answerBeforeRequest)
    : m_script(std::move(script)), m_noRequest(answerBeforeRequest)
{
    m_thread = std::thread([this] { serve(); });
}

ScriptServer::~ScriptServer()
{
    m_stop = true;
    m_thread.join();
}

QByteArray ScriptServer::request()
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_request;
}

QByteArray ScriptServer::received()
{
    std::lock_guard<std::mutex> l(m_mutex);
    return m_received;
}

void ScriptServer::serve()
{
    while (!m_stop) {
        if (!waitFd(m_listener.fd(), POLLIN, 1000000, m_stop))
            break;
        int fd = ::accept4(m_listener.fd(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        handle(fd);
    }
}

void ScriptServer::sendAll(int fd, const char *p, int n)
{
    while (n > 0 && !m_stop) {
        if (!waitFd(fd, POLLOUT, 100000, m_stop))
            return;
        ssize_t w = ::send(fd, p, size_t(n), MSG_NOSIGNAL);
        if (w <= 0)
            return;
        p += w;
        n -= int(w);
    }
}

void ScriptServer::handle(int fd)
{
    if (!m_noRequest) {
        QByteArray req;
        char buf[4096];
        while (!m_stop && !req.contains("\r\n\r\n") && waitFd(fd, POLLIN, 10000, m_stop)) {
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            req.append(buf, int(n));
        }
        std::lock_guard<std::mutex> l(m_mutex);
        m_request = req;
    }
    bool closed = false;
    for (const Step &s : m_script) {
        if (m_stop)
            break;
        switch (s.kind) {
        case Step::Write:
            if (s.chunk <= 0) {
                sendAll(fd, s.bytes.constData(), s.bytes.size());
            } else {
                for (int i = 0; i < s.bytes.size() && !m_stop; i += s.chunk) {
                    sendAll(fd, s.bytes.constData() + i, qMin(s.chunk, s.bytes.size() - i));
                    // Let each piece leave as a segment of its own.
                    int one = 1;
                    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                }
            }
            break;
        case Step::Sleep: {
            const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(s.ms);
            while (!m_stop && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            break;
        }
        case Step::Reset: {
            linger lg{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
            ::close(fd);
            closed = true;
            break;
        }
        case Step::Close:
            ::close(fd);
            closed = true;
            break;
        case Step::ReadAll: {
            char buf[8192];
            while (!m_stop) {
                if (!waitFd(fd, POLLIN, 100, m_stop))
                    continue;
                ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                std::lock_guard<std::mutex> l(m_mutex);
                m_received.append(buf, int(n));
            }
            break;
        }
        }
        if (closed)
            break;
    }
    // Hold the connection open until the test ends unless the script closed it.
    while (!closed && !m_stop)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!closed)
        ::close(fd);
}

} // namespace testsupport
