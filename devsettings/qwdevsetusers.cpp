#include "devsettings/qwdevsetusers.h"

#include "app/core/qcxmlhelper.h"
#include "app/core/cgiutil.h"
#include "app/widgets/qwtipsdlgex.h"
#include "devsettings/devsetframe.h"
#include "devsettings/devsetreadstate.h"
#include "devsettings/qwuserinformations.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

namespace {
constexpr int kReadId = 177;
constexpr int kDeleteId = 176;
constexpr int kSection = DEVSET_USERS + 1;
constexpr int kWaitMs = 5000;
constexpr int kRowHeight = 26;
} // namespace

qwDevsetUsers::qwDevsetUsers(QWidget *parent) : QWidget(parent)
{
    QVBoxLayout *column = devset::preparePage(this, QStringLiteral("widget_Users"),
                                              devset::text(devset::kRemotePage, kSection, "usermgrtitle"));

    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("tableView_Users"));
    m_model = new QStandardItemModel(0, 3, m_table);
    m_model->setHorizontalHeaderLabels({devset::text(devset::kCommonPage, devset::kAnySection, "listindex"),
                                        devset::text(devset::kRemotePage, kSection, "username"),
                                        devset::text(devset::kRemotePage, kSection, "groupname")});
    m_table->setModel(m_model);
    m_table->verticalHeader()->hide();
    m_table->setAlternatingRowColors(true);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setColumnWidth(0, 120);
    m_table->setColumnWidth(1, 230);
    m_table->setColumnWidth(2, 230);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->viewport()->installEventFilter(this);
    column->addWidget(m_table);

    const QList<QPushButton *> buttons = devset::addButtonRow(
        column, this, {{"adduser", "Add"}, {"modifyopt", "Modify"}, {"deleteopt", "Delete"}}, false);
    buttons.at(0)->setText(devset::text(devset::kRemotePage, kSection, "adduser"));
    m_modify = buttons.at(1);
    m_delete = buttons.at(2);
    m_modify->setEnabled(false);
    m_delete->setEnabled(false);
    // Both send what the list read from the device.
    m_readState = new DevsetReadState(this);
    m_readState->addControl(m_modify);
    m_readState->addControl(m_delete);
    connect(buttons.at(0), &QPushButton::clicked, this, &qwDevsetUsers::OnBtnAddUserClicked);
    connect(m_modify, &QPushButton::clicked, this, &qwDevsetUsers::OnBtnModifyClicked);
    connect(m_delete, &QPushButton::clicked, this, &qwDevsetUsers::OnBtnDeleteClicked);
    connect(m_table, &QTableView::clicked, this, &qwDevsetUsers::OnTableViewSignalClick);
    connect(m_table, &QTableView::doubleClicked, this, &qwDevsetUsers::OnTableViewDoubleClick);
    // Keyboard moves count like clicks, so that the first account never
    // becomes deletable by moving onto it.
    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) { followRow(current.row()); });
}

qwDevsetUsers::~qwDevsetUsers()
{
    devset::releaseRequest(m_request, kWaitMs);
}

void qwDevsetUsers::setDeviceInfo(const QString &ip, const QString &port, const QString &user, const QString &pwd)
{
    devip = ip;
    httpport = port;
    username = user;
    password = pwd;
}

bool qwDevsetUsers::eventFilter(QObject *watched, QEvent *event)
{
    return QWidget::eventFilter(watched, event);
}

void qwDevsetUsers::OnInitParameters(int pageid)
{
    if (pageid == DEVSET_USERS)
        readUsers();
}

void qwDevsetUsers::readUsers()
{
    m_readState->startRead(m_request, kWaitMs, kReadId,
                           devset::devsetUrl("http://%1:%2/action/get?subject=user", devip, httpport), username,
                           password, 5, this, &qwDevsetUsers::OnCGIDataCompleted, "user");
}

void qwDevsetUsers::OnCGIDataCompleted(int nID)
{
    if (nID == kReadId && m_request && sender() == m_request)
        parseUsers();
}

