#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>

#include <mutex>

#include "media/qcstreamutil.h"
#include "platform/gdi/gdi.h"

class CD3DWndRender;
class CLivePlayer;
class qcFrameBuffer;
class QWidget;

namespace platform {
class Clock;
}

// Ties one video view of the live grid to the player that fills it: owns the
// player thread and the renderer, builds the render surface and the
// "No Video" panel inside the view's video widget, picks the main or sub
// frame buffer, names manual snapshots, switches the sound and implements the
// digital zoom with its red outline. Lives on the GUI thread.
class qcCameraUtil : public QObject
{
    Q_OBJECT
public:
    static constexpr int kSettleMs = 300;
    static constexpr COLORREF kOutlineColour = 0x0000FF;

    explicit qcCameraUtil(QObject *parent = nullptr);
    ~qcCameraUtil() override;

    static void initFfmpeg();

    void setVideoWidget(QWidget *widget);
    void setStreamInfo(const MediaInfo_t &mainInfo, const MediaInfo_t &subInfo);
    bool setMainSubBuffers(qcFrameBuffer *mainBuffer, qcFrameBuffer *subBuffer);
    void setSnapshotFormat(int format);
    void setSnapshotQuality(int level);

    bool startStream(int stream);
    bool switchStream(int stream);
    void refresh();
    void stopStream();
    int getStreamType() const { return m_stream; }
    void setPaused(bool paused);

    bool openAudio();
    void closeAudio();
    void setVolume(int volume);

    // Asks the player for its next picture. With no picture to take (nothing
    // plays, or the device delivers no video) the snapshot is refused and
    // told at once (sigSnapshotFailed), and no file is made.
    bool snapshot(const QString &captureRoot, const QString &ip);
    // The file a manual snapshot of this moment goes to; empty name part for
    // an unknown format, empty when the address is no folder name.
    static QString snapshotPath(const QString &captureRoot, const QString &ip, int format, const QDateTime &now);

    void setZoomEnabled(bool on);
    void onPlayState(int state);

    // Snapshot names take their time from here; the system clock by default.
    void setClock(const platform::Clock *clock);

    // Reach for tests and benchmarks.
    CLivePlayer *player() const { return m_player; }
    CD3DWndRender *render() const { return m_render; }
    QWidget *renderSurface() const { return m_renderSurface; }
    QWidget *noVideoWidget() const { return m_noVideoWidget; }
    QRect zoomRect() const;
    bool zoomSelecting() const;
    bool settleTimerRunning() const { return m_settleTimerId != -1; }
    bool mapZoomToPicture(RECT &out);
    bool pictureRect(QRect &out) const;
    // Names the next players' threads (empty: Qt's default).
    void setPlayerName(const QString &name) { m_playerName = name; }

signals:
    void sigSnapshot(QString ip, QString qsfile, int type);
    void sigZoomResult(bool bsuc);
    // A snapshot refused or not stored (`error`: capturefile::kNoPicture,
    // or the errno of the write), told already in the system log.
    void sigSnapshotFailed(int error);

public slots:
    void onSnapshotResult(QString qsfile);
    void onSnapshotFailed(QString qsfile, int error);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    bool createRender(int stream);
    bool createSurfaces();
    void newPlayer();
    void finishPlayer(int patienceMs);
    // Snapshots still waiting for a picture that will not come.
    void dropSnapshots();
    const MediaInfo_t &currentInfo() const { return m_stream == 0 ? m_mainInfo : m_subInfo; }
    void updateZoomRect(const QPoint &pos);
    static void drawOverlay(HDC dc, void *user, int videoWidth, int videoHeight, int displayWidth);
    bool onSurfaceWindow() const;

    QPoint m_zoomStart;
    int m_settleTimerId = -1;
    // The widgets belong to the view; it may delete them before us.
    QPointer<QWidget> m_noVideoWidget;
    QPointer<QWidget> m_renderSurface;
    CLivePlayer *m_player = nullptr;
    MediaInfo_t m_mainInfo{};
    MediaInfo_t m_subInfo{};
    qcFrameBuffer *m_mainBuffer = nullptr;
    qcFrameBuffer *m_subBuffer = nullptr;
    QPointer<QWidget> m_videoWidget;
    CD3DWndRender *m_render = nullptr;
    int m_stream = -1;
    int m_snapshotFormat = 146;
    int m_snapshotQuality = 5;
    int m_fitMode = 0;
    int m_volume = 0;

    // The zoom state and the stream size are read by the overlay on the
    // player thread while the GUI thread changes them.
    mutable std::mutex m_zoomLock;
    QRect m_zoomRect;
    bool m_zoomSelecting = false;
    int m_streamWidth = 0;
    int m_streamHeight = 0;

    HWND m_boundWindow = 0; // the window the current renderer draws into
    const platform::Clock *m_clock = nullptr;
    QString m_playerName;
};
