#pragma once

#include <QAudioFormat>
#include <QByteArray>
#include <QElapsedTimer>
#include <QPointer>
#include <functional>
#include <memory>
#include <mutex>

class QAudioInput;
class QIODevice;

// Milliseconds of a monotonic clock; tests give one of their own.
using AudioClock = std::function<qint64()>;
AudioClock monotonicAudioClock();

// Where the microphone samples come from. The capture object polls take()
// every 20 ms on its own thread and never asks the back end how many bytes
// are ready (that call aborted inside libpulse during tear-down).
class AudioInputBackend
{
public:
    virtual ~AudioInputBackend() = default;
    // 0 when capturing, else an error code (10: no input device, or the
    // format is not supported).
    virtual int open(const QAudioFormat &format) = 0;
    virtual void stop() = 0;
    virtual void suspend() = 0;
    virtual void resume() = 0;
    virtual void setVolume(qreal volume) = 0;
    // Whatever arrived since the last call.
    virtual QByteArray take() = 0;
};

// The default input device through Qt Multimedia.
class QtAudioInput : public AudioInputBackend
{
public:
    static constexpr qint64 kBufferUs = 40000;
    QtAudioInput();
    ~QtAudioInput() override;
    int open(const QAudioFormat &format) override;
    void stop() override;
    void suspend() override;
    void resume() override;
    void setVolume(qreal volume) override;
    QByteArray take() override;

private:
    std::unique_ptr<QAudioInput> m_input;
    QPointer<QIODevice> m_device;
    // Reading a suspended input marks it active again without resuming the
    // stream beneath it (so a later resume() does nothing): while suspended
    // take() leaves the device alone.
    bool m_suspended = false;
};

// A test source: a sine of given frequency and amplitude whose samples
// appear at the real rate, or (scripted) exactly the bytes a test appends.
class ToneAudioInput : public AudioInputBackend
{
public:
    // frequency 0 makes a scripted source.
    explicit ToneAudioInput(double frequency = 1000.0, double amplitude = 8000.0);
    int open(const QAudioFormat &format) override;
    void stop() override;
    void suspend() override;
    void resume() override;
    void setVolume(qreal volume) override;
    QByteArray take() override;

    // Scripted mode: bytes handed out by the next take().
    void append(const QByteArray &bytes);

private:
    double m_frequency;
    double m_amplitude;
    int m_rate = 8000;
    bool m_open = false;
    bool m_suspended = false;
    QElapsedTimer m_clock;
    qint64 m_samplesMade = 0;
    std::mutex m_mutex;
    QByteArray m_scripted;
};
