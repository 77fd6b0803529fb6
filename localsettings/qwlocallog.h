#pragma once

#include <QWidget>

class QComboBox;
class QDateEdit;
class QPushButton;
class QTableView;
class qcLogListModel;

// The system log sub-page: a kind and a date range, Search, and the records
// found, oldest first. A start date after the end date is swapped before the
// search, and a tip says so.
class qwLocalLog : public QWidget
{
    Q_OBJECT
public:
    explicit qwLocalLog(QWidget *parent = nullptr);

    // Back to today and all kinds, with an empty list: the records shown
    // before may be gone from the log since.
    void reload();

    qcLogListModel *model() const { return m_model; }

public slots:
    void onSearch();

private:
    QComboBox *m_kind = nullptr;
    QDateEdit *m_from = nullptr;
    QDateEdit *m_to = nullptr;
    QPushButton *m_search = nullptr;
    QTableView *m_table = nullptr;
    qcLogListModel *m_model = nullptr;
};
