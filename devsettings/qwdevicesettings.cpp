#include "devsettings/qwdevicesettings.h"

#include "app/core/cgiutil.h"
#include "app/widgets/statusbutton.h"
#include "devsettings/devsetframe.h"
#include "devsettings/qwdevsetaudio.h"
#include "devsettings/qwdevsetimage.h"
#include "devsettings/qwdevsetimageex.h"
#include "devsettings/qwdevsetmotion.h"
#include "devsettings/qwdevsetosd.h"
#include "devsettings/qwdevsetschedule.h"
#include "devsettings/qwdevsetstorage.h"
#include "devsettings/qwdevsetusers.h"
#include "devsettings/qwdevsetvideo.h"
#include "devsettings/qwdevsetwifi.h"

#include <QGridLayout>
#include <QLabel>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace {

constexpr int kAbilityId = 100;
constexpr int kAbilityTimeoutSec = 5;
constexpr int kStopWaitMs = 5000;
int g_slideMs = 400;

struct GuideItem
{
    int id;
    const char *key;
};

struct GuideGroup
{
    const char *key;
    QVector<GuideItem> items;
};

const QVector<GuideGroup> &guideGroups()
{
    static const QVector<GuideGroup> groups{
        {"groupsystem", {{DEVSET_GENERAL, "itemgeneral"}, {DEVSET_MAINTAIN, "itemmaintain"}}},
        {"groupnetwork", {{DEVSET_TCPIP, "itemtcpip"}, {DEVSET_NETADVANCED, "itemadvance"}, {DEVSET_WIFI, "itemwifi"}}},
        {"groupav",
         {{DEVSET_VIDEO, "itemvideo"},
          {DEVSET_AUDIO, "itemaudio"},
          {DEVSET_IMAGE, "itemimage"},
          {DEVSET_OSD, "itemosd"}}},
        {"groupalarm", {{DEVSET_MOTION, "itemmotion"}}},
        {"groupstorage", {{DEVSET_STORAGE, "itemstorage"}, {DEVSET_SCHEDULE, "itemschedule"}}},
        {"groupaccount", {{DEVSET_USERS, "itemusers"}}},
    };
    return groups;
}

const char *const kGuideStyle = "QWidget#widget_Guide{background:#323232;}"
                                "QLabel{color:white;font-size:14px;}"
                                "QPushButton{color:#c2c2c2;background:#3d3d3d;border:none;min-height:30px;}"
                                "QPushButton:hover{background:#1abbfb;color:white;}"
                                "QPushButton:disabled{color:#5a5a5a;}";

} // namespace

