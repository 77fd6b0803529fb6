#include "device/qcp2pstreaminterface.h"

#include "device/qccommonstream.h"

#include <mutex>

namespace {

std::mutex g_factoryMutex;
qcP2PStreamFactory g_factory;

} // namespace

qcP2PStreamInterface *createP2PStream(const QString &address, const QString &port, const QString &user,
                                      const QString &password, const QString &protocol)
{
    qcP2PStreamFactory factory;
    {
        std::lock_guard<std::mutex> lock(g_factoryMutex);
        factory = g_factory;
    }
    if (factory)
        return factory(address, port, user, password, protocol);
    if (protocol != QLatin1String(kP2pProtocolName))
        return nullptr;
    return new qcCommonStream(address, port, user, password, protocol);
}

void setP2PStreamFactory(qcP2PStreamFactory factory)
{
    std::lock_guard<std::mutex> lock(g_factoryMutex);
    g_factory = std::move(factory);
}
