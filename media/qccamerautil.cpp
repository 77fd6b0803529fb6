#include "media/qccamerautil.h"

#include "device/deviceaddress.h"
#include "media/capturefile.h"
#include "media/recordnames.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QTimerEvent>
#include <QVBoxLayout>
#include <QWidget>

#include <cmath>

#include "media/cd3dwndrender.h"
#include "media/cliveplayer.h"
#include "platform/clock.h"

namespace {

// How long the Windows program waited before it gave up on a player; we
// never give up (a cancelled player could hold a frame buffer's lock), but
// say so when a stop takes longer.
constexpr int kSwitchPatienceMs = 4000;
constexpr int kStopPatienceMs = 10000;
constexpr int kDestructPatienceMs = 5000;
constexpr int kSnapshotResultType = 28;
constexpr int kStateVideo = 5;
constexpr int kStateNoVideo = 6;

const char kSurfaceStyle[] = "QWidget{border:none;background:black;}";
const char kLabelStyle[] = "QLabel{border:none;font-size:12px;font-weight:bold;color:white;}";

bool insideExclusive(const QRect &r, const QPoint &p)
{
    return p.x() >= r.left() && p.x() < r.right() && p.y() >= r.top() && p.y() < r.bottom();
}

} // namespace

qcCameraUtil::qcCameraUtil(QObject *parent) : QObject(parent), m_zoomRect() {}

qcCameraUtil::~qcCameraUtil()
{
    qDebug() << "---Camera Util Destruct---";
    finishPlayer(kDestructPatienceMs);
    if (m_render) {
        m_render->clearQueue();
        m_render->stop();
        delete m_render;
        m_render = nullptr;
    }
    if (m_videoWidget)
        m_videoWidget->setUpdatesEnabled(true);
}

void qcCameraUtil::initFfmpeg()
{
    CLivePlayer::initFfmpeg();
}

void qcCameraUtil::setVideoWidget(QWidget *widget)
{
    m_videoWidget = widget;
    if (widget)
        widget->installEventFilter(this);
}

void qcCameraUtil::setStreamInfo(const MediaInfo_t &mainInfo, const MediaInfo_t &subInfo)
{
    m_mainInfo = mainInfo;
    m_subInfo = subInfo;
}

bool qcCameraUtil::setMainSubBuffers(qcFrameBuffer *mainBuffer, qcFrameBuffer *subBuffer)
{
    if (!mainBuffer || !subBuffer)
        return false;
    m_mainBuffer = mainBuffer;
    m_subBuffer = subBuffer;
    return true;
}

void qcCameraUtil::setSnapshotFormat(int format)
{
    m_snapshotFormat = format;
}

void qcCameraUtil::setSnapshotQuality(int level)
{
    m_snapshotQuality = level;
}

void qcCameraUtil::newPlayer()
{
    m_player = new CLivePlayer(this);
    if (!m_playerName.isEmpty())
        m_player->setObjectName(m_playerName);
    // Without CAP_SYS_NICE the priority is not raised; the request stays.
    m_player->start(QThread::HighestPriority);
    m_player->setSnapshotFormat(m_snapshotFormat);
    m_player->setSnapshotQuality(m_snapshotQuality);
    m_player->setClock(m_clock);
    connect(m_player, &CLivePlayer::sigSnapshot, this, &qcCameraUtil::onSnapshotResult);
    connect(m_player, &CLivePlayer::sigSnapshotFailed, this, &qcCameraUtil::onSnapshotFailed);
}

void qcCameraUtil::finishPlayer(int patienceMs)
{
    if (!m_player)
        return;
    dropSnapshots();
    // Stopping is cooperative only: a player ended from outside could still
    // hold its frame buffer's lock and block every other reader for good.
    m_player->stopLiveplay();
    QElapsedTimer timer;
    timer.start();
    m_player->wait();
    if (timer.elapsed() > patienceMs)
        qDebug() << "player took" << timer.elapsed() << "ms to stop";
    delete m_player;
    m_player = nullptr;
}

bool qcCameraUtil::startStream(int stream)
{
    if ((stream != 0 && stream != 1) || m_player || !m_mainBuffer || !m_subBuffer || m_mainInfo.videoCodec == 0 ||
        m_subInfo.videoCodec == 0 || !m_videoWidget)
        return false;
    newPlayer();
    m_player->setFrameSource(stream == 0 ? m_mainBuffer : m_subBuffer);
    return createRender(stream);
}

