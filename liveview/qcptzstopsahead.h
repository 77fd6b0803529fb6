#pragma once

#include "liveview/qclivedevicerequests.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class CGIUtil;

// The stops a camera is owed, sent to it one after another ahead of the
// control the operator has just started. A stop landing after that control
// would end it, so the control goes only once the camera has answered every
// one of them; the first one it did not take ends the run.
class qcPtzStopsAhead : public QObject
{
    Q_OBJECT
public:
    qcPtzStopsAhead(const qcLiveDeviceRequests::Target &target, const QStringList &bodies, QObject *parent = nullptr);
    ~qcPtzStopsAhead() override;

    void start();
    // Ends the stop on its way: after graceMs, aborted. A stop the camera
    // answered meanwhile is reported; none is sent after it, and the end of
    // the run is not reported.
    void finish(int graceMs);

signals:
    // One stop ended, as the camera took it (or not).
    void stopEnded(const qcLiveDeviceRequests::Target &target, const QString &body, qcLiveDeviceRequests::Reach reach);
    // The run is over: every stop was taken, or the last one sent was not.
    void done(bool allTaken);

private:
    void startNext();
    void onLinkFinished();
    qcLiveDeviceRequests::Reach endLink(bool abort);

    const qcLiveDeviceRequests::Target m_target;
    QStringList m_bodies; // the first one is on its way
    CGIUtil *m_link = nullptr;
    std::function<qcLiveDeviceRequests::Reach()> m_reach;
};
