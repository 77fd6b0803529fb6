#include "liveview/qcptzstopsahead.h"

#include "app/core/cgiutil.h"

qcPtzStopsAhead::qcPtzStopsAhead(const qcLiveDeviceRequests::Target &target, const QStringList &bodies, QObject *parent)
    : QObject(parent), m_target(target), m_bodies(bodies)
{}

qcPtzStopsAhead::~qcPtzStopsAhead()
{
    if (m_link)
        endLink(true);
}

void qcPtzStopsAhead::start()
{
    startNext();
}

void qcPtzStopsAhead::startNext()
{
    if (m_bodies.isEmpty()) {
        emit done(true);
        return;
    }
    CGIUtil *r = qcLiveDeviceRequests::newControl(m_target, m_bodies.first());
    if (!r) {
        emit done(false);
        return;
    }
    m_link = r;
    m_reach = qcLiveDeviceRequests::watchReach(r);
    connect(r, &QThread::finished, this, [this, r] {
        if (m_link == r)
            onLinkFinished();
    });
    r->start();
}

qcLiveDeviceRequests::Reach qcPtzStopsAhead::endLink(bool abort)
{
    m_link->disconnect(this);
    if (abort)
        m_link->abort();
    m_link->wait();
    const qcLiveDeviceRequests::Reach reach = m_reach();
    delete m_link;
    m_link = nullptr;
    return reach;
}

void qcPtzStopsAhead::onLinkFinished()
{
    const qcLiveDeviceRequests::Reach reach = endLink(false);
    emit stopEnded(m_target, m_bodies.takeFirst(), reach);
    if (reach == qcLiveDeviceRequests::Reached)
        startNext();
    else
        emit done(false);
}

void qcPtzStopsAhead::finish(int graceMs)
{
    if (!m_link)
        return;
    const bool ended = graceMs > 0 && m_link->wait(graceMs);
    // One that did not get through stays owed as it was: the control that
    // replaces this one takes it along again.
    if (endLink(!ended) == qcLiveDeviceRequests::Reached)
        emit stopEnded(m_target, m_bodies.first(), qcLiveDeviceRequests::Reached);
    m_bodies.clear();
}
