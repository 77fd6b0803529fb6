#include "streamrouter.h"

#include "exchange.h"

namespace devicesim {

void StreamRouter::handle(Exchange &exchange)
{
    const QString subject = exchange.request().queryValue(QStringLiteral("subject"));
    if (subject == QLatin1String("audiotalk") && m_talk)
        m_talk->handle(exchange);
    else if (subject == QLatin1String("liveplay") && m_live)
        m_live->handle(exchange);
    else
        exchange.respond(404);
}

void StreamRouter::shutdown()
{
    if (m_live)
        m_live->shutdown();
    if (m_talk)
        m_talk->shutdown();
}

} // namespace devicesim
