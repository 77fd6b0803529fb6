#include "localsettings/qwlocalsetting.h"

#include "app/core/database.h"
#include "app/core/pagelog.h"
#include "app/core/uitext.h"

#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

qwLocalSetting::qwLocalSetting(QWidget *parent) : QWidget(parent)
{
    m_users = new QTableWidget(0, 2, this);
    m_users->setObjectName(QStringLiteral("tableWidget_Users"));
    m_users->setHorizontalHeaderLabels({uiText("username"), uiText("usergroup", 36)});
    m_users->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_users->verticalHeader()->hide();
    m_users->horizontalHeader()->setStretchLastSection(true);
    m_users->setColumnWidth(0, 240);

    const QString labelSheet = QStringLiteral("QLabel{color:white;}");
    m_recordPath = new QLabel(this);
    m_snapshotPath = new QLabel(this);
    auto *recordTitle = new QLabel(uiText("recordpath", 36), this);
    auto *snapshotTitle = new QLabel(uiText("snapshotpath", 36), this);
    for (QLabel *l : {m_recordPath, m_snapshotPath, recordTitle, snapshotTitle})
        l->setStyleSheet(labelSheet);
    m_recordPath->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_snapshotPath->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *folders = new QFormLayout;
    folders->addRow(recordTitle, m_recordPath);
    folders->addRow(snapshotTitle, m_snapshotPath);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(m_users);
    layout->addLayout(folders);
}

void qwLocalSetting::reloadAll()
{
    qCDebug(lcPages) << "reloadAll";
    m_users->setRowCount(0);
    m_recordPath->clear();
    m_snapshotPath->clear();
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
    m_recordPath->setText(g_database->getRecordPath());
    m_snapshotPath->setText(g_database->getSnapshotPath());
}
