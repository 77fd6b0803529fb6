#pragma once

#include <QWidget>

class QLabel;
class QTableWidget;

// The local settings page: the local users with their groups and the
// record and snapshot folders, read-only.
class qwLocalSetting : public QWidget
{
    Q_OBJECT
public:
    explicit qwLocalSetting(QWidget *parent = nullptr);

    // Reads users and folders again from the database.
    void reloadAll();

    QTableWidget *userList() const { return m_users; }
    QLabel *recordFolder() const { return m_recordPath; }
    QLabel *snapshotFolder() const { return m_snapshotPath; }

private:
    QTableWidget *m_users = nullptr;
    QLabel *m_recordPath = nullptr;
    QLabel *m_snapshotPath = nullptr;
};
