#pragma once

#include "tests/support/loopback.h"

#include <QByteArray>
#include <QVector>
#include <atomic>
#include <mutex>
#include <thread>

namespace testsupport {

// A tiny loopback TCP peer for the client tests: accepts connections on
// 127.0.0.1 (ephemeral port) one after the other, reads each request up to
// its blank line and then plays a script of writes, pauses and endings.
// Writes use MSG_NOSIGNAL.
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

    explicit ScriptServer(Script script, bool answerBeforeRequest = false);
    ~ScriptServer();

    int port() const { return m_listener.port(); }
    QByteArray request();
    QByteArray received();

private:
    void serve();
    void sendAll(int fd, const char *p, int n);
    void handle(int fd);

    Script m_script;
    bool m_noRequest;
    LoopbackListener m_listener;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    QByteArray m_request;
    QByteArray m_received;
    std::thread m_thread;
};

} // namespace testsupport
