#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <mutex>

class qcRemoteCapture;

// A capture task: timed (start < end, remaining 0: one picture every
// `interval` ticks inside the window) or alarm (start = end = 0: one picture
// per tick until `remaining` is spent).
struct CaptureTask_t
{
    QString ip;
    QString port;
    QString user;
    QString password;
    int start = 0; // seconds since local midnight
    int end = 0;
    int remaining = 0;
    int interval = 0;
    int tickCounter = 0;

    bool sameAs(const CaptureTask_t &o) const
    {
        return ip == o.ip && port == o.port && user == o.user && password == o.password && start == o.start &&
               end == o.end && remaining == o.remaining && interval == o.interval;
    }
};

// The snapshot scheduler: turns due capture tasks into requests of its worker
// on a coarse 995 ms timer of the thread it lives on.
//
// addCaptureTask() may be called from any thread; it only takes the
// scheduler's own mutex, never a lock of the caller's.
class qcCaptureServer : public QObject
{
    Q_OBJECT
public:
    static constexpr int kTickMs = 995;
    // The last second a timed window may end on: a window to midnight must
    // pass before the day turns, or the task would never be removed.
    static constexpr int kLastEnd = 86398;

    explicit qcCaptureServer(QObject *parent = nullptr);
    // Stops the worker and waits for it; call on the scheduler's thread.
    ~qcCaptureServer() override;

    bool addCaptureTask(const CaptureTask_t &task);
    // The settings changed: every timed task that no entry of `settled`
    // equals goes at once (its device is gone, its window or interval
    // changed, or it no longer holds now); one that an entry equals runs on
    // with its count. Alarm tasks keep their own rule. Returns how many went.
    int keepTimedTasks(const QList<CaptureTask_t> &settled);
    bool setCapturePath(const QString &path);
    QString capturePath();
    QList<CaptureTask_t> tasks();

    // One timer step; the timer calls it, tests may call it directly.
    Q_INVOKABLE void tick();
    // Ends the worker (queued requests are dropped); the next tick with a
    // capture root starts a new one.
    Q_INVOKABLE void stopWorker();
    qcRemoteCapture *worker() const { return m_worker; }

    // Tests take the requests instead of a worker: ip, port, user, password, type.
    using RequestSink =
        std::function<void(const QString &, const QString &, const QString &, const QString &, quint32)>;
    void setRequestSink(RequestSink sink) { m_sink = std::move(sink); }

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    // A standard mutex, so that the thread checker sees the hand-over.
    std::mutex m_mutex;
    QList<CaptureTask_t *> m_tasks;
    int m_timer = 0;
    qcRemoteCapture *m_worker = nullptr;
    QString m_root;
    RequestSink m_sink;
};
