#include "localsettings/qwadduser.h"

#include "localsettings/localpagelook.h"
#include "localsettings/localusers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using localpage::text;

qwAddUser::qwAddUser(QWidget *parent, const _st_user_item *existing)
    : BaseWindow(parent, 0, 480, 520), m_modifying(existing != nullptr)
{
    setObjectName(QStringLiteral("qwAddUser"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowModality(Qt::WindowModal);
    setTitleText(text(m_modifying ? "modifytitle" : "addtitle"), TitleLeft);

    auto *body = new QWidget(this);
    localpage::applyDarkLook(body, QStringLiteral("widget_AddUserBody"));
    body->setGeometry(getClientRect());
    auto *column = new QVBoxLayout(body);
    column->setContentsMargins(16, 10, 16, 12);

    auto *form = new QFormLayout;
    m_name = new QLineEdit(body);
    m_name->setObjectName(QStringLiteral("lineEdit_UserName"));
    m_password = new QLineEdit(body);
    m_password->setObjectName(QStringLiteral("lineEdit_Password"));
    m_password->setEchoMode(QLineEdit::Password);
    m_confirm = new QLineEdit(body);
    m_confirm->setObjectName(QStringLiteral("lineEdit_Confirm"));
    m_confirm->setEchoMode(QLineEdit::Password);
    m_group = new QComboBox(body);
    m_group->setObjectName(QStringLiteral("comboBox_Group"));
    for (const char *key : {"admingroup", "optgroup", "supgroup"})
        m_group->addItem(text(key));
    m_description = new QLineEdit(body);
    m_description->setObjectName(QStringLiteral("lineEdit_Description"));
    form->addRow(text("username", localpage::CommonTexts), m_name);
    form->addRow(text("password", localpage::CommonTexts), m_password);
    form->addRow(text("confirmpwd", localpage::CommonTexts), m_confirm);
    form->addRow(text("usergroup"), m_group);
    form->addRow(text("userdesc"), m_description);
    column->addLayout(form);

    auto *rightsBox = new QGroupBox(text("authlist"), body);
    auto *grid = new QGridLayout(rightsBox);
    const QList<LocalUserRules::Right> &rights = LocalUserRules::rights();
    for (int i = 0; i < rights.size(); ++i) {
        auto *box = new QCheckBox(LocalUserRules::rightName(rights.at(i)), rightsBox);
        box->setObjectName(QStringLiteral("checkBox_") + QLatin1String(rights.at(i).key));
        box->setProperty("rightBit", uint(rights.at(i).bit));
        grid->addWidget(box, i / 2, i % 2);
        m_rights.append(box);
    }
    column->addWidget(rightsBox);
    column->addStretch();

    m_ok = new QPushButton(text("confirmopt", localpage::CommonTexts), body);
    m_ok->setObjectName(QStringLiteral("pushButton_OK"));
    m_cancel = new QPushButton(text("cancelopt", localpage::CommonTexts), body);
    m_cancel->setObjectName(QStringLiteral("pushButton_Cancel"));
    for (QPushButton *button : {m_ok, m_cancel})
        button->setMinimumWidth(90);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    column->addLayout(buttons);
    connect(m_ok, &QPushButton::clicked, this, &qwAddUser::sigConfirmed);
    connect(m_cancel, &QPushButton::clicked, this, &qwAddUser::close);

    if (!existing)
        return;
    m_name->setText(existing->username);
    m_name->setReadOnly(true);
    m_password->setText(existing->password);
    m_confirm->setText(existing->password);
    // A group this dialog does not offer is kept as it is stored.
    int group = m_group->findText(existing->usergroup);
    if (group < 0) {
        m_group->addItem(existing->usergroup);
        group = m_group->count() - 1;
    }
    m_group->setCurrentIndex(group);
    m_description->setText(existing->userdecl);
    for (QCheckBox *box : qAsConst(m_rights))
        box->setChecked(quint32(existing->usertype) & box->property("rightBit").toUInt());
    m_storedType = existing->usertype;
}

_st_user_item qwAddUser::user() const
{
    _st_user_item user;
    user.username = m_name->text();
    user.password = m_password->text();
    user.usergroup = m_group->currentText();
    user.userdecl = m_description->text();
    // Bits no box stands for are kept as they are stored.
    quint32 type = quint32(m_storedType);
    for (QCheckBox *box : m_rights) {
        const quint32 bit = box->property("rightBit").toUInt();
        type = box->isChecked() ? (type | bit) : (type & ~bit);
    }
    user.usertype = int(type);
    return user;
}

QString qwAddUser::confirmPassword() const
{
    return m_confirm->text();
}
