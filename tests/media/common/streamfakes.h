#pragma once

// Stand-ins for what a device stream unit drives: a P2P front end, a
// recorder, and a loopback peer that answers the live-stream request.

#include "device/audioinput.h"
#include "device/framehead.h"
#include "device/qcp2pstreaminterface.h"
#include "media/qcrecorderinterface.h"
#include "tests/support/loopback.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace streamfakes {

inline QByteArray streamInfo(int width, int height, int videoCodec = 0, int fps = 25, bool audio = false,
                             int audioCodec = 0, int rate = 8000, int channelCode = 0, int decoder = 0)
{
    QByteArray b(kStreamInfoSize, '\0');
    StreamInfo_t s{};
    s.flags = (audio ? 0x2u : 0u) | (uint32_t(decoder & 0xF) << 4);
    s.width = uint16_t(width);
    s.height = uint16_t(height);
    s.video = uint32_t(videoCodec & 0xF) | (uint32_t(fps & 0x3F) << 4);
    s.sampleRate = uint16_t(rate);
    s.audio = uint32_t(audioCodec & 0xF) | (uint32_t(channelCode & 0x3) << 10);
    wire::writeStreamInfo(reinterpret_cast<unsigned char *>(b.data()), s);
    return b;
}

// The P2P front end as the unit sees it; every answer can be scripted.
class FakeP2PStream : public qcP2PStreamInterface
{
public:
    static inline std::atomic<int> alive{0};
    static inline std::atomic<int> made{0};

    FakeP2PStream(const QString &address, const QString &protocol) : address(address), protocol(protocol)
    {
        ++alive;
        ++made;
    }
    ~FakeP2PStream() override { --alive; }

    bool addDataCallback(StreamDataCallback cb, void *user) override
    {
        if (!cb || !user)
            return false;
        callbacks.push_back({cb, user});
        return true;
    }
    bool openDevice(int kind) override
    {
        openedKind = kind;
        return openResult;
    }
    bool setCallbacks() override { return callbacksResult; }
    void setConnectInfo(const QString &a, const QString &, const QString &, const QString &password,
                        const QString &) override
    {
        address = a;
        lastPassword = password;
    }
    void closeStream() override { ++closed; }
    bool cancelOpen() override
    {
        ++cancelled;
        return true;
    }
    bool isConnected() override { return connected; }
    QString getDeviceId() override { return address; }
    bool startTalk(qcAudioCapture *) override
    {
        ++talkStarts;
        return talkResult;
    }
    bool stopTalk() override
    {
        ++talkStops;
        return true;
    }
    bool ptzControl(int controlId) override
    {
        ptzIds.push_back(controlId);
        return true;
    }
    bool stopPtz() override
    {
        ++ptzStops;
        return true;
    }

    void deliver(int which, const QByteArray &data, int kind, int subkind, qint64 ts)
    {
        const auto &c = callbacks.at(size_t(which));
        c.first(reinterpret_cast<const unsigned char *>(data.constData()), data.size(), kind, subkind, ts, c.second);
    }
    void status(int code) { emit sigConnectStatus(code); }

    QString address, protocol, lastPassword;
    std::vector<std::pair<StreamDataCallback, void *>> callbacks;
    std::vector<int> ptzIds;
    int openedKind = 0, closed = 0, cancelled = 0, talkStarts = 0, talkStops = 0, ptzStops = 0;
    bool openResult = true, callbacksResult = true, connected = false, talkResult = true;
};

// Installs a factory that makes FakeP2PStream objects and remembers the last.
struct P2PFactoryScope
{
    FakeP2PStream *last = nullptr;
    std::function<void(FakeP2PStream *)> configure;
    P2PFactoryScope()
    {
        setP2PStreamFactory(
            [this](const QString &a, const QString &, const QString &, const QString &, const QString &protocol) {
                last = new FakeP2PStream(a, protocol);
                if (configure)
                    configure(last);
                return last;
            });
    }
    ~P2PFactoryScope() { setP2PStreamFactory({}); }
};

// A tone microphone that counts how often it was suspended and resumed.
class CountingTone : public ToneAudioInput
{
public:
    explicit CountingTone(std::atomic<int> *suspends, std::atomic<int> *resumes)
        : m_suspends(suspends), m_resumes(resumes)
    {}
    void suspend() override
    {
        ++*m_suspends;
        ToneAudioInput::suspend();
    }
    void resume() override
    {
        ++*m_resumes;
        ToneAudioInput::resume();
    }

private:
    std::atomic<int> *m_suspends;
    std::atomic<int> *m_resumes;
};

// A recorder that records until told to stop, or ends by itself when the
// test scripts an interruption.
class ScriptedRecorder : public qcRecorderInterface
{
public:
    static inline std::atomic<int> alive{0};
    ScriptedRecorder() { ++alive; }
    ~ScriptedRecorder() override
    {
        stopFlag = true;
        wait();
        --alive;
    }
    bool setRecordParams(const QString &file, int kind, int stream, int lengthSec, int, int,
                         qint64 readSequence) override
    {
        if (refuse)
            return false;
        fileName = file;
        this->kind = kind;
        this->stream = stream;
        length = lengthSec;
        sequence = readSequence;
        return true;
    }
    void setStreamInfo(int, int, int, int, int width, int, int, bool, int) override { infoWidth = width; }
    bool setFrameBuffer(qcFrameBuffer *buffer) override
    {
        this->buffer = buffer;
        return buffer != nullptr;
    }
    void stop() override { stopFlag = true; }

