#include "devsettings/qwuserinformations.h"

#include "app/core/qcxmlhelper.h"
#include "app/core/cgiutil.h"
#include "app/widgets/qwtipsdlgex.h"
#include "devsettings/devsetframe.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int kAddId = 178;
constexpr int kModifyId = 179;
constexpr int kWaitMs = 5000;
// The account requests in one place, for the editor that will replace them.
const char *const kAddUrl = "http://%1:%2/action/set?subject=user&do=add";
const char *const kModifyUrl = "http://%1:%2/action/set?subject=user&do=modify";
const char *const kUserBody = "<request><user ver=\"2.0\"><name>%1</name><password>%2</password><group>%3</group>"
                              "<permit><config>%4</config><operation>%5</operation></permit></user></request>";
} // namespace

qwUserInformations::qwUserInformations(QWidget *parent, QString title) : BaseWindow(parent, 0, 460, 320)
{
    setObjectName(QStringLiteral("qwUserInformations"));
    QWidget *content = devset::prepareDialog(this, title);
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(20, 26, 20, 8);
    auto *grid = new QGridLayout;
    column->addLayout(grid);

    m_name = new QLineEdit(content);
    m_name->setObjectName(QStringLiteral("lineEdit_Name"));
    m_name->setMaxLength(16);
    m_pwd = new QLineEdit(content);
    m_pwd->setObjectName(QStringLiteral("lineEdit_Password"));
    m_pwd->setEchoMode(QLineEdit::Password);
    m_confirm = new QLineEdit(content);
    m_confirm->setObjectName(QStringLiteral("lineEdit_Confirm"));
    m_confirm->setEchoMode(QLineEdit::Password);
    m_group = new QComboBox(content);
    m_group->setObjectName(QStringLiteral("comboBox_Group"));
    m_group->addItems({devset::text(devset::kLocalPage, devset::kAnySection, "admingroup"),
                       devset::text(devset::kLocalPage, devset::kAnySection, "optgroup"),
                       devset::text(devset::kRemotePage, 125, "viewertype")});

    grid->addWidget(new QLabel(devset::caption(devset::kRemotePage, 125, "username"), content), 0, 0);
    grid->addWidget(m_name, 0, 1);
    grid->addWidget(new QLabel(devset::text(devset::kRemotePage, 125, "maxchars"), content), 0, 2);
    grid->addWidget(new QLabel(devset::caption(devset::kCommonPage, devset::kAnySection, "password"), content), 1, 0);
    grid->addWidget(m_pwd, 1, 1);
    grid->addWidget(new QLabel(devset::caption(devset::kCommonPage, devset::kAnySection, "confirmpwd"), content), 2, 0);
    grid->addWidget(m_confirm, 2, 1);
    grid->addWidget(new QLabel(devset::caption(devset::kRemotePage, 125, "groupname"), content), 3, 0);
    grid->addWidget(m_group, 3, 1);
    column->addStretch();
    m_save = devset::addButtonRow(column, content, {{"saveopt", "Save"}, {"cancelopt", "Cancel"}}).at(0);
    connect(m_save, &QPushButton::clicked, this, &qwUserInformations::onSave);
}

qwUserInformations::~qwUserInformations()
{
    devset::releaseRequest(m_request, kWaitMs);
}

void qwUserInformations::setDeviceInfo(const QString &devip, const QString &httpport, const QString &username,
                                       const QString &password)
{
    m_devip = devip;
    m_httpport = httpport;
    m_username = username;
    m_password = password;
}

void qwUserInformations::setUser(const QString &name, int group, int config, int operation)
{
    m_modify = true;
    // The account is changed under the name the device gave it, whole: a
    // name cut to the field's length would name another account, which the
    // device may create.
    m_account = name;
    m_name->setMaxLength(qMax(m_name->maxLength(), name.size()));
    m_name->setText(name);
    m_name->setReadOnly(true);
    if (group >= 0 && group <= 2)
        m_group->setCurrentIndex(group);
    m_config = config;
    m_operation = operation;
}

void qwUserInformations::onSave()
{
    const QString name = m_modify ? m_account : m_name->text();
    const QString pwd = m_pwd->text();
    if (name.isEmpty() || pwd.isEmpty()) {
        devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("neednameorpwd"));
        return;
    }
    if (pwd != m_confirm->text()) {
        devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("notmatch"));
        return;
    }
    const QString body =
        devset::fillXml(QLatin1String(kUserBody),
                        {xmlEscape(name), xmlEscape(pwd), QString::number(m_group->currentIndex()),
                         QString::number(m_modify ? m_config : 0), QString::number(m_modify ? m_operation : 0)});
    m_sentName = name;
    m_sentPassword = pwd;
    if (devset::startPost(m_request, kWaitMs, m_modify ? kModifyId : kAddId,
                          devset::devsetUrl(m_modify ? kModifyUrl : kAddUrl, m_devip, m_httpport), m_username,
                          m_password, body, 3, 5, this, &qwUserInformations::onResult))
        m_save->setEnabled(false);
}

void qwUserInformations::onResult(int id, int code)
{
    if (sender() != m_request || (id != kAddId && id != kModifyId))
        return;
    m_save->setEnabled(true);
    if (code == CGIUtil::ResultOk) {
        close();
        emit sigOperationResult(true, m_sentName, m_sentPassword);
        return;
    }
    const char *key = code == CGIUtil::ResultConflict ? "usernameexist" : m_modify ? "modifyusererr" : "addusererr";
    devset::showTip(this, qwTipsdlgEx::Failure, QLatin1String(key));
}