qwDeviceSettings::qwDeviceSettings(QWidget *parent) : BaseWindow(parent, 0, 1140, 720)
{
    setObjectName(QStringLiteral("qwDeviceSettings"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setTitleIcon(QStringLiteral(":/images/srcimages/cms.png"));

    auto *guide = new QWidget(this);
    guide->setObjectName(QStringLiteral("widget_Guide"));
    guide->setAttribute(Qt::WA_StyledBackground);
    guide->setStyleSheet(QLatin1String(kGuideStyle));
    guide->setGeometry(getClientRect());
    buildGuide(guide);

    m_pageArea = new QWidget(this);
    m_pageArea->setObjectName(QStringLiteral("widget_PageArea"));
    m_pageArea->setGeometry(getClientRect());
    m_stack = new QStackedLayout(m_pageArea);
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_return = new StatusButton(m_pageArea, 4, QStringLiteral(":/images/srcimages/devsettings/return.png"),
                                QStringLiteral("Back"));
    m_return->setObjectName(QStringLiteral("pushButton_Return"));
    m_return->setGeometry(m_pageArea->width() - 36, 5, 28, 28);
    connect(m_return, &QPushButton::clicked, this, &qwDeviceSettings::onReturn);
    m_pageArea->hide();
}

qwDeviceSettings::~qwDeviceSettings()
{
    devset::releaseRequest(m_abilityRequest, kStopWaitMs);
    // The pages stop their own requests in their destructors, which run
    // before the window's members go.
    delete m_pageArea;
    m_pageArea = nullptr;
}

void qwDeviceSettings::buildGuide(QWidget *guide)
{
    auto *grid = new QGridLayout(guide);
    grid->setContentsMargins(60, 40, 60, 40);
    grid->setHorizontalSpacing(60);
    grid->setVerticalSpacing(40);
    int n = 0;
    for (const GuideGroup &group : guideGroups()) {
        auto *box = new QWidget(guide);
        auto *column = new QVBoxLayout(box);
        column->setContentsMargins(0, 0, 0, 0);
        auto *caption = new QLabel(devset::text(devset::kRemotePage, devset::kAnySection, group.key), box);
        caption->setObjectName(QStringLiteral("label_") + QLatin1String(group.key));
        column->addWidget(caption);
        for (const GuideItem &item : group.items) {
            auto *button = new QPushButton(devset::text(devset::kRemotePage, devset::kAnySection, item.key), box);
            button->setObjectName(QStringLiteral("pushButton_Guide%1").arg(item.id));
            button->setEnabled(canCreate(item.id));
            const int id = item.id;
            connect(button, &QPushButton::clicked, this, [this, id] { onGuideSelect(id); });
            column->addWidget(button);
        }
        column->addStretch();
        grid->addWidget(box, n / 3, n % 3);
        ++n;
    }
}

bool qwDeviceSettings::canCreate(int id)
{
    switch (id) {
    case DEVSET_WIFI:
    case DEVSET_VIDEO:
    case DEVSET_AUDIO:
    case DEVSET_IMAGE:
    case DEVSET_OSD:
    case DEVSET_MOTION:
    case DEVSET_STORAGE:
    case DEVSET_SCHEDULE:
    case DEVSET_USERS:
        return true;
    default:
        return false;
    }
}

template <class P>
qwDeviceSettings::Page qwDeviceSettings::makePage()
{
    auto *page = new P(m_pageArea);
    connect(this, &qwDeviceSettings::sigInitParameters, page, &P::OnInitParameters);
    return {page, [page](const QString &ip, const QString &port, const QString &user, const QString &pwd) {
                page->setDeviceInfo(ip, port, user, pwd);
            }};
}

qwDeviceSettings::Page qwDeviceSettings::createPage(int id)
{
    switch (id) {
    case DEVSET_WIFI:
        return makePage<qwDevsetWifi>();
    case DEVSET_VIDEO:
        return makePage<qwDevsetVideo>();
    case DEVSET_AUDIO:
        return makePage<qwDevsetAudio>();
    case DEVSET_IMAGE:
        // Decided at the first selection from what the ability read gave.
        if (m_imageStyle == 1)
            return makePage<qwDevsetImageEx>();
        return makePage<qwDevsetImage>();
    case DEVSET_OSD:
        return makePage<qwDevsetOsd>();
    case DEVSET_MOTION:
        return makePage<qwDevsetMotion>();
    case DEVSET_STORAGE:
        return makePage<qwDevsetStorage>();
    case DEVSET_SCHEDULE:
        return makePage<qwDevsetSchedule>();
    case DEVSET_USERS: {
        Page page = makePage<qwDevsetUsers>();
        connect(static_cast<qwDevsetUsers *>(page.widget), &qwDevsetUsers::sigUserinfoChange, this,
                &qwDeviceSettings::OnBaseinfoChange);
        return page;
    }
    default:
        return {};
    }
}

void qwDeviceSettings::setDeviceInfo(const QString &ip, const QString &port, const QString &user,
                                     const QString &password)
{
    m_ip = ip;
    m_port = port;
    m_user = user;
    m_password = password;
    setTitleText(QStringLiteral("%1:%2").arg(ip, port), TitleLeft);
    if (m_abilityAsked || user.isEmpty() || password.isEmpty())
        return;
    m_abilityAsked = true;
    devset::startGet(m_abilityRequest, kStopWaitMs, kAbilityId,
                     devset::devsetUrl("http://%1:%2/action/get?subject=devability", m_ip, m_port), m_user, m_password,
                     kAbilityTimeoutSec, this, &qwDeviceSettings::onAbilityData);
}

void qwDeviceSettings::onAbilityData(int id)
{
    if (id != kAbilityId || sender() != m_abilityRequest)
        return;
    int style = -1;
    if (m_abilityRequest->getXmlInt(QStringLiteral("imgstyle"), &style))
        m_imageStyle = style;
}

void qwDeviceSettings::OnBaseinfoChange(QString username, QString password)
{
    m_user = username;
    m_password = password;
    emit sigBaseInfoChange(m_ip, m_port, username, password);
}

void qwDeviceSettings::onGuideSelect(int mask)
{
    if (!m_pageArea->isHidden() || !canCreate(mask))
        return;
    auto it = m_pages.find(mask);
    if (it == m_pages.end()) {
        Page page = createPage(mask);
        if (!page.widget)
            return;
        it = m_pages.insert(mask, page);
        m_stack->addWidget(page.widget);
        fitButtonsToText();
    }
    it->setLogin(m_ip, m_port, m_user, m_password);
    m_stack->setCurrentWidget(it->widget);
    m_pageArea->show();
    m_pageArea->raise();
    m_return->raise();

    const QRect area = getClientRect();
    for (auto *running : m_pageArea->findChildren<QPropertyAnimation *>(QString(), Qt::FindDirectChildrenOnly))
        running->stop();
    if (g_slideMs > 0) {
        auto *slide = new QPropertyAnimation(m_pageArea, "pos", m_pageArea);
        slide->setDuration(g_slideMs);
        slide->setStartValue(QPoint(area.right(), area.top()));
        slide->setEndValue(area.topLeft());
        slide->start(QAbstractAnimation::DeleteWhenStopped);
    } else {
        m_pageArea->move(area.topLeft());
    }
    emit sigInitParameters(mask);
}

void qwDeviceSettings::onReturn()
{
    m_pageArea->hide();
}

int qwDeviceSettings::slideDuration()
{
    return g_slideMs;
}

void qwDeviceSettings::setSlideDuration(int ms)
{
    g_slideMs = ms;
}
