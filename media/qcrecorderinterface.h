#pragma once

#include "media/framehandover.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class qcFrameBuffer;

// A recorder: one thread that reads a unit's frame buffer and writes exactly
// one record file, then ends. The device stream unit drives it through this
// interface; the recording kind and whether its end is to be reported travel
// with the object, so a late completion of an old recorder reports its own
// recording, never the one that replaced it.
class qcRecorderInterface : public QThread
{
    Q_OBJECT
public:
    using QThread::QThread;
    ~qcRecorderInterface() override = default;

    // Refuses (false, nothing changed) parameters it cannot record with.
    // readSequence: the frame-buffer sequence to continue after, -1 for none.
    // top: the record root the file lies under, the top of every change the
    // recorder makes (see recordfileguard).
    virtual bool setRecordParams(const QString &top, const QString &fileName, int kind, int stream, int lengthSec,
                                 int preSec, int postSec, qint64 readSequence) = 0;
    virtual void setStreamInfo(int audioCodec, int audioRate, int channels, int videoCodec, int width, int height,
                               int frameRate, bool hasAudio, int decoderChoice) = 0;
    virtual bool setFrameBuffer(qcFrameBuffer *buffer) = 0;
    // Asks the thread to end; the caller waits for it.
    virtual void stop() = 0;

    int recordKind() const { return m_kind.load(); }
    void setRecordKind(int kind) { m_kind = kind; }
    bool reportWanted() const { return m_report.load(); }
    void setReportWanted(bool report) { m_report = report; }
    // Clears the report flag and says whether it was set, so an end is
    // reported at most once.
    bool takeReport() { return m_report.exchange(false); }
    // Set before start: the read sequence is where a file that was cut (at a
    // change of the date, or where the stream's time jumped) left off, so the
    // file goes on from there and must be playable from its first frame.
    bool continuesAfterCut() const { return m_afterCut.load(); }
    void setContinuesAfterCut(bool after) { m_afterCut = after; }
    // Set before start: how much of the recording's length the files before
    // this one took (ms); this file takes only what is left.
    qint64 recordedBefore() const { return m_recordedBefore.load(); }
    void setRecordedBefore(qint64 ms)
    {
        m_recordedBefore = ms;
        m_recorded = ms;
    }
    // Once the run ended: the recording's length used up so far, this file's
    // share included (ms).
    qint64 recordedMs() const { return m_recorded.load(); }
    // The frames a file cut where the date changed hands to the next one,
    // which reads them before the frame buffer: the recorder that cut sets
    // them before it tells the cut, and whoever starts the next recorder
    // takes them and sets them on it before it starts. Null when there are
    // none; taken once.
    void setHandOver(std::unique_ptr<FrameHandOver> frames);
    std::unique_ptr<FrameHandOver> takeHandOver();
    // The last frame-buffer sequence the running recorder took; -1 before
    // its first.
    qint64 readPosition() const { return m_position.load(); }
    // What `buffer`, its frame buffer, holds past readPosition() when the
    // buffer has to be emptied (the stream was lost): pictures the client
    // received, which the recorder writes before its file ends. A tail not
    // taken yet stays, and what follows it is added: a redial refused at
    // once empties the buffer again before the recorder looks. Taken once.
    void keepTail(qcFrameBuffer &buffer);
    std::unique_ptr<FrameHandOver> takeTail();

signals:
    void sigCompleted(QString filename);
    // The stream's time jumped: the next recording continues after llseq,
    // with the frame that showed the jump.
    void sigInterruptSeq(qlonglong llseq);
    // The file ended where the date changed: the next recording continues
    // after llseq, with the first frame of the new date.
    void sigDateChange(qlonglong llseq);
    // The file holds its length, its last frame llseq: a scheduled
    // recording's next file goes on after it.
    void sigLengthUsed(qlonglong llseq);

protected:
    void setRecordedMs(qint64 ms) { m_recorded = ms; }
    void setReadPosition(qint64 sequence) { m_position = sequence; }

private:
    // Both hand-overs pass between threads: one lock for either.
    std::unique_ptr<FrameHandOver> exchange(std::unique_ptr<FrameHandOver> *slot,
                                            std::unique_ptr<FrameHandOver> frames);

    std::atomic<int> m_kind{0};
    std::atomic<bool> m_report{false};
    std::atomic<bool> m_afterCut{false};
    std::atomic<qint64> m_recordedBefore{0};
    std::atomic<qint64> m_recorded{0};
    std::atomic<qint64> m_position{-1};
    std::mutex m_handOverMutex;
    std::unique_ptr<FrameHandOver> m_handOver;
    std::unique_ptr<FrameHandOver> m_tail;
};

using qcRecorderFactory = std::function<qcRecorderInterface *()>;

// The recorder for a new recording: the installed factory's, else a qcVideoMuxer.
qcRecorderInterface *createRecorder();
// An empty factory restores the default.
void setRecorderFactory(qcRecorderFactory factory);
