#pragma once

// The stream service on a thread of its own, as the live page runs it, and
// the clock answer the loopback devices give its probes.

#include "media/qcstreamserver.h"

#include <QByteArray>
#include <QString>
#include <QThread>

namespace mediatest {

const QByteArray kSystime =
    "<response><systime><mode>0</mode><datetime>2020-01-01T00:00:00</datetime></systime></response>";

struct ServiceThread
{
    QThread thread;
    qcStreamServer *server = new qcStreamServer;
    // With a path: records and captures there, files of `length` seconds,
    // alarms swept every 300 ms.
    explicit ServiceThread(const QString &path = QString(), int length = 60)
    {
        if (!path.isEmpty()) {
            AlarmTiming timing;
            timing.sweepMs = 300;
            server->setAlarmTiming(timing);
            server->setLocalConfig(path, path, length, 0, 0, 0, 5, 30, 1, 1);
        }
        server->moveToThread(&thread);
        thread.start();
    }
    ~ServiceThread() { end(); }
    // A loopback device of the recording suites (address, port()).
    template <class Device>
    void add(const Device &d, int index)
    {
        server->addDevice(d.address, d.port(), "cam" + d.address, "admin", "1234", "VARAR", index);
    }
    void tick(int n = 1)
    {
        for (int i = 0; i < n; ++i)
            QMetaObject::invokeMethod(server, "tick", Qt::BlockingQueuedConnection);
    }
    void end()
    {
        if (!server)
            return;
        QMetaObject::invokeMethod(server, "shutdown", Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
        delete server;
        server = nullptr;
    }
};

} // namespace mediatest
