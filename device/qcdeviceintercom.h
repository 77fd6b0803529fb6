#pragma once

#include "platform/stoptoken.h"

#include <QString>
#include <QThread>
#include <atomic>

class qcAudioCapture;
class qcRingBuffer;

// Time limits of a talk connection; tests shorten them.
struct IntercomTiming
{
    int connectMs = 3000;
    int sendMs = 3000;
    int answerMs = 3000; // for the first bytes, and the quiet time that ends an answer without a blank line
    int answerMaxBytes = 2000;
    int pauseMs = 100;       // between the answer and the opening frame
    int sendBufferBytes = 0; // the socket's send buffer; 0 leaves the system's
};

// Sends the PC's microphone to a device's loudspeaker: one "audiotalk"
// connection, an opening frame, then a µ-law frame every 40 ms of samples.
class qcDeviceIntercom : public QThread
{
    Q_OBJECT
public:
    static constexpr int kBlockSamples = 320;
    static constexpr int kOpeningFrameSize = 44;
    // A talk that lost more than this of the microphone's sound says so in
    // its end record.
    static constexpr int kMomentMs = 200;

    explicit qcDeviceIntercom(QObject *parent = nullptr);
    ~qcDeviceIntercom() override;

    void setParams(const QString &ip, const QString &port, const QString &user, const QString &password,
                   qcAudioCapture *source);
    void setTiming(const IntercomTiming &timing) { m_timing = timing; }
    // Returns once the thread has ended.
    bool stopIntercom();
    // The device took the talk; true before its opening frame is sent.
    bool talkStarted() const { return m_talkStarted.load(); }
    // The talk ended by itself: the device could not be reached, refused the
    // talk, or the connection broke while streaming. A stop is no failure.
    bool talkFailed() const { return m_failed.load(); }
    // Frames the socket had no room for; each was left out whole.
    int droppedFrames() const { return m_droppedFrames.load(); }
    // The microphone's sound this talk lost (ms): samples too late for the
    // latency budget and frames the socket had no room for. Set at its end.
    int droppedMs() const { return m_droppedMs.load(); }

    // The opening frame: stream information for 8 kHz µ-law, one channel.
    static QByteArray openingFrame();

protected:
    void run() override;

private:
    void talk();
    void joined() const;

    platform::StopToken m_stop;
    // Counts ended runs. QThread::wait() already orders what run() did
    // before the owner goes on, but inside Qt, where ThreadSanitizer cannot
    // see it; this release and acquire pair states the same order.
    std::atomic<int> m_runsEnded{0};
    std::atomic<bool> m_talkStarted{false};
    std::atomic<bool> m_failed{false};
    std::atomic<int> m_droppedFrames{0};
    std::atomic<int> m_droppedMs{0};
    qcAudioCapture *m_source = nullptr;
    QString m_ip, m_port, m_user, m_password;
    IntercomTiming m_timing;
};
