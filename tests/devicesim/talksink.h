#pragma once

#include <QByteArray>
#include <QPointer>
#include <QTcpSocket>
#include <QVector>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>

#include "device.h"

namespace devicesim {

// The camera's loudspeaker: takes the "audiotalk" connection over, answers,
// then records the opening frame and every audio frame it receives.
class TalkSink : public Handler
{
public:
    enum class Answer { Ok, Http11, Long, None };

    struct Record
    {
        int connections = 0;
        QByteArray opening; // the first 44 bytes after the answer
        int frames = 0;     // whole 344-byte frames
        int badFrames = 0;  // frames whose header was not type 3, length 320, timestamp 0
        uint32_t firstSequence = 0;
        uint32_t lastSequence = 0;
        bool continuous = true;      // sequence numbers grew by one each
        QByteArray audio;            // the µ-law payloads, joined
        qint64 bytesAfterAnswer = 0; // everything the client sent after the request
        bool peerClosed = false;
        qint64 answeredAt = -1; // when the answer went out: steady_clock, in ms
    };

    explicit TalkSink(Device &device) : m_device(device) {}
    void handle(Exchange &exchange) override;
    void shutdown() override;

    void setAnswer(Answer answer);
    // Held: a talk request gets its answer only once the hold is let go.
    void holdAnswers(bool held);
    // Closes the connection after that many frames (0: never).
    void setCloseAfter(int frames);
    // Stops taking bytes off the talk connections, with a small receive
    // buffer so that the client soon finds its socket full; true takes
    // them again, the held ones first.
    void setReading(bool reading);
    Record record() const;
    void reset();
    // Called on the device thread when a talk connection ends.
    void setEndObserver(const std::function<void(const Record &)> &observer);

    // µ-law to linear, the device's own table.
    static int16_t decodeMuLaw(uint8_t code);
    // Zero-crossing estimate of a tone's frequency and its peak level.
    static double frequency(const QByteArray &mulaw, int rate = 8000);
    static int peak(const QByteArray &mulaw);
    // The clock of answeredAt.
    static qint64 steadyMs()
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }

private:
    void onData(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QByteArray &bytes);

    Device &m_device;
    QList<QPointer<QTcpSocket>> m_sockets;                        // device thread only
    QByteArray m_pending;                                         // device thread only
    bool m_reading = true;                                        // device thread only
    bool m_held = false;                                          // device thread only
    QList<QPair<QPointer<QTcpSocket>, QByteArray>> m_heldAnswers; // device thread only
    std::atomic<int> m_answer{int(Answer::Ok)};
    std::atomic<int> m_closeAfter{0};
    mutable std::mutex m_mutex;
    Record m_record;
    std::function<void(const Record &)> m_endObserver;
};

} // namespace devicesim
