#pragma once

#include "device/framehead.h"
#include "device/streamclock.h"
#include "media/recordingchain.h"
#include "media/recordresume.h"
#include "media/talklog.h"

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class PlayStream;
class qcAudioCapture;
class qcDeviceIntercom;
class qcFrameBuffer;
class qcP2PStreamInterface;
class qcRecorderInterface;

// Description of one stream; every word stays 0 until the stream's first
// stream information.
struct MediaInfo_t
{
    int32_t decoder;    // 1: decode H.265 with FFmpeg instead of our own decoder
    int32_t videoCodec; // 28 H.264, 174 H.265
    int32_t width;
    int32_t height;
    int32_t frameRate;  // 0..63 as sent
    int32_t audioCodec; // 0 mu-law, 1 A-law, 2 AAC, 3 MP2, 4 unsigned 8-bit PCM, 5 G.726
    int32_t audioRate;
    int32_t channels; // 1 or 2; codes 2 and 3 stay as sent
};

// The P2P front ends of started P2P devices, for the live page's pan-tilt-zoom.
// Written by the service thread and the units' owner thread, read by the GUI.
constexpr int kP2PStreamSlots = 64;
extern std::atomic<qcP2PStreamInterface *> g_p2pStreams[kP2PStreamSlots];

// Runs fn on the first front end in the table whose device id is id, under
// the table's lock, so that the front end cannot be deleted meanwhile; fn
// must only queue work. False when no slot holds that device.
bool withP2PStream(const QString &id, const std::function<void(qcP2PStreamInterface *)> &fn);

// Everything the program keeps open for one listed device: its main and sub
// stream, the frame buffer each fills, the description of each, the recorder
// and the talk sender. A device whose type is "VARAR" is reached by address
// through two HTTP stream clients; any other type through one P2P front end
// that carries both streams and the talk.
class qcStreamUtil : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxSide = 8000;

    qcStreamUtil();
    ~qcStreamUtil() override;

    void setParams(const QString &address, const QString &port, const QString &name, const QString &user,
                   const QString &password, int contextId, qint64 deviceIndex, const QString &type);

    bool start();
    bool restart();
    bool isStarted() const { return m_started.load(); }
    // Whether the next tick should start the unit: it is not started, or
    // one of its stream clients has ended, however its status arrived; but
    // not while the device refuses the login. Call with the clients stable
    // (on the thread that replaces them).
    bool needsStart() const;
    // A stream was refused with 401: asking again with the same login only
    // adds failed logins, which may lock the account on the device. Cleared
    // by a new login (setParams) and by the device's next accepted probe.
    bool isLoginRefused() const { return m_loginRefused.load(); }
    void clearLoginRefused() { m_loginRefused = false; }
    bool isOnline();
    void setOnline(bool online);

    MediaInfo_t getMainMediaInfo() const;
    MediaInfo_t getSubMediaInfo() const;
    qcFrameBuffer *getMainFrameBuffer() const { return m_mainBuffer; }
    qcFrameBuffer *getSubFrameBuffer() const { return m_subBuffer; }
    // The buffer of stream 0 (main) or 1 (sub) for a viewer: while the unit
    // is started, or while that stream's own client is connected, so that a
    // sub stream the device refuses does not hide a main stream that plays.
    // Null otherwise.
    qcFrameBuffer *viewerFrameBuffer(int stream) const;

    QString address() const { return m_address; }
    QString port() const { return m_port; }
    QString deviceName() const { return m_name; }
    QString userName() const { return m_user; }
    QString password() const { return m_password; }
    QString deviceType() const { return m_type; }
    qint64 deviceIndex() const { return m_deviceIndex; }
    int contextId() const { return m_contextId; }
    bool isByAddress() const;

    // A recorder runs, or a recording owes its next file.
    bool isRecording();
    // top: the record root `fileName` lies under (see recordfileguard).
    bool startRecord(const QString &top, const QString &fileName, int kind, int stream, int lengthSec, int preSec,
                     int postSec, bool report);
    // Stops the recording, and its next files with it.
    bool stopRecord(bool report);
    // A manual or alarm recording whose file was cut (see RecordingChain)
    // owes its next file, of kind chainKind(); continueRecording starts it
    // under fileName below top. False while the last file's recorder still winds up (the
    // next tick tries again), and when the recording cannot go on: it then
    // ends, told by the end of its last file again.
    bool owesNextFile();
    int chainKind();
    bool continueRecording(const QString &top, const QString &fileName);
    // The owed file cannot be made (no folder for it): the recording ends, told
    // as in continueRecording.
    void endOwedRecording();
    // The recording started last is of that kind and has files still to come
    // or running.
    bool recordingGoesOn(int kind);
    // The schedule started no file for this device on its last check: the
    // next scheduled file starts afresh, not where the last one ended.
    void scheduleLapsed();

    bool isTalking() const { return m_talking.load(); }
    bool startTalk(qcAudioCapture *microphone);
    // The sound (ms) the stopped talk did not deliver.
    int stopTalk();
    // How the talk sender ended by itself since the last call, told once:
    // it never started (Refused) or the device dropped it (Dropped); the
    // unit then no longer talks. Going while it runs, or after a stop.
    // lostMs: the sound that talk did not deliver.
    talklog::End takeTalkEnd(int *lostMs = nullptr);

    // Stops everything that runs for the unit and waits until it has ended:
    // recorder (without report), talk, both stream clients. The unit may then
    // be deleted without waiting; deletion calls it too.
    void shutdown();

    // The stream clients call these on their own threads.
    static void onMainFrame(const unsigned char *data, int length, int kind, int subkind, qint64 timestamp, void *user);
    static void onSubFrame(const unsigned char *data, int length, int kind, int subkind, qint64 timestamp, void *user);

    // For tests and diagnostics: the current clients.
    PlayStream *mainClient() const { return m_mainClient; }
    PlayStream *subClient() const { return m_subClient; }
    qcP2PStreamInterface *p2pStream() const { return m_p2p; }
    qint64 resumeSequence();

