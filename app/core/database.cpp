#include "app/core/database.h"

#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QThreadStorage>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <limits>

#include "app/core/addressspelling.h"
#include "app/core/busywait.h"
#include "app/core/sqlitefile.h"

const char *const qcDatabase::kFileName = "quendalix.xdt";
const char *const qcDatabase::kConnectionName = "systeminfo";
const char *const qcDatabase::kAddressHeld = "the database holds the address already";

qcDatabase *g_database = nullptr;

namespace {

// Column names are never taken from callers as they stand: only these (per
// table and kind) reach a statement, every value is bound.
const QStringList kDeviceTextColumns = {"devname", "username", "password", "address", "port", "devtype"};
const QStringList kDeviceIntColumns = {"connecttype", "indexid"};
const QStringList kUserTextColumns = {"username", "password", "usergroup", "userdecl"};
const QStringList kUserIntColumns = {"usertype"};
const QStringList kScheduleTextColumns = {"devname", "ipaddr", "skdsun", "skdmon", "skdtue",
                                          "skdwed",  "skdthu", "skdfri", "skdsat"};

// The counter is stored as the index after the one taken, so the largest
// value itself is never handed out.
constexpr qint64 kLastIndex = std::numeric_limits<qint64>::max();

bool run(QSqlQuery &q, const QString &sql, const QVariantList &values = {})
{
    if (!q.prepare(sql))
        return false;
    for (const QVariant &v : values)
        q.addBindValue(v);
    return q.exec();
}

// `what` went wrong, followed by the database's own words for it.
QString failed(const char *what, const QSqlError &error)
{
    const QString words = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    return QStringLiteral("%1: %2").arg(QLatin1String(what), words);
}

// Why a change was refused when the list it is checked against could not be read.
QString unread(const char *list, ReadStatus status)
{
    const QString why = QStringLiteral("the stored %1 could not be read").arg(QLatin1String(list));
    return status.busy() ? why + QStringLiteral(": database is locked") : why;
}

// An update that changes no row did not do what was asked (SQLite counts
// matched rows, so writing the value a row already holds still counts).
// `why` (when given) gets the reason of a failure.
bool runUpdate(const QSqlDatabase &db, const QString &sql, const QVariantList &values, QString *why = nullptr)
{
    QSqlQuery q(db);
    if (!run(q, sql, values)) {
        if (why)
            *why = failed("the database refused the change", q.lastError());
        return false;
    }
    if (q.numRowsAffected() > 0)
        return true;
    if (why)
        *why = QStringLiteral("the database holds no row to change");
    return false;
}

// "update <table> set <column> = ? where <condition>"; the column must have
// been checked against its table's list.
bool updateColumn(const QSqlDatabase &db, const QString &table, const QString &column, const QVariant &value,
                  const QString &condition, QVariantList keys)
{
    keys.prepend(value);
    return runUpdate(db, QStringLiteral("update %1 set %2 = ? where %3").arg(table, column, condition), keys);
}

// The rows deleted, -1 when the statement failed; `why` (when given) gets the
// reason of a failure.
int runDelete(const QSqlDatabase &db, const QString &sql, const QVariantList &keys, QString *why = nullptr)
{
    QSqlQuery q(db);
    if (run(q, sql, keys))
        return q.numRowsAffected();
    if (why)
        *why = failed("the database refused the deletion", q.lastError());
    return -1;
}

QString scheduleKey(const QString &ipaddr)
{
    return ipaddr.isEmpty() ? QStringLiteral("null") : ipaddr;
}

bool updateScheduleRow(const QSqlDatabase &db, const QString &ipaddr, int applytype, int skdtype, const QString &column,
                       const QString &value)
{
    return updateColumn(db, QStringLiteral("schedules"), column, value,
                        QStringLiteral("ipaddr=? and applytype=? and skdtype=?"),
                        {scheduleKey(ipaddr), applytype, skdtype});
}

const char *const kNoCounterRow = "the database holds no device counter";

// The index a new device takes: the counter, or the next past the largest
// stored; -1 when none is left or the rows cannot be read, with the reason in
// `why`. A counter left behind the stored rows (a file copied back, a row
// written by hand) would hand out an index a device already holds, and the
// unique key would refuse the insert.
qint64 freeIndex(const QSqlDatabase &db, qint64 counter, QString &why)
{
    QSqlQuery q(db);
    if (!run(q, QStringLiteral("select max(indexid) from devices")) || !q.next()) {
        why = failed("the stored device indexes could not be read", q.lastError());
        return -1;
    }
    qint64 index = counter;
    if (!q.value(0).isNull()) {
        const qint64 largest = q.value(0).toLongLong();
        index = largest >= kLastIndex ? kLastIndex : std::max(index, largest + 1);
    }
    // The counter must be able to step past the index taken.
    if (index < kLastIndex)
        return index;
    why = QStringLiteral("no index is left for a new device");
    return -1;
}

// Whether a stored device other than the one of `indexid` has `address`;
// -1 when the devices could not be read, with the reason in `why`. Checked
// inside the transaction that writes: another program or a list read
// earlier may know less than the file.
// Spelt differently ("127.0.0.05"), the address still names the same camera.
int addressTaken(const QSqlDatabase &db, const QString &address, qint64 indexid, QString &why)
{
    QSqlQuery q(db);
    if (!run(q, QStringLiteral("select address from devices where indexid <> ?"), {indexid})) {
        why = failed("the stored addresses could not be read", q.lastError());
        return -1;
    }
    while (q.next()) {
        if (addressspelling::isSame(q.value(0).toString(), address)) {
            why = QString::fromLatin1(qcDatabase::kAddressHeld);
            return 1;
        }
    }
    if (q.lastError().isValid()) {
        why = failed("the stored addresses could not be read", q.lastError());
        return -1;
    }
    return 0;
}

// Connections of threads other than the one that created the store, one per
// store and thread, closed and removed when their thread ends.
struct ThreadConnections
{
    QHash<quint64, QSqlDatabase> byStore;

