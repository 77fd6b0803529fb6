#include "media/recordresume.h"

#include "media/recordnames.h"

void RecordResume::cut(qint64 sequence, std::unique_ptr<FrameHandOver> handOver)
{
    m_sequence = sequence;
    m_scheduled = false;
    m_handOver = std::move(handOver);
}

void RecordResume::filled(int kind, qint64 sequence)
{
    // Only the schedule starts a next file by itself; a manual or alarm
    // recording whose length is used up has ended.
    if (kind != recordnames::kKindTiming || sequence < 0)
        return;
    m_sequence = sequence;
    m_scheduled = true;
    m_handOver.reset();
}

void RecordResume::scheduleLapsed()
{
    if (!m_scheduled)
        return;
    m_sequence = -1;
    m_scheduled = false;
}

qint64 RecordResume::sequenceFor(int kind) const
{
    if (m_scheduled && kind != recordnames::kKindTiming)
        return -1;
    return m_sequence;
}

std::unique_ptr<FrameHandOver> RecordResume::take()
{
    m_sequence = -1;
    m_scheduled = false;
    return std::move(m_handOver);
}