bool qcCameraUtil::switchStream(int stream)
{
    if (stream == m_stream || (stream != 0 && stream != 1) || !m_player)
        return false;
    finishPlayer(kSwitchPatienceMs);
    m_stream = stream;
    newPlayer();
    if (m_volume > 0)
        openAudio();
    m_player->setFrameSource(stream == 0 ? m_mainBuffer : m_subBuffer);
    return createRender(stream);
}

void qcCameraUtil::refresh()
{
    qDebug() << "----Camera Util Refresh----";
    if (!m_player)
        return;
    finishPlayer(kSwitchPatienceMs);
    newPlayer();
    if (m_stream == 0 || m_stream == 1)
        m_player->setFrameSource(m_stream == 0 ? m_mainBuffer : m_subBuffer);
    createRender(m_stream);
}

void qcCameraUtil::stopStream()
{
    qDebug() << "---Camera Util Stopstream---";
    finishPlayer(kStopPatienceMs);
    if (m_videoWidget && m_videoWidget->layout() && m_renderSurface) {
        m_videoWidget->layout()->removeWidget(m_renderSurface);
        delete m_renderSurface;
        m_renderSurface = nullptr;
    }
}

void qcCameraUtil::setPaused(bool paused)
{
    if (m_player)
        m_player->setPaused(paused);
}

bool qcCameraUtil::createRender(int stream)
{
    if (!m_videoWidget)
        return false;
    if (m_render) {
        m_render->clearQueue();
        m_render->stop();
        delete m_render;
        m_render = nullptr;
    }
    if (!createSurfaces())
        return false;

    const MediaInfo_t &info = stream == 0 ? m_mainInfo : m_subInfo;
    m_render = new CD3DWndRender;
    m_boundWindow = HWND(m_renderSurface->winId());
    m_render->setWindow(m_boundWindow);
    // A renderer that cannot start stays black without a message.
    m_render->init(info.width, info.height, 0);
    {
        std::lock_guard<std::mutex> lock(m_zoomLock);
        m_streamWidth = info.width;
        m_streamHeight = info.height;
    }
    if (m_player)
        m_player->setVideoInfo(info.width, info.height, info.videoCodec, info.decoder != 0);
    m_render->setDrawCallback(&qcCameraUtil::drawOverlay, this);
    m_fitMode = 4;
    if (m_player) {
        m_player->setWndRender(m_render);
        if (m_volume > 0) {
            // Both streams of a device carry the same sound.
            m_player->startAudio(m_subInfo.audioCodec, m_subInfo.channels, m_subInfo.audioRate);
            m_player->setVolume(m_volume);
        }
    }
    m_stream = stream;
    return true;
}

bool qcCameraUtil::createSurfaces()
{
    if (m_renderSurface && m_noVideoWidget)
        return true;
    if (!m_videoWidget)
        return false;

    QLayout *layout = m_videoWidget->layout();
    if (!layout) {
        auto *grid = new QGridLayout(m_videoWidget);
        grid->setSpacing(0);
        grid->setContentsMargins(0, 0, 0, 0);
        layout = grid;
    } else {
        // Left by an earlier camera glue of the same view, or by our own stop.
        while (QLayoutItem *item = layout->takeAt(0)) {
            QWidget *w = item->widget();
            if (w == m_renderSurface)
                m_renderSurface = nullptr;
            if (w == m_noVideoWidget)
                m_noVideoWidget = nullptr;
            delete w;
            delete item;
        }
    }

    m_renderSurface = new QWidget(m_videoWidget);
    m_renderSurface->setStyleSheet(QString::fromLatin1(kSurfaceStyle));
    m_noVideoWidget = new QWidget(m_videoWidget);
    m_noVideoWidget->setStyleSheet(QString::fromLatin1(kSurfaceStyle));
    if (auto *grid = qobject_cast<QGridLayout *>(layout)) {
        grid->addWidget(m_renderSurface, 0, 0);
        grid->addWidget(m_noVideoWidget, 0, 0);
    } else {
        layout->addWidget(m_renderSurface);
        layout->addWidget(m_noVideoWidget);
    }
    m_noVideoWidget->hide();
    m_renderSurface->show();

    auto *box = new QVBoxLayout(m_noVideoWidget);
    auto *label = new QLabel(QStringLiteral("No Video"), m_noVideoWidget);
    label->setFixedHeight(32);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    label->setStyleSheet(QString::fromLatin1(kLabelStyle));
    box->addWidget(label);

    // Qt may give the surface a new native window (reparenting, full
    // screen); the renderer must then be rebuilt on it.
    m_renderSurface->installEventFilter(this);
    return true;
}

