#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QVector>

#include <atomic>
#include <functional>

#include "clipsplitter.h"
#include "device.h"

namespace devicesim {

class LiveConnection;

// The live stream endpoint: after the answer, a stream-information frame and
// then the clip's access units interleaved with audio frames, behind the
// 24-byte frame header, looping with ever-growing timestamps.
class LiveStream : public Handler
{
public:
    enum class Pacing { RealRate, MaxRate };
    enum class Audio { MuLaw8k, Pcm48k, Aac48k, None };

    struct Options
    {
        QString clipsDir;
        bool h265 = false;
        int decoderChoice = 0;
        Audio audio = Audio::MuLaw8k;
        Pacing pacing = Pacing::RealRate;
        int otherType = 2;   // frame type of pictures that are not key pictures (2 or 0)
        qint64 startTs = -1; // first timestamp; -1: the epoch milliseconds at connect
        // red, green, lime, blue, yellow, cyan, magenta or white: a solid picture of that colour with a
        // moving white bar (main 1280x720, sub 640x360) instead of the test pattern
        QString colour;
        // Called on the device thread as each video frame is handed to its
        // connection: the stream (0 main, 1 sub), the frame's index in its
        // clip and the CLOCK_MONOTONIC time in nanoseconds.
        std::function<void(int stream, int clipFrame, qint64 monotonicNs)> sendLog;
    };

    struct Faults
    {
        bool http11 = false;
        bool noAnswer = false;
        bool answerWithFrames = false; // the answer and the first frames in one write
        int writeChunk = 0;            // bytes per write (1: byte-wise); 0 whole frames
        int chunkBytesLimit = 4096;    // only the first bytes are chunked, to keep runs short
        int framesPerWrite = 1;
        bool garbage = false;        // junk between frames
        bool corruptHeaders = false; // headers of length 0, -1, 0x7FFFFFFF, 4,194,281 between frames
        bool shortFrame = false;     // one header announcing 5,000 bytes more than it carries
        bool shortInfo = false;      // a stream-information frame of 12 bytes
        int jumpAfterFrames = 0;     // the sender's clock jumps 6 s after that many video frames
        bool dayCross = false;       // sender times start 2 s before 86,400,000
        bool audioFirst = false;     // a few audio frames before the first picture
        bool hugeFrame = false;      // one 5 MiB frame after the first picture
        int stallAfterFrames = 0;
        int stallMs = 0;
        int closeAfterFrames = 0;
        int resetAfterFrames = 0;
    };

    explicit LiveStream(Device &device) : m_device(device) {}
    ~LiveStream() override;

    void handle(Exchange &exchange) override;
    void shutdown() override;

    void setOptions(const Options &options);
    Options options() const;
    void setFaults(const Faults &faults);
    Faults faults() const;
    int connections() const { return m_connections.load(); }

    // Controls of a running device, for tests.
    // Closes the open connections of the main (0) or sub (1) stream.
    void closeConnections(int stream);
    // Holds every stream's data back until resumed; nothing is lost, the
    // frames then follow at their own pace again.
    void setStalled(bool stalled);
    bool isStalled() const { return m_stalled.load(); }
    // From now on the stream carries that clip: open connections get a new
    // stream information and continue with its pictures, new ones start
    // with it.
    void switchClip(int stream, const QString &file, int width, int height);

    // Moves the timestamps sent from the next frame on by ms, as a camera
    // does when its clock is set.
    void jumpTimestamps(qint64 ms) { m_jump += ms; }
    qint64 timestampJump() const { return m_jump.load(); }

    // What a stream announces, for the program's banner.
    QString describe() const;

    struct Clip
    {
        QVector<AccessUnit> units;
        int width = 0;
        int height = 0;
    };
    // Units of the main (0) or sub (1) clip; empty when the clip is missing.
    Clip clip(int stream) const;
    static bool knownColour(const QString &colour);
    QVector<QByteArray> audioFrames() const;

private:
    friend class LiveConnection;
    Device &m_device;
    mutable QMutex m_mutex;
    Options m_options;
    Faults m_faults;
    mutable QMap<QString, QVector<AccessUnit>> m_clipCache;
    mutable QMap<int, QVector<QByteArray>> m_audioCache;
    QList<LiveConnection *> m_live; // device thread only
    std::atomic<int> m_connections{0};
    std::atomic<bool> m_stalled{false};
    std::atomic<qint64> m_jump{0};
    struct ClipChoice
    {
        QString file;
        int width = 0;
        int height = 0;
    };
    QMap<int, ClipChoice> m_clipChoice; // per stream; guarded by m_mutex
};

} // namespace devicesim