    ~ThreadConnections()
    {
        QStringList names;
        for (QSqlDatabase &db : byStore) {
            names << db.connectionName();
            db.close();
        }
        byStore.clear();
        for (const QString &name : names)
            QSqlDatabase::removeDatabase(name);
    }
};

QThreadStorage<ThreadConnections *> &threadConnections()
{
    static QThreadStorage<ThreadConnections *> storage;
    return storage;
}

std::atomic<quint64> g_storeSerial{0};

// A cache as it stands after its load, or nothing when the load failed.
template <typename Item>
ReadStatus handOut(ReadStatus status, const QList<Item> &cache, QList<Item> &out)
{
    out = status.ok() ? cache : QList<Item>();
    return status;
}

// Fills `cache` from `select`, one item per row made by `fill`, unless it
// holds rows already. A load that fails leaves it empty and not `loaded`,
// so that nothing is ever added to a list that was not read whole.
template <typename Item, typename Fill>
ReadStatus loadCache(const QSqlDatabase &db, QList<Item> &cache, bool &loaded, const char *select, Fill fill)
{
    if (loaded && !cache.isEmpty())
        return {};
    cache.clear();
    loaded = false;
    QSqlQuery q(db);
    if (!run(q, QLatin1String(select)))
        return ReadStatus::failed(q.lastError());
    QList<Item> rows;
    while (q.next())
        rows.append(fill(q));
    if (q.lastError().isValid())
        return ReadStatus::failed(q.lastError());
    cache = rows;
    loaded = true;
    return {};
}

} // namespace

