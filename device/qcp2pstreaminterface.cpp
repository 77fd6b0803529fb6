#include "device/qcp2pstreaminterface.h"

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
    // Without a P2P layer in the program there is nothing to make.
    return factory ? factory(address, port, user, password, protocol) : nullptr;
}

void setP2PStreamFactory(qcP2PStreamFactory factory)
{
    std::lock_guard<std::mutex> lock(g_factoryMutex);
    g_factory = std::move(factory);
}
