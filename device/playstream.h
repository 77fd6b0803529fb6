#pragma once

#include "device/framehead.h"
#include "device/streamparser.h"

#include <QByteArray>
#include <QString>
#include <QThread>
#include <atomic>
#include <memory>

// Client for one live stream of a device reached by address: one HTTP/1.0
// request, then frames behind the 24-byte header until the owner stops it or
// the connection is lost. It never reconnects by itself.
class PlayStream : public QThread
{
    Q_OBJECT
public:
    struct Timing
    {
        int connectMs = 5000;
        int sendMs = 3000;
        int answerMs = 4000;
        int receiveMs = 1000;
        int emptyWaitsAllowed = 6; // the next empty wait loses the connection
    };

    static constexpr int kModeLive = 3;
    static constexpr int kMainStream = 6;
    static constexpr int kSubStream = 7;

    PlayStream(const QString &ip, const QString &port, const QString &user, const QString &password,
               StreamDataCallback callback, void *userPointer, int mode);
    ~PlayStream() override;

    bool prepareLiveRequest(int streamType);
    int getStatus() const { return m_status.load(); }
    // The device answered the request with 401; set before the failure status.
    bool loginRefused() const { return m_loginRefused.load(); }
    // Always true; returns once the thread has ended.
    bool stop();

    void setTiming(const Timing &timing) { m_timing = timing; }
    // Tests re-time against their own clock.
    void setClock(StreamFrameParser::Clock clock) { m_clock = std::move(clock); }
    // The stream's pictures go on from where its last connection left them
    // (the owner keeps it, and starts one client at a time on it).
    void setPictureClock(PictureClock *pictures) { m_pictures = pictures; }
    QByteArray request() const { return m_request; }

signals:
    void sigConnectStatus(int sta);
    void sigProgress(int prog);
    void sigTransComplete();

protected:
    void run() override;

private:
    void setStatus(int status);

    std::atomic<bool> m_running{true};
    QString m_ip, m_port, m_user, m_password;
    QByteArray m_request;
    int m_mode;
    StreamDataCallback m_callback;
    void *m_userPointer;
    std::atomic<int> m_status{StatusIdle};
    std::atomic<bool> m_loginRefused{false};
    Timing m_timing;
    StreamFrameParser::Clock m_clock;
    PictureClock *m_pictures = nullptr;
};
