#include "liveview/qclivedevicerequests.h"

#include "app/core/cgiutil.h"
#include "app/core/records.h"

#include "app/core/xmlreply.h"
#include "liveview/qcptzstopsahead.h"

#include <atomic>
#include <memory>
#include <utility>

namespace {

bool isControl(int op)
{
    return op == qcLiveDeviceRequests::OpMove || op == qcLiveDeviceRequests::OpLens ||
           op == qcLiveDeviceRequests::OpStop || op == qcLiveDeviceRequests::OpCall;
}

// Preset changes whose row goes back to what the device last reported when
// the device did not take them.
bool isPresetChange(int op)
{
    return op == qcLiveDeviceRequests::OpSet || op == qcLiveDeviceRequests::OpClear;
}

} // namespace

qcLiveDeviceRequests::qcLiveDeviceRequests(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<qcLiveDeviceRequests::Ticket>();
    qRegisterMetaType<qcLiveDeviceRequests::Target>();
}

qcLiveDeviceRequests::~qcLiveDeviceRequests()
{
    // A PTZ command and an image setting get their grace, the information
    // requests would only be thrown away.
    blockSignals(true);
    retire(PtzId, kReplaceWaitMs);
    retire(GetPtzId, 0);
    retire(GetImageId, 0);
    retire(SetImageId, kReplaceWaitMs);
}

bool qcLiveDeviceRequests::isAddressDevice(const QString &address)
{
    return address.split(QLatin1Char('.')).size() == 4;
}

void qcLiveDeviceRequests::setDevice(const QString &address, const QString &port, const QString &user,
                                     const QString &password)
{
    m_address = address;
    m_port = port;
    m_user = user;
    m_password = password;
    ++m_selection;
    emit deviceChanged();
}

bool qcLiveDeviceRequests::haveConnection() const
{
    return isAddressDevice() && !m_port.isEmpty() && !m_user.isEmpty() && !m_password.isEmpty();
}

QString qcLiveDeviceRequests::Target::url(const char *pathAndQuery) const
{
    return QStringLiteral("http://%1:%2%3").arg(address, port, QLatin1String(pathAndQuery));
}

QString qcLiveDeviceRequests::url(const char *pathAndQuery) const
{
    return target().url(pathAndQuery);
}

qcLiveDeviceRequests::Slot &qcLiveDeviceRequests::slot(int id)
{
    switch (id) {
    case PtzId:
        return m_cgiPtz;
    case GetPtzId:
        return m_cgiGetPtz;
    case GetImageId:
        return m_cgiGetImage;
    default:
        return m_cgiSetImage;
    }
}

const qcLiveDeviceRequests::Slot &qcLiveDeviceRequests::slot(int id) const
{
    return const_cast<qcLiveDeviceRequests *>(this)->slot(id);
}

CGIUtil *qcLiveDeviceRequests::request(int id) const
{
    return slot(id).request;
}

void qcLiveDeviceRequests::retire(int id, int graceMs)
{
    Slot &s = slot(id);
    if (!s.request)
        return;
    if (s.ahead) {
        // The request itself never went.
        s.ahead->finish(graceMs);
        delete s.ahead;
        s.ahead = nullptr;
        if (isPresetChange(s.ticket.op))
            onCgiHeaderCmpt(s.ticket, id, CGIUtil::ResultNoConnection);
    }
    if (s.request->isRunning() && (graceMs <= 0 || !s.request->wait(graceMs))) {
        s.request->abort();
        s.request->wait();
        emit requestAborted(id);
        // Nobody knows what the device made of an aborted preset change: the
        // row goes back to what the device last reported.
        if (id == PtzId && isPresetChange(s.ticket.op))
            onCgiHeaderCmpt(s.ticket, id, CGIUtil::ResultTimeout);
    }
    // Its end may still be on its way to this thread, behind the deletion.
    if (id == PtzId)
        settlePtz(s);
    delete s.request;
    s = Slot();
}

CGIUtil *qcLiveDeviceRequests::renew(int id, const Ticket &ticket)
{
    Slot &s = slot(id);
    s.request = new CGIUtil(id);
    s.ticket = ticket;
    s.ticket.generation = ++m_generation;
    s.ticket.selection = m_selection;
    s.target = target();
    return s.request;
}