qcDatabase::qcDatabase() : m_ownerThread(QThread::currentThread()), m_serial(++g_storeSerial)
{
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnectionName);
    opened = sqlitefile::openExisting(m_db, kFileName, {"devices", "users", "schedules", "systeminfo", "recordcapture"},
                                      false, &m_openError);
    if (opened) {
        m_busyWait = std::make_unique<BusyWait>();
        m_busyWait->install(m_db);
    }
}

qcDatabase::~qcDatabase()
{
    {
        QMutexLocker lock(&m_mutex);
        forgetDevices();
        forgetUsers();
        forgetSchedules();
    }
    if (m_db.isOpen())
        m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(kConnectionName);
}

QSqlDatabase qcDatabase::connection()
{
    if (QThread::currentThread() == m_ownerThread)
        return m_db;
    if (!opened)
        return QSqlDatabase();
    QThreadStorage<ThreadConnections *> &storage = threadConnections();
    if (!storage.hasLocalData())
        storage.setLocalData(new ThreadConnections);
    ThreadConnections *mine = storage.localData();
    auto it = mine->byStore.find(m_serial);
    if (it == mine->byStore.end()) {
        const QString name = QStringLiteral("%1-%2-%3")
                                 .arg(QLatin1String(kConnectionName))
                                 .arg(m_serial)
                                 .arg(quintptr(QThread::currentThreadId()));
        // The name-taking form is the one that is safe off the creating thread.
        QSqlDatabase db = QSqlDatabase::cloneDatabase(QLatin1String(kConnectionName), name);
        db.open();
        it = mine->byStore.insert(m_serial, db);
    }
    return it.value();
}

template <typename Work>
bool qcDatabase::inTransaction(Work work, QString *why)
{
    QSqlDatabase db = connection();
    // The write lock is taken first. A transaction that reads before it
    // writes would otherwise ask for it while holding a read lock, and
    // SQLite refuses that at once, without the busy wait, whenever another
    // connection holds the write lock even for a moment (waiting there
    // could deadlock both).
    QSqlQuery begin(db);
    if (!begin.exec(QStringLiteral("begin immediate"))) {
        if (why)
            *why = failed("the database did not begin a transaction", begin.lastError());
        return false;
    }
    if (work(db)) {
        QSqlQuery commit(db);
        if (commit.exec(QStringLiteral("commit")))
            return true;
        if (why)
            *why = failed("the database did not commit", commit.lastError());
    }
    QSqlQuery(db).exec(QStringLiteral("rollback"));
    return false;
}

template <typename Work>
auto qcDatabase::withReason(QString *failure, Work work)
{
    QString why;
    QMutexLocker lock(&m_mutex);
    const auto result = work(why);
    if (failure)
        *failure = why;
    return result;
}

bool qcDatabase::runChange(const QString &sql, const QVariantList &values, QString *why)
{
    return runUpdate(connection(), sql, values, why);
}

bool qcDatabase::isOpen(QString &why) const
{
    if (!opened)
        why = QStringLiteral("the database is not open");
    return opened;
}

quint64 qcDatabase::busyWaits() const
{
    return m_busyWait ? m_busyWait->waits() : 0;
}

qcDatabase::NoWait::NoWait(qcDatabase *db) : m_wait(db ? db->m_busyWait.get() : nullptr)
{
    if (m_wait)
        m_waited = m_wait->setWaiting(false);
}

qcDatabase::NoWait::~NoWait()
{
    if (m_wait)
        m_wait->setWaiting(m_waited);
}

void qcDatabase::forgetDevices()
{
    m_devices.clear();
    m_devicesLoaded = false;
}

void qcDatabase::forgetUsers()
{
    m_users.clear();
    m_usersLoaded = false;
}

void qcDatabase::forgetSchedules()
{
    m_schedules.clear();
    m_schedulesLoaded = false;
}

// ---- device counter -------------------------------------------------------

