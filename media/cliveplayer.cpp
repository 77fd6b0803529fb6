#include "media/cliveplayer.h"

#include "media/cyuvrender.h"

#include "app/core/settingranges.h"
#include "device/qcringbuffer.h"
#include "media/cd3drender.h"
#include "media/cd3dwndrender.h"
#include "media/codecids.h"
#include "media/qcaudioplayer.h"
#include "media/qcframebuffer.h"
#include "media/capturefile.h"
#include "media/recordfileguard.h"
#include "platform/clock.h"
#include "media/h265/qcvideodecoder.h"

#include <QBuffer>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <time.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

namespace {
constexpr int kPadding = AV_INPUT_BUFFER_PADDING_SIZE;
constexpr int kQueueMs = 10;
constexpr int kSourceMs = 20;
constexpr int kIdleMs = 50;
constexpr int kAudioTypeFrame = 4;
constexpr int kWideH265 = 2000;
constexpr qint64 kStopWarnMs = 5000;

// Processor time of the calling thread, for the diagnostic counters.
int64_t threadCpuNanos()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool isPlanar420(const AVFrame *f)
{
    return f->format == AV_PIX_FMT_YUV420P || f->format == AV_PIX_FMT_YUVJ420P;
}

// A picture the decoder cropped from the coded size the stream announced
// (less than one macroblock in each direction), as P2P devices announce it.
bool isCropOf(const AVFrame *f, int width, int height)
{
    return f->width > 0 && f->height > 0 && f->width <= width && f->height <= height && width - f->width < 16 &&
           height - f->height < 16;
}

// The input queue grows with the picture width.
int queueBytesFor(int width)
{
    if (width < 1920) {
        qDebug() << "=======100W=======";
        return 3145728;
    }
    if (width < 2030) {
        qDebug() << "=======200W=======";
        return 5242880;
    }
    if (width < 3600) {
        qDebug() << "=======400W=======";
        return 10485760;
    }
    qDebug() << "=======MAXW=======";
    return 16777216;
}
} // namespace

CLivePlayer::CLivePlayer(QObject *parent) : QThread(parent), m_readBuffer(size_t(kReadBufferBytes) + kPadding, 0) {}

CLivePlayer::~CLivePlayer()
{
    m_stop = true;
    m_audioRequested = false;
    m_stopToken.requestStop();
    if (isRunning()) {
        QElapsedTimer t;
        t.start();
        wait();
        if (t.elapsed() > kStopWarnMs)
            qDebug() << "live player took" << t.elapsed() << "ms to stop";
    }
    closeDecoder();
    std::lock_guard<std::mutex> lock(m_renderMutex);
    m_wndRender = nullptr;
    m_d3dRender = nullptr;
    m_yuvRender = nullptr;
}

void CLivePlayer::initFfmpeg() {}

void CLivePlayer::setVideoInfo(int width, int height, int codec, bool ffmpegForH265)
{
    m_width = width;
    m_height = height;
    m_codec = codec;
    m_ffmpegForH265 = ffmpegForH265;
    m_videoInfoReady = true;
}

void CLivePlayer::setFrameSource(qcFrameBuffer *source)
{
    qcFrameBuffer *none = nullptr;
    m_source.compare_exchange_strong(none, source);
}

bool CLivePlayer::inputData(const uint8_t *data, int length, int)
{
    if (!m_decoderOpen || !data || length < 1 || length >= kReadBufferBytes || m_stop)
        return false;
    QMutexLocker lock(&m_queueMutex);
    return m_queue && m_queue->push(data, unsigned(length));
}

void CLivePlayer::setWndRender(CD3DWndRender *render)
{
    std::lock_guard<std::mutex> lock(m_renderMutex);
    m_wndRender = render;
}

void CLivePlayer::setRenderWidget(CYuvRender *render)
{
    std::lock_guard<std::mutex> lock(m_renderMutex);
    disconnect(m_yuvUpdate);
    m_yuvRender = render;
    if (render)
        m_yuvUpdate =
            connect(this, &CLivePlayer::sigRenderUpdate, render, &CYuvRender::onUpdatevideo, Qt::QueuedConnection);
}

void CLivePlayer::setD3DRender(CD3DRender *render)
{
    std::lock_guard<std::mutex> lock(m_renderMutex);
    m_d3dRender = render;
}

void CLivePlayer::setRenderActive(bool active)
{
    std::lock_guard<std::mutex> lock(m_renderMutex);
    if (!m_yuvRender)
        return;
    m_yuvRender->setActive(active);
    m_renderUpdate = true;
}

void CLivePlayer::setPaused(bool paused)
{
    m_paused = paused;
}

