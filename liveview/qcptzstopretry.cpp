#include "liveview/qcptzstopretry.h"

#include "app/core/cgiutil.h"

namespace {

// The stop of a zoom or focus; a direction's stop is a move of 0, 0, 0.
const char kLensStopCmd[] = "<protocol>0</protocol><cmd>0</cmd>";

} // namespace

qcPtzStopRetry::qcPtzStopRetry(qcLiveDeviceRequests *requests, QObject *parent) : QObject(parent), m_requests(requests)
{
    m_timer.setInterval(kRetryMs);
    connect(&m_timer, &QTimer::timeout, this, &qcPtzStopRetry::retryOwed);
    connect(m_requests, &qcLiveDeviceRequests::ptzControlStarting, this, &qcPtzStopRetry::onControlStarting);
    connect(m_requests, &qcLiveDeviceRequests::ptzControlEnded, this, &qcPtzStopRetry::onControlEnded);
    connect(m_requests, &qcLiveDeviceRequests::listedDeviceUpdated, this, &qcPtzStopRetry::onListedDeviceUpdated);
}

qcPtzStopRetry::~qcPtzStopRetry()
{
    for (const Attempt &a : qAsConst(m_attempts)) {
        a.request->disconnect(this);
        a.request->abort();
    }
    for (const Attempt &a : qAsConst(m_attempts)) {
        a.request->wait();
        delete a.request;
    }
}

int qcPtzStopRetry::kindOf(int op, const QString &body)
{
    switch (op) {
    case qcLiveDeviceRequests::OpLens:
        return Lens;
    case qcLiveDeviceRequests::OpStop:
        return body.contains(QLatin1String(kLensStopCmd)) ? Lens : Direction;
    case qcLiveDeviceRequests::OpCall:
        return Direction | Lens; // the camera drives to the preset
    default:
        return Direction;
    }
}

void qcPtzStopRetry::onControlStarting(const qcLiveDeviceRequests::Target &target, int op, const QString &body)
{
    // An attempt landing after the operator's new command would stop it.
    abortAttemptTo(target);
    // The camera takes what it is owed before the command, so that no older
    // stop ends it; each stays owed until the camera has answered it. A new
    // stop of the same kind does the owed one's work.
    const int replaced = op == qcLiveDeviceRequests::OpStop ? kindOf(op, body) : 0;
    for (const Owed &o : qAsConst(m_owed)) {
        if (o.target.sameDevice(target) && o.kind != replaced)
            m_requests->sendAhead(o.body);
    }
}

void qcPtzStopRetry::onControlEnded(const qcLiveDeviceRequests::Target &target, int op, const QString &body,
                                    bool delivered, bool refused)
{
    const int kind = kindOf(op, body);
    if (delivered) {
        settle(target, kind);
        return;
    }
    if (op != qcLiveDeviceRequests::OpStop)
        return;
    settle(target, kind); // the latest stop of that kind replaces an older one
    m_owed.append({target, body, kind, refused});
    if (!m_timer.isActive())
        m_timer.start();
    emit stopNotSent();
}

void qcPtzStopRetry::onListedDeviceUpdated(const qcLiveDeviceRequests::Target &was,
                                           const qcLiveDeviceRequests::Target &now)
{
    if (now.address.isEmpty() || !now.sameDevice(was)) {
        // Whatever answers at the old address now is not that camera.
        abortAttemptTo(was);
        settle(was, Direction | Lens);
        return;
    }
    for (Owed &owed : m_owed) {
        if (owed.target.sameDevice(was)) {
            owed.target.user = now.user;
            owed.target.password = now.password;
            owed.refusalTold = false;
        }
    }
}

void qcPtzStopRetry::settle(const qcLiveDeviceRequests::Target &target, int kinds)
{
    for (int i = m_owed.size() - 1; i >= 0; --i) {
        if (m_owed[i].target.sameDevice(target) && (m_owed[i].kind & kinds))
            m_owed.removeAt(i);
    }
    if (m_owed.isEmpty())
        m_timer.stop();
}

int qcPtzStopRetry::attemptTo(const qcLiveDeviceRequests::Target &target) const
{
    for (int i = 0; i < m_attempts.size(); ++i) {
        if (m_attempts[i].owed.target.sameDevice(target))
            return i;
    }
    return -1;
}

int qcPtzStopRetry::owedIndex(const qcLiveDeviceRequests::Target &target, int kind) const
{
    for (int i = 0; i < m_owed.size(); ++i) {
        if (m_owed[i].target.sameDevice(target) && m_owed[i].kind == kind)
            return i;
    }
    return -1;
}

void qcPtzStopRetry::abortAttemptTo(const qcLiveDeviceRequests::Target &target)
{
    const int i = attemptTo(target);
    if (i >= 0)
        endAttempt(m_attempts[i].request, true);
}

void qcPtzStopRetry::retryOwed()
{
    if (!m_requests)
        return;
    const QVector<Owed> owed = m_owed;
    for (const Owed &o : owed) {
        // The panel's own request to that camera goes first; its end tells.
        if (attemptTo(o.target) < 0 && !m_requests->ptzRunningTo(o.target))
            startAttempt(o);
    }
}

void qcPtzStopRetry::startAttempt(const Owed &owed)
{
    CGIUtil *r = qcLiveDeviceRequests::newControl(owed.target, owed.body);
    if (!r)
        return;
    m_attempts.append({r, owed, qcLiveDeviceRequests::watchReach(r)});
    connect(r, &QThread::finished, this, [this, r] { endAttempt(r, false); });
    r->start();
}

void qcPtzStopRetry::endAttempt(CGIUtil *request, bool abort)
{
    int i = 0;
    while (i < m_attempts.size() && m_attempts[i].request != request)
        ++i;
    if (i == m_attempts.size())
        return;
    const Attempt a = m_attempts.takeAt(i);
    request->disconnect(this);
    if (abort)
        request->abort();
    request->wait();
    const qcLiveDeviceRequests::Reach reach = a.reach();
    request->deleteLater();

    const qcLiveDeviceRequests::Target &target = a.owed.target;
    if (reach == qcLiveDeviceRequests::Reached) {
        settle(target, a.owed.kind);
        // The camera answers: its other stop need not wait for the timer.
        if (!abort && m_requests && !m_requests->ptzRunningTo(target)) {
            for (const Owed &o : qAsConst(m_owed)) {
                if (o.target.sameDevice(target)) {
                    startAttempt(o);
                    break;
                }
            }
        }
        return;
    }
    const int owed = owedIndex(target, a.owed.kind);
    if (owed < 0)
        return;
    // The camera's other stop goes first next time.
    Owed o = m_owed.takeAt(owed);
    if (reach == qcLiveDeviceRequests::RefusedAccount && !o.refusalTold) {
        o.refusalTold = true;
        emit stopNotSent();
    }
    m_owed.append(o);
}