qint64 qcDatabase::readCounter(QString *why)
{
    QSqlQuery q(connection());
    const bool ran = run(q, QStringLiteral("select curdevindex from systeminfo where indexid=0"));
    if (!ran || !q.next()) {
        // A statement that ran and found no row leaves no error behind.
        if (why)
            *why = ran && !q.lastError().isValid() ? QString::fromLatin1(kNoCounterRow)
                                                   : failed("the device counter could not be read", q.lastError());
        return -1;
    }
    const qint64 value = q.value(0).toLongLong();
    if (value > 0)
        return value;
    if (why)
        *why = QStringLiteral("the device counter of the database holds no usable number");
    return -3;
}

bool qcDatabase::writeCounter(qint64 value)
{
    return runUpdate(connection(), QStringLiteral("update systeminfo set curdevindex=? where indexid=0"), {value});
}

qint64 qcDatabase::getCurDevIndex()
{
    QMutexLocker lock(&m_mutex);
    return readCounter();
}

bool qcDatabase::setCurDevIndex(qint64 value)
{
    QMutexLocker lock(&m_mutex);
    return writeCounter(value);
}

// ---- devices --------------------------------------------------------------

ReadStatus qcDatabase::loadDevices()
{
    if (!opened)
        return {ReadStatus::Closed};
    return loadCache(connection(), m_devices, m_devicesLoaded,
                     "select devname,username,password,connecttype,port,address,indexid,devtype from devices",
                     [](const QSqlQuery &q) {
                         _st_device_item d;
                         d.devname = q.value(0).toString();
                         d.username = q.value(1).toString();
                         d.password = q.value(2).toString();
                         d.connecttype = q.value(3).toInt();
                         d.port = q.value(4).toString();
                         d.address = q.value(5).toString();
                         d.indexid = q.value(6).toLongLong();
                         d.devtype = q.value(7).toString();
                         return d;
                     });
}

bool qcDatabase::deviceListed(const QString &address) const
{
    for (const _st_device_item &d : m_devices) {
        if (addressspelling::isSame(d.address, address))
            return true;
    }
    return false;
}

int qcDatabase::getDeviceCount()
{
    QMutexLocker lock(&m_mutex);
    loadDevices();
    return m_devices.size();
}

ReadStatus qcDatabase::readDevices(QList<_st_device_item> &out)
{
    QMutexLocker lock(&m_mutex);
    return handOut(loadDevices(), m_devices, out);
}

bool qcDatabase::getDevice(_st_device_item &out, int index)
{
    QMutexLocker lock(&m_mutex);
    loadDevices();
    if (index < 0 || index >= m_devices.size())
        return false;
    out = m_devices.at(index);
    return true;
}

bool qcDatabase::isNewDevice(const QString &devname, const QString &address)
{
    Q_UNUSED(devname) // a device is known by its address alone
    QMutexLocker lock(&m_mutex);
    // Unknown is not new: an add must not go by a list that was never read.
    return loadDevices().ok() && !deviceListed(address);
}

qint64 qcDatabase::addDevice(const _st_device_item &item, QString *failure)
{
    return withReason(failure, [&](QString &why) { return storeDevice(item, why); });
}

qint64 qcDatabase::storeDevice(const _st_device_item &item, QString &why)
{
    if (!isOpen(why))
        return -1;
    const qint64 counter = readCounter(&why);
    if (counter < 0)
        return -1;
    const ReadStatus listed = loadDevices();
    if (!listed.ok()) {
        why = unread("devices", listed);
        return -3;
    }
    if (deviceListed(item.address)) {
        why = QString::fromLatin1(kAddressHeld);
        return kAddressStored;
    }
    qint64 index = counter;
    int taken = 0;
    // The row and the advanced counter stand or fall together, so a failed
    // counter write can never hand the same indexid to the next device.
    const bool ok = inTransaction(
        [&](const QSqlDatabase &db) {
            index = freeIndex(db, counter, why);
            if (index < 0)
                return false;
            taken = addressTaken(db, item.address, index, why);
            if (taken != 0)
                return false;
            QSqlQuery q(db);
            if (!run(q,
                     QStringLiteral(
                         "insert into devices(devname,username,password,address,port,connecttype,indexid,devtype) "
                         "values(?,?,?,?,?,?,?,?)"),
                     {item.devname, item.username, item.password, item.address, item.port, item.connecttype, index,
                      item.devtype})) {
                why = failed("the database refused the device", q.lastError());
                return false;
            }
            QSqlQuery next(db);
            if (!run(next, QStringLiteral("update systeminfo set curdevindex=? where indexid=0"), {index + 1})) {
                why = failed("the database refused to advance the device counter", next.lastError());
                return false;
            }
            if (next.numRowsAffected() <= 0) {
                why = QString::fromLatin1(kNoCounterRow);
                return false;
            }
            return true;
        },
        &why);
    if (!ok)
        return taken > 0 ? kAddressStored : -3;
    _st_device_item added = item;
    added.indexid = index;
    m_devices.append(added);
    return index;
}