void CLivePlayer::setSnapshotFormat(int format)
{
    if (format == kSnapshotBmp || format == kSnapshotJpg)
        m_snapshotFormat = format;
}

void CLivePlayer::setSnapshotQuality(int level)
{
    using namespace settingranges;
    if (kSnapshotQuality.contains(level))
        m_jpegQuality = kJpegQualityOfLevel[level - kSnapshotQuality.min];
}

bool CLivePlayer::requestSnapshot(const QString &top, SnapshotName name)
{
    return name && queueSnapshot({top, std::move(name), QString()});
}

bool CLivePlayer::requestSnapshot(const QString &top, const QString &path)
{
    if (recordfileguard::kindOf(top, path) != recordfileguard::Kind::Absent || !QFileInfo(path).dir().exists())
        return false;
    return queueSnapshot({top, [path](const QDateTime &) { return path; }, path});
}

bool CLivePlayer::queueSnapshot(PendingSnapshot snapshot)
{
    if (m_stop)
        return false;
    QMutexLocker lock(&m_snapshotMutex);
    if (!snapshot.path.isEmpty())
        for (const PendingSnapshot &pending : qAsConst(m_pendingSnapshots))
            if (pending.path == snapshot.path)
                return false;
    m_pendingSnapshots.append(std::move(snapshot));
    m_snapshotPending = true;
    return true;
}

QStringList CLivePlayer::dropSnapshots()
{
    QList<PendingSnapshot> dropped;
    {
        QMutexLocker lock(&m_snapshotMutex);
        dropped.swap(m_pendingSnapshots);
        m_snapshotPending = false;
    }
    const QDateTime now = snapshotTime();
    QStringList paths;
    for (const PendingSnapshot &pending : qAsConst(dropped))
        paths << pending.name(now);
    return paths;
}

void CLivePlayer::startAudio(int codec, int channels, int sampleRate)
{
    if (m_audioRequested)
        return;
    m_audioCodec = codec;
    m_audioChannels = channels;
    m_audioRate = sampleRate;
    m_audioRequested = true;
    qDebug() << "-------------Start Audio--------------";
}

void CLivePlayer::stopAudio()
{
    if (!m_audioRequested)
        return;
    m_audioRequested = false;
    // What the output still holds would go on playing for as long as it
    // holds; the player thread empties it on its next pass.
    m_audioFlush = true;
    qDebug() << "-------------Stop Audio--------------";
}

void CLivePlayer::setVolume(int volume)
{
    // The audio output belongs to the player thread, which hands the value on
    // with the next audio frame.
    m_volume = volume;
}

bool CLivePlayer::stopLiveplay()
{
    m_stop = true;
    m_stopToken.requestStop();
    {
        std::lock_guard<std::mutex> lock(m_renderMutex);
        if (m_yuvRender)
            m_yuvRender->setActive(false);
    }
    qDebug() << "Stop Liveplay";
    return true;
}

bool CLivePlayer::openDecoder()
{
    const int width = m_width;
    const int height = m_height;
    const int codec = m_codec;
    if (width <= 0 || height <= 0)
        return false;
    if (codec != media::codecids::kVideoH264 && codec != media::codecids::kVideoHevc)
        return false;
    bool useFfmpeg = codec == media::codecids::kVideoH264 || m_ffmpegForH265;
    if (useFfmpeg) {
        const AVCodec *decoder = avcodec_find_decoder(media::codecids::videoToAv(codec));
        if (!decoder)
            return false;
        AVCodecContext *ctx = avcodec_alloc_context3(decoder);
        if (!ctx)
            return false;
        AVDictionary *options = nullptr;
        // Frame threading adds a frame of delay per thread; only wide H.265
        // needs the extra hands.
        if (width > kWideH265 && codec == media::codecids::kVideoHevc) {
            av_dict_set(&options, "threads", "2", 0);
            ctx->thread_count = 2;
            ctx->thread_type = FF_THREAD_FRAME;
        }
        const int r = avcodec_open2(ctx, decoder, &options);
        av_dict_free(&options);
        if (r != 0) {
            avcodec_free_context(&ctx);
            return false;
        }
        m_ctx = ctx;
        if (!m_packet)
            m_packet = av_packet_alloc();
        if (!m_picture)
            m_picture = av_frame_alloc();
        if (!m_received)
            m_received = av_frame_alloc();
        if (!m_packet || !m_picture || !m_received) {
            avcodec_free_context(&m_ctx);
            return false;
        }
    } else {
        m_wrapper = new qcVideoDecoder;
        m_wrapper->open(width, height); // one that did not open gives no pictures
        m_ownDecoderInUse = true;
    }

    if (!m_source.load()) {
        QMutexLocker lock(&m_queueMutex);
        if (!m_queue) {
            const int bytes = queueBytesFor(width);
            m_queue = std::make_unique<qcRingBuffer>();
            m_queue->allocate(bytes, false);
            m_queueCapacity = bytes;
        }
    }
    m_decoderOpen = true;
    return true;
}

