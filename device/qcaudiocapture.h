#pragma once

#include "device/audioinput.h"

#include <QAudio>
#include <QByteArray>
#include <QObject>
#include <atomic>
#include <memory>
#include <mutex>

class QTimer;

// Records the microphone at 8 kHz, 16-bit mono and hands out blocks as µ-law
// or raw samples. What the input delivers is moved every 20 ms into a
// one-second FIFO; readers on other threads take from that FIFO only, under
// its own mutex, so stopping the input never pulls anything from under them.
class qcAudioCapture : public QObject
{
    Q_OBJECT
public:
    static constexpr int kFifoBytes = 16000;
    static constexpr int kMaxBlockBytes = 4096;
    static constexpr int kPumpMs = 20;
    // readEncoded sends what is at most this old (200 ms of samples) and
    // drops only what is older.
    static constexpr int kLatencyBudgetBytes = 3200;

    // The back end defaults to the system's default input device.
    explicit qcAudioCapture(QObject *parent = nullptr, std::unique_ptr<AudioInputBackend> backend = nullptr);
    ~qcAudioCapture() override;

    bool startCapture();
    bool stopCapture();
    void setSuspended(bool suspended);
    bool isCapturing() const { return m_capturing.load(); }
    int lastError() const { return m_error.load(); }

    // The oldest whole block of samples as µ-law. Samples beyond the
    // latency budget are dropped first, the oldest of them.
    int readEncoded(unsigned char *out, int samples);
    int readRaw(char *out, int bytes);

    // Moves what the back end has into the FIFO (the timer calls it).
    void pump();
    int bytesReady();
    // Bytes readEncoded dropped as too late since the capture started.
    qint64 trimmedBytes() const { return m_trimmed.load(); }

    static QAudioFormat captureFormat();

public slots:
    void handleStateChanged(QAudio::State newState);

signals:
    void sigStartedCapture();
    void sigStopedCapture();

private:
    std::unique_ptr<AudioInputBackend> m_backend;
    QTimer *m_timer = nullptr;
    std::atomic<bool> m_capturing{false};
    std::atomic<int> m_error{0};
    std::atomic<qint64> m_trimmed{0};
    // A standard mutex rather than QMutex: its hand-offs between the capture
    // and reader threads are then visible to ThreadSanitizer.
    std::mutex m_fifoMutex;
    QByteArray m_fifo;
};
