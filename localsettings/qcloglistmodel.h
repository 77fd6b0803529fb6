#pragma once

#include <QAbstractTableModel>
#include <QDateTime>
#include <QPointer>
#include <QTimer>
#include <QVector>

#include <memory>
#include <vector>

#include "app/core/records.h"

class qcLogHelper;

// The rows of the system log page. A search can bring up to the log's whole
// table (80,000 records), one signal per record, so records are not handed
// to the GUI thread one by one: the log thread drops each into an inbox
// under a lock, and a short timer on the GUI thread moves them into the
// model a batch at a time. Rows keep the order in which the log found them.
//
// Only records of the search accepted last are taken: the inbox lock is held
// while the request is made, and the log thread accepts a request only after
// the previous query has emitted its last record, so whatever an earlier
// query emitted is already in the inbox then and is thrown away with it.
// The log sends no end of results; the search has ended once the log has no
// query pending and the inbox is empty. Records of a query someone else
// started after that would be listed too; nothing else in the program asks
// the log for records.
class qcLogListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column {
        DateColumn = 0,
        UserColumn,
        KindColumn,
        DescriptionColumn,
        DeviceColumn,
        AddressColumn,
        NoteColumn,
        ColumnCount
    };
    static constexpr int kDefaultBatchRows = 4000;
    static constexpr int kTickMs = 10;

    explicit qcLogListModel(QObject *parent = nullptr);
    ~qcLogListModel() override;

    // Empties the list and asks log for the records of kind (0 all) between
    // from and to. False, with the list untouched, when the log refuses
    // (another query still pending) or there is no log.
    bool search(qcLogHelper *log, int kind, const QDateTime &from, const QDateTime &to);
    // Empties the list and takes no more records until the next search.
    void clear();
    // Whether records of the last search may still come.
    bool isSearching() const { return m_searching; }
    // The most rows one step inserts; at least 1.
    void setBatchRows(int rows);

    // The text a kind is shown with.
    QString kindText(int logtype) const;
    // What a search that listed rows records tells the operator.
    static QString resultText(int rows);
    // What the last search, once ended, tells the operator.
    QString lastResultText() const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

signals:
    // Every record of the last search is listed.
    void sigSearchFinished(int rows);

private:
    struct Inbox;

    QVariant cellText(const _st_log_item &item, int column) const;
    void onTick();
    void takeBatch();
    // Empties the list; the records go to m_discard.
    void dropRows(QVector<_st_log_item> &&stale);

    std::shared_ptr<Inbox> m_inbox;
    QPointer<qcLogHelper> m_log;
    QMetaObject::Connection m_connection;
    QVector<_st_log_item> m_rows;
    // Taken from the inbox, not yet inserted; read from m_pendingAt on.
    QVector<_st_log_item> m_pending;
    int m_pendingAt = 0;
    int m_batchRows = kDefaultBatchRows;
    bool m_searching = false;
    bool m_failed = false; // the last search could not read the log whole
    // Records of earlier searches, freed a batch per tick.
    std::vector<QVector<_st_log_item>> m_discard;
    QTimer m_timer;
    QStringList m_headers;
    QStringList m_kinds; // unknown, operation, device alarm, abnormal event
};
