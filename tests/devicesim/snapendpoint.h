#pragma once

#include <QByteArray>
#include <QMutex>
#include <QString>

#include <atomic>
#include <memory>

#include "device.h"

namespace devicesim {

class LiveStream;

// The device's own JPEG snapshot on /action/snap: the picture of the
// device's colour (snap-<colour>.jpg from the clips folder), the test
// picture (snap-test.jpg) for a device without one.
class SnapEndpoint : public Handler
{
public:
    SnapEndpoint(std::shared_ptr<LiveStream> live, const QString &clipsDir)
        : m_live(std::move(live)), m_clipsDir(clipsDir)
    {}

    void handle(Exchange &exchange) override;

    // Thread-safe controls. Bytes served instead of the picture (an empty
    // array serves the picture again).
    void setSnapshot(const QByteArray &bytes);
    // "HTTP/1.1 200 OK" instead of the device's usual HTTP/1.0 status line.
    void setHttp11(bool on) { m_http11 = on; }

    // The picture this device serves now.
    QByteArray picture() const;

private:
    std::shared_ptr<LiveStream> m_live;
    QString m_clipsDir;
    mutable QMutex m_mutex;
    QByteArray m_override;
    std::atomic<bool> m_http11{false};
};

} // namespace devicesim