void qcLiveDeviceRequests::watch(int id, bool headerToo)
{
    Slot &s = slot(id);
    const Ticket ticket = s.ticket;
    if (headerToo) {
        // A transfer that times out after its status line reports twice; the
        // first report decides.
        auto reported = std::make_shared<bool>(false);
        connect(s.request, &CGIUtil::sigHeaderCompleted, this, [this, ticket, reported](int id, int code) {
            if (!*reported) {
                *reported = true;
                onCgiHeaderCmpt(ticket, id, code);
            }
        });
    }
    if (id == GetPtzId || id == GetImageId) {
        connect(s.request, &CGIUtil::sigHeaderCompleted, this, [this, ticket](int id, int code) {
            // A failure reported after the status line (a time-out) spoils it.
            Slot &current = slot(id);
            if (current.ticket.generation == ticket.generation && (current.code < 0 || code != CGIUtil::ResultOk))
                current.code = code;
        });
        connect(s.request, &QThread::finished, this, [this, ticket, id] { onCgidatacmpt(ticket, id); });
    }
    if (id == PtzId && isControl(ticket.op)) {
        s.reach = watchReach(s.request);
        connect(s.request, &QThread::finished, this, [this, ticket] {
            if (m_cgiPtz.request && m_cgiPtz.ticket.generation == ticket.generation)
                settlePtz(m_cgiPtz);
        });
    }
}

void qcLiveDeviceRequests::settlePtz(Slot &s)
{
    if (!s.request || s.settled || !isControl(s.ticket.op))
        return;
    s.settled = true;
    s.request->wait();
    const Reach reach = s.reach ? s.reach() : NotReached;
    emit ptzControlEnded(s.target, s.ticket.op, s.body, reach == Reached, reach == RefusedAccount);
}

CGIUtil *qcLiveDeviceRequests::newControl(const Target &target, const QString &body)
{
    auto *r = new CGIUtil(PtzId);
    if (r->setPostRequest(target.url("/action/ptz?subject=ctrl"), target.user, target.password, body, nullptr, nullptr,
                          kPtzConnectSec, kPtzTotalSec))
        return r;
    delete r;
    return nullptr;
}

std::function<qcLiveDeviceRequests::Reach()> qcLiveDeviceRequests::watchReach(CGIUtil *request)
{
    // A transfer that times out after its status line reports twice; the
    // status decides. Written on the request thread, read after its wait.
    auto first = std::make_shared<std::atomic<int>>(-1);
    connect(
        request, &CGIUtil::sigHeaderCompleted, request,
        [first](int, int code) {
            int none = -1;
            first->compare_exchange_strong(none, code);
        },
        Qt::DirectConnection);
    return [request, first] {
        if (!request->answered())
            return NotReached;
        return first->load() == CGIUtil::ResultUnauthorized ? RefusedAccount : Reached;
    };
}

void qcLiveDeviceRequests::listedDeviceChanged(const _st_device_item &was, const _st_device_item &now)
{
    updateListedDevice({was.address, was.port, was.username, was.password},
                       {now.address, now.port, now.username, now.password});
}

void qcLiveDeviceRequests::listedDeviceDeleted(const _st_device_item &was)
{
    updateListedDevice({was.address, was.port, was.username, was.password}, Target());
}

void qcLiveDeviceRequests::updateListedDevice(const Target &was, const Target &now)
{
    // Whatever answers at the old address now is not that camera: the stops
    // owed to it go nowhere, and neither does the request behind them.
    if (m_cgiPtz.ahead && m_cgiPtz.target.sameDevice(was) && !now.sameDevice(was))
        retire(PtzId, 0);
    emit listedDeviceUpdated(was, now);
    if (m_address.isEmpty() || !target().sameDevice(was))
        return;
    const Target current = target();
    if (current.sameDevice(now) && current.user == now.user && current.password == now.password)
        return;
    // The selected view's panels read the device again where it is now.
    setDevice(now.address, now.port, now.user, now.password);
    requestPtzInfo();
    requestImageInfo();
}

void qcLiveDeviceRequests::onCgiHeaderCmpt(const Ticket &ticket, int id, int code)
{
    if (ticket.selection != m_selection)
        return;
    if (id == PtzId)
        emit ptzResult(ticket, code);
    else if (id == SetImageId)
        emit imageSetResult(ticket, code);
}

void qcLiveDeviceRequests::onCgidatacmpt(const Ticket &ticket, int id)
{
    Slot &s = slot(id);
    if (s.ticket.generation != ticket.generation || ticket.selection != m_selection || !s.request)
        return;
    CGIUtil *reply = s.request;
    reply->wait();
    if (s.code != CGIUtil::ResultOk || !xmlreply::usableWholeBody(*reply, id == GetPtzId ? "ptz" : "videoimage")) {
        emit infoFailed(id);
        return;
    }
    if (id == GetPtzId)
        emit ptzInfoReady(reply);
    else
        emit imageInfoReady(reply->replyBody(), reply);
}

bool qcLiveDeviceRequests::startPtz(const char *path, const QString &body, const Ticket &ticket)
{
    return startControl(
        ticket, body,
        [this, path, body](CGIUtil *r) {
            return r->setPostRequest(url(path), m_user, m_password, body, nullptr, nullptr, kPtzConnectSec,
                                     kPtzTotalSec);
        },
        ticket.op == OpSpeed || ticket.op == OpClear);
}

