#include "localsettings/qcloglistmodel.h"

#include "app/core/loghelper.h"
#include "app/widgets/plaintext.h"
#include "localsettings/localpagelook.h"

#include <QMutex>
#include <QMutexLocker>

#include <iterator>
#include <utility>

struct qcLogListModel::Inbox
{
    QMutex lock;
    QVector<_st_log_item> items;
    // Off until a search is accepted, so that the records of a query nobody
    // here asked for are not listed.
    bool accepting = false;
};

qcLogListModel::qcLogListModel(QObject *parent) : QAbstractTableModel(parent), m_inbox(std::make_shared<Inbox>())
{
    for (const char *key :
         {"sdatetime", "relateduser", "logtype", "logdesc", "relateddevice", "targetdeviceip", "logremark"})
        m_headers << localpage::text(key);
    for (const char *key : {"unknowtype", "operations", "devalarm", "abnormal"})
        m_kinds << localpage::text(key);
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &qcLogListModel::onTick);
}

qcLogListModel::~qcLogListModel()
{
    // A record the log thread is delivering right now still finds the inbox:
    // the connection's copy of the pointer keeps it alive.
    disconnect(m_connection);
    QMutexLocker lock(&m_inbox->lock);
    m_inbox->accepting = false;
}

bool qcLogListModel::search(qcLogHelper *log, int kind, const QDateTime &from, const QDateTime &to)
{
    if (!log)
        return false;
    if (m_log != log || !m_connection) {
        disconnect(m_connection);
        m_log = log;
        // Direct: the log thread itself puts each record into the inbox, so the
        // GUI thread sees no event per record and the lock below decides
        // exactly which query a record belongs to.
        std::shared_ptr<Inbox> inbox = m_inbox;
        m_connection = connect(
            log, &qcLogHelper::sigHaslogitem, this,
            [inbox](const _st_log_item &item) {
                QMutexLocker lock(&inbox->lock);
                if (inbox->accepting)
                    inbox->items.append(item);
            },
            Qt::DirectConnection);
    }
    QVector<_st_log_item> stale;
    {
        QMutexLocker lock(&m_inbox->lock);
        if (!log->requestQuery(kind, from, to))
            return false;
        stale.swap(m_inbox->items);
        m_inbox->accepting = true;
    }
    dropRows(std::move(stale));
    m_searching = true;
    m_timer.start();
    return true;
}

void qcLogListModel::clear()
{
    QVector<_st_log_item> stale;
    {
        QMutexLocker lock(&m_inbox->lock);
        stale.swap(m_inbox->items);
        m_inbox->accepting = false;
    }
    m_searching = false;
    dropRows(std::move(stale));
    if (!m_discard.empty())
        m_timer.start();
}

void qcLogListModel::dropRows(QVector<_st_log_item> &&stale)
{
    beginResetModel();
    // Freeing a full log's records in one go stalls the window for tens of
    // milliseconds on a busy machine; the timer lets them go a batch a tick.
    for (QVector<_st_log_item> *rows : {&m_rows, &m_pending, &stale})
        if (!rows->isEmpty())
            m_discard.push_back(std::exchange(*rows, QVector<_st_log_item>()));
    m_pendingAt = 0;
    endResetModel();
}

void qcLogListModel::onTick()
{
    if (!m_discard.empty()) {
        QVector<_st_log_item> &rows = m_discard.back();
        rows.resize(qMax(0, rows.size() - m_batchRows));
        if (rows.isEmpty())
            m_discard.pop_back();
    }
    if (m_searching)
        takeBatch();
    if (!m_searching && m_discard.empty())
        m_timer.stop();
}

void qcLogListModel::setBatchRows(int rows)
{
    m_batchRows = qMax(1, rows);
}

void qcLogListModel::takeBatch()
{
    if (m_pendingAt >= m_pending.size()) {
        m_pending.clear();
        m_pendingAt = 0;
        // Read before the inbox is emptied: once the query is no longer
        // pending, all its records are in the inbox already.
        const bool ended = !m_log || !m_log->isQueryPending();
        {
            QMutexLocker lock(&m_inbox->lock);
            m_pending.swap(m_inbox->items);
            if (ended && m_pending.isEmpty())
                m_inbox->accepting = false;
        }
        if (m_pending.isEmpty()) {
            if (ended) {
                m_searching = false;
                emit sigSearchFinished(m_rows.size());
            }
            return;
        }
    }
    const int count = qMin(m_batchRows, m_pending.size() - m_pendingAt);
    const int first = m_rows.size();
    beginInsertRows(QModelIndex(), first, first + count - 1);
    auto begin = m_pending.begin() + m_pendingAt;
    std::move(begin, begin + count, std::back_inserter(m_rows));
    m_pendingAt += count;
    endInsertRows();
}

QString qcLogListModel::kindText(int logtype) const
{
    return m_kinds.at(logtype >= 1 && logtype < m_kinds.size() ? logtype : 0);
}

QString qcLogListModel::resultText(int rows)
{
    if (rows == 0)
        return localpage::text("lognorecords");
    return rows == 1 ? localpage::text("logonerecord") : localpage::text("logrecordcount").arg(rows);
}

int qcLogListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

int qcLogListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant qcLogListModel::data(const QModelIndex &index, int role) const
{
    if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !index.isValid() || index.row() >= m_rows.size())
        return QVariant();
    const QVariant text = cellText(m_rows.at(index.row()), index.column());
    // The tool tip shows a cell whole where its column cuts it short, as written.
    return role == Qt::ToolTipRole && text.isValid() ? QVariant(plaintext::toolTip(text.toString())) : text;
}

QVariant qcLogListModel::cellText(const _st_log_item &item, int column) const
{
    switch (column) {
    case DateColumn:
        // Stored with a "T" between date and time; shown with a blank.
        return QString(item.logdate).replace(QLatin1Char('T'), QLatin1Char(' '));
    case UserColumn:
        return item.curuser;
    case KindColumn:
        return kindText(item.logtype);
    case DescriptionColumn:
        return item.logdecl;
    case DeviceColumn:
        return item.reldevname;
    case AddressColumn:
        return item.reldevaddr;
    case NoteColumn:
        return item.lognote;
    default:
        return QVariant();
    }
}

QVariant qcLogListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < m_headers.size())
        return m_headers.at(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}
