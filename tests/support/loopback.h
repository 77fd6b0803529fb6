#pragma once

#include <QVector>
#include <QtGlobal>
#include <atomic>

namespace testsupport {

// A listening TCP socket on 127.0.0.1 at a port the system picks, closed
// with the object.
class LoopbackListener
{
public:
    explicit LoopbackListener(int backlog = 16);
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener &) = delete;
    LoopbackListener &operator=(const LoopbackListener &) = delete;

    int fd() const { return m_fd; }
    quint16 port() const { return m_port; }

    // Queues connections that nobody accepts until the accept queue is full,
    // so that a further connect to this port never completes.
    void fillBacklog(int connections);

private:
    int m_fd = -1;
    quint16 m_port = 0;
    QVector<int> m_fillers;
};

// A port of 127.0.0.1 that was bound and released again, so that a connect
// to it is refused at once.
quint16 closedPort();

// Waits in 20 ms slices until fd has one of the poll events, ms pass or
// stop is set; true only when the descriptor is ready.
bool waitFd(int fd, short events, int ms, const std::atomic<bool> &stop);

} // namespace testsupport
