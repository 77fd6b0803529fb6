#include "media/qcstreamplayer.h"

#include "device/framehead.h"
#include "device/playstream.h"
#include "media/cd3drender.h"
#include "media/cliveplayer.h"
#include "media/codecids.h"
#include "platform/d3d9/d3d9.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QTimerEvent>
#include <QWidget>

namespace {

// What the teardown used to allow each thread before giving up on it; a
// stop that takes longer is worth a line in the log.
constexpr qint64 kSlowStopMs = 5000;

void noteSlowStop(const char *what, const QElapsedTimer &clock)
{
    if (clock.elapsed() > kSlowStopMs)
        qDebug() << "qcStreamPlayer:" << what << "took" << clock.elapsed() << "ms to stop";
}

} // namespace

qcStreamPlayer::qcStreamPlayer(QObject *parent, QString devip, QString httpport, QString username, QString password,
                               int streamKind)
    : QObject(parent), m_devip(std::move(devip)), m_httpport(std::move(httpport)), m_username(std::move(username)),
      m_password(std::move(password)), m_streamKind(streamKind)
{}

qcStreamPlayer::~qcStreamPlayer()
{
    killReopenTimer();
    m_stopped = true;
    tearDown();
}

bool qcStreamPlayer::openStream()
{
    m_stopped = false;
    m_stream = new PlayStream(m_devip, m_httpport, m_username, m_password, &qcStreamPlayer::onStreamFrame, this,
                              PlayStream::kModeLive);
    connect(m_stream, &PlayStream::sigConnectStatus, this, &qcStreamPlayer::OnStreamStatus);
    m_stream->setObjectName(QStringLiteral("preview-stream"));
    m_player = new CLivePlayer;
    m_player->setObjectName(QStringLiteral("preview-player"));
    // No client runs now: the old one was stopped before it went.
    m_gate.reset();
    // The client thread sends the request as soon as it is connected: it
    // must be in place before the thread starts.
    m_stream->prepareLiveRequest(PlayStream::kMainStream);
    m_stream->start(QThread::InheritPriority);
    return true;
}

void qcStreamPlayer::onStreamFrame(const unsigned char *data, int length, int kind, int subkind, qint64, void *user)
{
    auto *self = static_cast<qcStreamPlayer *>(user);
    if (!self || self->m_stopped)
        return;
    if (kind == KindStreamInfo) {
        if (length < kStreamInfoSize)
            return;
        const StreamInfo_t info = wire::readStreamInfo(data);
        // A size of 0 (or beyond any camera) would build a drawing surface
        // no renderer can start on.
        if (info.width < 1 || info.width > kMaxSide || info.height < 1 || info.height > kMaxSide)
            return;
        const int codec = info.videoCodec() == 0 ? media::codecids::kVideoH264 : media::codecids::kVideoHevc;
        if (self->m_player)
            self->m_player->setVideoInfo(info.width, info.height, codec, info.decoderChoice() != 0);
        self->m_width = info.width;
        self->m_height = info.height;
        emit self->sigVideoratio(info.width, info.height);
    } else if (kind == KindVideo && self->m_player) {
        CLivePlayer *player = self->m_player;
        self->m_gate.push(data, length, subkind == FrameKey, player->decoderOpen(),
                          [player](const uint8_t *picture, int bytes) { return player->inputData(picture, bytes, 0); });
    }
}

void qcStreamPlayer::OnStreamStatus(int status)
{
    // A replaced client may still have statuses queued, and a stopped
    // player opens nothing.
    if (sender() != m_stream || m_stopped)
        return;
    if (status != StatusFailed && status != StatusLost)
        return;
    m_reopening = false;
    // Its address stays taken until the statuses it queued are delivered, so
    // that the next client can never be mistaken for it.
    tearDown(true);
    killReopenTimer();
    m_reopenTimerId = startTimer(kReopenMs);
}

void qcStreamPlayer::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_reopenTimerId)
        return;
    killReopenTimer();
    if (m_reopening || m_stopped)
        return;
    m_reopening = true;
    openStream();
}

void qcStreamPlayer::killReopenTimer()
{
    if (m_reopenTimerId >= 0)
        killTimer(m_reopenTimerId);
    m_reopenTimerId = -1;
}

void qcStreamPlayer::tearDown(bool deleteClientLater)
{
    // In this order, each waited for to its end: the client first, so that
    // no frame reaches a player being stopped.
    if (m_stream) {
        QElapsedTimer clock;
        clock.start();
        m_stream->disconnect(this);
        m_stream->stop();
        noteSlowStop("the stream client", clock);
        if (deleteClientLater)
            m_stream->deleteLater();
        else
            delete m_stream;
        m_stream = nullptr;
    }
    if (m_player) {
        QElapsedTimer clock;
        clock.start();
        m_player->stopLiveplay();
        m_player->wait();
        noteSlowStop("the live player", clock);
        delete m_player;
        m_player = nullptr;
    }
    deleteD3DRender();
}

void qcStreamPlayer::deleteD3DRender()
{
    if (!m_d3d)
        return;
    m_d3d->resetFrames();
    m_d3d->stopRender();
    delete m_d3d;
    m_d3d = nullptr;
}

void qcStreamPlayer::startYuvPlay(CYuvRender *widget)
{
    if (!m_player)
        return;
    m_player->setRenderWidget(widget);
    if (!m_player->isRunning())
        m_player->start(QThread::HighPriority);
}

void qcStreamPlayer::startPlay(QWidget *widget)
{
    if (!m_player || !widget)
        return;
    // The running player lets go of the old renderer before it ends.
    releaseRender();
    m_d3d = new CD3DRender(0);
    m_d3d->createDevice(HWND(widget->winId()));
    // A renderer that cannot start stays black; the next stream information
    // builds a new one.
    m_d3d->init(m_width, m_height, false);
    m_d3d->setDisplayMode(0);
    // Qt painting the widget would wipe what the render thread put there;
    // where Qt itself shows the pictures it must keep painting.
    if (platform::d3d9::drawsOutsideQt())
        widget->setUpdatesEnabled(false);
    m_player->setD3DRender(m_d3d);
    if (!m_player->isRunning())
        m_player->start(QThread::InheritPriority);
}

void qcStreamPlayer::releaseRender()
{
    if (m_player) {
        m_player->setRenderWidget(nullptr);
        m_player->setD3DRender(nullptr);
    }
    deleteD3DRender();
}

bool qcStreamPlayer::stopPlay()
{
    killReopenTimer();
    m_stopped = true;
    tearDown();
    return true;
}
