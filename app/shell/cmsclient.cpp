#include "app/shell/cmsclient.h"

#include "app/core/currentuser.h"
#include "app/core/isysinforwin.h"
#include "app/core/loghelper.h"
#include "app/core/uitext.h"
#include "app/shell/qwunlockclient.h"
#include "app/widgets/stylesheets.h"
#include "liveview/qwliveview.h"
#include "localsettings/qwlocalsetting.h"
#include "platform/clock.h"
#include "playback/qwplayback.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimerEvent>

namespace {

const char kTitle[] = "ARDO Client";

int cpuBand(int percent)
{
    if (percent <= 60)
        return 0;
    if (percent <= 80)
        return 1;
    return 2;
}

QPixmap cpuPixmap(int band)
{
    static const char *const images[] = {":/images/srcimages/cpu.png", ":/images/srcimages/cpu1.png",
                                         ":/images/srcimages/cpu2.png"};
    return QPixmap(QString::fromLatin1(images[band])).scaled(24, 24, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

const platform::Clock &systemClock()
{
    static const platform::SystemClock clock;
    return clock;
}

} // namespace

cmsclient::cmsclient(QWidget *parent, const QString &userName)
    : BaseWindow(parent, ShowMinMax | AllowMaximize, 1200, 728), m_userName(userName), m_timeSource(&systemClock())
{
    buildForm();
    setTitleText(QString::fromLatin1(kTitle), TitleLeft);
    setTitleIcon(QStringLiteral(":/images/srcimages/cms.png"));
    setWindowTitle(QString::fromLatin1(kTitle));

    setStyleSheet(QString::fromLatin1(styles::kMainWindow));
    m_selectedStyle = QString::fromLatin1(styles::kMenuSelected);
    m_unselectedStyle = QString::fromLatin1(styles::kMenuUnselected);
    m_menuStyle = QString::fromLatin1(styles::kMenuWidget);

    resize(1200, 728);
    createMenu();
    createStatus();
    createPages();

    m_clockTimer = startTimer(1000, Qt::CoarseTimer);

    m_sampler = new ISysinforWin();
    connect(m_sampler, &ISysinforWin::sigCpuRate, this, &cmsclient::onCPULoad);
    m_sampler->start(QThread::InheritPriority);

    m_power.acquire(QStringLiteral("Watching cameras"));
}

cmsclient::~cmsclient()
{
    stopSampler(-1);
    m_power.release();
}

void cmsclient::buildForm()
{
    setObjectName(QStringLiteral("cmsclient"));
    m_parent = new QWidget(this);
    m_parent->setObjectName(QStringLiteral("widget_Parent"));
    m_grid = new QGridLayout(m_parent);
    m_grid->setObjectName(QStringLiteral("gridLayout"));
    m_grid->setSpacing(1);
    m_grid->setContentsMargins(0, 0, 0, 0);
    m_stack = new QStackedWidget(m_parent);
    m_stack->setObjectName(QStringLiteral("stackedWidget_Container"));
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("page"));
    auto *page2 = new QWidget;
    page2->setObjectName(QStringLiteral("page_2"));
    m_stack->addWidget(page);
    m_stack->addWidget(page2);
    m_grid->addWidget(m_stack, 0, 0);
    resize(864, 624);
}

void cmsclient::setClock(const platform::Clock *clock)
{
    m_timeSource = clock ? clock : &systemClock();
}

QPushButton *cmsclient::menuButton(int index) const
{
    switch (index) {
    case 0:
        return m_btnLive;
    case 1:
        return m_btnPlayback;
    case 2:
        return m_btnLocal;
    default:
        return nullptr;
    }
}

void cmsclient::createMenu()
{
    if (m_menu)
        return;
    m_menu = new QWidget(this);
    auto *layout = new QHBoxLayout(m_menu);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);

