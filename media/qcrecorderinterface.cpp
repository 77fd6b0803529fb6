#include "media/qcrecorderinterface.h"

#include "media/qcvideomuxer.h"

#include <mutex>

namespace {

std::mutex g_factoryMutex;
qcRecorderFactory g_factory;

} // namespace

void qcRecorderInterface::setHandOver(std::unique_ptr<FrameHandOver> frames)
{
    exchange(&m_handOver, std::move(frames));
}

std::unique_ptr<FrameHandOver> qcRecorderInterface::takeHandOver()
{
    return exchange(&m_handOver, nullptr);
}

void qcRecorderInterface::keepTail(qcFrameBuffer &buffer)
{
    // Under the lock: the recorder must not take the tail half made.
    std::lock_guard<std::mutex> lock(m_handOverMutex);
    if (m_tail)
        m_tail->holdNewer(buffer);
    else
        m_tail = FrameHandOver::copyAfter(buffer, readPosition());
}

std::unique_ptr<FrameHandOver> qcRecorderInterface::takeTail()
{
    return exchange(&m_tail, nullptr);
}

std::unique_ptr<FrameHandOver> qcRecorderInterface::exchange(std::unique_ptr<FrameHandOver> *slot,
                                                             std::unique_ptr<FrameHandOver> frames)
{
    std::lock_guard<std::mutex> lock(m_handOverMutex);
    std::swap(*slot, frames);
    return frames;
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
