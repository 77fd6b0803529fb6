#pragma once

#include "liveview/qclivedevicerequests.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QVector>

#include <functional>

class CGIUtil;

// The stops of the PTZ panel that did not reach their camera. A camera that
// missed the stop of a held direction (or of a zoom or focus) keeps moving,
// so such a stop is owed to that camera, whichever view is selected since,
// and sent again until the camera answers it; each camera on its own, so a
// camera that stays away holds up no other. A camera that refuses the
// account has not taken the stop: it stays owed, and goes with the account
// the device is given next. A command the operator starts on that camera
// goes only after what is owed to it has been taken, and fails with the
// camera while it stays away. Deleting the device, or moving it to another
// address, ends what is owed to it.
class qcPtzStopRetry : public QObject
{
    Q_OBJECT
public:
    // How long after an attempt that did not get through the next one goes.
    static constexpr int kRetryMs = 2000;

    explicit qcPtzStopRetry(qcLiveDeviceRequests *requests, QObject *parent = nullptr);
    ~qcPtzStopRetry() override;

    // Sends every owed stop whose camera has no request on its way; the
    // timer calls it every kRetryMs while stops are owed.
    void retryOwed();

    // Stops still owed, and attempts on their way, for tests.
    int owedCount() const { return m_owed.size(); }
    int attemptsRunning() const { return m_attempts.size(); }

signals:
    // A stop did not reach its camera; it will be sent again.
    void stopNotSent();

private:
    // What a stop ends: the pan and tilt of the direction pad, or the lens.
    enum Kind { Direction = 1, Lens = 2 };
    struct Owed
    {
        qcLiveDeviceRequests::Target target;
        QString body;
        int kind = Direction;
        // The operator has been told that the camera refused its account.
        bool refusalTold = false;
    };
    struct Attempt
    {
        CGIUtil *request = nullptr;
        Owed owed;
        std::function<qcLiveDeviceRequests::Reach()> reach;
    };

    static int kindOf(int op, const QString &body);
    void onControlStarting(const qcLiveDeviceRequests::Target &target, int op, const QString &body);
    void onControlEnded(const qcLiveDeviceRequests::Target &target, int op, const QString &body, bool delivered,
                        bool refused);
    void onListedDeviceUpdated(const qcLiveDeviceRequests::Target &was, const qcLiveDeviceRequests::Target &now);
    void settle(const qcLiveDeviceRequests::Target &target, int kinds);
    int attemptTo(const qcLiveDeviceRequests::Target &target) const;
    int owedIndex(const qcLiveDeviceRequests::Target &target, int kind) const;
    void startAttempt(const Owed &owed);
    // Ends an attempt (aborted when told to) and settles its stop when the
    // camera took it; one that did not goes behind the camera's other stop.
    void endAttempt(CGIUtil *request, bool abort);
    void abortAttemptTo(const qcLiveDeviceRequests::Target &target);

    // The page may delete the requests before the panel that owns this.
    QPointer<qcLiveDeviceRequests> m_requests;
    QVector<Owed> m_owed;
    QVector<Attempt> m_attempts; // at most one per camera
    QTimer m_timer;
};
