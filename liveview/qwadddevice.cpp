#include "liveview/qwadddevice.h"

#include "app/core/database.h"
#include "app/widgets/refusal.h"
#include "device/qcnoconoption.h"
#include "liveview/livetext.h"
#include "liveview/qwdeviceform.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

using namespace livetext;

qwAddDevice::qwAddDevice(QWidget *parent, const QString &title, int flag) : BaseWindow(parent, 0, 640, 560)
{
    setObjectName(QStringLiteral("qwAddDevice"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setTitleText(title.isEmpty() ? liveText(kPreviewPage, kNoSection, "adddevice") : title, TitleLeft);

    auto *body = new QWidget(this);
    body->setGeometry(getClientRect());
    auto *layout = new QVBoxLayout(body);
    layout->setContentsMargins(16, 8, 16, 12);

    m_form = new qwDeviceForm(body);
    if (g_database) {
        const SettingsRow stored = g_database->readSettings();
        if (stored.ok()) {
            m_form->userEdit()->setText(stored.getDefaultUser());
            m_form->passwordEdit()->setText(stored.getDefaultPassword());
        } else {
            // Empty fields are no defaults: the operator is told why.
            livetext::showFailureTip(this, stored.status().textKey());
        }
    }
    layout->addWidget(m_form);

    m_add = new QPushButton(liveText(kPreviewPage, kNoSection, "adddevice"), body);
    m_add->setObjectName(QStringLiteral("pushButton_Add"));
    auto *addRow = new QHBoxLayout;
    addRow->addStretch();
    addRow->addWidget(m_add);
    layout->addLayout(addRow);

    m_table = new QTableWidget(0, 5, body);
    m_table->setObjectName(QStringLiteral("tableWidget_Found"));
    m_table->setHorizontalHeaderLabels(
        {liveText(kPreviewPage, kDeviceAdd, "devicename"), liveText(kPreviewPage, kDeviceAdd, "devipaddr"),
         liveText(kPreviewPage, kDeviceAdd, "devport"), liveText(kPreviewPage, kDeviceAdd, "devmodel"),
         liveText(kPreviewPage, kDeviceAdd, "devmacaddr")});
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    layout->addWidget(m_table, 1);

    m_search = new QPushButton(liveText(kPreviewPage, kDeviceAdd, "searchopt"), body);
    m_search->setObjectName(QStringLiteral("pushButton_Search"));
    m_addAll = new QPushButton(liveText(kPreviewPage, kDeviceAdd, "addall"), body);
    m_addAll->setObjectName(QStringLiteral("pushButton_AddAll"));
    auto *searchRow = new QHBoxLayout;
    searchRow->addWidget(m_search);
    searchRow->addStretch();
    searchRow->addWidget(m_addAll);
    layout->addLayout(searchRow);

    connect(m_add, &QPushButton::clicked, this, &qwAddDevice::onAdd);
    connect(m_search, &QPushButton::clicked, this, &qwAddDevice::onSearch);
    connect(m_addAll, &QPushButton::clicked, this, &qwAddDevice::onAddAll);
    connect(m_table, &QTableWidget::cellClicked, this, [this](int row) { onFoundClicked(row); });
}

qwAddDevice::~qwAddDevice()
{
    stopSearch();
}

void qwAddDevice::onAdd()
{
    if (!m_form->validate(this))
        return;
    emit sigOptionResult(m_form->deviceName(), m_form->address(), m_form->deviceType(), m_form->port(),
                         m_form->userName(), m_form->password(), 0);
}

void qwAddDevice::onAddAll()
{
    // Found devices are always reached by address; the login is the form's.
    const qcFoundDevices::AddAll all = m_found.addAll(m_isListed);
    for (const Found &d : all.taken)
        emit sigOptionResult(d.name, d.address, QStringLiteral("VARAR"), d.port, m_form->userName(), m_form->password(),
                             1);
    // One reminder for the whole list, however many were left out.
    if (all.refused > 0) {
        qWarning().noquote() << all.refused << "found devices not added: the Add form would refuse them";
        const QString text = liveText(kTipsPage, kNoSection, "foundrefused")
                                 .arg(all.refused + all.listed)
                                 .arg(all.refused)
                                 .arg(all.listed);
        refusal::showReminder(this, "foundrefused", text);
    } else if (all.listed > 0) {
        refusal::showReminder(this, "devexist");
    }
}

void qwAddDevice::onFoundClicked(int row)
{
    if (row < 0 || row >= m_found.devices().size())
        return;
    const Found &d = m_found.devices().at(row);
    m_form->setValues(d.name, d.address, qwDeviceForm::ByAddress, d.port, m_form->userName(), m_form->password());
}

void qwAddDevice::addFound(const Found &device)
{
    if (!m_found.add(device))
        return;
    const Found &kept = m_found.devices().last();
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    const QString cells[5] = {kept.name, kept.address, kept.port, kept.model, kept.mac};
    for (int c = 0; c < 5; ++c)
        m_table->setItem(row, c, new QTableWidgetItem(cells[c]));
}

bool qwAddDevice::isSearching() const
{
    return m_searcher != nullptr;
}

void qwAddDevice::onSearch()
{
    stopSearch();
    m_found.clear();
    m_table->setRowCount(0);
    auto *search = new qcNoconOption(nullptr);
    m_searcher = search;
    connect(search, &qcNoconOption::sigHasDevices, this, [this](DeviceInfo_t info) {
        Found d;
        d.name = info.name();
        d.address = info.address();
        d.port = QString::number(info.port());
        d.model = info.model();
        d.mac = info.mac();
        addFound(d);
    });
    search->startSearch();
    QTimer::singleShot(kSearchMs, this, [this] { stopSearch(); });
}

void qwAddDevice::stopSearch()
{
    if (qcNoconOption *search = m_searcher) {
        m_searcher = nullptr;
        search->stopOption();
        search->wait();
        delete search;
    }
}
