#pragma once

#include "liveview/qclivedevicerequests.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QVector>

class CGIUtil;

// The stops of the PTZ panel that did not reach their camera. A camera that
// missed the stop of a held direction (or of a zoom or focus) keeps moving,
// so such a stop is owed to that camera, whichever view is selected since,
// and sent again until the camera answers it. A later command of the same
// kind that reaches the camera settles the debt: the camera then does that,
// and that command's own stop follows it.
class qcPtzStopRetry : public QObject
{
    Q_OBJECT
public:
    // How long after an attempt that did not get through the next one goes.
    static constexpr int kRetryMs = 2000;

    explicit qcPtzStopRetry(qcLiveDeviceRequests *requests, QObject *parent = nullptr);
    ~qcPtzStopRetry() override;

    // Stops still owed, for tests.
    int owedCount() const { return m_owed.size(); }

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
    };

    static int kindOf(int op, const QString &body);
    void onControlStarting(const qcLiveDeviceRequests::Target &target);
    void onControlEnded(const qcLiveDeviceRequests::Target &target, int op, const QString &body, bool delivered);
    void settle(const qcLiveDeviceRequests::Target &target, int kinds);
    void retryNext();
    // Ends the attempt in flight (aborted when told to) and settles its stop
    // when the camera answered it.
    void endRetry(bool abort);

    // The page may delete the requests before the panel that owns this.
    QPointer<qcLiveDeviceRequests> m_requests;
    QVector<Owed> m_owed;
    QTimer m_timer;
    CGIUtil *m_retry = nullptr;
    Owed m_retrying;
};
