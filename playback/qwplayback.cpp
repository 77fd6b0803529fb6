#include "playback/qwplayback.h"

#include "app/core/database.h"
#include "app/core/pagelog.h"
#include "app/core/uitext.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

qwPlayback::qwPlayback(QWidget *parent) : QWidget(parent)
{
    m_devices = new QTableWidget(0, 2, this);
    m_devices->setObjectName(QStringLiteral("tableWidget_Devices"));
    m_devices->setHorizontalHeaderLabels({uiText("devname", 34, 65), uiText("deviceaddr", 34, 65)});
    m_devices->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_devices->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_devices->verticalHeader()->hide();
    m_devices->horizontalHeader()->setStretchLastSection(true);
    m_devices->setColumnWidth(0, 240);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(m_devices);
}

void qwPlayback::refreshPage()
{
    qCDebug(lcPages) << "refreshPage";
    if (m_playing)
        return;
    m_devices->setRowCount(0);
    if (!g_database)
        return;
    QList<_st_device_item> devices;
    const ReadStatus status = g_database->readDevices(devices);
    if (!status.ok()) {
        // A list that could not be read is no empty one: it says so in its row.
        m_devices->insertRow(0);
        m_devices->setItem(0, 0, new QTableWidgetItem(uiText(status.textKey(), 38)));
        return;
    }
    for (const _st_device_item &device : qAsConst(devices)) {
        const int row = m_devices->rowCount();
        m_devices->insertRow(row);
        m_devices->setItem(row, 0, new QTableWidgetItem(device.devname));
        m_devices->setItem(row, 1, new QTableWidgetItem(device.address));
    }
}

void qwPlayback::pausePlayback()
{
    qCDebug(lcPages) << "pausePlayback";
}

void qwPlayback::resumePlayback()
{
    qCDebug(lcPages) << "resumePlayback";
}
