#include "localsettings/qwlocalsetting.h"

#include "app/core/pagelog.h"
#include "app/core/uitext.h"
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
        auto *button = new QPushButton(uiText(e.key, 36), nav);
        button->setObjectName(QStringLiteral("pushButton_Local") + QLatin1String(e.name));
        button->setCheckable(true);
        m_buttons->addButton(button, id++);
        navColumn->addWidget(button);
    }
    navColumn->addStretch();
    connect(m_buttons, &QButtonGroup::idClicked, this, &qwLocalSetting::showSubPage);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(nav);
    row->addWidget(m_stack, 1);
    showSubPage(OptionsPage);
}

void qwLocalSetting::showSubPage(int index)
{
    if (index < 0 || index >= SubPageCount)
        return;
    m_stack->setCurrentIndex(index);
    if (QAbstractButton *button = m_buttons->button(index))
        button->setChecked(true);
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
    m_options->reload();
    m_schedules->reload();
    m_users->reload();
    m_log->reload();
    m_about->reload();
}