bool qcCameraUtil::openAudio()
{
    if (!m_player)
        return false;
    const MediaInfo_t &info = currentInfo();
    if (info.audioCodec < 0)
        return false;
    m_player->startAudio(info.audioCodec, info.channels, info.audioRate);
    m_player->setVolume(m_volume);
    return true;
}

void qcCameraUtil::closeAudio()
{
    if (!m_player)
        return;
    m_volume = 0;
    m_player->stopAudio();
}

void qcCameraUtil::setVolume(int volume)
{
    m_volume = volume;
    if (m_player)
        m_player->setVolume(volume);
}

QString qcCameraUtil::snapshotPath(const QString &captureRoot, const QString &ip, int format, const QDateTime &now)
{
    const QDate d = now.date();
    const QTime t = now.time();
    const QString device = deviceaddress::folderName(ip);
    if (device.isEmpty())
        return QString();
    const QString folder = captureRoot + QLatin1Char('/') + recordnames::dayFolder(d) + QLatin1Char('/') + device;

    QString extension;
    if (format == CLivePlayer::kSnapshotJpg)
        extension = QStringLiteral(".jpg");
    else if (format == CLivePlayer::kSnapshotBmp)
        extension = QStringLiteral(".bmp");

    QString name;
    if (!extension.isEmpty()) {
        const QStringList parts = ip.split(QLatin1Char('.'), Qt::KeepEmptyParts);
        const QString who = parts.size() == 4 ? parts.join(QLatin1Char('-')) : ip;
        const QString when = QStringLiteral("%1-%2-%3-%4-%5-%6-%7")
                                 .arg(d.year(), 4, 10, QLatin1Char('0'))
                                 .arg(d.month(), 2, 10, QLatin1Char('0'))
                                 .arg(d.day(), 2, 10, QLatin1Char('0'))
                                 .arg(t.hour(), 2, 10, QLatin1Char('0'))
                                 .arg(t.minute(), 2, 10, QLatin1Char('0'))
                                 .arg(t.second(), 2, 10, QLatin1Char('0'))
                                 .arg(t.msec(), 4, 10, QLatin1Char('0'));
        name = QStringLiteral("PICV1_MANUAL_") + who + QLatin1Char('_') + when + extension;
    }
    return folder + QLatin1Char('/') + name;
}

void qcCameraUtil::setClock(const platform::Clock *clock)
{
    m_clock = clock;
    if (m_player)
        m_player->setClock(clock);
}

bool qcCameraUtil::snapshot(const QString &captureRoot, const QString &ip)
{
    static const platform::SystemClock systemClock;
    const int format = m_snapshotFormat;
    const QString wanted = snapshotPath(captureRoot, ip, format, (m_clock ? m_clock : &systemClock)->now());
    if (wanted.isEmpty())
        return false;
    // The last picture shown may be long gone; the next one may never come.
    if (!m_player || (m_noVideoWidget && !m_noVideoWidget->isHidden())) {
        capturefile::notTaken(wanted);
        emit sigSnapshotFailed(capturefile::kNoPicture);
        return false;
    }
    return m_player->requestSnapshot(captureRoot, [captureRoot, ip, format](const QDateTime &taken) {
        return snapshotPath(captureRoot, ip, format, taken);
    });
}

void qcCameraUtil::dropSnapshots()
{
    if (!m_player)
        return;
    for (const QString &path : m_player->dropSnapshots()) {
        capturefile::notTaken(path);
        emit sigSnapshotFailed(capturefile::kNoPicture);
    }
}

void qcCameraUtil::onSnapshotResult(QString qsfile)
{
    emit sigSnapshot(QString(), qsfile, kSnapshotResultType);
}

void qcCameraUtil::onSnapshotFailed(QString, int error)
{
    emit sigSnapshotFailed(error);
}

QRect qcCameraUtil::zoomRect() const
{
    std::lock_guard<std::mutex> lock(m_zoomLock);
    return m_zoomRect;
}

