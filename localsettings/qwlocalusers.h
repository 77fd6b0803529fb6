#pragma once

#include <QWidget>

class QTableWidget;

class qwLocalUsers : public QWidget
{
    Q_OBJECT
public:
    explicit qwLocalUsers(QWidget *parent = nullptr);

    // Shows what the database holds now; unsaved edits are dropped.
    void reload();

    QTableWidget *userList() const { return m_users; }

private:
    QTableWidget *m_users = nullptr;
};
