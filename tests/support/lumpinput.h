#pragma once

#include "device/audioinput.h"
#include "device/g711.h"

#include <QtEndian>
#include <atomic>

namespace testsupport {

// A microphone for the talk suites and benchmark: its samples appear at the
// real rate of a clock, handed over in lumps of a fixed length as sound
// servers do. Each sample is a hash of its index, so a run of µ-law bytes
// at the device tells which samples it carries.
class LumpInput : public AudioInputBackend
{
public:
    LumpInput(int lumpMs, AudioClock clock) : m_lumpMs(lumpMs), m_clock(std::move(clock)) {}
    int open(const QAudioFormat &) override
    {
        m_openedMs = m_clock();
        m_made = 0;
        m_open = true;
        return 0;
    }
    void stop() override { m_open = false; }
    void suspend() override { m_open = false; }
    void resume() override { m_open = true; }
    void setVolume(qreal) override {}
    QByteArray take() override
    {
        const qint64 elapsed = m_clock() - m_openedMs;
        const qint64 due = elapsed / m_lumpMs * m_lumpMs * 8;
        if (!m_open || due <= m_made)
            return QByteArray();
        QByteArray out(int(due - m_made) * 2, Qt::Uninitialized);
        for (qint64 n = m_made; n < due; ++n)
            qToLittleEndian<qint16>(sample(n), out.data() + (n - m_made) * 2);
        m_made = due;
        return out;
    }

    static qint16 sample(qint64 n)
    {
        quint32 x = quint32(n) * 2654435761u;
        x ^= x >> 15;
        x *= 2246822519u;
        x ^= x >> 13;
        return qint16(x >> 16);
    }
    // The index of the sample that starts `mulaw` (at least 16 bytes), from
    // `from` on below `to`; -1 when none does.
    static qint64 indexOf(const QByteArray &mulaw, qint64 from, qint64 to)
    {
        for (qint64 n = from; n < to; ++n) {
            int i = 0;
            while (i < 16 && uint8_t(mulaw[i]) == linearToMuLaw(sample(n + i)))
                ++i;
            if (i == 16)
                return n;
        }
        return -1;
    }
    // When the sample at index n was recorded, on the clock.
    double recordedMs(qint64 n) const { return m_openedMs + n / 8.0; }
    qint64 made() const { return m_made; }

private:
    int m_lumpMs;
    AudioClock m_clock;
    qint64 m_openedMs = 0;
    std::atomic<qint64> m_made{0};
    bool m_open = false;
};

} // namespace testsupport
