#pragma once

#include "media/audiofeed.h"
#include "platform/stoptoken.h"

#include <QAudio>
#include <QAudioFormat>
#include <QByteArray>
#include <QMutex>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

class qcRingBuffer;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

// One audio record -> signed 16-bit mono PCM at 8000 Hz, whatever the
// codec, rate and channel count of the stream (audio numbers 0 µ-law,
// 1 A-law, 2 AAC, 3 MP2, 4 raw signed 16-bit mono PCM, 5 G.726).
class qcAudioDecodeStage
{
public:
    static constexpr int kOutputRate = 8000;

    qcAudioDecodeStage() = default;
    ~qcAudioDecodeStage();
    qcAudioDecodeStage(const qcAudioDecodeStage &) = delete;
    qcAudioDecodeStage &operator=(const qcAudioDecodeStage &) = delete;

    bool open(int codec, int sampleRate);
    void close();
    bool isOpen() const { return m_open; }
    // Replaces pcm with the record's samples; volume 0 mutes them. False when
    // nothing came out.
    bool decode(const uint8_t *data, int length, int volume, QByteArray *pcm);

private:
    bool decodeRaw(const uint8_t *data, int length, QByteArray *pcm);
    bool convertFrame(const AVFrame *frame, QByteArray *pcm);

    bool m_open = false;
    int m_codec = -1;
    int m_rate = 0;
    AVCodecContext *m_ctx = nullptr;
    AVPacket *m_packet = nullptr;
    AVFrame *m_frame = nullptr;
    SwrContext *m_swr = nullptr;    // decoded frames
    SwrContext *m_rawSwr = nullptr; // raw PCM
    int m_swrFormat = -1;
    int m_swrRate = 0;
    int m_swrChannels = 0;
};

// Plays one stream's audio on the default output device: the owner pushes
// records, the thread decodes them and keeps the output's buffer filled
// from a bounded backlog (qcAudioFeed).
class qcAudioPlayer : public QThread
{
    Q_OBJECT
public:
    static constexpr int kQueueBytes = 81920;
    static constexpr int kInputBytes = 40960;
    // The output's buffer, and so the fill it is kept at: 160 ms. With
    // PulseAudio on a busy machine 120 ms still ran dry now and then (gaps
    // of 30 to 80 ms); more only adds delay.
    static constexpr int kOutputBufferBytes = 160 * qcAudioFeed::kBytesPerMs;
    // All the sound that may wait, the output's buffer included: 300 ms.
    // Beyond it the oldest decoded samples are dropped, so neither a burst
    // after a network stall nor a slow start of the output leaves the sound
    // trailing the picture by more.
    static constexpr int kQueuedSoundBytes = 300 * qcAudioFeed::kBytesPerMs;
    static constexpr int kBacklogBytes = kQueuedSoundBytes - kOutputBufferBytes;

    // Makes the output for a format on the audio thread; null when there is
    // no device or it does not support the format.
    using SinkFactory = std::function<std::unique_ptr<qcAudioSink>(const QAudioFormat &)>;
    static SinkFactory qtSinkFactory();

    explicit qcAudioPlayer(QObject *parent = nullptr);
    ~qcAudioPlayer() override;

    // For tests and machines without sound; set before start().
    void setSinkFactory(SinkFactory factory) { m_sinkFactory = std::move(factory); }

    bool startPlay(int sampleRate, int channels, int sampleBits, int codec);
    bool pushData(const uint8_t *data, int length);
    int pendingCount();
    int volume();
    void setVolume(int volume);
    void stopPlay();
    // Sound off: drops what is queued and what the output holds, at once.
    // Any thread; the audio thread empties the output on its next pass.
    void flush();

    // Whether the thread has its output (set-up done, device present).
    bool outputActive() const { return m_outputExists.load(); }
    int sampleRate() const { return m_sampleRate; }
    int codec() const { return m_codec; }
    int channels() const { return m_channels; }

protected:
    void run() override;

private:
    bool decodeNext(QByteArray *pcm);
    void pause(int ms) { m_stopToken.sleepFor(ms); }

    int m_sampleRate = 8000;
    int m_channels = 0;
    int m_sampleBits = 0;
    int m_codec = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_outputExists{false};
    std::atomic<bool> m_flush{false};
    platform::StopToken m_stopToken;
    std::unique_ptr<qcRingBuffer> m_queue;
    QByteArray m_input;
    QByteArray m_discard;
    QMutex m_volumeMutex;
    int m_volume = 0;
    bool m_volumeDirty = false;
    SinkFactory m_sinkFactory;
    qcAudioDecodeStage m_decoder;
};
