#pragma once

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTcpSocket>

#include <atomic>

#include "device.h"

class QTimer;

namespace devicesim {

// The alarm channel: answers the notify request, keeps the connection open
// and pushes XML messages on it (scripted by tests, or timed).
class AlarmEndpoint : public Handler
{
public:
    enum class Answer { Ok, OkWithFirstPush, None };

    explicit AlarmEndpoint(Device &device) : m_device(device) {}

    void handle(Exchange &exchange) override;
    void shutdown() override;

    // Thread-safe controls.
    void setAnswer(Answer answer, const QByteArray &firstPush = {});
    // Writes these bytes, in one write, on every open connection.
    void push(const QByteArray &bytes);
    // One document split into two writes at offset, with a pause between.
    void pushSplit(const QByteArray &bytes, int offset, int pauseMs = 50);
    // Pushes message(1, topic) every ms on every connection; 0 stops.
    void setEvery(int ms, const QString &topic);
    // Closes every open connection.
    void dropAll();
    int openConnections() const { return m_open.load(); }
    int acceptedConnections() const { return m_accepted.load(); }

    static QByteArray message(const QString &status, const QString &topic);

private:
    void writeAll(const QByteArray &bytes);

    Device &m_device;
    QList<QPointer<QTcpSocket>> m_sockets; // device thread only
    Answer m_answer = Answer::Ok;          // device thread only
    QByteArray m_firstPush;
    QTimer *m_timer = nullptr;
    QString m_everyTopic;
    std::atomic<int> m_open{0};
    std::atomic<int> m_accepted{0};
};

} // namespace devicesim
