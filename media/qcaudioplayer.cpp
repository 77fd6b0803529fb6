#include "media/qcaudioplayer.h"

#include "device/qcringbuffer.h"
#include "media/codecids.h"

#include <QAudioDeviceInfo>
#include <QAudioOutput>
#include <QDebug>
#include <QIODevice>

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace {
constexpr int kMaxRate = 192000;
constexpr int kPassMs = 10;
constexpr int kAacPassMs = 50;
constexpr int kSetupPauseMs = 300;

SwrContext *makeResampler(const AVChannelLayout *inLayout, AVSampleFormat inFormat, int inRate)
{
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    SwrContext *swr = nullptr;
    if (swr_alloc_set_opts2(&swr, &mono, AV_SAMPLE_FMT_S16, qcAudioDecodeStage::kOutputRate,
                            const_cast<AVChannelLayout *>(inLayout), inFormat, inRate, 0, nullptr) < 0)
        return nullptr;
    if (swr_init(swr) < 0) {
        swr_free(&swr);
        return nullptr;
    }
    return swr;
}

// Converts n input samples, sizing the output for what the resampler may
// give back (its delay included), so no record can overrun the buffer.
bool resample(SwrContext *swr, int inRate, const uint8_t *const *in, int n, QByteArray *pcm)
{
    const int64_t capacity =
        av_rescale_rnd(swr_get_delay(swr, inRate) + n, qcAudioDecodeStage::kOutputRate, inRate, AV_ROUND_UP) + 16;
    if (capacity <= 0 || capacity > 8 * 1024 * 1024)
        return false;
    const int offset = pcm->size();
    pcm->resize(offset + int(capacity) * 2);
    uint8_t *out = reinterpret_cast<uint8_t *>(pcm->data() + offset);
    const int got = swr_convert(swr, &out, int(capacity), const_cast<const uint8_t **>(in), n);
    if (got < 0) {
        pcm->resize(offset);
        return false;
    }
    pcm->resize(offset + got * 2);
    return true;
}
} // namespace

qcAudioDecodeStage::~qcAudioDecodeStage()
{
    close();
}

void qcAudioDecodeStage::close()
{
    avcodec_free_context(&m_ctx);
    av_packet_free(&m_packet);
    av_frame_free(&m_frame);
    swr_free(&m_swr);
    swr_free(&m_rawSwr);
    m_open = false;
    m_swrFormat = -1;
}

bool qcAudioDecodeStage::open(int codec, int sampleRate)
{
    close();
    // The rate comes from the network.
    if (sampleRate < 1 || sampleRate > kMaxRate)
        return false;
    m_codec = codec;
    m_rate = sampleRate;
    if (codec == media::codecids::kAudioPcm) {
        AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
        m_rawSwr = makeResampler(&mono, AV_SAMPLE_FMT_S16, sampleRate);
        m_open = m_rawSwr != nullptr;
        return m_open;
    }
    const AVCodecID id = media::codecids::audioToAv(codec);
    const AVCodec *decoder = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
    if (!decoder)
        return false;
    m_ctx = avcodec_alloc_context3(decoder);
    m_packet = av_packet_alloc();
    m_frame = av_frame_alloc();
    if (!m_ctx || !m_packet || !m_frame) {
        close();
        return false;
    }
    m_ctx->bit_rate = 48000;
    m_ctx->sample_rate = sampleRate;
    if (codec == media::codecids::kAudioAac)
        m_ctx->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
    else
        m_ctx->ch_layout = AV_CHANNEL_LAYOUT_MONO;
    if (codec == media::codecids::kAudioG726) {
        m_ctx->bits_per_coded_sample = 4;
        m_ctx->bit_rate = 16000;
    }
    if (avcodec_open2(m_ctx, decoder, nullptr) < 0) {
        close();
        return false;
    }
    m_open = true;
    return true;
}

bool qcAudioDecodeStage::decodeRaw(const uint8_t *data, int length, QByteArray *pcm)
{
    const int samples = length / 2;
    if (samples < 1)
        return false;
    // The record's bytes may sit at any address; the resampler wants samples.
    QByteArray aligned(reinterpret_cast<const char *>(data), samples * 2);
    const uint8_t *in = reinterpret_cast<const uint8_t *>(aligned.constData());
    return resample(m_rawSwr, m_rate, &in, samples, pcm) && !pcm->isEmpty();
}

