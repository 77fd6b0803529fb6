#include "localsettings/qwlocalusers.h"

#include "app/core/database.h"
#include "app/core/uitext.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

qwLocalUsers::qwLocalUsers(QWidget *parent) : QWidget(parent)
{
    m_users = new QTableWidget(0, 2, this);
    m_users->setObjectName(QStringLiteral("tableWidget_Users"));
    m_users->setHorizontalHeaderLabels({uiText("username"), uiText("usergroup", 36)});
    m_users->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_users->verticalHeader()->hide();
    m_users->horizontalHeader()->setStretchLastSection(true);
    m_users->setColumnWidth(0, 240);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(m_users);
}

void qwLocalUsers::reload()
{
    m_users->setRowCount(0);
    if (!g_database)
        return;
    const int count = g_database->getUserCount();
    for (int i = 0; i < count; ++i) {
        _st_user_item user;
        if (!g_database->getUser(user, i))
            continue;
        const int row = m_users->rowCount();
        m_users->insertRow(row);
        m_users->setItem(row, 0, new QTableWidgetItem(user.username));
        m_users->setItem(row, 1, new QTableWidgetItem(user.usergroup));
    }
}
