#pragma once

#include <QMutex>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/stoptoken.h"

class CD3DRender;
class CD3DWndRender;
class CYuvRender;
class qcAudioPlayer;
class qcFrameBuffer;
class qcRingBuffer;
class qcVideoDecoder;
class QDateTime;
namespace platform {
class Clock;
}
struct AVCodecContext;
struct AVFrame;
struct AVPacket;

// The decode-and-draw thread of one video window. Takes compressed frames
// from one source (a stream's frame buffer, or an input queue its owner
// fills), decodes the video, draws each picture through the attached
// renderer on this thread, writes snapshots on request and feeds audio to an
// audio output thread. Frames are drawn as they arrive, not paced.
class CLivePlayer : public QThread
{
    Q_OBJECT
public:
    static constexpr int kReadBufferBytes = 8388608;
    static constexpr int kSnapshotBmp = 145;
    static constexpr int kSnapshotJpg = 146;
    static constexpr int kMaxMisses = 300;

    explicit CLivePlayer(QObject *parent = nullptr);
    ~CLivePlayer() override;

    // FFmpeg registers its codecs and locks by itself; kept for callers.
    static void initFfmpeg();

    void setVideoInfo(int width, int height, int codec, bool ffmpegForH265);
    void setFrameSource(qcFrameBuffer *source);
    bool inputData(const uint8_t *data, int length, int reserved = 0);
    // After it returns the previous renderer is no longer in use.
    void setWndRender(CD3DWndRender *render);
    // The same for a preview's OpenGL widget, which then repaints on each
    // picture drawn into it.
    void setRenderWidget(CYuvRender *render);
    // The same for a preview's Direct3D renderer, which takes each picture
    // into its own queue.
    void setD3DRender(CD3DRender *render);
    // With an OpenGL picture widget attached: switches its drawing on or off
    // (off blanks it) and has the loop ask it to repaint on its next pass,
    // so that it shows the change without waiting for a picture.
    void setRenderActive(bool active);
    void setPaused(bool paused);
    void setSnapshotFormat(int format);
    void setSnapshotQuality(int level);
    // The file of a snapshot whose picture was taken at `taken`.
    using SnapshotName = std::function<QString(const QDateTime &taken)>;
    // Asks for the next decoded picture, named when it is taken and stored
    // under top, the snapshot root the names lie under (see
    // recordfileguard). Nothing is written before: a snapshot that never
    // gets its picture leaves no file. False once the player stops.
    bool requestSnapshot(const QString &top, SnapshotName name);
    // The same into one file; false when something stands under its name,
    // its folder is missing or it was asked for already.
    bool requestSnapshot(const QString &top, const QString &path);
    // Drops the snapshots still waiting for a picture; returns the files
    // they would have been now.
    QStringList dropSnapshots();
    // Snapshot names take their time from here; the program's clock by default.
    void setClock(const platform::Clock *clock) { m_clock = clock; }
    void startAudio(int codec, int channels, int sampleRate);
    void stopAudio();
    void setVolume(int volume);
    bool stopLiveplay();

    // Diagnostics for benchmarks: cumulative wall time spent decoding and
    // drawing, the processor time of the same calls (without the time the
    // thread waited for a processor), the part of the draw time spent in the
    // renderer's yield, and the pictures decoded and drawn.
    int64_t decodeNanos() const { return m_decodeNs.load(); }
    int64_t decodeCpuNanos() const { return m_decodeCpuNs.load(); }
    int64_t drawNanos() const { return m_drawNs.load(); }
    int64_t drawCpuNanos() const { return m_drawCpuNs.load(); }
    int64_t drawYieldNanos() const { return m_yieldNs.load(); }
    int64_t picturesDecoded() const { return m_decoded.load(); }
    int64_t picturesDrawn() const { return m_drawn.load(); }
    // Test reach: the input queue's capacity once the decoder opened (0 without).
    int inputQueueCapacity() const { return m_queueCapacity.load(); }
    bool decoderOpen() const { return m_decoderOpen.load(); }
    // Test reach: H.265 goes through the program's own decoder, not FFmpeg.
    bool ownDecoderInUse() const { return m_ownDecoderInUse.load(); }
    bool hasAudioOutput() const { return m_audioExists.load(); }
    // Test reach: whether the owner has the sound switched on, and its volume.
    bool audioRequested() const { return m_audioRequested.load(); }
    int volume() const { return m_volume.load(); }
    bool isPaused() const { return m_paused.load(); }
    // The picture size the owner last described.
    int videoWidth() const { return m_width.load(); }
    int videoHeight() const { return m_height.load(); }
    int audioOutputCodec() const { return m_audioOutCodec.load(); }
    // For machines without sound and for tests; set before start().
    void setAudioSinkFactory(std::function<std::unique_ptr<class qcAudioSink>(const class QAudioFormat &)> factory)
    {
        m_audioSinkFactory = std::move(factory);
    }
    int jpegQuality() const { return m_jpegQuality.load(); }
    int snapshotFormat() const { return m_snapshotFormat.load(); }

signals:
    void sigRenderUpdate();
    void sigSnapshot(QString path);
    // A picture taken but not stored (`error`: the errno of the write);
    // told already as every picture not stored is (capturefile).
    void sigSnapshotFailed(QString path, int error);

protected:
    void run() override;

private:
    struct PendingSnapshot
    {
        QString top;
        SnapshotName name;
        QString path; // the one file asked for, if any
    };