bool qcAudioDecodeStage::convertFrame(const AVFrame *frame, QByteArray *pcm)
{
    if (frame->nb_samples < 1 || frame->sample_rate < 1 || frame->sample_rate > kMaxRate)
        return false;
    // The copy first frees what the destination holds (a custom layout's
    // map): left uninitialised, stack garbage that read as one had a live
    // block of this process, such as the record queue, freed under its owner.
    AVChannelLayout layout{};
    if (frame->ch_layout.nb_channels > 0)
        av_channel_layout_copy(&layout, &frame->ch_layout);
    else
        layout = AV_CHANNEL_LAYOUT_STEREO;
    // Stereo and other layouts are mixed down by the resampler; a change of
    // format within the stream makes a new one.
    if (!m_swr || m_swrFormat != frame->format || m_swrRate != frame->sample_rate ||
        m_swrChannels != layout.nb_channels) {
        swr_free(&m_swr);
        m_swr = makeResampler(&layout, AVSampleFormat(frame->format), frame->sample_rate);
        m_swrFormat = frame->format;
        m_swrRate = frame->sample_rate;
        m_swrChannels = layout.nb_channels;
    }
    av_channel_layout_uninit(&layout);
    if (!m_swr)
        return false;
    return resample(m_swr, frame->sample_rate, frame->extended_data, frame->nb_samples, pcm);
}

bool qcAudioDecodeStage::decode(const uint8_t *data, int length, int volume, QByteArray *pcm)
{
    pcm->clear();
    if (!m_open || !data || length < 1)
        return false;
    bool ok;
    if (m_codec == media::codecids::kAudioPcm) {
        ok = decodeRaw(data, length, pcm);
    } else {
        m_packet->data = const_cast<uint8_t *>(data);
        m_packet->size = length;
        ok = avcodec_send_packet(m_ctx, m_packet) >= 0;
        m_packet->data = nullptr;
        m_packet->size = 0;
        while (ok) {
            const int r = avcodec_receive_frame(m_ctx, m_frame);
            if (r < 0)
                break;
            convertFrame(m_frame, pcm);
            av_frame_unref(m_frame);
        }
        ok = ok && !pcm->isEmpty();
    }
    if (ok && volume == 0)
        std::memset(pcm->data(), 0, size_t(pcm->size()));
    return ok;
}

namespace {

class QtAudioSink : public qcAudioSink
{
public:
    QtAudioSink(const QAudioDeviceInfo &device, const QAudioFormat &format) : m_output(device, format) {}

    bool start(int bufferSize) override
    {
        m_bufferSize = bufferSize;
        m_output.setBufferSize(bufferSize);
        m_device = m_output.start();
        m_output.setVolume(m_volume);
        return m_device != nullptr;
    }

    // PulseAudio hands out free space in steps of a quarter of the buffer
    // and starts (or restarts after an underrun) only with most of the
    // buffer filled, so whatever is free is written, however little.
    int bytesFree() override { return m_output.bytesFree(); }
    qint64 write(const char *data, qint64 length) override { return m_device ? m_device->write(data, length) : -1; }
    QAudio::State state() override { return m_output.state(); }
    void setVolume(qreal volume) override
    {
        m_volume = volume;
        m_output.setVolume(volume);
    }
    // The output has no call that drops its buffer and keeps playing; a new
    // stream on the same output does both (reset() ends the old one
    // without playing what it held).
    void clear() override
    {
        if (!m_device)
            return;
        m_output.reset();
        m_output.setBufferSize(m_bufferSize);
        m_device = m_output.start();
        m_output.setVolume(m_volume);
    }
    void stop() override
    {
        if (m_device) {
            m_device->reset();
            m_device->close();
            m_device = nullptr;
        }
        m_output.stop();
    }

private:
    QAudioOutput m_output;
    QIODevice *m_device = nullptr;
    int m_bufferSize = 0;
    qreal m_volume = 0.0;
};

} // namespace

qcAudioPlayer::SinkFactory qcAudioPlayer::qtSinkFactory()
{
    return [](const QAudioFormat &format) -> std::unique_ptr<qcAudioSink> {
        const QAudioDeviceInfo device = QAudioDeviceInfo::defaultOutputDevice();
        if (device.isNull() || !device.isFormatSupported(format))
            return nullptr;
        return std::make_unique<QtAudioSink>(device, format);
    };
}

qcAudioPlayer::qcAudioPlayer(QObject *parent) : QThread(parent), m_input(kInputBytes, 0), m_sinkFactory(qtSinkFactory())
{}

qcAudioPlayer::~qcAudioPlayer()
{
    if (isRunning()) {
        stopPlay();
        wait();
    }
    m_started = false;
    if (m_queue) {
        m_queue->clear();
        m_queue->release();
    }
}

