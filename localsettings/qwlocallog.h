#pragma once

#include <QTimer>
#include <QWidget>

class QComboBox;
class QDateEdit;
class QLabel;
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

    // Back to today and all kinds, and lists those records as Search would
    // (for a user who may view the log): the records shown before may be
    // gone from the log since.
    void reload();
    // Back to today and all kinds without listing: the log lists when it
    // comes up.
    void resetFilters();
    // Lists again with the operator's kind and dates, as Search would but
    // quietly: records written since the last list may match them.
    void relist();

    qcLogListModel *model() const { return m_model; }
    // How the last search went: still running, nothing found, how many
    // records it listed, or that the log could not be read.
    QLabel *resultLabel() const { return m_result; }

public slots:
    void onSearch();

private:
    // Swaps a start date after the end date; whether it did.
    bool putRangeInOrder();
    // Asks the model for the records the filters name; false when the log
    // refused (a query still pending).
    bool startSearch();
    // The search of relist, tried again until the log takes it.
    void searchDefault();

    QComboBox *m_kind = nullptr;
    QDateEdit *m_from = nullptr;
    QDateEdit *m_to = nullptr;
    QPushButton *m_search = nullptr;
    QTableView *m_table = nullptr;
    QLabel *m_result = nullptr;
    qcLogListModel *m_model = nullptr;
    QTimer m_retry;
};