    QString fileName;
    int kind = 0, stream = -1, length = 0, infoWidth = -1;
    qint64 sequence = -99;
    qcFrameBuffer *buffer = nullptr;
    bool refuse = false;
    std::atomic<bool> stopFlag{false};
    // Set before start: end by itself after reporting this resume sequence.
    qint64 interruptAt = -1;
    // Set before start: how long the recorder takes to wind up once stopped.
    int windUpMs = 0;

protected:
    void run() override
    {
        while (!stopFlag) {
            if (interruptAt >= 0) {
                emit sigInterruptSeq(interruptAt);
                break;
            }
            msleep(2);
        }
        msleep(windUpMs);
        emit sigCompleted(fileName);
    }
};

struct RecorderFactoryScope
{
    QList<ScriptedRecorder *> made;
    std::function<void(ScriptedRecorder *)> configure;
    RecorderFactoryScope()
    {
        setRecorderFactory([this] {
            auto *r = new ScriptedRecorder;
            if (configure)
                configure(r);
            made.append(r);
            return r;
        });
    }
    ~RecorderFactoryScope() { setRecorderFactory({}); }
};

// Answers the live-stream request with "HTTP/1.0 200 OK" and keeps the
// connection open without sending frames; remembers every request and can
// close the connection of one stream.
class LivePeer
{
public:
    struct Connection
    {
        int fd = -1;
        QByteArray request;
        int stream = -1; // 0 main, 1 sub, -2 not a stream request
        bool closedByPeer = false;
        bool closedHere = false;
    };

    LivePeer() : m_thread([this] { serve(); }) {}
    ~LivePeer()
    {
        m_stop = true;
        m_thread.join();
        for (auto &c : m_conns)
            if (c.fd >= 0)
                ::close(c.fd);
    }
    QString port() const { return QString::number(m_listener.port()); }
    // Requests of that stream are read but never answered.
    void setSilent(int stream) { m_silent = stream; }

    QList<Connection> connections()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return QList<Connection>(m_conns.begin(), m_conns.end());
    }
    int requestsFor(int stream)
    {
        int n = 0;
        for (const auto &c : connections())
            n += c.stream == stream;
        return n;
    }
    int openFor(int stream)
    {
        int n = 0;
        for (const auto &c : connections())
            n += c.stream == stream && !c.closedByPeer && !c.closedHere;
        return n;
    }
    // Closes the open connections of that stream.
    void closeStream(int stream)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto &c : m_conns)
            if (c.stream == stream && c.fd >= 0 && !c.closedByPeer) {
                ::close(c.fd);
                c.fd = -1;
                c.closedHere = true;
            }
    }
    static bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

private:
    void serve()
    {
        while (!m_stop) {
            std::vector<pollfd> fds{{m_listener.fd(), POLLIN, 0}};
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                for (auto &c : m_conns)
                    if (c.fd >= 0)
                        fds.push_back({c.fd, POLLIN, 0});
            }
            if (::poll(fds.data(), fds.size(), 20) <= 0)
                continue;
            if (fds[0].revents & POLLIN) {
                const int fd = ::accept4(m_listener.fd(), nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    Connection c;
                    c.fd = fd;
                    m_conns.push_back(c);
                }
            }
            std::lock_guard<std::mutex> lock(m_mutex);
            for (size_t i = 1; i < fds.size(); ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                for (auto &c : m_conns) {
                    if (c.fd != fds[i].fd)
                        continue;
                    char buf[2048];
                    const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
                    if (n <= 0) {
                        ::close(c.fd);
                        c.fd = -1;
                        c.closedByPeer = true;
                        break;
                    }
                    c.request.append(buf, int(n));
                    if (c.stream == -1 && c.request.contains("\r\n\r\n")) {
                        if (!c.request.contains("subject=liveplay")) {
                            // Not a stream request (a probe, say): not served here.
                            static const char no[] = "HTTP/1.0 404 Not Found\r\n\r\n";
                            ::send(c.fd, no, sizeof no - 1, MSG_NOSIGNAL);
                            ::close(c.fd);
                            c.fd = -1;
                            c.stream = -2;
                            c.closedHere = true;
                            break;
                        }
                        c.stream = c.request.contains("stream=0") ? 0 : 1;
                        if (c.stream == m_silent)
                            break;
                        static const char ok[] = "HTTP/1.0 200 OK\r\n\r\n";
                        ::send(c.fd, ok, sizeof ok - 1, MSG_NOSIGNAL);
                    }
                    break;
                }
            }
        }
    }

    testsupport::LoopbackListener m_listener;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_silent{-1};
    std::mutex m_mutex;
    std::vector<Connection> m_conns;
    std::thread m_thread;
};

} // namespace streamfakes
