#pragma once

#include "media/keyframegate.h"

#include <QObject>
#include <QString>

#include <atomic>

class CD3DRender;
class CLivePlayer;
class CYuvRender;
class PlayStream;
class QWidget;

// The live main stream of one device for a settings page's preview: its own
// stream client feeding a live player's input queue (from the stream's first
// key picture on, kept until the player's decoder is open), the picture size
// reported to the owner with each stream information, and a reopen 800 ms
// after the connection failed or broke, without limit, until stopPlay.
class qcStreamPlayer : public QObject
{
    Q_OBJECT
public:
    static constexpr int kReopenMs = 800;
    static constexpr int kMaxSide = 8000;
    // Pictures kept from the first key picture until the player's decoder
    // is open: what the player's smallest input queue holds.
    static constexpr qint64 kMaxKeptBytes = 3145728;

    // streamKind is kept for callers; the main stream is always opened.
    qcStreamPlayer(QObject *parent, QString devip, QString httpport, QString username, QString password,
                   int streamKind);
    ~qcStreamPlayer() override;

    bool openStream();
    // Draws into the widget from now on and starts the live player (once).
    void startYuvPlay(CYuvRender *widget);
    // The same through a new Direct3D renderer on the widget's native
    // window, replacing the renderer of an earlier call.
    void startPlay(QWidget *widget);
    // The live player forgets its renderers and the Direct3D one ends; call
    // before deleting the drawing widget.
    void releaseRender();
    // Tears down and ignores everything the old connection still delivers;
    // no reopen follows.
    bool stopPlay();

    // Test reach.
    CLivePlayer *livePlayer() const { return m_player; }
    CD3DRender *d3dRender() const { return m_d3d; }
    int streamWidth() const { return m_width.load(); }
    int streamHeight() const { return m_height.load(); }

signals:
    void sigVideoratio(int w, int h);

public slots:
    void OnStreamStatus(int status);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    static void onStreamFrame(const unsigned char *data, int length, int kind, int subkind, qint64 timestamp,
                              void *user);
    void tearDown(bool deleteClientLater = false);
    void killReopenTimer();
    void deleteD3DRender();

    PlayStream *m_stream = nullptr;
    CLivePlayer *m_player = nullptr;
    CD3DRender *m_d3d = nullptr;
    // The client thread's: the stream's pictures until the player is ready.
    KeyFrameGate m_gate{kMaxKeptBytes};
    std::atomic<int> m_width{0};
    std::atomic<int> m_height{0};
    QString m_devip;
    QString m_httpport;
    QString m_username;
    QString m_password;
    int m_streamKind;
    int m_reopenTimerId = -1;
    std::atomic<bool> m_stopped{false};
    bool m_reopening = false;
};
