#include "media/qcrecorderinterface.h"

#include "media/qcvideomuxer.h"

#include <mutex>

namespace {

std::mutex g_factoryMutex;
qcRecorderFactory g_factory;

} // namespace

void qcRecorderInterface::setHandOver(std::unique_ptr<FrameHandOver> frames)
{
    std::lock_guard<std::mutex> lock(m_handOverMutex);
    m_handOver = std::move(frames);
}

std::unique_ptr<FrameHandOver> qcRecorderInterface::takeHandOver()
{
    std::lock_guard<std::mutex> lock(m_handOverMutex);
    return std::move(m_handOver);
}

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
