#pragma once

#include "app/core/generalthread.h"
#include "device/cameradevice.h"
#include "platform/stoptoken.h"

#include <QByteArray>
#include <QList>
#include <mutex>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

class qcAudioCapture;

// Every wait and pause of the P2P device, in milliseconds unless named.
struct TutkTimings
{
    int retryMs = 5000;      // between failed connection attempts
    int devicePauseMs = 200; // device thread idle pass
    int videoIdleMs = 100;   // sleep after "no frame yet"
    int videoIdleLimit = 60; // that many in a row: status 8 (about 6 s)
    int audioIdleMs = 10;
    int audioIdleLimit = 400; // that many in a row: the audio worker ends (about 4 s)
    int ioctrlPauseMs = 100;
    int talkRetryMs = 200;  // talk start message failed, or no microphone yet
    int talkReadMs = 30;    // microphone had no full block
    int talkPassMs = 1000;  // between talk sessions
    int infoReplyMs = 2000; // the device information reply
    int clientStartMs = 3000;
    int servStartSec = 10;
};

// A queued IO-control command (kind 1: pan-tilt-zoom).
struct TutkIoCtrlRecord
{
    quint32 kind = 1;
    quint8 command = 0;
    quint16 value = 0;
    quint8 parameter = 0;
    QByteArray text; // local 8-bit encoding, exactly 128 bytes, zero-filled
};

// The camera reached by P2P identifier: a device thread that connects and
// reconnects, receive workers for video and audio, an IO-control worker for
// pan-tilt-zoom and a talk worker that sends the microphone to the camera.
class qcDeviceFromTutk : public QThread, public CameraDevice
{
public:
    static constexpr int kTextBytes = 128;
    static constexpr int kVideoBufferBytes = 2 * 1024 * 1024;
    // Zeroed behind every frame: the callback gets 16 of them, decoders want padding.
    static constexpr int kVideoPadBytes = 64;
    static constexpr int kAudioBufferBytes = 1024;

    qcDeviceFromTutk();
    ~qcDeviceFromTutk() override;

    bool setConnectParams(const QString &uid, const QString &port, const QString &account,
                          const QString &password) override;
    bool getMediaInfo(int stream, P2pMediaInfo *info) override;
    bool connectDevice() override;
    bool openStream(int stream, int flag) override;
    bool switchStream(int stream) override;
    bool closeStream() override;
    bool setVideoCallback(P2pVideoCallback fn, void *user) override;
    bool setAudioCallback(P2pAudioCallback fn, void *user) override;
    bool setStatusCallback(P2pStatusCallback fn, void *user) override;
    bool cancelOpen() override;
    void disconnectDevice() override;
    bool isConnected() override;
    bool ptzControl(int command, int param) override;
    bool ptzControlText(int command, int value, const QString &text) override;
    bool setOption(int option, int value, const QString &text) override;
    QString protocolName() override;
    bool startTalk() override;
    bool stopTalk() override;
    bool writeTalkData(const uchar *data, int length) override;

    bool setMicSource(qcAudioCapture *source);

    // Timings of devices created from now on.
    static void setDefaultTimings(const TutkTimings &timings);
    static TutkTimings defaultTimings();

    // The commands waiting for the IO-control worker (tests).
    QList<TutkIoCtrlRecord> pendingIoCtrl() const;

protected:
    void run() override;

private:
    static void ioCtrlLoop(void *context, int interval, QList<_st_general_item *> *list, void *user);
    static void talkLoop(void *context, int interval, QList<_st_general_item *> *list, void *user);
    static void videoLoop(void *context, int interval, QList<_st_general_item *> *list, void *user);
    static void audioLoop(void *context, int interval, QList<_st_general_item *> *list, void *user);

    void report(int status);
    int connectByUid();
    bool connectLoop();
    void requestDeviceInfo();
    void startWorkers();
    void stopWorkers();
    bool startStream();
    void runReceivers();
    void releaseSession();
    void closeSessionOnce();
    void sessionGone();
    int sendIoCtrl(unsigned type, const QByteArray &payload);
    bool sendPtz(const TutkIoCtrlRecord &record);
    void queueRecord(TutkIoCtrlRecord record);
    bool talkIsOn();
    void runVideo();
    void runAudio();
    void runTalk();
    void runIoCtrl();

    const TutkTimings m_timings;

    std::atomic<int> m_session{-1};
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_closing{false};
    std::atomic<bool> m_startRequested{false};
    std::atomic<int> m_stream{8};
    platform::StopToken m_stop;
    std::atomic<int> m_avIndex{-1};
    std::atomic<int> m_clientIndex{-1}; // the channel to stop before a reconnect

    mutable std::mutex m_paramMutex;
    QString m_account, m_password, m_uid;

    mutable std::mutex m_callbackMutex;
    P2pVideoCallback m_videoCb = nullptr;
    void *m_videoUser = nullptr;
    P2pAudioCallback m_audioCb = nullptr;
    void *m_audioUser = nullptr;
    P2pStatusCallback m_statusCb = nullptr;
    void *m_statusUser = nullptr;

    mutable std::mutex m_mediaMutex;
    P2pMediaInfo m_media;

    std::atomic<bool> m_streamReady{false};
    std::atomic<bool> m_firstAudio{true};
    std::atomic<bool> m_firstVideo{true};
    std::atomic<bool> m_sizeKnown{false};
    std::atomic<bool> m_audioAccepted{false};
    std::atomic<bool> m_waitKey{true};

    std::atomic<int> m_channel{0};
    std::atomic<int> m_freeChannel{-1};

    std::vector<uchar> m_videoBuffer;
    std::vector<uchar> m_audioBuffer;

    mutable std::mutex m_queueMutex;
    QList<TutkIoCtrlRecord> m_queue;

    GeneralThread *m_ioWorker = nullptr;
    GeneralThread *m_talkWorker = nullptr;
    std::mutex m_workerMutex;
    std::mutex m_recvMutex;
    std::mutex m_talkMutex;
    std::atomic<bool> m_talkOn{false};
    qcAudioCapture *m_mic = nullptr;
};
