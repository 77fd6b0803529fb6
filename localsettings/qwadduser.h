#pragma once

#include "app/core/records.h"
#include "app/widgets/basewindow.h"

#include <QList>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

// The add-user dialog, also used to modify a user: name, password twice,
// group, description and one check box per rights bit. It only collects;
// the users page judges and stores, and closes it once that worked.
class qwAddUser : public BaseWindow
{
    Q_OBJECT
public:
    // Without a user it adds one; with one it modifies that user, whose
    // name is the row's key and stays as it is.
    explicit qwAddUser(QWidget *parent, const _st_user_item *existing = nullptr);

    bool isModifying() const { return m_modifying; }
    _st_user_item user() const;
    QString confirmPassword() const;

    QLineEdit *nameEdit() const { return m_name; }
    QLineEdit *passwordEdit() const { return m_password; }
    QLineEdit *confirmEdit() const { return m_confirm; }
    QLineEdit *descriptionEdit() const { return m_description; }
    QComboBox *groupBox() const { return m_group; }
    QList<QCheckBox *> rightBoxes() const { return m_rights; }
    QPushButton *okButton() const { return m_ok; }

signals:
    void sigConfirmed();

private:
    bool m_modifying = false;
    int m_storedType = 0;
    QLineEdit *m_name = nullptr;
    QLineEdit *m_password = nullptr;
    QLineEdit *m_confirm = nullptr;
    QLineEdit *m_description = nullptr;
    QComboBox *m_group = nullptr;
    QList<QCheckBox *> m_rights;
    QPushButton *m_ok = nullptr;
    QPushButton *m_cancel = nullptr;
};
