#pragma once

#include <QByteArray>
#include <QVector>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

// A tiny loopback TCP peer for the client tests: accepts connections on
// 127.0.0.1 (ephemeral port), reads each request up to its blank line and
// then plays a script of writes, pauses and endings. Writes use MSG_NOSIGNAL.
class ScriptServer
{
public:
    struct Step
    {
        enum Kind { Write, Sleep, Close, Reset, ReadAll } kind;
        QByteArray bytes;
        int ms = 0;
        int chunk = 0; // Write: bytes per send (0 = one send)
    };
    using Script = QVector<Step>;

    static Step write(const QByteArray &b, int chunk = 0) { return {Step::Write, b, 0, chunk}; }
    static Step sleep(int ms) { return {Step::Sleep, {}, ms, 0}; }
    static Step close() { return {Step::Close, {}, 0, 0}; }
    static Step reset() { return {Step::Reset, {}, 0, 0}; }
    // Keeps reading (recording) until the peer closes or the server stops.
    static Step readAll() { return {Step::ReadAll, {}, 0, 0}; }

    explicit ScriptServer(Script script, bool answerBeforeRequest = false)
        : m_script(std::move(script)), m_noRequest(answerBeforeRequest)
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::listen(m_listen, 16);
        socklen_t len = sizeof a;
        getsockname(m_listen, reinterpret_cast<sockaddr *>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { serve(); });
    }

    ~ScriptServer()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_listen);
    }

    int port() const { return m_port; }
    QByteArray request() { std::lock_guard<std::mutex> l(m_mutex); return m_request; }
    QByteArray received() { std::lock_guard<std::mutex> l(m_mutex); return m_received; }
    int connections() const { return m_connections; }
    bool finished() const { return m_finished; }

private:
    bool waitFd(int fd, short events, int ms)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!m_stop) {
            pollfd p{fd, events, 0};
            if (::poll(&p, 1, 20) > 0)
                return true;
            if (std::chrono::steady_clock::now() >= end)
                return false;
        }
        return false;
    }

    void serve()
    {
        while (!m_stop) {
            if (!waitFd(m_listen, POLLIN, 1000000))
                break;
            int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            ++m_connections;
            handle(fd);
        }
    }

    void sendAll(int fd, const char *p, int n)
    {
        while (n > 0 && !m_stop) {
            if (!waitFd(fd, POLLOUT, 100000))
                return;
            ssize_t w = ::send(fd, p, size_t(n), MSG_NOSIGNAL);
            if (w <= 0)
                return;
            p += w;
            n -= int(w);
        }
    }

    void handle(int fd)
    {
        if (!m_noRequest) {
            QByteArray req;
            char buf[4096];
            while (!m_stop && !req.contains("\r\n\r\n") && waitFd(fd, POLLIN, 10000)) {
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
                    if (!waitFd(fd, POLLIN, 100))
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
        m_finished = true;
        // Hold the connection open until the test ends unless the script closed it.
        while (!closed && !m_stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!closed)
            ::close(fd);
    }

    Script m_script;
    bool m_noRequest;
    int m_listen = -1;
    int m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::atomic<bool> m_finished{false};
    std::mutex m_mutex;
    QByteArray m_request;
    QByteArray m_received;
};