bool qcCameraUtil::zoomSelecting() const
{
    std::lock_guard<std::mutex> lock(m_zoomLock);
    return m_zoomSelecting;
}

void qcCameraUtil::setZoomEnabled(bool on)
{
    {
        std::lock_guard<std::mutex> lock(m_zoomLock);
        m_zoomSelecting = on;
        m_zoomRect = QRect(QPoint(0, 0), QPoint(0, 0));
    }
    if (!m_render)
        return;
    if (!on)
        m_render->setZoomRect(RECT{0, 0, 0, 0}, true);
    m_render->setDrawEnabled(on);
}

bool qcCameraUtil::pictureRect(QRect &out) const
{
    if (!m_videoWidget)
        return false;
    const QRect r = m_videoWidget->rect();
    const double w = r.right() - r.left() + 1;
    const double h = r.bottom() - r.top() + 1;
    double ratio;
    switch (m_fitMode) {
    case 1:
        ratio = 4.0 / 3.0;
        break;
    case 2:
        ratio = 16.0 / 9.0;
        break;
    case 4:
        ratio = w / h;
        break;
    default: {
        const MediaInfo_t &info = currentInfo();
        ratio = info.height > 0 ? double(info.width) / info.height : w / h;
    }
    }
    const double widget = w / h;
    if (widget > ratio) {
        const double margin = (w - h * ratio) / 2;
        out = QRect(QPoint(int(std::trunc(margin)), r.top()), QPoint(int(std::trunc(w - margin)), r.bottom()));
    } else if (ratio > widget) {
        const double margin = (h - w / ratio) / 2;
        out = QRect(QPoint(r.left(), int(std::trunc(margin))), QPoint(r.right(), int(std::trunc(h - margin))));
    } else {
        out = r;
    }
    return true;
}

bool qcCameraUtil::mapZoomToPicture(RECT &out)
{
    RECT display;
    if (m_render) {
        display = m_render->getSourceRect();
    } else {
        QRect r;
        if (!pictureRect(r))
            return false;
        display = RECT{r.left(), r.top(), r.right(), r.bottom()};
    }
    QRect zoom;
    int streamWidth, streamHeight;
    {
        std::lock_guard<std::mutex> lock(m_zoomLock);
        zoom = m_zoomRect;
        streamWidth = m_streamWidth;
        streamHeight = m_streamHeight;
    }
    if (zoom.width() < 2 || zoom.height() < 2)
        return false;
    // An empty display rectangle (nothing laid out yet) maps to nothing.
    if (display.right - display.left <= 0 || display.bottom - display.top <= 0)
        return false;
    const double sx = double(streamWidth) / (display.right - display.left);
    const double sy = double(streamHeight) / (display.bottom - display.top);
    out.left = LONG(std::trunc((zoom.left() - display.left) * sx));
    out.top = LONG(std::trunc((zoom.top() - display.top) * sy));
    out.right = LONG(std::trunc(zoom.width() * sx + out.left));
    out.bottom = LONG(std::trunc(zoom.height() * sy + out.top));
    return true;
}

void qcCameraUtil::updateZoomRect(const QPoint &p)
{
    const QPoint s = m_zoomStart;
    std::lock_guard<std::mutex> lock(m_zoomLock);
    if (p.x() > s.x() && p.y() > s.y())
        m_zoomRect = QRect(QPoint(s.x(), s.y()), QPoint(p.x(), p.y()));
    else if (p.x() > s.x() && p.y() < s.y())
        m_zoomRect = QRect(QPoint(s.x(), p.y()), QPoint(p.x(), s.y()));
    else if (p.x() < s.x() && p.y() < s.y())
        m_zoomRect = QRect(QPoint(p.x(), p.y()), QPoint(s.x(), s.y()));
    else if (p.x() < s.x() && p.y() > s.y())
        m_zoomRect = QRect(QPoint(p.x(), s.y()), QPoint(s.x(), p.y()));
}