    bool openDecoder();
    void closeDecoder();
    int decodeOne();
    int decodeVideo(int length);
    bool readFromSource(uint32_t *length, uint32_t *type);
    void renderFrame(const AVFrame *picture);
    const AVFrame *padToSize(const AVFrame *picture, int width, int height);
    void pictureStep();
    void audioStep();
    void stopAudioOutput();
    bool queueSnapshot(PendingSnapshot snapshot);
    QDateTime snapshotTime() const;
    bool snapshotFromFrame(const AVFrame *picture, int width, int height, int quality);
    void sleepMs(int ms) { m_stopToken.sleepFor(ms); }

    // Settings written by the owner, read by the loop on its next pass.
    std::atomic<int> m_codec{0};
    std::atomic<int> m_width{0};
    std::atomic<int> m_height{0};
    std::atomic<bool> m_ffmpegForH265{false};
    std::atomic<bool> m_videoInfoReady{false};
    std::atomic<int> m_snapshotFormat{kSnapshotJpg};
    std::atomic<int> m_jpegQuality{75};
    std::atomic<bool> m_paused{false};
    std::atomic<bool> m_renderUpdate{false};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_snapshotPending{false};
    std::atomic<bool> m_audioRequested{false};
    std::atomic<bool> m_audioFlush{false};
    std::atomic<int> m_audioChannels{0};
    std::atomic<int> m_audioCodec{0};
    std::atomic<int> m_audioRate{0};
    std::atomic<int> m_volume{0};
    std::atomic<bool> m_decoderOpen{false};
    std::atomic<bool> m_ownDecoderInUse{false};
    std::atomic<bool> m_audioExists{false};
    std::atomic<qcFrameBuffer *> m_source{nullptr};
    std::atomic<int> m_queueCapacity{0};

    // Player thread only.
    AVCodecContext *m_ctx = nullptr;
    AVPacket *m_packet = nullptr;
    AVFrame *m_picture = nullptr; // newest decoded picture
    AVFrame *m_received = nullptr;
    AVFrame *m_padded = nullptr; // a cropped picture grown back to the announced size
    const AVFrame *m_current = nullptr;
    qcVideoDecoder *m_wrapper = nullptr; // the own H.265 decoder, when built
    std::vector<uint8_t> m_readBuffer;
    int64_t m_lastSequence = -1;
    int m_misses = 0;
    int m_skippedWidth = 0;
    int m_skippedHeight = 0;
    qcAudioPlayer *m_audio = nullptr;
    std::atomic<int> m_audioOutCodec{-1};
    int m_audioOutRate = 0;
    int m_audioOutChannels = 0;

    QMutex m_queueMutex; // the input queue's pop and push
    std::unique_ptr<qcRingBuffer> m_queue;
    // The renderer pointers, for one draw at a time (a standard mutex, whose
    // hand-over the thread sanitizer sees).
    std::mutex m_renderMutex;
    CYuvRender *m_yuvRender = nullptr;
    QMetaObject::Connection m_yuvUpdate;
    std::vector<uint8_t> m_packed; // the picture as one I420 block, at m_packedWidth x m_packedHeight
    int m_packedWidth = 0;
    int m_packedHeight = 0;
    CD3DRender *m_d3dRender = nullptr;
    CD3DWndRender *m_wndRender = nullptr;
    QMutex m_snapshotMutex;
    QList<PendingSnapshot> m_pendingSnapshots;
    std::atomic<const platform::Clock *> m_clock{nullptr};

    std::function<std::unique_ptr<qcAudioSink>(const QAudioFormat &)> m_audioSinkFactory;
    platform::StopToken m_stopToken;
    std::atomic<int64_t> m_decodeNs{0};
    std::atomic<int64_t> m_decodeCpuNs{0};
    std::atomic<int64_t> m_drawNs{0};
    std::atomic<int64_t> m_drawCpuNs{0};
    std::atomic<int64_t> m_yieldNs{0};
    std::atomic<int64_t> m_decoded{0};
    std::atomic<int64_t> m_drawn{0};
};
