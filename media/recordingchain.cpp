#include "media/recordingchain.h"

#include "media/recordnames.h"

bool RecordingChain::chains(int kind)
{
    return kind == recordnames::kKindManual || kind == recordnames::kKindAlarm;
}

void RecordingChain::begin(const Params &params)
{
    m_params = params;
    m_active = chains(params.kind);
    m_owed = false;
    m_recordedMs = 0;
    m_lastFile.clear();
}

void RecordingChain::end()
{
    m_active = false;
    m_owed = false;
}

bool RecordingChain::fileEnded(bool cut, qint64 recordedMs, const QString &file)
{
    if (!m_active)
        return false;
    m_recordedMs = recordedMs;
    if (!file.isEmpty())
        m_lastFile = file;
    const qint64 lengthMs = qint64(m_params.lengthSec + m_params.preSec + m_params.postSec) * 1000;
    m_owed = cut && m_recordedMs < lengthMs;
    if (!m_owed)
        m_active = false;
    return m_owed;
}