    m_btnLive = new QPushButton(uiText("liveview"), m_menu);
    m_btnLive->setObjectName(QStringLiteral("button_Mainmenu_Preview"));
    m_btnPlayback = new QPushButton(uiText("playback"), m_menu);
    m_btnPlayback->setObjectName(QStringLiteral("button_MainMenu_Playback"));
    m_btnLocal = new QPushButton(uiText("localsettings"), m_menu);
    m_btnLocal->setObjectName(QStringLiteral("button_Mainmenu_Localsetting"));

    m_menu->setStyleSheet(m_menuStyle);
    m_btnLive->setStyleSheet(m_selectedStyle);
    m_btnPlayback->setStyleSheet(m_unselectedStyle);
    m_btnLocal->setStyleSheet(m_unselectedStyle);

    connect(m_btnLive, &QPushButton::clicked, this, &cmsclient::onBtnPreview);
    connect(m_btnPlayback, &QPushButton::clicked, this, &cmsclient::onBtnPlayback);
    connect(m_btnLocal, &QPushButton::clicked, this, &cmsclient::onBtnLocalsetting);

    layout->addWidget(m_btnLive);
    layout->addWidget(m_btnPlayback);
    layout->addWidget(m_btnLocal);
    setTitleMiddleWidget(m_menu);
}

void cmsclient::createStatus()
{
    auto *status = new QWidget(this);
    m_clock = new QLabel(status);
    m_cpu = new QLabel(status);
    const QString lockText = uiText("lockclient");
    const QString unlockText = uiText("unlockclient");

    m_clock->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_clock->setFixedSize(88, 16);
    m_clock->setStyleSheet(QString::fromLatin1(styles::kClockLabel));
    status->setContentsMargins(64, 0, 16, 0);
    m_cpu->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_cpu->setFixedSize(24, 24);
    m_cpu->setPixmap(cpuPixmap(0));

    auto *layout = new QHBoxLayout(status);
    layout->setSpacing(8);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addStretch();
    layout->addWidget(m_clock);
    layout->addWidget(m_cpu);
    m_cpu->installEventFilter(this);
    setTitleRightWidget(status);

    setCustomButtons(QStringLiteral(":/images/srcimages/unlock.png"), lockText,
                     QStringLiteral(":/images/srcimages/lock.png"), unlockText);
    connect(this, &BaseWindow::sigCustomBtnclick, this, &cmsclient::onLockClient);
}

void cmsclient::createPages()
{
    m_liveView = new qwLiveView(this);
    m_liveView->setObjectName(QStringLiteral("widget_Liveview"));
    m_liveView->show();
    m_playback = new qwPlayback(this);
    m_playback->setObjectName(QStringLiteral("widget_Playback"));
    m_playback->show();
    m_localSetting = new qwLocalSetting(this);
    m_localSetting->setObjectName(QStringLiteral("widget_Localset"));
    m_localSetting->show();
    // Saved options and schedules act at once: the live page owns the
    // stream service that records and captures by them.
    connect(m_localSetting, &qwLocalSetting::sigLocalConfigChanged, m_liveView, &qwLiveView::onLocalConfigChanged);

    for (const char *name : {"page_2", "page"}) {
        if (QWidget *placeholder = m_stack->findChild<QWidget *>(QLatin1String(name))) {
            m_stack->removeWidget(placeholder);
            delete placeholder;
        }
    }
    m_stack->addWidget(m_liveView);
    m_stack->addWidget(m_playback);
    m_stack->addWidget(m_localSetting);
    m_stack->setCurrentIndex(0);
}

void cmsclient::selectMenu(int index)
{
    m_btnLive->setStyleSheet(index == 0 ? m_selectedStyle : m_unselectedStyle);
    m_btnPlayback->setStyleSheet(index == 1 ? m_selectedStyle : m_unselectedStyle);
    m_btnLocal->setStyleSheet(index == 2 ? m_selectedStyle : m_unselectedStyle);
}

