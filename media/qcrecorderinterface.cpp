#include "media/qcrecorderinterface.h"

#include <mutex>

namespace {

std::mutex g_factoryMutex;
qcRecorderFactory g_factory;

} // namespace

qcRecorderInterface *createRecorder()
{
    qcRecorderFactory factory;
    {
        std::lock_guard<std::mutex> lock(g_factoryMutex);
        factory = g_factory;
    }
    return factory ? factory() : nullptr;
}

void setRecorderFactory(qcRecorderFactory factory)
{
    std::lock_guard<std::mutex> lock(g_factoryMutex);
    g_factory = std::move(factory);
}