bool qcDatabase::deleteDevice(const QString &address, QString *failure)
{
    return withReason(
        failure, [&](QString &why) { return dropDevice(QStringLiteral("address = ?"), {address}, address, why) >= 0; });
}

qcDatabase::Removal qcDatabase::removeDevice(const _st_device_item &device, QString *failure)
{
    return withReason(failure, [&](QString &why) {
        switch (dropDevice(QStringLiteral("indexid = ? and address = ?"), {device.indexid, device.address},
                           device.address, why)) {
        case -1:
            return Removal::Refused;
        case 0:
            why = QStringLiteral("the database holds no such device: it was gone already");
            return Removal::Gone;
        default:
            return Removal::Deleted;
        }
    });
}

int qcDatabase::dropDevice(const QString &condition, const QVariantList &keys, const QString &address, QString &why)
{
    if (!isOpen(why))
        return -1;
    int deleted = 0;
    const bool ok = inTransaction(
        [&](const QSqlDatabase &db) {
            deleted = runDelete(db, QStringLiteral("delete from devices where ") + condition, keys, &why);
            // The schedules stay with a device still stored at the address.
            return deleted >= 0 && runDelete(db,
                                             QStringLiteral("delete from schedules where ipaddr = ? and "
                                                            "not exists (select 1 from devices where address = ?)"),
                                             {address, address}, &why) >= 0;
        },
        &why);
    if (!ok)
        return -1;
    forgetDevices();
    forgetSchedules();
    loadSchedules();
    return deleted;
}

namespace {

bool moveSchedules(const QSqlDatabase &db, const QString &from, const QString &to, QString &why)
{
    // A device still stored under the old address keeps what is kept there.
    QSqlQuery q(db);
    if (run(q,
            QStringLiteral("update schedules set ipaddr = ? where ipaddr = ? and "
                           "not exists (select 1 from devices where address = ?)"),
            {to, from, from}))
        return true;
    why = failed("the device's schedules could not be moved to its new address", q.lastError());
    return false;
}

} // namespace

bool qcDatabase::updateDevice(const _st_device_item &item, QString *failure)
{
    return withReason(failure, [&](QString &why) {
        if (!isOpen(why))
            return false;
        // The device's schedules are kept under its address: a new address
        // takes them along, in the same transaction, so that the device
        // never stands without them nor they without it.
        const bool ok = inTransaction(
            [&](const QSqlDatabase &db) {
                QSqlQuery stored(db);
                if (!run(stored, QStringLiteral("select address from devices where indexid = ?"), {item.indexid})) {
                    why = failed("the stored device could not be read", stored.lastError());
                    return false;
                }
                const QString previous = stored.next() ? stored.value(0).toString() : QString();
                stored.finish();
                // Two devices at one address would share their schedules
                // and go together at a deletion.
                if (previous != item.address && addressTaken(db, item.address, item.indexid, why) != 0)
                    return false;
                if (!runUpdate(db,
                               QStringLiteral("update devices set devname = ?, username = ?, password = ?, "
                                              "connecttype = ?, port = ?, address = ?, devtype = ? where indexid = ?"),
                               {item.devname, item.username, item.password, item.connecttype, item.port, item.address,
                                item.devtype, item.indexid},
                               &why))
                    return false;
                return previous == item.address || moveSchedules(db, previous, item.address, why);
            },
            &why);
        if (!ok)
            return false;
        forgetDevices();
        forgetSchedules();
        return true;
    });
}

