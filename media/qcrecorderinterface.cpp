#include "media/qcrecorderinterface.h"

#include "media/qcvideomuxer.h"

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
    return factory ? factory() : new qcVideoMuxer;
}

void setRecorderFactory(qcRecorderFactory factory)
{
    std::lock_guard<std::mutex> lock(g_factoryMutex);
    g_factory = std::move(factory);
}
