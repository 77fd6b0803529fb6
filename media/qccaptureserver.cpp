#include "media/qccaptureserver.h"

#include "media/qcremotecapture.h"
#include "media/recordfileguard.h"
#include "platform/clock.h"

#include <QDebug>
#include <QDir>
#include <QTimerEvent>

#include <algorithm>

qcCaptureServer::qcCaptureServer(QObject *parent) : QObject(parent)
{
    // Moves with the object when it goes to its thread.
    m_timer = startTimer(kTickMs, Qt::CoarseTimer);
}

qcCaptureServer::~qcCaptureServer()
{
    stopWorker();
    std::lock_guard<std::mutex> lock(m_mutex);
    qDeleteAll(m_tasks);
    m_tasks.clear();
}

bool qcCaptureServer::addCaptureTask(const CaptureTask_t &task)
{
    if (!qcRemoteCapture::isIpv4(task.ip) || task.start > task.end || task.port.isEmpty() || task.user.isEmpty() ||
        task.password.isEmpty())
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const CaptureTask_t *t : qAsConst(m_tasks))
        if (t->sameAs(task))
            return false;
    auto *copy = new CaptureTask_t(task);
    copy->tickCounter = 0;
    m_tasks.append(copy);
    return true;
}

int qcCaptureServer::keepTimedTasks(const QList<CaptureTask_t> &settled)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int removed = 0;
    for (int i = 0; i < m_tasks.size();) {
        const CaptureTask_t *t = m_tasks[i];
        const bool timed = t->end > t->start;
        if (timed &&
            std::none_of(settled.begin(), settled.end(), [t](const CaptureTask_t &s) { return t->sameAs(s); })) {
            delete m_tasks.takeAt(i);
            ++removed;
            continue;
        }
        ++i;
    }
    return removed;
}

bool qcCaptureServer::setCapturePath(const QString &path)
{
    // The old worker's queued requests go with it; new ones use the new root.
    stopWorker();
    if (!path.isEmpty())
        recordfileguard::makeFolder(path, path);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_root = path;
    return true;
}

QString qcCaptureServer::capturePath()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_root;
}

QList<CaptureTask_t> qcCaptureServer::tasks()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QList<CaptureTask_t> out;
    for (const CaptureTask_t *t : qAsConst(m_tasks))
        out.append(*t);
    return out;
}

void qcCaptureServer::stopWorker()
{
    qcRemoteCapture *worker = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::swap(worker, m_worker);
    }
    // Its destructor stops it and waits: never delete a running thread.
    delete worker;
}

void qcCaptureServer::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_timer)
        tick();
}

void qcCaptureServer::tick()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_root.isEmpty())
        return;
    if (!m_worker && !m_sink) {
        m_worker = new qcRemoteCapture(nullptr, m_root);
        m_worker->start(QThread::InheritPriority);
        if (!m_worker->isRunning() && !m_worker->isFinished()) {
            delete m_worker;
            m_worker = nullptr;
            return;
        }
    }
    const QTime time = platform::localNow().time();
    const int now = time.hour() * 3600 + time.minute() * 60 + time.second();
    auto queue = [this](const CaptureTask_t *t, quint32 type) {
        if (m_sink)
            m_sink(t->ip, t->port, t->user, t->password, type);
        else
            m_worker->addRequest(t->ip, t->port, t->user, t->password, type);
    };
    for (int i = 0; i < m_tasks.size();) {
        CaptureTask_t *t = m_tasks[i];
        const bool timed = t->end > t->start && t->remaining == 0;
        const bool alarm = t->end == t->start;
        if (timed && t->start <= now && now < t->end) {
            if (t->interval > 1 && ++t->tickCounter < t->interval) {
                ++i;
                continue;
            }
            t->tickCounter = 0;
            queue(t, qcRemoteCapture::kTimedCapture);
        } else if (alarm && t->remaining >= 1) {
            queue(t, qcRemoteCapture::kAlarmCapture);
            --t->remaining;
            qDebug("------Alarm Capture No.:%d-----", t->remaining);
        } else if ((timed && now > t->end) || (t->start == 0 && t->end == 0 && t->remaining <= 0)) {
            delete m_tasks.takeAt(i);
            continue;
        }
        ++i;
    }
}