void cmsclient::onBtnPreview()
{
    selectMenu(0);
    if (m_playback)
        m_playback->pausePlayback();
    if (m_liveView)
        m_liveView->resumeAllViews();
    m_stack->setCurrentIndex(0);
}

void cmsclient::onBtnPlayback()
{
    selectMenu(1);
    m_stack->setCurrentIndex(1);
    if (m_liveView)
        m_liveView->pauseAllViews();
    if (m_playback) {
        m_playback->refreshPage();
        m_playback->resumePlayback();
    }
}

void cmsclient::onBtnLocalsetting()
{
    selectMenu(2);
    if (m_liveView)
        m_liveView->pauseAllViews();
    if (m_playback)
        m_playback->pausePlayback();
    m_stack->setCurrentIndex(2);
    if (m_localSetting)
        m_localSetting->reloadAll();
}

void cmsclient::showTime()
{
    const QTime t = m_timeSource->now().time();
    m_clock->setText(QStringLiteral("%1:%2:%3")
                         .arg(t.hour(), 2, 10, QLatin1Char('0'))
                         .arg(t.minute(), 2, 10, QLatin1Char('0'))
                         .arg(t.second(), 2, 10, QLatin1Char('0')));
}

void cmsclient::timerEvent(QTimerEvent *event)
{
    Q_UNUSED(event)
    showTime();
}

void cmsclient::onCPULoad(int npercent)
{
    const QString label = uiText("cpuload");
    const int band = cpuBand(npercent);
    if (band != cpuBand(m_lastCpu)) {
        m_cpu->setPixmap(cpuPixmap(band));
        m_cpu->repaint();
    }
    if (m_cpuHover) {
        m_cpu->setToolTip(QStringLiteral("%1: %2%").arg(label).arg(npercent));
        QHelpEvent tip(QEvent::ToolTip, m_cpu->pos(), QCursor::pos());
        QCoreApplication::sendEvent(m_cpu, &tip);
    }
    m_lastCpu = npercent;
}

bool cmsclient::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_cpu) {
        if (event->type() == QEvent::Enter) {
            m_cpuHover = true;
            return true;
        }
        if (event->type() == QEvent::Leave) {
            m_cpuHover = false;
            return true;
        }
    }
    return false;
}

void cmsclient::resizeEvent(QResizeEvent *event)
{
    BaseWindow::resizeEvent(event);
    if (m_parent) {
        m_parent->move(2, 36);
        m_parent->resize(width() - 4, height() - 36);
        m_parent->setStyleSheet(QString::fromLatin1(styles::kContentTopBorder));
    }
}

void cmsclient::onLockClient()
{
    auto *lock = new qwUnlockClient(this, m_userName);
    connect(lock, &qwUnlockClient::sigUnlock, this, &cmsclient::onUnlockClien);
    m_lockScreen = lock;
    // Over the middle of the window it locks; nothing else places it when
    // no window manager runs.
    lock->move(geometry().center() - QPoint(lock->width() / 2, lock->height() / 2));
    lock->show();
}

void cmsclient::onUnlockClien()
{
    showCustomButton(CustomFirst);
}

void cmsclient::stopSampler(int waitMs)
{
    if (!m_sampler)
        return;
    m_sampler->stop();
    // The sampler's waits wake on stop, so it ends at once; should it not,
    // keep waiting rather than kill it or delete a running thread.
    if (waitMs < 0 || !m_sampler->wait(waitMs))
        m_sampler->wait();
    delete m_sampler;
    m_sampler = nullptr;
}

bool cmsclient::beforeClose()
{
    if (m_closed)
        return true;
    m_closed = true;

    writeSystemLog(g_curUserName, QStringLiteral("exit cmslient"), QString(), QString(), QString(), kLogOperation);
    stopSampler(100);

    delete m_liveView;
    m_liveView = nullptr;
    delete m_playback;
    m_playback = nullptr;
    delete m_localSetting;
    m_localSetting = nullptr;

    m_power.release();
    return true;
}
