#pragma once

#include "app/shell/qwunlockclient.h"
#include "app/widgets/basewindow.h"
#include "platform/desktop/powerinhibitor.h"

#include <QPointer>

class ISysinforWin;
class QGridLayout;
class QLabel;
class QPushButton;
class QStackedWidget;
class qwLiveView;
class qwLocalSetting;
class qwPlayback;
namespace platform {
class Clock;
}

// The main window: the three pages in a stack, a menu of page buttons in
// the title bar, the clock, the CPU-load icon and the lock button.
class cmsclient : public BaseWindow
{
    Q_OBJECT
public:
    cmsclient(QWidget *parent, const QString &userName);
    ~cmsclient() override;

    bool beforeClose() override;

    // Where the clock reads the time; the system clock unless a test sets
    // another. Not owned.
    void setClock(const platform::Clock *clock);

    QWidget *contentWidget() const { return m_parent; }
    QStackedWidget *pages() const { return m_stack; }
    qwLiveView *liveView() const { return m_liveView; }
    qwPlayback *playback() const { return m_playback; }
    qwLocalSetting *localSetting() const { return m_localSetting; }
    QPushButton *menuButton(int index) const;
    QLabel *clockLabel() const { return m_clock; }
    QLabel *cpuLabel() const { return m_cpu; }
    ISysinforWin *sampler() const { return m_sampler; }
    qwUnlockClient *lockScreen() const { return m_lockScreen; }
    const platform::PowerInhibitor &powerInhibitor() const { return m_power; }

public slots:
    void onBtnPreview();
    void onBtnPlayback();
    void onBtnLocalsetting();
    void onLockClient();
    void onUnlockClien();
    void onCPULoad(int npercent);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    void buildForm();
    void createMenu();
    void createStatus();
    void createPages();
    void selectMenu(int index);
    void showTime();
    void stopSampler(int waitMs);

    // the form
    QWidget *m_parent = nullptr;
    QGridLayout *m_grid = nullptr;
    QStackedWidget *m_stack = nullptr;

    QWidget *m_menu = nullptr;
    QPushButton *m_btnLive = nullptr;
    QPushButton *m_btnPlayback = nullptr;
    QPushButton *m_btnLocal = nullptr;
    QString m_selectedStyle;
    QString m_unselectedStyle;
    qwLiveView *m_liveView = nullptr;
    qwPlayback *m_playback = nullptr;
    qwLocalSetting *m_localSetting = nullptr;
    QLabel *m_clock = nullptr;
    QLabel *m_cpu = nullptr;
    QString m_menuStyle;
    QString m_userName;
    int m_clockTimer = -1;
    ISysinforWin *m_sampler = nullptr;
    bool m_cpuHover = false;
    int m_lastCpu = 0;

    const platform::Clock *m_timeSource = nullptr;
    QPointer<qwUnlockClient> m_lockScreen;
    platform::PowerInhibitor m_power;
    bool m_closed = false;
};
