#pragma once

#include "media/qcrecorderinterface.h"
#include "media/recordingday.h"
#include "platform/stoptoken.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class qcRecordFile;

// Pauses of the recorder; tests shorten them before start().
struct RecorderTiming
{
    int emptyReadPauseMs = 100;
    int frameRatePollMs = 20;
    int frameRateGiveUpMs = 10000;
};

// Writes one recording: reads one stream's frame buffer, writes the frames
// into one record file, indexes its key frames in the folder's kfindex, lists
// it in reclist when it ends, names it after its first and last frame, and
// ends. The stream unit chains recorders for longer recordings. A file that
// continues one cut where the date changed or the stream's time jumped, or
// a schedule's file that holds its length, starts with the pictures since the
// last key frame, stamped with its own start, so it plays from there; the
// sound that came after them follows them, and the file starts where that
// sound does.
class qcVideoMuxer : public qcRecorderInterface
{
    Q_OBJECT
public:
    static constexpr int kWorkBufferSize = 0xA00000;
    static constexpr int kMinNameLength = 42;
    static constexpr int kMaxEmptyReads = 72;
    // What a recorder waiting for the date keeps of its stream for the next
    // file: more than the longest wait of the largest streams.
    static constexpr qint64 kHandOverBytes = FrameHandOver::kStreamBytes;

    qcVideoMuxer();
    ~qcVideoMuxer() override;

    bool setRecordParams(const QString &top, const QString &fileName, int kind, int stream, int lengthSec, int preSec,
                         int postSec, qint64 readSequence) override;
    void setStreamInfo(int audioCodec, int audioRate, int channels, int videoCodec, int width, int height,
                       int frameRate, bool hasAudio, int decoderChoice) override;
    bool setFrameBuffer(qcFrameBuffer *buffer) override;
    void stop() override;

    void setTiming(const RecorderTiming &timing) { m_timing = timing; }
    bool isReady() const { return m_ready.load(); }
    // The path as it is now (initial, start or final name).
    QString fileName() const;
    // Test seam: called with the open record file right after the first frame.
    void setAfterFirstFrame(std::function<void(qcRecordFile *)> hook) { m_afterFirst = std::move(hook); }

protected:
    void run() override;

private:
    struct Frame
    {
        uint32_t length = 0;
        uint32_t type = 0;
        uint64_t timestamp = 0;
        int64_t sequence = -1;
    };
    struct Written;
    bool readFirst(Frame *frame, int frameRate);
    bool readNext(Frame *frame, bool *endNow);
    // The frame after `position` into dst: from the frames handed over while
    // they hold it, else from the frame buffer (framesBack as there).
    bool readAfter(int64_t position, Frame *frame, char *dst, int framesBack = -1);
    bool collect(FrameHandOver *held, int64_t *position);
    bool handOverGoesOn();
    bool writeVideo(qcRecordFile *file, Written *w, const char *data, const Frame &frame, qint64 stamp);
    bool writeSound(qcRecordFile *file, Written *w, const char *data, const Frame &frame);
    void writeLeadIn(qcRecordFile *file, Written *w, int64_t firstRecord, const Frame &frame, qint64 start);
    void updateReady();
    // Gives the file its start name in the folder of its day; empty when it
    // cannot be renamed.
    QString nameStart(qcRecordFile *file, qint64 stamp);
    std::unique_ptr<FrameHandOver> awaitTheDate(int64_t cut);

    qcFrameBuffer *m_buffer = nullptr;
    std::atomic<bool> m_ready{false};
    platform::StopToken m_stop;
    QString m_fileName;
    QString m_top;
    int m_kind = 0;
    int m_stream = 0;
    int m_length = 0;
    int m_pre = 0;
    int m_post = 0;
    qint64 m_readSequence = -1;
    int m_audioCodec = -1;
    int m_audioRate = 0;
    int m_channels = 0;
    int m_videoCodec = 0;
    int m_width = 0;
    int m_height = 0;
    int m_frameRate = 0;
    bool m_hasAudio = false;
    int m_decoder = 0;
    RecorderTiming m_timing;
    std::unique_ptr<char[]> m_work;
    RecordingDay m_day;
    // The frames the file before handed over, until this one has read them.
    std::unique_ptr<FrameHandOver> m_held;
    std::function<void(qcRecordFile *)> m_afterFirst;
    mutable std::mutex m_nameMutex;
    std::mutex m_runMutex;
};
