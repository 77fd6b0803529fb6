#include "localsettings/qwlocalsetting.h"

#include "app/core/currentuser.h"
#include "app/core/pagelog.h"
#include "localsettings/localpagelook.h"
#include "app/widgets/userrights.h"
#include "localsettings/qwlocalabout.h"
#include "localsettings/qwlocallog.h"
#include "localsettings/qwlocaloptions.h"
#include "localsettings/qwlocalschedules.h"
#include "localsettings/qwlocalusers.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

// The right each sub-page asks of the logged-in user; 0 for none. Users are
// part of the local configuration: whoever may not change it may not give
// himself the rights to.
const quint32 kSubPageRights[qwLocalSetting::SubPageCount] = {userrights::LocalConfiguration,
                                                              userrights::ScheduleManagement,
                                                              userrights::LocalConfiguration, userrights::LogView, 0};

const char kNavSheet[] =
    "QPushButton{height:34px;background-color:#272727;border-width:0px;border-radius:2px;color:white;"
    "text-align:left;padding-left:12px;}QPushButton:hover{background-color:#1abbfb;}"
    "QPushButton:checked{background-color:#1abbfb;}";

} // namespace

qwLocalSetting::qwLocalSetting(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("widget_Localset"));
    m_options = new qwLocalOptions(this);
    m_schedules = new qwLocalSchedules(this);
    m_users = new qwLocalUsers(this);
    m_log = new qwLocalLog(this);
    m_about = new qwLocalAbout(this);
    connect(m_options, &qwLocalOptions::sigSaved, this, &qwLocalSetting::sigLocalConfigChanged);
    connect(m_schedules, &qwLocalSchedules::sigSaved, this, &qwLocalSetting::sigLocalConfigChanged);

    m_stack = new QStackedWidget(this);
    m_stack->setObjectName(QStringLiteral("stackedWidget_Local"));
    m_buttons = new QButtonGroup(this);
    m_buttons->setExclusive(true);
    auto *nav = new QWidget(this);
    nav->setObjectName(QStringLiteral("widget_LocalNav"));
    nav->setFixedWidth(180);
    nav->setStyleSheet(QLatin1String(kNavSheet));
    auto *navColumn = new QVBoxLayout(nav);
    navColumn->setContentsMargins(6, 6, 6, 6);
    navColumn->setSpacing(4);

    struct Entry
    {
        QWidget *page;
        const char *key;
        const char *name;
    };
    const Entry entries[] = {
        {m_options, "systemconfigure", "Options"},
        {m_schedules, "recschedule", "Schedules"},
        {m_users, "accountmgr", "Users"},
        {m_log, "logmgr", "Log"},
        {m_about, "about", "About"},
    };
    int id = 0;
    for (const Entry &e : entries) {
        m_stack->addWidget(e.page);
        auto *button = new QPushButton(localpage::text(e.key), nav);
        button->setObjectName(QStringLiteral("pushButton_Local") + QLatin1String(e.name));
        button->setCheckable(true);
        m_buttons->addButton(button, id++);
        navColumn->addWidget(button);
    }
    navColumn->addStretch();
    connect(m_buttons, &QButtonGroup::idClicked, this, &qwLocalSetting::onSubPageButton);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(nav);
    row->addWidget(m_stack, 1);
    showSubPage(firstAllowedSubPage());
}

bool qwLocalSetting::mayShow(int index)
{
    return index >= 0 && index < SubPageCount &&
           (kSubPageRights[index] == 0 || (g_curUserRights & kSubPageRights[index]));
}

int qwLocalSetting::firstAllowedSubPage()
{
    for (int i = 0; i < SubPageCount; ++i)
        if (mayShow(i))
            return i;
    return AboutPage;
}

void qwLocalSetting::onSubPageButton(int index)
{
    if (index < 0 || index >= SubPageCount)
        return;
    if (kSubPageRights[index] != 0 && !userrights::check(this, kSubPageRights[index])) {
        // The group is exclusive: put the mark back on the sub-page still shown.
        if (QAbstractButton *shown = m_buttons->button(currentSubPage()))
            shown->setChecked(true);
        return;
    }
    showSubPage(index);
}

void qwLocalSetting::showSubPage(int index)
{
    if (index < 0 || index >= SubPageCount)
        return;
    const bool logComesUp = index == LogPage && m_stack->currentIndex() != LogPage;
    m_stack->setCurrentIndex(index);
    if (QAbstractButton *button = m_buttons->button(index))
        button->setChecked(true);
    // Records written while another sub-page was shown (an option saved,
    // say) belong in the list, under the filters the operator left.
    if (logComesUp)
        m_log->relist();
}

int qwLocalSetting::currentSubPage() const
{
    return m_stack->currentIndex();
}

QTableWidget *qwLocalSetting::userList() const
{
    return m_users->userList();
}

void qwLocalSetting::reloadAll()
{
    qCDebug(lcPages) << "reloadAll";
    // Entered again, the page starts the log at today's records of every
    // kind, listed now if the log is shown and else when it comes up.
    m_log->resetFilters();
    // Another user may have logged in since the page was last shown.
    if (!mayShow(currentSubPage()))
        showSubPage(firstAllowedSubPage());
    else if (currentSubPage() == LogPage)
        m_log->relist();
    m_options->reload();
    m_schedules->reload();
    m_users->reload();
    m_about->reload();
}