signals:
    void sigMetaChange(int ctxid, int stream);
    void sigRecordCompleted(QString ip, QString file, int type);

public slots:
    // Status of whichever client currently serves that stream.
    void onMainStreamStatus(int status);
    void onSubStreamStatus(int status);

private:
    enum Stream { Main = 0, Sub = 1 };

    void onFrame(Stream stream, const unsigned char *data, int length, int kind, int subkind, qint64 timestamp);
    void onStreamInfo(Stream stream, const unsigned char *data, int length);
    void streamStatus(Stream stream, int status);
    // Empties a stream's frame buffer (its connection is gone), handing the
    // recorder what it had not read yet.
    void clearBuffer(Stream stream);
    bool createBuffers();
    bool startHttpClients();
    bool hasEndedClient() const;
    PlayStream *makeClient(Stream stream);
    bool startP2P();
    void releaseP2P();
    void dropClients();
    // The sound (ms) the sender's talk did not deliver.
    int stopTalkSender();
    // Runs on the recorder's thread as it ends; reports from the recorder's own data.
    void OnRecordCompleted(qcRecorderInterface *recorder, const QString &address, const QString &file);
    // The recorder cut its file; the next continues after llseq.
    void recordCut(qcRecorderInterface *recorder, qlonglong llseq);
    bool startRecorderLocked(const RecordingChain::Params &params, const QString &fileName, qint64 recordedBefore);
    void endChainLocked();

    QString m_address, m_port, m_user, m_password, m_name;
    qcFrameBuffer *m_mainBuffer = nullptr;
    qcFrameBuffer *m_subBuffer = nullptr;

    // Guards both descriptions and has-audio flags: the client threads write
    // them, the service and the live page read them.
    mutable QMutex m_infoLock;
    MediaInfo_t m_mainInfo{};
    MediaInfo_t m_subInfo{};
    bool m_mainHasAudio = false;
    bool m_subHasAudio = false;

    PlayStream *m_mainClient = nullptr;
    PlayStream *m_subClient = nullptr;
    // Each stream's time across its connections: a new client goes on from
    // the last picture of the one before, never back.
    PictureClock m_pictureClocks[2];
    qcP2PStreamInterface *m_p2p = nullptr;
    qcDeviceIntercom *m_talk = nullptr;
    // Bumped whenever a client or the P2P object is replaced or dropped, so a
    // status it queued before that is recognised as stale.
    std::atomic<quint64> m_clientGeneration[2] = {};
    std::atomic<quint64> m_p2pGeneration{0};

    // Guards the recording state: recordings start on the service thread
    // while the recorder's signals arrive on the unit's own thread.
    QMutex m_recordLock;
    qcRecorderInterface *m_recorder = nullptr;
    // The frame buffer the current recorder reads.
    qcFrameBuffer *m_recordBuffer = nullptr;
    // The current or last recording's file.
    QString m_recordFile;
    // Where the next file goes on after a cut or a scheduled file's end,
    // with what the recorder that cut took out of the frame buffer for it.
    RecordResume m_resume;
    // The recorder that cut its file, until its end is seen.
    qcRecorderInterface *m_cutBy = nullptr;
    RecordingChain m_chain;

    int m_contextId = 0;
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_loginRefused{false};
    std::atomic<bool> m_online{false};
    std::atomic<bool> m_talking{false};
    qint64 m_deviceIndex = 0;
    QString m_type;
};
