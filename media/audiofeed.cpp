#include "media/audiofeed.h"

void qcAudioFeed::add(const QByteArray &pcm)
{
    m_backlog += pcm;
    // Whole samples only, so what is left stays aligned.
    const int excess = (m_backlog.size() - m_bound) & ~1;
    if (excess > 0) {
        m_backlog.remove(0, excess);
        m_dropped += excess;
    }
}

int qcAudioFeed::pass(const std::function<bool(QByteArray *)> &decode, qcAudioSink &sink)
{
    // Decoding is cheap next to the output's pace, and only decoded audio
    // has a known length: every queued record is taken now, so the bound
    // holds for all the sound that waits.
    while (decode(&m_pcm))
        add(m_pcm);
    return feed(sink);
}

int qcAudioFeed::feed(qcAudioSink &sink)
{
    const int room = qMin(sink.bytesFree(), m_backlog.size()) & ~1;
    if (room <= 0)
        return 0;
    const qint64 written = sink.write(m_backlog.constData(), room);
    if (written <= 0)
        return 0;
    const int taken = int(written) & ~1;
    m_backlog.remove(0, taken);
    return taken;
}

void qcAudioFeed::clear(qcAudioSink *sink)
{
    m_backlog.clear();
    if (sink)
        sink->clear();
}