bool qcAudioPlayer::startPlay(int sampleRate, int channels, int sampleBits, int codec)
{
    if (m_started)
        return false;
    if (!m_queue) {
        auto queue = std::make_unique<qcRingBuffer>();
        if (!queue->allocate(kQueueBytes, false))
            return false;
        m_queue = std::move(queue);
    }
    m_sampleRate = sampleRate;
    m_channels = channels;
    m_sampleBits = sampleBits;
    m_codec = codec;
    m_started = true;
    return true;
}

bool qcAudioPlayer::pushData(const uint8_t *data, int length)
{
    if (!m_started || !data || length < 1)
        return false;
    return m_queue->push(data, unsigned(length));
}

int qcAudioPlayer::pendingCount()
{
    return m_queue ? m_queue->count() : -1;
}

int qcAudioPlayer::volume()
{
    QMutexLocker lock(&m_volumeMutex);
    return m_volume;
}

void qcAudioPlayer::setVolume(int volume)
{
    if (unsigned(volume) > 100u || !m_outputExists)
        return;
    QMutexLocker lock(&m_volumeMutex);
    // The output belongs to the audio thread; it takes the value on its next pass.
    m_volume = volume;
    m_volumeDirty = true;
}

void qcAudioPlayer::stopPlay()
{
    m_stop = true;
    m_stopToken.requestStop();
}

void qcAudioPlayer::flush()
{
    if (m_queue)
        m_queue->clear();
    m_flush = true;
}

bool qcAudioPlayer::decodeNext(QByteArray *pcm)
{
    if (!m_started || !m_queue)
        return false;
    unsigned int length = 0;
    if (!m_queue->pop(reinterpret_cast<unsigned char *>(m_input.data()), kInputBytes, &length)) {
        // A record too large for the input buffer would block the queue for
        // good; take it out and drop it.
        if (length > unsigned(kInputBytes) && length <= unsigned(kQueueBytes)) {
            m_discard.resize(kQueueBytes);
            m_queue->pop(reinterpret_cast<unsigned char *>(m_discard.data()), kQueueBytes, &length);
            qDebug() << "audio record of" << length << "bytes dropped";
        }
        return false;
    }
    return m_decoder.decode(reinterpret_cast<const uint8_t *>(m_input.constData()), int(length), volume(), pcm);
}

void qcAudioPlayer::run()
{
    if (!m_started)
        return;
    // Every codec is resampled to 8000 Hz mono, so the output always runs
    // at that rate.
    QAudioFormat format;
    format.setByteOrder(QAudioFormat::LittleEndian);
    format.setChannelCount(1);
    format.setCodec(QStringLiteral("audio/pcm"));
    format.setSampleRate(qcAudioDecodeStage::kOutputRate);
    format.setSampleSize(16);
    format.setSampleType(QAudioFormat::SignedInt);

    std::unique_ptr<qcAudioSink> sink = m_sinkFactory ? m_sinkFactory(format) : nullptr;
    if (!sink)
        return; // no device: pushed data stays queued
    if (!sink->start(kOutputBufferBytes)) {
        sink->stop();
        return;
    }
    sink->setVolume(0.0);
    m_outputExists = true;
    m_decoder.open(m_codec, m_sampleRate);
    pause(kSetupPauseMs);

    const int passMs = m_codec == media::codecids::kAudioAac ? kAacPassMs : kPassMs;
    qcAudioFeed feed(kBacklogBytes);
    qint64 droppedLogged = 0;
    // The records queued when the pass began: one that cannot be taken out
    // cannot hold the pass.
    int records = 0;
    auto next = [this, &records](QByteArray *pcm) {
        if (records-- <= 0 || !m_queue || m_queue->count() <= 0)
            return false;
        if (!decodeNext(pcm))
            pcm->clear();
        return true;
    };
    while (!m_stop) {
        {
            QMutexLocker lock(&m_volumeMutex);
            if (m_volumeDirty) {
                sink->setVolume(m_volume / 100.0);
                m_volumeDirty = false;
            }
        }
        if (m_flush.exchange(false)) {
            m_queue->clear();
            feed.clear(sink.get());
        }
        const QAudio::State state = sink->state();
        if (state == QAudio::StoppedState || state == QAudio::SuspendedState) {
            pause(passMs);
            continue;
        }
        records = m_queue->count();
        feed.pass(next, *sink);
        if (feed.droppedBytes() != droppedLogged) {
            qDebug() << "audio output: dropped" << (feed.droppedBytes() - droppedLogged) / qcAudioFeed::kBytesPerMs
                     << "ms of late sound";
            droppedLogged = feed.droppedBytes();
        }
        pause(passMs);
    }
    m_outputExists = false;
    sink->stop();
}
