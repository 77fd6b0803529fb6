#pragma once

#include "device/audioinput.h"
#include "device/talkpace.h"

#include <QAudio>
#include <QByteArray>
#include <QObject>
#include <atomic>
#include <memory>
#include <mutex>

class QTimer;

// Records the microphone at 8 kHz, 16-bit mono and hands out blocks as µ-law
// or raw samples. What the input delivers is moved every 20 ms into a FIFO
// of a few seconds, room for the largest lumps an input hands over; readers
// on other threads take from that FIFO only, under its own mutex, so
// stopping the input never pulls anything from under them.
class qcAudioCapture : public QObject
{
    Q_OBJECT
public:
    static constexpr int kBytesPerSecond = 16000;
    static constexpr int kFifoBytes = 5 * kBytesPerSecond;
    static constexpr int kMaxBlockBytes = 4096;
    static constexpr int kPumpMs = 20;
    static constexpr int kBlockMs = 40;
    static constexpr int kFifoMs = kFifoBytes * 1000 / kBytesPerSecond;
    // A sample may wait this much (200 ms of samples) beyond the delay the
    // input's lumps make; what is older is dropped.
    static constexpr int kLatencyBudgetBytes = 3200;
    static constexpr int kLatencyBudgetMs = kLatencyBudgetBytes * 1000 / kBytesPerSecond;
    // The longest delay: the FIFO then holds the samples that wait for it,
    // the budget, and as much again by which a lump gathered while the
    // program stalled may be dated late (the input held part of it). Such a
    // lump sets no longer delay; what is older than this and the budget is
    // then the talk's loss.
    static constexpr int kMaxDelayMs = (kFifoMs - kLatencyBudgetMs) / 2;

    enum Release {
        Now, // the oldest whole block
        Due, // only once the microphone's pace has reached it
    };

    // The back end defaults to the system's default input device.
    explicit qcAudioCapture(QObject *parent = nullptr, std::unique_ptr<AudioInputBackend> backend = nullptr);
    ~qcAudioCapture() override;

    bool startCapture();
    bool stopCapture();
    void setSuspended(bool suspended);
    bool isCapturing() const { return m_capturing.load(); }
    int lastError() const { return m_error.load(); }

    // The oldest whole block of samples as µ-law. Samples older than the
    // delay and the latency budget are dropped first, the oldest of them.
    int readEncoded(unsigned char *out, int samples, Release release = Now);
    // The oldest bytes, late ones dropped first as for readEncoded.
    int readRaw(char *out, int bytes);

    // A talk begins: what was recorded before now is forgotten (not counted
    // as dropped), also when an input hands it over later in one lump with
    // newer samples, and the count of dropped bytes starts again.
    void beginTalk();
    // Moves what the back end has into the FIFO (the timer calls it).
    void pump();
    int bytesReady();
    // Bytes dropped as too late or for want of room in the FIFO, since the
    // capture or the current talk began.
    qint64 trimmedBytes() const { return m_trimmed.load(); }
    // The delay (ms) a sample now waits from its recording to its release.
    double delayMs();
    // Before startCapture(); the FIFO's times come from it.
    void setClock(AudioClock clock) { m_now = std::move(clock); }

    static QAudioFormat captureFormat();

public slots:
    void handleStateChanged(QAudio::State newState);

signals:
    void sigStartedCapture();
    void sigStopedCapture();

private:
    void clear(double talkBeganMs);
    // The oldest bytes into out, once that many are there (and due, for
    // Due); late ones dropped first.
    bool takeOldest(char *out, int bytes, Release release);
    void dropLocked(int bytes);
    void dropLateLocked(qint64 now);

    std::unique_ptr<AudioInputBackend> m_backend;
    QTimer *m_timer = nullptr;
    std::atomic<bool> m_capturing{false};
    std::atomic<int> m_error{0};
    std::atomic<qint64> m_trimmed{0};
    // A standard mutex rather than QMutex: its hand-offs between the capture
    // and reader threads are then visible to ThreadSanitizer.
    std::mutex m_fifoMutex;
    QByteArray m_fifo;
    TalkPace m_pace{kBytesPerSecond, kBlockMs, kLatencyBudgetMs, kMaxDelayMs};
    AudioClock m_now = monotonicAudioClock();
};