void qwDevsetUsers::parseUsers()
{
    m_users.clear();
    m_model->removeRows(0, m_model->rowCount());
    const QString groups[] = {devset::text(devset::kLocalPage, devset::kAnySection, "admingroup"),
                              devset::text(devset::kLocalPage, devset::kAnySection, "optgroup"),
                              devset::text(devset::kRemotePage, kSection, "viewertype")};
    CGIUtil *r = m_request;
    if (!r->enterSection(QStringLiteral("user"), true))
        return;
    do {
        _st_devuser_item entry;
        r->getSectionString(QStringLiteral("name"), &entry.name, 0);
        r->getSectionInt(QStringLiteral("group"), &entry.group, 0);
        r->getSectionChildInt(QStringLiteral("config"), &entry.config);
        r->getSectionChildInt(QStringLiteral("operation"), &entry.operation);
        if (entry.group < 0 || entry.group > 2)
            continue;
        const int row = m_model->rowCount();
        m_model->appendRow({new QStandardItem(QString::number(row + 1)), new QStandardItem(entry.name),
                            new QStandardItem(groups[entry.group])});
        m_table->setRowHeight(row, kRowHeight);
        m_users << entry;
    } while (r->nextSection());
}

void qwDevsetUsers::followRow(int row)
{
    if (row < 0)
        return;
    m_readState->setControlEnabled(m_delete, row > 0);
    m_readState->setControlEnabled(m_modify, true);
}

void qwDevsetUsers::OnTableViewSignalClick(QModelIndex index)
{
    followRow(index.row());
}

void qwDevsetUsers::OnTableViewDoubleClick(QModelIndex index)
{
    followRow(index.row());
    OnBtnModifyClicked();
}

void qwDevsetUsers::OnBtnAddUserClicked()
{
    m_lastOperation = Add;
    auto *dialog = new qwUserInformations(this, devset::text(devset::kRemotePage, kSection, "adduser"));
    dialog->setDeviceInfo(devip, httpport, username, password);
    connect(dialog, &qwUserInformations::sigOperationResult, this, &qwDevsetUsers::OnOperationResult);
    dialog->show();
}

void qwDevsetUsers::OnBtnModifyClicked()
{
    const int row = m_table->currentIndex().row();
    if (row < 0 || row >= m_users.size() || !m_readState->isRead())
        return;
    m_lastOperation = Modify;
    const _st_devuser_item &entry = m_users.at(row);
    m_editingLogin = entry.name == username;
    m_modifyName = entry.name;
    auto *dialog = new qwUserInformations(this, devset::text(devset::kRemotePage, kSection, "deluser"));
    dialog->setDeviceInfo(devip, httpport, username, password);
    dialog->setUser(entry.name, entry.group, entry.config, entry.operation);
    connect(dialog, &qwUserInformations::sigOperationResult, this, &qwDevsetUsers::OnOperationResult);
    dialog->show();
}

void qwDevsetUsers::OnBtnDeleteClicked()
{
    const int row = m_table->currentIndex().row();
    // The first account stays, however the row was reached.
    if (row <= 0 || row >= m_users.size() || !m_readState->isRead())
        return;
    m_lastOperation = Delete;
    const QString body = devset::fillXml(QStringLiteral("<request><user ver=\"2.0\"><name>%1</name></user></request>"),
                                         {xmlEscape(m_users.at(row).name)});
    devset::startPost(m_request, kWaitMs, kDeleteId,
                      devset::devsetUrl("http://%1:%2/action/set?subject=user&do=del", devip, httpport), username,
                      password, body, 3, 5, this, &qwDevsetUsers::OnCGIHeadCompleted);
}

void qwDevsetUsers::OnCGIHeadCompleted(int nID, int code)
{
    if (nID != kDeleteId || !m_request || sender() != m_request)
        return;
    if (code != CGIUtil::ResultOk) {
        devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("delusererr"));
        return;
    }
    devset::showTip(this, qwTipsdlgEx::Success, QStringLiteral("delusersecc"));
    readUsers();
}

void qwDevsetUsers::OnOperationResult(bool bret, QString user, QString pwd)
{
    if (!bret)
        return;
    if (m_lastOperation == Modify && user != m_modifyName) {
        // The device took a change for another name than the account
        // chosen: that account is not changed, whatever the device made.
        devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("modifyusererr"));
        readUsers();
        return;
    }
    if (m_lastOperation == Modify && m_editingLogin) {
        password = pwd;
        emit sigUserinfoChange(username, pwd);
    }
    if (m_lastOperation == Add || m_lastOperation == Modify)
        devset::showTip(this, qwTipsdlgEx::Success,
                        QLatin1String(m_lastOperation == Add ? "addusersucc" : "mdifyusersucc"));
    readUsers();
}
