#pragma once

#include <QObject>
#include <QStringList>

#include <atomic>
#include <memory>

#include "app/core/cgiutil.h"
#include "devicesim/device.h"
#include "tests/support/loopback.h"

using testsupport::closedPort;

// Records what a request thread reports, in order, on the test's thread:
// "h:CODE" for sigHeaderCompleted, "d" for sigDataCompleted, "p:PCT" for
// progress. Every signal must carry the request's id.
class Recorder : public QObject
{
    Q_OBJECT
public:
    explicit Recorder(CGIUtil *util);

    QStringList events;
    QList<int> percents;
    bool wrongId = false;
    // Signals emitted so far, counted on the emitting thread.
    std::atomic<int> emitted{0};

private:
    int m_id;
};

// Base of the groups: each test function gets a device of its own on
// 127.0.0.1 and an ephemeral port, with the shipped subjects, user "admin"
// and password "1234", and the default low-speed time.
class DeviceTest : public QObject
{
    Q_OBJECT
protected:
    std::unique_ptr<devicesim::Device> m_dev;

    QString url(const QString &pathAndQuery) const;
    QString sample() const { return url(QStringLiteral("/action/get?subject=sample")); }

private slots:
    void init();
    void cleanup();
};

// Starts the thread and waits for its end; delivers the queued signals.
bool runToEnd(CGIUtil &util, int timeoutMs = 15000);
