#include "snapendpoint.h"

#include <QFile>

#include "exchange.h"
#include "livestream.h"

namespace devicesim {

void SnapEndpoint::setSnapshot(const QByteArray &bytes)
{
    QMutexLocker lock(&m_mutex);
    m_override = bytes;
}

QByteArray SnapEndpoint::picture() const
{
    {
        QMutexLocker lock(&m_mutex);
        if (!m_override.isEmpty())
            return m_override;
    }
    const QString colour = m_live ? m_live->options().colour : QString();
    QFile f(m_clipsDir + "/snap-" + (LiveStream::knownColour(colour) ? colour : QStringLiteral("test")) + ".jpg");
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void SnapEndpoint::handle(Exchange &ex)
{
    if (ex.request().method != "GET") {
        ex.respond(405);
        return;
    }
    const QByteArray jpeg = picture();
    if (jpeg.isEmpty()) {
        ex.respond(404);
        return;
    }
    if (m_http11)
        ex.respondRaw(200, formatResponse(200, jpeg, "image/jpeg", {}, "HTTP/1.1"));
    else
        ex.respond(200, jpeg, "image/jpeg");
}

} // namespace devicesim
