#include "media/framehandover.h"

#include "media/qcframebuffer.h"

#include <new>

namespace {
constexpr uint32_t kKeyFrame = 1;
} // namespace

void FrameHandOver::dropOldest()
{
    m_bytes -= m_frames.front().payload.size();
    m_droppedBytes += m_frames.front().payload.size();
    ++m_dropped;
    m_frames.pop_front();
}

void FrameHandOver::hold(const char *data, uint32_t length, uint32_t type, uint64_t timestamp, int64_t sequence)
{
    // Once frames were dropped, nothing is kept until the next key frame.
    if (m_frames.empty() && m_dropped > 0 && type != kKeyFrame) {
        ++m_dropped;
        m_droppedBytes += length;
        return;
    }
    m_frames.push_back({type, timestamp, sequence, QByteArray(data, int(length))});
    m_bytes += length;
    if (m_bytes <= m_maxBytes)
        return;
    do
        dropOldest();
    while (!m_frames.empty() && (m_bytes > m_maxBytes || m_frames.front().type != kKeyFrame));
}

const FrameHandOver::Frame *FrameHandOver::after(int64_t sequence) const
{
    if (m_frames.empty())
        return nullptr;
    const int64_t at = sequence + 1 - m_frames.front().sequence;
    if (at < 0 || at >= int64_t(m_frames.size()))
        return nullptr;
    const Frame &frame = m_frames[size_t(at)];
    return frame.sequence == sequence + 1 ? &frame : nullptr;
}

void FrameHandOver::holdFrom(qcFrameBuffer &buffer, int64_t position)
{
    std::unique_ptr<char[]> scratch(new (std::nothrow) char[qcFrameBuffer::kMaxPayload]);
    if (!scratch)
        return;
    for (int64_t at = position;;) {
        uint32_t length = 0;
        uint32_t type = 0;
        uint64_t timestamp = 0;
        int64_t seq = at;
        if (!buffer.readFrame(scratch.get(), int32_t(qcFrameBuffer::kMaxPayload), &length, &type, &timestamp, &seq, -1,
                              false, -1) ||
            seq != at + 1)
            break;
        hold(scratch.get(), length, type, timestamp, seq);
        at = seq;
    }
}

void FrameHandOver::holdNewer(qcFrameBuffer &buffer)
{
    if (!m_frames.empty())
        holdFrom(buffer, m_frames.back().sequence);
}

std::unique_ptr<FrameHandOver> FrameHandOver::copyAfter(qcFrameBuffer &buffer, int64_t position)
{
    if (position < 0)
        return nullptr;
    auto held = std::make_unique<FrameHandOver>(kStreamBytes);
    held->holdFrom(buffer, position);
    if (!held->after(position))
        return nullptr;
    return held;
}