void qcCameraUtil::drawOverlay(HDC dc, void *user, int videoWidth, int videoHeight, int displayWidth)
{
    auto *self = static_cast<qcCameraUtil *>(user);
    if (!self || videoWidth == 0 || videoHeight == 0)
        return;
    {
        std::lock_guard<std::mutex> lock(self->m_zoomLock);
        if (!self->m_zoomSelecting || (self->m_zoomRect.width() <= 0 && self->m_zoomRect.height() <= 0))
            return;
    }
    RECT r;
    if (!self->mapZoomToPicture(r))
        return;
    double ratio = double(displayWidth) / videoWidth;
    if (!(ratio > 0))
        ratio = 1.0;
    HPEN pen = CreatePen(PS_SOLID, int(std::trunc(2.0 / ratio)), kOutlineColour);
    HGDIOBJ previous = SelectObject(dc, pen);
    MoveToEx(dc, r.left, r.top, nullptr);
    LineTo(dc, r.right, r.top);
    LineTo(dc, r.right, r.bottom);
    LineTo(dc, r.left, r.bottom);
    LineTo(dc, r.left, r.top);
    SelectObject(dc, previous);
    DeleteObject(pen);
}

bool qcCameraUtil::onSurfaceWindow() const
{
    return platform::d3d9::drawsOutsideQt();
}

bool qcCameraUtil::eventFilter(QObject *watched, QEvent *event)
{
    if (m_renderSurface && watched == m_renderSurface) {
        if (event->type() == QEvent::WinIdChange && m_player) {
            // Answered later: the surface is in the middle of being rebuilt.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (m_player && m_renderSurface && m_renderSurface->internalWinId() &&
                        m_renderSurface->internalWinId() != m_boundWindow)
                        refresh();
                },
                Qt::QueuedConnection);
        }
        return false;
    }
    if (!m_videoWidget || watched != m_videoWidget)
        return false;

    if (!zoomSelecting()) {
        if (event->type() == QEvent::Resize && m_renderSurface && m_render) {
            m_renderSurface->setUpdatesEnabled(true);
            if (m_settleTimerId != -1)
                killTimer(m_settleTimerId);
            m_settleTimerId = startTimer(kSettleMs, Qt::CoarseTimer);
            m_render->markDirty();
        }
        return false;
    }

    auto endSelection = [this] {
        std::lock_guard<std::mutex> lock(m_zoomLock);
        m_zoomSelecting = false;
    };
    auto abandon = [this, &endSelection] {
        endSelection();
        if (m_render)
            m_render->setDrawEnabled(false);
        emit sigZoomResult(false);
    };

    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        const QPoint pos = static_cast<QMouseEvent *>(event)->pos();
        m_zoomStart = pos;
        QRect picture;
        if (!pictureRect(picture) || !insideExclusive(picture, pos)) {
            endSelection();
            return false;
        }
        return true;
    }
    case QEvent::MouseMove: {
        const QPoint pos = static_cast<QMouseEvent *>(event)->pos();
        QRect display;
        if (m_render) {
            const RECT d = m_render->getSourceRect();
            display = QRect(QPoint(d.left, d.top), QPoint(d.right, d.bottom));
        } else if (!pictureRect(display)) {
            display = QRect();
        }
        if (!insideExclusive(display, pos)) {
            abandon();
            return false;
        }
        updateZoomRect(pos);
        return true;
    }
    case QEvent::MouseButtonRelease: {
        const QPoint pos = static_cast<QMouseEvent *>(event)->pos();
        QRect picture;
        if (!pictureRect(picture) || !insideExclusive(picture, pos)) {
            endSelection();
            return false;
        }
        updateZoomRect(pos);
        RECT mapped;
        if (mapZoomToPicture(mapped)) {
            if (m_render) {
                m_render->setZoomRect(mapped, true);
                m_render->setDrawEnabled(false);
            }
            endSelection();
        }
        return true;
    }
    case QEvent::Leave:
        abandon();
        return false;
    default:
        return true;
    }
}

void qcCameraUtil::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_settleTimerId)
        return QObject::timerEvent(event);
    killTimer(m_settleTimerId);
    m_settleTimerId = -1;
    // Elsewhere nobody else draws into the surface, and Qt's own painting
    // is the only way a picture reaches the screen.
    if (m_renderSurface && onSurfaceWindow())
        m_renderSurface->setUpdatesEnabled(false);
}

void qcCameraUtil::onPlayState(int state)
{
    if (!m_renderSurface || !m_noVideoWidget)
        return;
    if (state == kStateVideo && m_renderSurface->isHidden()) {
        m_renderSurface->show();
        m_noVideoWidget->hide();
        m_renderSurface->show();
    } else if (state == kStateNoVideo && m_noVideoWidget->isHidden()) {
        m_renderSurface->hide();
        m_noVideoWidget->show();
        dropSnapshots();
    }
}
