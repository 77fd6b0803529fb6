#pragma once

// Stand-ins for what a device stream unit drives: a P2P front end and a
// recorder.

#include "device/audioinput.h"
#include "device/framehead.h"
#include "device/qcp2pstreaminterface.h"
#include "media/qcrecorderinterface.h"
#include "media/qcstreamutil.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
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

// Hands a unit one record of a stream (0 main, 1 sub) as its stream client does.
inline void feed(qcStreamUtil *unit, int stream, const QByteArray &data, int kind, int subkind = 0, qint64 ts = 1000)
{
    auto cb = stream == 0 ? &qcStreamUtil::onMainFrame : &qcStreamUtil::onSubFrame;
    cb(reinterpret_cast<const unsigned char *>(data.constData()), data.size(), kind, subkind, ts, unit);
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
    bool cancelOpen() override { return true; }
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
    bool stopPtz() override { return true; }

    void deliver(int which, const QByteArray &data, int kind, int subkind, qint64 ts)
    {
        const auto &c = callbacks.at(size_t(which));
        c.first(reinterpret_cast<const unsigned char *>(data.constData()), data.size(), kind, subkind, ts, c.second);
    }
    void status(int code) { emit sigConnectStatus(code); }

    QString address, protocol, lastPassword;
    std::vector<std::pair<StreamDataCallback, void *>> callbacks;
    std::vector<int> ptzIds;
    int openedKind = 0, closed = 0, talkStarts = 0, talkStops = 0;
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

// A tone microphone that opens only while *present holds: an input device
// plugged in or not.
class PluggedTone : public ToneAudioInput
{
public:
    explicit PluggedTone(const std::atomic<bool> *present) : m_present(present) {}
    int open(const QAudioFormat &format) override { return *m_present ? ToneAudioInput::open(format) : 10; }

private:
    const std::atomic<bool> *m_present;
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
    bool setRecordParams(const QString &, const QString &file, int kind, int stream, int lengthSec, int, int,
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
    void setStreamInfo(int, int, int, int, int, int, int, bool, int) override {}
    bool setFrameBuffer(qcFrameBuffer *buffer) override
    {
        this->buffer = buffer;
        return buffer != nullptr;
    }
    void stop() override { stopFlag = true; }

    QString fileName;
    int kind = 0, stream = -1, length = 0;
    qint64 sequence = -99;
    qcFrameBuffer *buffer = nullptr;
    bool refuse = false;
    std::atomic<bool> stopFlag{false};
    // Set before start: end by itself after reporting this resume sequence.
    qint64 interruptAt = -1;
    // Set before start: end by itself as a file that holds its length,
    // its last frame this one.
    qint64 filledAt = -1;
    // Set before start: how long the recorder takes to wind up once stopped.
    int windUpMs = 0;
    // Set before start: end at once with no file, as a recorder whose stream
    // brings no picture does.
    bool recordsNothing = false;

protected:
    void run() override
    {
        if (recordsNothing) {
            emit sigCompleted(QString());
            return;
        }
        while (!stopFlag) {
            if (interruptAt >= 0) {
                emit sigInterruptSeq(interruptAt);
                break;
            }
            if (filledAt >= 0) {
                emit sigLengthUsed(filledAt);
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

} // namespace streamfakes