bool qcDatabase::updateDeviceText(const QString &column, const QString &value, qint64 indexid)
{
    if (!kDeviceTextColumns.contains(column))
        return false;
    QMutexLocker lock(&m_mutex);
    return opened && updateColumn(connection(), "devices", column, value, "indexid = ?", {indexid});
}

bool qcDatabase::updateDeviceInt(const QString &column, int value, qint64 indexid)
{
    if (!kDeviceIntColumns.contains(column))
        return false;
    QMutexLocker lock(&m_mutex);
    return opened && updateColumn(connection(), "devices", column, value, "indexid = ?", {indexid});
}

// ---- users ----------------------------------------------------------------

ReadStatus qcDatabase::loadUsers()
{
    if (!opened)
        return {ReadStatus::Closed};
    return loadCache(connection(), m_users, m_usersLoaded,
                     "select username,password,usertype,usergroup,userdecl from users", [](const QSqlQuery &q) {
                         _st_user_item u;
                         u.username = q.value(0).toString();
                         u.password = q.value(1).toString();
                         u.usertype = q.value(2).toInt();
                         u.usergroup = q.value(3).toString();
                         u.userdecl = q.value(4).toString();
                         return u;
                     });
}

bool qcDatabase::userListed(const QString &username) const
{
    for (const _st_user_item &u : m_users) {
        if (u.username == username)
            return true;
    }
    return false;
}

int qcDatabase::getUserCount()
{
    QMutexLocker lock(&m_mutex);
    loadUsers();
    return m_users.size();
}

ReadStatus qcDatabase::readUsers(QList<_st_user_item> &out)
{
    QMutexLocker lock(&m_mutex);
    return handOut(loadUsers(), m_users, out);
}

bool qcDatabase::getUser(_st_user_item &out, int index)
{
    QMutexLocker lock(&m_mutex);
    loadUsers();
    if (index < 0 || index >= m_users.size())
        return false;
    out = m_users.at(index);
    return true;
}

bool qcDatabase::findUser(_st_user_item &out, const QString &username)
{
    QMutexLocker lock(&m_mutex);
    loadUsers();
    for (const _st_user_item &u : m_users) {
        if (u.username == username) {
            out.username = u.username;
            out.password = u.password;
            out.usertype = u.usertype;
            return true;
        }
    }
    return false;
}

bool qcDatabase::isNewUser(const QString &username)
{
    QMutexLocker lock(&m_mutex);
    return loadUsers().ok() && !userListed(username);
}

int qcDatabase::addUser(const _st_user_item &item, QString *failure)
{
    return withReason(failure, [&](QString &why) {
        if (!isOpen(why))
            return 3;
        // A name can only be known free from a list that was read.
        const ReadStatus users = loadUsers();
        if (!users.ok()) {
            why = unread("users", users);
            return 2;
        }
        if (userListed(item.username)) {
            why = QStringLiteral("the database holds the name already");
            return 1;
        }
        QSqlQuery q(connection());
        if (!run(q,
                 QStringLiteral("insert into users(username,password,usertype,usergroup,userdecl) values(?,?,?,?,?)"),
                 {item.username, item.password, item.usertype, item.usergroup, item.userdecl})) {
            why = failed("the database refused the user", q.lastError());
            return 2;
        }
        m_users.append(item);
        return 0;
    });
}