void CLivePlayer::stopAudioOutput()
{
    if (!m_audio)
        return;
    m_audio->stopPlay();
    QElapsedTimer t;
    t.start();
    m_audio->wait();
    if (t.elapsed() > 1000)
        qDebug() << "audio output took" << t.elapsed() << "ms to stop";
    delete m_audio;
    m_audio = nullptr;
    m_audioExists = false;
    m_audioOutCodec = -1;
}

void CLivePlayer::closeDecoder()
{
    m_audioRequested = false;
    stopAudioOutput();
    avcodec_free_context(&m_ctx);
    delete m_wrapper;
    m_wrapper = nullptr;
    m_current = nullptr;
    av_frame_free(&m_picture);
    av_frame_free(&m_received);
    av_frame_free(&m_padded);
    av_packet_free(&m_packet);
    QMutexLocker lock(&m_queueMutex);
    if (m_queue) {
        m_queue->release();
        m_queue.reset();
    }
}

bool CLivePlayer::readFromSource(uint32_t *length, uint32_t *type)
{
    qcFrameBuffer *source = m_source.load();
    uint64_t timestamp = 0;
    auto read = [&] {
        return source->readFrame(m_readBuffer.data(), kReadBufferBytes, length, type, &timestamp, &m_lastSequence, -1,
                                 false, -1);
    };
    bool ok = read();
    if (!ok && source->positionLost(m_lastSequence, kReadBufferBytes)) {
        // Overtaken by eviction: waiting cannot bring the frame back.
        m_lastSequence = -1;
        m_misses = 0;
        ok = read();
    }
    if (!ok) {
        if (m_misses <= kMaxMisses) {
            ++m_misses;
            return false;
        }
        // Starved for about six seconds: start again near the newest frame.
        m_lastSequence = -1;
        m_misses = 0;
        if (!read())
            return false;
    }
    m_misses = 0;
    return true;
}

int CLivePlayer::decodeOne()
{
    if (!m_decoderOpen)
        return 0;
    uint32_t length = 0;
    uint32_t type = 1;
    if (m_queue) {
        unsigned int popped = 0;
        bool ok;
        {
            QMutexLocker lock(&m_queueMutex);
            ok = m_queue->pop(m_readBuffer.data(), kReadBufferBytes, &popped);
        }
        if (!ok)
            return 0;
        length = popped;
    } else if (!m_source.load() || !readFromSource(&length, &type)) {
        return 0;
    }
    // FFmpeg reads past the end of a packet; those bytes must be zero.
    std::memset(m_readBuffer.data() + length, 0, kPadding);
    if (m_paused)
        return 1;
    if (type == kAudioTypeFrame) {
        if (m_audioRequested && m_audio) {
            m_audio->pushData(m_readBuffer.data(), int(length));
            if (m_audio->volume() != m_volume)
                m_audio->setVolume(m_volume);
        }
        return 2;
    }
    QElapsedTimer t;
    const int64_t cpu = threadCpuNanos();
    t.start();
    const int r = decodeVideo(int(length));
    m_decodeNs += t.nsecsElapsed();
    m_decodeCpuNs += threadCpuNanos() - cpu;
    if (r == 1)
        ++m_decoded;
    return r;
}

int CLivePlayer::decodeVideo(int length)
{
    if (m_ctx) {
        // Without a buffer reference FFmpeg copies the packet, so the read
        // buffer is free again when this returns.
        m_packet->data = m_readBuffer.data();
        m_packet->size = length;
        const int sent = avcodec_send_packet(m_ctx, m_packet);
        m_packet->data = nullptr;
        m_packet->size = 0;
        if (sent < 0 && sent != AVERROR(EAGAIN))
            return 0;
        bool got = false;
        // One packet may give several pictures with frame threading; a live
        // view shows the newest.
        while (avcodec_receive_frame(m_ctx, m_received) == 0) {
            av_frame_unref(m_picture);
            av_frame_move_ref(m_picture, m_received);
            got = true;
        }
        if (got)
            m_current = m_picture;
        return got ? 1 : 0;
    }
    if (m_wrapper) {
        int got = 0;
        if (m_wrapper->decode(m_readBuffer.data(), length, &got) > 0 && got) {
            m_current = m_wrapper->picture();
            return 1;
        }
    }
    return 0;
}

