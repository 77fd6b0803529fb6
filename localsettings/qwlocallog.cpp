#include "localsettings/qwlocallog.h"

#include "app/core/loghelper.h"
#include "app/widgets/userrights.h"
#include "localsettings/localpagelook.h"
#include "localsettings/qcloglistmodel.h"

#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <iterator>
#include <utility>

qwLocalLog::qwLocalLog(QWidget *parent) : QWidget(parent)
{
    localpage::applyDarkLook(this, QStringLiteral("widget_LocalLog"));
    m_model = new qcLogListModel(this);

    m_kind = new QComboBox(this);
    m_kind->setObjectName(QStringLiteral("comboBox_LogKind"));
    int kind = 0;
    for (const char *key : {"alltype", "operations", "devalarm", "abnormal"})
        m_kind->addItem(localpage::text(key), kind++);
    auto dateEdit = [this](const char *name) {
        auto *edit = new QDateEdit(this);
        edit->setObjectName(QLatin1String(name));
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        edit->setMinimumWidth(110);
        return edit;
    };
    m_from = dateEdit("dateEdit_LogFrom");
    m_to = dateEdit("dateEdit_LogTo");
    m_search = new QPushButton(localpage::text("searchopt"), this);
    m_search->setObjectName(QStringLiteral("pushButton_LogSearch"));
    m_search->setMinimumWidth(90);
    connect(m_search, &QPushButton::clicked, this, &qwLocalLog::onSearch);

    auto *filters = new QHBoxLayout;
    filters->setSpacing(8);
    const std::pair<const char *, QWidget *> fields[] = {{"logtype", m_kind}, {"starttime", m_from}, {"endtime", m_to}};
    for (const auto &field : fields) {
        filters->addWidget(new QLabel(localpage::text(field.first), this));
        filters->addWidget(field.second);
        filters->addSpacing(8);
    }
    filters->addWidget(m_search);
    m_result = new QLabel(this);
    m_result->setObjectName(QStringLiteral("label_LogResult"));
    filters->addSpacing(8);
    filters->addWidget(m_result);
    filters->addStretch();
    connect(m_model, &qcLogListModel::sigSearchFinished, this,
            [this] { m_result->setText(m_model->lastResultText()); });
    // A query the log still runs (the list of an earlier showing) refuses a
    // new one only until it has delivered its records.
    m_retry.setSingleShot(true);
    m_retry.setInterval(100);
    connect(&m_retry, &QTimer::timeout, this, &qwLocalLog::searchDefault);

    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("tableView_Log"));
    localpage::applyDarkTable(m_table);
    m_table->setModel(m_model);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setWordWrap(false);
    // Fixed row heights: a list of tens of thousands of rows must never be
    // measured row by row.
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(26);
    const int widths[] = {170, 100, 110, 200, 140, 140};
    for (int c = 0; c < int(std::size(widths)); ++c)
        m_table->setColumnWidth(c, widths[c]);
    m_table->horizontalHeader()->setStretchLastSection(true);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(8, 8, 8, 8);
    column->setSpacing(8);
    column->addLayout(filters);
    column->addWidget(m_table, 1);
    resetFilters();
}

void qwLocalLog::resetFilters()
{
    m_kind->setCurrentIndex(0);
    m_from->setDate(QDate::currentDate());
    m_to->setDate(QDate::currentDate());
}

void qwLocalLog::reload()
{
    resetFilters();
    relist();
}

void qwLocalLog::relist()
{
    m_retry.stop();
    // Quietly: the page is shown on whichever sub-page, and a user without
    // the right is told so only when he asks for the log himself.
    if (!userrights::check(nullptr, userrights::LogView)) {
        m_model->clear();
        m_result->clear();
        return;
    }
    // Dates the operator left reversed without a search are listed as
    // Search would list them.
    putRangeInOrder();
    searchDefault();
}

bool qwLocalLog::putRangeInOrder()
{
    // The log would answer a reversed range with every record of every
    // kind; the operator meant the days between the two dates.
    const QDate from = m_from->date();
    const QDate to = m_to->date();
    if (from <= to)
        return false;
    m_from->setDate(to);
    m_to->setDate(from);
    return true;
}

void qwLocalLog::searchDefault()
{
    if (!startSearch() && g_logHelper)
        m_retry.start();
}

bool qwLocalLog::startSearch()
{
    if (!m_model->search(g_logHelper, m_kind->currentData().toInt(), m_from->date().startOfDay(),
                         m_to->date().startOfDay()))
        return false;
    m_result->setText(localpage::text("waitsearch", localpage::TipTexts));
    return true;
}

void qwLocalLog::onSearch()
{
    if (!userrights::check(this, userrights::LogView))
        return;
    const bool swapped = putRangeInOrder();
    m_retry.stop();
    if (!startSearch()) {
        localpage::showTip(this, localpage::FailureTip, "logsearchbusy");
        return;
    }
    if (swapped)
        localpage::showTip(this, localpage::SuccessTip, "lograngeswapped");
}