bool qcDatabase::deleteUser(const QString &username, QString *failure)
{
    return withReason(failure, [&](QString &why) {
        if (!isOpen(why))
            return false;
        const int deleted =
            runDelete(connection(), QStringLiteral("delete from users where username = ?"), {username}, &why);
        if (deleted == 0)
            why = QStringLiteral("the database holds no such user");
        if (deleted <= 0)
            return false;
        for (int i = 0; i < m_users.size(); ++i) {
            if (m_users.at(i).username == username) {
                m_users.removeAt(i);
                break;
            }
        }
        return true;
    });
}

bool qcDatabase::updateUser(const _st_user_item &item, QString *failure)
{
    return withReason(failure, [&](QString &why) {
        if (!isOpen(why))
            return false;
        // One statement: the row changes whole or not at all.
        if (!runUpdate(connection(),
                       QStringLiteral("update users set usertype = ?, password = ?, usergroup = ?, userdecl = ? "
                                      "where username = ?"),
                       {item.usertype, item.password, item.usergroup, item.userdecl, item.username}, &why))
            return false;
        forgetUsers();
        return true;
    });
}

bool qcDatabase::updateUserText(const QString &column, const QString &value, const QString &username)
{
    if (!kUserTextColumns.contains(column))
        return false;
    QMutexLocker lock(&m_mutex);
    return opened && updateColumn(connection(), "users", column, value, "username=?", {username});
}

bool qcDatabase::updateUserInt(const QString &column, int value, const QString &username)
{
    if (!kUserIntColumns.contains(column))
        return false;
    QMutexLocker lock(&m_mutex);
    return opened && updateColumn(connection(), "users", column, value, "username=?", {username});
}

// ---- schedules ------------------------------------------------------------

ReadStatus qcDatabase::loadSchedules()
{
    if (!opened)
        return {ReadStatus::Closed};
    return loadCache(connection(), m_schedules, m_schedulesLoaded,
                     "select applytype,devname,ipaddr,skdsun,skdmon,skdtue,skdwed,skdthu,skdfri,skdsat,skdtype,enable "
                     "from schedules",
                     [](const QSqlQuery &q) {
                         _st_schedule_item s;
                         s.applytype = q.value(0).toInt();
                         s.devname = q.value(1).toString();
                         s.ipaddr = q.value(2).toString();
                         s.skdsun = q.value(3).toString();
                         s.skdmon = q.value(4).toString();
                         s.skdtue = q.value(5).toString();
                         s.skdwed = q.value(6).toString();
                         s.skdthu = q.value(7).toString();
                         s.skdfri = q.value(8).toString();
                         s.skdsat = q.value(9).toString();
                         s.skdtype = q.value(10).toInt();
                         s.enable = q.value(11).toInt();
                         s.storedEnable = q.value(11).toString();
                         return s;
                     });
}

bool qcDatabase::scheduleListed(const QString &ipaddr) const
{
    const QString key = scheduleKey(ipaddr);
    for (const _st_schedule_item &s : m_schedules) {
        if (s.ipaddr == key)
            return true;
    }
    return false;
}

int qcDatabase::getScheduleCount()
{
    QMutexLocker lock(&m_mutex);
    loadSchedules();
    return m_schedules.size();
}

bool qcDatabase::getSchedule(_st_schedule_item &out, int index)
{
    QMutexLocker lock(&m_mutex);
    loadSchedules();
    if (index < 0 || index >= m_schedules.size())
        return false;
    out = m_schedules.at(index);
    return true;
}

ReadStatus qcDatabase::readSchedules(QList<_st_schedule_item> &out)
{
    QMutexLocker lock(&m_mutex);
    return handOut(loadSchedules(), m_schedules, out);
}

ReadStatus qcDatabase::reloadSchedules()
{
    QMutexLocker lock(&m_mutex);
    forgetSchedules();
    return loadSchedules();
}

bool qcDatabase::isNewSchedule(const QString &ipaddr)
{
    QMutexLocker lock(&m_mutex);
    return loadSchedules().ok() && !scheduleListed(ipaddr);
}