void CLivePlayer::renderFrame(const AVFrame *picture)
{
    if (picture->linesize[0] <= 0)
        return;
    // The renderer copies the size the stream announced; a picture of any
    // other size (wrong information, a size change not announced yet, a
    // crop) would be read out of bounds.
    const int width = m_width;
    const int height = m_height;
    if (isPlanar420(picture) && (picture->width != width || picture->height != height) &&
        isCropOf(picture, width, height)) {
        picture = padToSize(picture, width, height);
        if (!picture)
            return;
    }
    if (picture->width != width || picture->height != height || !isPlanar420(picture)) {
        if (picture->width != m_skippedWidth || picture->height != m_skippedHeight) {
            m_skippedWidth = picture->width;
            m_skippedHeight = picture->height;
            qDebug() << "picture of" << picture->width << "x" << picture->height << "not drawn: the stream announced"
                     << width << "x" << height;
        }
        return;
    }
    std::lock_guard<std::mutex> lock(m_renderMutex);
    if (m_yuvRender && !m_stop) {
        // Packed again whenever the size changes: a stream may grow on an
        // open connection.
        if (m_packedWidth != width || m_packedHeight != height) {
            m_packed.assign(size_t(width) * size_t(height) * 3 / 2, 0);
            m_packedWidth = width;
            m_packedHeight = height;
        }
        uint8_t *out = m_packed.data();
        for (int plane = 0; plane < 3; ++plane) {
            const int w = plane ? width / 2 : width;
            const int h = plane ? height / 2 : height;
            for (int y = 0; y < h; ++y, out += w)
                std::memcpy(out, picture->data[plane] + y * picture->linesize[plane], size_t(w));
        }
        if (m_yuvRender->setFrameData(m_packed.data(), qint64(m_packed.size()))) {
            ++m_drawn;
            emit sigRenderUpdate();
        }
    }
    if (m_d3dRender && !m_stop) {
        // Its render thread draws; this only queues (or drops) a copy.
        if (m_d3dRender->inputFrame(picture, width, height, 0))
            ++m_drawn;
        return;
    }
    if (m_wndRender && !m_stop) {
        QElapsedTimer t;
        const int64_t cpu = threadCpuNanos();
        const int64_t yielded = m_wndRender->yieldNanos();
        t.start();
        if (m_wndRender->drawFrame(picture->data, picture->linesize))
            ++m_drawn;
        m_drawNs += t.nsecsElapsed();
        m_drawCpuNs += threadCpuNanos() - cpu;
        m_yieldNs += m_wndRender->yieldNanos() - yielded;
    }
}

const AVFrame *CLivePlayer::padToSize(const AVFrame *picture, int width, int height)
{
    if (!m_padded || m_padded->width != width || m_padded->height != height || m_padded->format != picture->format) {
        av_frame_free(&m_padded);
        m_padded = av_frame_alloc();
        if (!m_padded)
            return nullptr;
        m_padded->width = width;
        m_padded->height = height;
        m_padded->format = picture->format;
        if (av_frame_get_buffer(m_padded, 32) < 0) {
            av_frame_free(&m_padded);
            return nullptr;
        }
    }
    // The last row and column repeat into the rows and columns the crop removed.
    for (int plane = 0; plane < 3; ++plane) {
        const int shift = plane == 0 ? 0 : 1;
        const int srcW = (picture->width + shift) >> shift;
        const int srcH = (picture->height + shift) >> shift;
        const int dstW = (width + shift) >> shift;
        const int dstH = (height + shift) >> shift;
        for (int y = 0; y < dstH; ++y) {
            const uint8_t *src = picture->data[plane] + std::min(y, srcH - 1) * picture->linesize[plane];
            uint8_t *dst = m_padded->data[plane] + y * m_padded->linesize[plane];
            std::memcpy(dst, src, size_t(srcW));
            std::memset(dst + srcW, src[srcW - 1], size_t(dstW - srcW));
        }
    }
    return m_padded;
}

void CLivePlayer::pictureStep()
{
    const AVFrame *picture = m_current;
    if (!picture)
        return;
    if (!m_paused)
        renderFrame(picture);
    if (m_snapshotPending) {
        snapshotFromFrame(picture, picture->width, picture->height, m_jpegQuality);
        QMutexLocker lock(&m_snapshotMutex);
        if (m_pendingSnapshots.isEmpty())
            m_snapshotPending = false;
    }
}

