#pragma once

#include <QString>
#include <QThread>

#include <atomic>
#include <functional>

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
    // Set before start: the read sequence is where a recording that ended at
    // a change of the date left off, so the file holds the next day from its
    // first frame on and must be playable from there.
    bool continuesAfterDateChange() const { return m_afterDateChange.load(); }
    void setContinuesAfterDateChange(bool after) { m_afterDateChange = after; }

signals:
    void sigCompleted(QString filename);
    void sigInterruptSeq(qlonglong llseq);
    // The file ended where the date changed: the next recording continues
    // after llseq, with the first frame of the new date.
    void sigDateChange(qlonglong llseq);

private:
    std::atomic<int> m_kind{0};
    std::atomic<bool> m_report{false};
    std::atomic<bool> m_afterDateChange{false};
};

using qcRecorderFactory = std::function<qcRecorderInterface *()>;

// The recorder for a new recording: the installed factory's, else a qcVideoMuxer.
qcRecorderInterface *createRecorder();
// An empty factory restores the default.
void setRecorderFactory(qcRecorderFactory factory);