bool qcDatabase::addSchedule(const _st_schedule_item &item, QString *failure)
{
    return withReason(failure, [&](QString &why) {
        if (!isOpen(why))
            return false;
        // Checked against a list that was read, or a row could be stored twice.
        const ReadStatus schedules = loadSchedules();
        if (!schedules.ok()) {
            why = unread("schedules", schedules);
            return false;
        }
        if (scheduleListed(item.ipaddr)) {
            why = QStringLiteral("the database holds a schedule of that address already");
            return false;
        }
        _st_schedule_item stored = item;
        stored.ipaddr = scheduleKey(item.ipaddr);
        QSqlQuery q(connection());
        if (!run(q,
                 QStringLiteral("insert into schedules(applytype,devname,ipaddr,skdsun,skdmon,skdtue,skdwed,skdthu,"
                                "skdfri,skdsat,skdtype,enable) values(?,?,?,?,?,?,?,?,?,?,?,?)"),
                 {stored.applytype, stored.devname, stored.ipaddr, stored.skdsun, stored.skdmon, stored.skdtue,
                  stored.skdwed, stored.skdthu, stored.skdfri, stored.skdsat, stored.skdtype, stored.enable})) {
            why = failed("the database refused the schedule", q.lastError());
            return false;
        }
        m_schedules.append(stored);
        return true;
    });
}

bool qcDatabase::deleteScheduleType(int skdtype)
{
    if (!opened)
        return false;
    QMutexLocker lock(&m_mutex);
    if (runDelete(connection(), QStringLiteral("delete from schedules where skdtype=?"), {skdtype}) <= 0)
        return false;
    forgetSchedules();
    return true;
}

bool qcDatabase::deleteSchedule(const QString &ipaddr, int skdtype, QString *failure)
{
    return withReason(failure, [&](QString &why) {
        if (!isOpen(why))
            return false;
        const int deleted =
            runDelete(connection(), QStringLiteral("delete from schedules where ipaddr=? and skdtype=?"),
                      {scheduleKey(ipaddr), skdtype}, &why);
        if (deleted == 0)
            why = QStringLiteral("the database holds no such schedule");
        if (deleted <= 0)
            return false;
        forgetSchedules();
        return true;
    });
}

bool qcDatabase::updateSchedule(const _st_schedule_item &item, QString *failure)
{
    return withReason(failure, [&](QString &why) {
        if (!isOpen(why))
            return false;
        // One statement: the seven days change together or not at all.
        if (!runUpdate(
                connection(),
                QStringLiteral("update schedules set skdsun = ?, skdmon = ?, skdtue = ?, skdwed = ?, "
                               "skdthu = ?, skdfri = ?, skdsat = ? where ipaddr=? and applytype=? and skdtype=?"),
                {item.skdsun, item.skdmon, item.skdtue, item.skdwed, item.skdthu, item.skdfri, item.skdsat,
                 scheduleKey(item.ipaddr), item.applytype, item.skdtype},
                &why))
            return false;
        forgetSchedules();
        return true;
    });
}

bool qcDatabase::updateScheduleColumn(const QString &ipaddr, int applytype, int skdtype, const QString &column,
                                      const QString &value)
{
    if (!kScheduleTextColumns.contains(column))
        return false;
    QMutexLocker lock(&m_mutex);
    if (!opened || !updateScheduleRow(connection(), ipaddr, applytype, skdtype, column, value))
        return false;
    forgetSchedules();
    return true;
}

bool qcDatabase::updateScheduleText(const QString &ipaddr, int applytype, int skdtype, const QString &column,
                                    const QString &value)
{
    if (!kScheduleTextColumns.contains(column))
        return false;
    QMutexLocker lock(&m_mutex);
    return opened && updateScheduleRow(connection(), ipaddr, applytype, skdtype, column, value);
}
