#include "liveview/qwalarmeventmanane.h"

#include "liveview/livetext.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

using namespace livetext;

qwAlarmEventManane::qwAlarmEventManane(QWidget *parent) : BaseWindow(parent, 0, 720, 480)
{
    setObjectName(QStringLiteral("qwAlarmEventManane"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setTitleText(liveText(kPreviewPage, kNoSection, "alarmevent"), TitleLeft);
    auto *body = new QWidget(this);
    body->setGeometry(getClientRect());
    auto *layout = new QVBoxLayout(body);
    layout->setContentsMargins(8, 4, 8, 8);
    m_table = new QTableWidget(0, 5, body);
    m_table->setObjectName(QStringLiteral("tableWidget_Alarms"));
    m_table->setHorizontalHeaderLabels(
        {liveText(kPreviewPage, kAlarmList, "devname"), liveText(kPreviewPage, kAlarmList, "deviceaddr"),
         liveText(kPreviewPage, kAlarmList, "alarmtype"), liveText(kPreviewPage, kAlarmList, "actions"),
         liveText(kPreviewPage, kAlarmList, "triggertime")});
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    layout->addWidget(m_table, 1);
    m_clear = new QPushButton(liveText(kPreviewPage, kAlarmList, "clearalarm"), body);
    m_clear->setObjectName(QStringLiteral("pushButton_Clear"));
    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(m_clear);
    layout->addLayout(row);
    connect(m_clear, &QPushButton::clicked, this, &qwAlarmEventManane::onClear);
}

QString qwAlarmEventManane::typeName(int type)
{
    static const char *const keys[] = {"motionalarm",     "piralarm",         "ioalarm",
                                       "crosslinealarm",  "instrusionalarm",  "humandetectalarm",
                                       "facedetectalarm", "objleftlostalarm", "loiteralarm"};
    if (type >= 65 && type <= 73)
        return liveText(kPreviewPage, kAlarmTypes, keys[type - 65]);
    return liveText(kPreviewPage, kAlarmTypes, "unknowalarm");
}

void qwAlarmEventManane::addAlarmRecord(const QString &ip, const QString &devname, int type, int action,
                                        const QString &file, const QDateTime &time)
{
    Q_UNUSED(file)
    static const char *const actions[] = {"snapshot", "record"};
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    const QString action_text = action == 0                  ? QStringLiteral("-")
                                : action == 1 || action == 2 ? liveText(kCommonPage, kAlarmActions, actions[action - 1])
                                                             : QString::number(action);
    const QString cells[5] = {devname, ip, typeName(type), action_text,
                              time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))};
    for (int c = 0; c < 5; ++c)
        m_table->setItem(row, c, new QTableWidgetItem(cells[c]));
}

void qwAlarmEventManane::OnNewAlarmTriggered(QString ipaddr, QString devname, int type, int action, QString file,
                                             QDateTime time)
{
    addAlarmRecord(ipaddr, devname, type, action, file, time);
}

void qwAlarmEventManane::onClear()
{
    m_table->setRowCount(0);
    emit sigClearAlarmHistory();
}
