#include "device/audioinput.h"

#include <QAudioDeviceInfo>
#include <QAudioInput>
#include <QtEndian>
#include <cmath>

AudioClock monotonicAudioClock()
{
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    return [clock] { return clock->elapsed(); };
}

QtAudioInput::QtAudioInput() = default;

QtAudioInput::~QtAudioInput()
{
    stop();
}

int QtAudioInput::open(const QAudioFormat &format)
{
    const QAudioDeviceInfo info = QAudioDeviceInfo::defaultInputDevice();
    if (info.isNull() || !info.isFormatSupported(format))
        return 10;
    m_input.reset(new QAudioInput(info, format));
    m_input->setVolume(0.8);
    // A small buffer, so the samples come in pieces of about one talk
    // block instead of whatever the server would choose.
    m_input->setBufferSize(format.bytesForDuration(kBufferUs));
    m_suspended = false;
    m_device = m_input->start();
    if (!m_device) {
        m_input.reset();
        return 10;
    }
    return 0;
}

void QtAudioInput::stop()
{
    if (m_input) {
        m_input->stop();
        m_input.reset();
    }
    m_device = nullptr;
}

void QtAudioInput::suspend()
{
    m_suspended = true;
    if (m_input)
        m_input->suspend();
}

void QtAudioInput::resume()
{
    m_suspended = false;
    if (m_input)
        m_input->resume();
}

void QtAudioInput::setVolume(qreal volume)
{
    if (m_input)
        m_input->setVolume(volume);
}

QByteArray QtAudioInput::take()
{
    return m_device && !m_suspended ? m_device->readAll() : QByteArray();
}

ToneAudioInput::ToneAudioInput(double frequency, double amplitude) : m_frequency(frequency), m_amplitude(amplitude) {}

int ToneAudioInput::open(const QAudioFormat &format)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rate = format.sampleRate() > 0 ? format.sampleRate() : 8000;
    m_open = true;
    m_suspended = false;
    m_samplesMade = 0;
    m_clock.start();
    return 0;
}

void ToneAudioInput::stop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open = false;
}

void ToneAudioInput::suspend()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_suspended = true;
}

void ToneAudioInput::resume()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_suspended) {
        // Time spent suspended makes no samples.
        m_suspended = false;
        m_samplesMade = m_clock.elapsed() * m_rate / 1000;
    }
}

void ToneAudioInput::setVolume(qreal) {}

void ToneAudioInput::append(const QByteArray &bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_scripted += bytes;
}

QByteArray ToneAudioInput::take()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open || m_suspended)
        return QByteArray();
    if (m_frequency <= 0) {
        QByteArray out;
        out.swap(m_scripted);
        return out;
    }
    const qint64 due = m_clock.elapsed() * m_rate / 1000;
    QByteArray out(int(due - m_samplesMade) * 2, Qt::Uninitialized);
    for (qint64 n = m_samplesMade; n < due; ++n) {
        const double v = m_amplitude * std::sin(2.0 * M_PI * m_frequency * double(n) / m_rate);
        qToLittleEndian<qint16>(qint16(std::lround(v)), out.data() + (n - m_samplesMade) * 2);
    }
    m_samplesMade = due;
    return out;
}
