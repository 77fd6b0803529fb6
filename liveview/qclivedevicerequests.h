#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class CGIUtil;
class qcPtzStopsAhead;
struct _st_device_item;

// The live page's HTTP requests to the device of the selected view: PTZ
// control and presets (id 7), PTZ information (9), image information (10)
// and image settings (11). Each id has one request object at a time, run on
// its own thread. A request object that has to make way is aborted, never
// terminated, and never started again. Completions come back on the GUI
// thread carrying the ticket they were started with, so that an answer
// meant for another device, or for a superseded request, is recognised.
class qcLiveDeviceRequests : public QObject
{
    Q_OBJECT
public:
    enum Id { PtzId = 7, GetPtzId = 9, GetImageId = 10, SetImageId = 11 };
    // What an id 7 request does. Speed, set and clear report their result
    // code; a move, lens command, stop or preset call whether it reached the
    // device.
    enum PtzOp { OpMove, OpSpeed, OpCall, OpSet, OpClear, OpLens, OpStop };

    // How long a PTZ command or a forced image setting waits for the request
    // before it (a move should reach the device before its stop).
    static constexpr int kReplaceWaitMs = 1000;
    static constexpr int kPtzConnectSec = 3;
    static constexpr int kPtzTotalSec = 5;
    static constexpr int kInfoTimeoutSec = 10;
    static constexpr int kSetImageConnectSec = 3;
    static constexpr int kSetImageTotalSec = 5;

    // The device a request goes to, as handed over.
    struct Target
    {
        QString address;
        QString port;
        QString user;
        QString password;
        bool sameDevice(const Target &other) const { return address == other.address && port == other.port; }
        QString url(const char *pathAndQuery) const;
    };

    // What a control request came to. A camera that refused the account
    // (401, 403) never acted on it: that is not a camera reached.
    enum Reach { NotReached, Reached, RefusedAccount };

    struct Ticket
    {
        quint64 generation = 0; // per request object, never reused
        quint64 selection = 0;  // the device hand-over it was started under
        int op = OpMove;
        int row = -1;  // preset row of a set or clear
        int value = 0; // speed of a speed request
    };

    explicit qcLiveDeviceRequests(QObject *parent = nullptr);
    ~qcLiveDeviceRequests() override;

    // Makes the device of the selected view the one every later request goes
    // to; an empty address means the view shows no device.
    void setDevice(const QString &address, const QString &port, const QString &user, const QString &password);
    QString address() const { return m_address; }
    Target target() const { return {m_address, m_port, m_user, m_password}; }
    quint64 selection() const { return m_selection; }

    // Four dotted parts (no range check): reached over HTTP. Any other
    // non-empty text is a P2P identifier.
    static bool isAddressDevice(const QString &address);
    bool isAddressDevice() const { return isAddressDevice(m_address); }
    bool isP2PDevice() const { return !m_address.isEmpty() && !isAddressDevice(); }

    // Id 7: body to /action/ptz?subject=ctrl.
    bool postPtzControl(const QString &body, int op = OpMove, int row = -1);
    // Id 7: the preset set, its body as UTF-8 bytes as they stand.
    bool postPresetSet(int row, const QByteArray &body);
    // Id 7: body to /action/set?subject=ptz.
    bool postPtzSpeed(const QString &body, int speed);
    bool requestPtzInfo();
    bool requestImageInfo();
    // Id 11: while the previous settings request runs, an unforced call sends
    // nothing; a forced one waits kReplaceWaitMs and then aborts it.
    bool postImageSettings(const QByteArray &body, bool force);
    bool imageSettingsRunning() const;
    // An id 7 request to that device is on its way, or the stops going
    // ahead of it.
    bool ptzRunningTo(const Target &target) const;
    // Only while ptzControlStarting is delivered: that stop goes to the
    // camera, and has to be taken by it, before the request does. Its end is
    // reported as a stop's; one not taken ends the request unsent, as one
    // that did not reach the camera.
    void sendAhead(const QString &stopBody);

    // A listed device was changed or deleted: requests to it from here on go
    // as it is now, or not at all.
    void listedDeviceChanged(const _st_device_item &was, const _st_device_item &now);
    void listedDeviceDeleted(const _st_device_item &was);