bool qcLiveDeviceRequests::startControl(const Ticket &ticket, const QString &body,
                                        const std::function<bool(CGIUtil *)> &prepare, bool headerToo)
{
    if (!haveConnection())
        return false;
    retire(PtzId, kReplaceWaitMs);
    emit ptzControlStarting(target(), ticket.op, body);
    const QStringList ahead = std::exchange(m_ahead, QStringList());
    CGIUtil *r = renew(PtzId, ticket);
    m_cgiPtz.body = body;
    if (!prepare(r)) {
        m_cgiPtz.settled = true; // nothing went out to report on
        return false;
    }
    watch(PtzId, headerToo);
    if (ahead.isEmpty()) {
        r->start();
        return true;
    }
    auto *stops = new qcPtzStopsAhead(m_cgiPtz.target, ahead, this);
    m_cgiPtz.ahead = stops;
    connect(stops, &qcPtzStopsAhead::stopEnded, this, [this](const Target &to, const QString &stop, Reach reach) {
        emit ptzControlEnded(to, OpStop, stop, reach == Reached, reach == RefusedAccount);
    });
    const quint64 generation = m_cgiPtz.ticket.generation;
    connect(stops, &qcPtzStopsAhead::done, this,
            [this, generation](bool allTaken) { onAheadDone(generation, allTaken); });
    stops->start();
    return true;
}

void qcLiveDeviceRequests::onAheadDone(quint64 generation, bool allTaken)
{
    Slot &s = m_cgiPtz;
    if (!s.ahead || s.ticket.generation != generation)
        return;
    s.ahead->deleteLater();
    s.ahead = nullptr;
    if (allTaken) {
        s.request->start();
        return;
    }
    // A camera that did not take its stop gets nothing after it: the request
    // fails as one that could not reach the camera.
    if (isPresetChange(s.ticket.op) || s.ticket.op == OpSpeed)
        onCgiHeaderCmpt(s.ticket, PtzId, CGIUtil::ResultNoConnection);
    settlePtz(s);
}

void qcLiveDeviceRequests::sendAhead(const QString &stopBody)
{
    m_ahead << stopBody;
}

bool qcLiveDeviceRequests::postPtzControl(const QString &body, int op, int row)
{
    Ticket t;
    t.op = op;
    t.row = row;
    return startPtz("/action/ptz?subject=ctrl", body, t);
}

bool qcLiveDeviceRequests::postPtzSpeed(const QString &body, int speed)
{
    Ticket t;
    t.op = OpSpeed;
    t.value = speed;
    return startPtz("/action/set?subject=ptz", body, t);
}

bool qcLiveDeviceRequests::postPresetSet(int row, const QByteArray &body)
{
    Ticket t;
    t.op = OpSet;
    t.row = row;
    return startControl(
        t, QString::fromUtf8(body),
        [this, body](CGIUtil *r) {
            return r->setPostRequestEx(url("/action/ptz?subject=ctrl"), m_user, m_password, body.constData());
        },
        true);
}

bool qcLiveDeviceRequests::startInfo(int id, const char *path)
{
    if (!haveConnection())
        return false;
    // Its answer would be superseded by the new one anyway.
    retire(id, 0);
    CGIUtil *r = renew(id, Ticket());
    if (!r->setGetRequest(url(path), m_user, m_password, nullptr, nullptr, kInfoTimeoutSec))
        return false;
    watch(id, false);
    r->start();
    return true;
}

bool qcLiveDeviceRequests::requestPtzInfo()
{
    return startInfo(GetPtzId, "/action/get?subject=ptz");
}

bool qcLiveDeviceRequests::requestImageInfo()
{
    return startInfo(GetImageId, "/action/get?subject=videoimage");
}

bool qcLiveDeviceRequests::ptzRunningTo(const Target &target) const
{
    return m_cgiPtz.request && (m_cgiPtz.ahead || m_cgiPtz.request->isRunning()) && m_cgiPtz.target.sameDevice(target);
}

bool qcLiveDeviceRequests::imageSettingsRunning() const
{
    return m_cgiSetImage.request && m_cgiSetImage.request->isRunning();
}

bool qcLiveDeviceRequests::postImageSettings(const QByteArray &body, bool force)
{
    if (!haveConnection())
        return false;
    if (imageSettingsRunning() && !force)
        return false;
    retire(SetImageId, kReplaceWaitMs);
    CGIUtil *r = renew(SetImageId, Ticket());
    if (!r->setPostRequest(url("/action/set?subject=videoimage"), m_user, m_password, QString::fromUtf8(body), nullptr,
                           nullptr, kSetImageConnectSec, kSetImageTotalSec))
        return false;
    watch(SetImageId, true);
    r->start();
    return true;
}
