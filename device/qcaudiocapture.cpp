#include "device/qcaudiocapture.h"

#include "device/g711.h"

#include <QDebug>
#include <QTimer>
#include <QtEndian>

#include <algorithm>

qcAudioCapture::qcAudioCapture(QObject *parent, std::unique_ptr<AudioInputBackend> backend)
    : QObject(parent), m_backend(backend ? std::move(backend) : std::make_unique<QtAudioInput>())
{}

qcAudioCapture::~qcAudioCapture()
{
    if (m_capturing)
        stopCapture();
}

QAudioFormat qcAudioCapture::captureFormat()
{
    QAudioFormat f;
    f.setSampleRate(8000);
    f.setSampleSize(16);
    f.setChannelCount(1);
    f.setSampleType(QAudioFormat::SignedInt);
    f.setByteOrder(QAudioFormat::LittleEndian);
    f.setCodec(QStringLiteral("audio/pcm"));
    return f;
}

bool qcAudioCapture::startCapture()
{
    if (m_capturing) {
        m_error = 11;
        return false;
    }
    const int rc = m_backend->open(captureFormat());
    if (rc != 0) {
        m_error = rc;
        return false;
    }
    m_backend->setVolume(0.8);
    // The input delivers nothing older than its opening.
    clear(-1e300);
    if (!m_timer) {
        m_timer = new QTimer(this);
        connect(m_timer, &QTimer::timeout, this, &qcAudioCapture::pump);
    }
    m_timer->start(kPumpMs);
    m_capturing = true;
    handleStateChanged(QAudio::ActiveState);
    emit sigStartedCapture();
    return true;
}

bool qcAudioCapture::stopCapture()
{
    if (!m_capturing)
        return false;
    m_capturing = false;
    if (m_timer)
        m_timer->stop();
    m_backend->stop();
    emit sigStopedCapture();
    return true;
}

void qcAudioCapture::setSuspended(bool suspended)
{
    if (!m_capturing)
        return;
    if (suspended)
        m_backend->suspend();
    else
        m_backend->resume();
}

void qcAudioCapture::handleStateChanged(QAudio::State newState)
{
    if (newState == QAudio::ActiveState)
        qDebug() << "Mic Date avalible";
}

void qcAudioCapture::beginTalk()
{
    clear(double(m_now()));
}

void qcAudioCapture::clear(double talkBeganMs)
{
    std::lock_guard<std::mutex> lock(m_fifoMutex);
    m_fifo.clear();
    m_pace.reset(talkBeganMs);
    m_trimmed = 0;
}

void qcAudioCapture::pump()
{
    if (!m_capturing)
        return;
    const QByteArray bytes = m_backend->take();
    if (bytes.isEmpty())
        return;
    std::lock_guard<std::mutex> lock(m_fifoMutex);
    // Copied in, never shared: appended to an empty QByteArray, `bytes`
    // would lend it its data, and a talk beginning on its own thread would
    // clear the FIFO while this thread still counts that data.
    m_fifo.append(bytes.constData(), bytes.size());
    m_pace.arrived(bytes.size(), m_now());
    // The first lump of a talk may reach back before the talk began: that
    // sound was not meant for the device, and is no loss either.
    const int early = int(m_pace.earlyBytes()) & ~1;
    if (early > 0) {
        m_fifo.remove(0, early);
        m_pace.removed(early);
    }
    // The oldest bytes give way, counted: a reader that stalled for seconds.
    const int excess = (m_fifo.size() - kFifoBytes + 1) & ~1;
    if (excess > 0)
        dropLocked(excess);
}

void qcAudioCapture::dropLateLocked(qint64 now)
{
    // Late audio is dropped rather than letting the delay grow. Late is
    // judged by the samples' age, not by how much is queued: right after an
    // input's lump of two seconds arrives, all of it is queued and none of
    // it is late.
    const int late = int(m_pace.lateBytes(now)) & ~1;
    if (late > 0)
        dropLocked(late);
}

void qcAudioCapture::dropLocked(int bytes)
{
    m_fifo.remove(0, bytes);
    m_pace.removed(bytes);
    m_trimmed += bytes;
}

double qcAudioCapture::delayMs()
{
    std::lock_guard<std::mutex> lock(m_fifoMutex);
    return m_pace.delayMs(m_now());
}

int qcAudioCapture::bytesReady()
{
    std::lock_guard<std::mutex> lock(m_fifoMutex);
    return m_fifo.size();
}

int qcAudioCapture::readEncoded(unsigned char *out, int samples, Release release)
{
    if (!out || samples <= 0)
        return 0;
    const int needed = 2 * samples;
    if (needed > kMaxBlockBytes)
        return 0;
    uchar block[kMaxBlockBytes];
    if (!takeOldest(reinterpret_cast<char *>(block), needed, release))
        return 0;
    for (int i = 0; i < samples; ++i)
        out[i] = linearToMuLaw(qFromLittleEndian<qint16>(block + 2 * i));
    return samples;
}

int qcAudioCapture::readRaw(char *out, int bytes)
{
    if (!out || bytes <= 0)
        return 0;
    return takeOldest(out, bytes, Now) ? bytes : 0;
}

bool qcAudioCapture::takeOldest(char *out, int bytes, Release release)
{
    // Copied out under the lock: a QByteArray handed out would share the
    // FIFO's data with the reader's thread.
    std::lock_guard<std::mutex> lock(m_fifoMutex);
    const qint64 now = m_now();
    dropLateLocked(now);
    if (m_fifo.size() < bytes || (release == Due && !m_pace.headDue(now)))
        return false;
    memcpy(out, m_fifo.constData(), size_t(bytes));
    m_fifo.remove(0, bytes);
    m_pace.removed(bytes);
    return true;
}