    // Watches a control request, before it starts, for its first status;
    // what it came to may be asked once it has finished.
    static std::function<Reach()> watchReach(CGIUtil *request);
    // A PTZ command to target as an id 7 request of its own, ready to
    // start; null when it cannot be prepared.
    static CGIUtil *newControl(const Target &target, const QString &body);

    // The current object of an id, for tests.
    CGIUtil *request(int id) const;
    // The generation of the ticket the id's latest request was started with.
    quint64 generation(int id) const { return slot(id).ticket.generation; }

signals:
    // Another device was handed over: whatever was read from the previous
    // one no longer applies.
    void deviceChanged();
    // A watched id 7 request ended (code 0 accepted) for the current device.
    void ptzResult(const qcLiveDeviceRequests::Ticket &ticket, int code);
    // A usable reply (HTTP 200, body kept whole) for the current device; the
    // request has finished, so its accessors may be read during the call.
    void ptzInfoReady(CGIUtil *reply);
    void imageInfoReady(const QByteArray &body, CGIUtil *reply);
    void imageSetResult(const qcLiveDeviceRequests::Ticket &ticket, int code);
    // The read of that id (9 or 10) for the current device ended without a
    // reply that can be read as the device sent it.
    void infoFailed(int id);
    // An id 7 request is about to start for that device; whatever else goes
    // to it has to be out of the way first, or it could land after it.
    void ptzControlStarting(const qcLiveDeviceRequests::Target &target, int op, const QString &body);
    // A move, lens command, stop or preset call ended, for whichever device
    // it went to: delivered when the device answered it, refused when it
    // answered that the account may not (then it was not delivered).
    void ptzControlEnded(const qcLiveDeviceRequests::Target &target, int op, const QString &body, bool delivered,
                         bool refused);
    // A listed device is now reached at now, or was deleted (now empty).
    void listedDeviceUpdated(const qcLiveDeviceRequests::Target &was, const qcLiveDeviceRequests::Target &now);
    // A running request of that id was aborted to make way.
    void requestAborted(int id);

private:
    struct Slot
    {
        CGIUtil *request = nullptr;
        Ticket ticket;
        int code = -1; // header result of the running request
        Target target;
        QString body;
        bool settled = false; // its end has been reported
        std::function<Reach()> reach;
        // Owed stops still to be taken before the request starts.
        qcPtzStopsAhead *ahead = nullptr;
    };

    bool haveConnection() const;
    QString url(const char *pathAndQuery) const;
    Slot &slot(int id);
    bool startInfo(int id, const char *path);
    bool startPtz(const char *path, const QString &body, const Ticket &ticket);
    // Starts an id 7 request that prepare readies, behind the stops owed to
    // its camera.
    bool startControl(const Ticket &ticket, const QString &body, const std::function<bool(CGIUtil *)> &prepare,
                      bool headerToo);
    void onAheadDone(quint64 generation, bool allTaken);
    void updateListedDevice(const Target &was, const Target &now);
    const Slot &slot(int id) const;
    // Ends the slot's request: after graceMs, aborted. Deletes it.
    void retire(int id, int graceMs);
    // Replaces the slot's object by a new one and returns it.
    CGIUtil *renew(int id, const Ticket &ticket);
    void watch(int id, bool headerToo);
    void onCgiHeaderCmpt(const Ticket &ticket, int id, int code);
    void onCgidatacmpt(const Ticket &ticket, int id);
    // Reports once whether an id 7 control reached its device.
    void settlePtz(Slot &s);

    QString m_address;
    QString m_port;
    QString m_user;
    QString m_password;
    quint64 m_selection = 0;
    quint64 m_generation = 0;
    Slot m_cgiPtz;
    Slot m_cgiGetPtz;
    Slot m_cgiGetImage;
    Slot m_cgiSetImage;
    QStringList m_ahead; // gathered while ptzControlStarting is delivered
};

Q_DECLARE_METATYPE(qcLiveDeviceRequests::Ticket)
Q_DECLARE_METATYPE(qcLiveDeviceRequests::Target)