bool CLivePlayer::snapshotFromFrame(const AVFrame *picture, int width, int height, int quality)
{
    if (!isPlanar420(picture) || width < 1 || height < 1)
        return false;
    const int size = av_image_get_buffer_size(AV_PIX_FMT_RGB24, width, height, 1);
    if (size <= 0)
        return false;
    uint8_t *rgb = static_cast<uint8_t *>(av_malloc(size_t(size)));
    if (!rgb)
        return false;
    SwsContext *sws = sws_getCachedContext(nullptr, width, height, AVPixelFormat(picture->format), width, height,
                                           AV_PIX_FMT_RGB24, SWS_X, nullptr, nullptr, nullptr);
    uint8_t *dstData[4] = {};
    int dstLines[4] = {};
    const bool converted = sws &&
                           av_image_fill_arrays(dstData, dstLines, rgb, AV_PIX_FMT_RGB24, width, height, 1) >= 0 &&
                           sws_scale(sws, picture->data, picture->linesize, 0, height, dstData, dstLines) == height;
    sws_freeContext(sws);
    if (!converted) {
        // The path stays queued for the next picture.
        av_free(rgb);
        return false;
    }
    const QImage image(rgb, width, height, width * 3, QImage::Format_RGB888);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    const bool encoded = buffer.open(QIODevice::WriteOnly) &&
                         image.save(&buffer, m_snapshotFormat == kSnapshotJpg ? "JPG" : "BMP", quality);
    av_free(rgb);
    PendingSnapshot next;
    {
        QMutexLocker lock(&m_snapshotMutex);
        if (m_pendingSnapshots.isEmpty())
            return false;
        next = m_pendingSnapshots.takeFirst();
    }
    // Named now: the name gives the time of the picture, not of the request.
    const QDateTime taken = snapshotTime();
    int error = EIO;
    const QString path = encoded
                             ? capturefile::store(
                                   next.top, [&](int raise) { return next.name(taken.addMSecs(raise)); }, bytes, &error)
                             : QString();
    if (path.isEmpty()) {
        const QString wanted = next.name(taken);
        if (!encoded)
            capturefile::notTaken(wanted, error);
        qDebug() << "snapshot could not be written:" << wanted;
        emit sigSnapshotFailed(wanted, error);
        return false;
    }
    emit sigSnapshot(path);
    return true;
}

QDateTime CLivePlayer::snapshotTime() const
{
    const platform::Clock *clock = m_clock;
    return clock ? clock->now() : platform::localNow();
}

void CLivePlayer::audioStep()
{
    if (!m_audioRequested)
        return;
    const int codec = m_audioCodec;
    const int rate = m_audioRate;
    const int channels = m_audioChannels ? 2 : 1;
    // An output playing other parameters would turn the new stream into
    // noise; it makes way for a new one.
    if (m_audio && (m_audioOutCodec != codec || m_audioOutRate != rate || m_audioOutChannels != channels))
        stopAudioOutput();
    if (m_audio)
        return;
    if (codec < 0 || codec > 5) {
        m_audioRequested = false;
        return;
    }
    auto *audio = new qcAudioPlayer;
    if (m_audioSinkFactory)
        audio->setSinkFactory(m_audioSinkFactory);
    if (!audio->startPlay(rate, channels, 16, codec)) {
        delete audio;
        m_audioRequested = false;
        return;
    }
    audio->start();
    audio->setVolume(m_volume);
    m_audio = audio;
    m_audioOutCodec = codec;
    m_audioOutRate = rate;
    m_audioOutChannels = channels;
    m_audioExists = true;
}

void CLivePlayer::run()
{
    while (!m_stop) {
        if (!m_decoderOpen && m_videoInfoReady)
            openDecoder();
        bool audioStepDue = true;
        if (m_renderUpdate.exchange(false)) {
            emit sigRenderUpdate();
        } else if (m_source.load()) {
            if (m_paused) {
                m_lastSequence = -1;
                m_misses = 0;
                sleepMs(kSourceMs);
                audioStepDue = false;
            } else {
                const int r = decodeOne();
                if (r == 1)
                    pictureStep();
                else if (r == 0)
                    sleepMs(kSourceMs);
            }
        } else if (m_queue) {
            if (m_queue->count() <= 0) {
                sleepMs(kQueueMs);
            } else {
                const int r = decodeOne();
                if (r == 1)
                    pictureStep();
                else if (r == 0)
                    sleepMs(kQueueMs);
            }
        } else {
            sleepMs(kIdleMs);
        }
        if (m_audioFlush.exchange(false) && m_audio)
            m_audio->flush();
        if (audioStepDue)
            audioStep();
    }
    closeDecoder();
    qDebug() << "---Decoder Exit!---";
}
