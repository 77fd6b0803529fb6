#include "liveview/qcptzstopretry.h"

#include "app/core/cgiutil.h"

namespace {

// The stop of a zoom or focus; a direction's stop is a move of 0, 0, 0.
const char kLensStopCmd[] = "<protocol>0</protocol><cmd>0</cmd>";

} // namespace

qcPtzStopRetry::qcPtzStopRetry(qcLiveDeviceRequests *requests, QObject *parent) : QObject(parent), m_requests(requests)
{
    m_timer.setInterval(kRetryMs);
    connect(&m_timer, &QTimer::timeout, this, &qcPtzStopRetry::retryNext);
    connect(m_requests, &qcLiveDeviceRequests::ptzControlStarting, this, &qcPtzStopRetry::onControlStarting);
    connect(m_requests, &qcLiveDeviceRequests::ptzControlEnded, this, &qcPtzStopRetry::onControlEnded);
}

qcPtzStopRetry::~qcPtzStopRetry()
{
    if (m_retry) {
        m_retry->disconnect(this);
        m_retry->abort();
        m_retry->wait();
        delete m_retry;
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

void qcPtzStopRetry::onControlStarting(const qcLiveDeviceRequests::Target &target)
{
    // An attempt landing after the operator's new command would stop it.
    if (m_retry && m_retrying.target.sameDevice(target))
        endRetry(true);
}

void qcPtzStopRetry::onControlEnded(const qcLiveDeviceRequests::Target &target, int op, const QString &body,
                                    bool delivered)
{
    const int kind = kindOf(op, body);
    if (delivered) {
        settle(target, kind);
        return;
    }
    if (op != qcLiveDeviceRequests::OpStop)
        return;
    settle(target, kind); // the latest stop of that kind replaces an older one
    m_owed.append({target, body, kind});
    if (!m_timer.isActive())
        m_timer.start();
    emit stopNotSent();
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

void qcPtzStopRetry::retryNext()
{
    if (m_retry || !m_requests)
        return; // the attempt in flight reports first
    for (const Owed &owed : qAsConst(m_owed)) {
        // The panel's own request to that camera goes first; its end tells.
        if (m_requests->ptzRunningTo(owed.target))
            continue;
        auto *r = new CGIUtil(qcLiveDeviceRequests::PtzId);
        const qcLiveDeviceRequests::Target &t = owed.target;
        if (!r->setPostRequest(t.url("/action/ptz?subject=ctrl"), t.user, t.password, owed.body, nullptr, nullptr,
                               qcLiveDeviceRequests::kPtzConnectSec, qcLiveDeviceRequests::kPtzTotalSec)) {
            delete r;
            continue;
        }
        m_retry = r;
        m_retrying = owed;
        connect(r, &QThread::finished, this, [this, r] {
            if (m_retry == r)
                endRetry(false);
        });
        r->start();
        return;
    }
}

void qcPtzStopRetry::endRetry(bool abort)
{
    CGIUtil *r = m_retry;
    m_retry = nullptr;
    if (abort)
        r->abort();
    r->wait();
    const bool delivered = r->answered();
    r->disconnect(this);
    r->deleteLater();
    if (delivered)
        settle(m_retrying.target, m_retrying.kind);
}
