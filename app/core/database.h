#pragma once

#include <QList>
#include <QMutex>
#include <QSqlDatabase>
#include <QString>
#include <QThread>
#include <QVariant>

#include <memory>

#include "app/core/records.h"
#include "app/core/settingsrow.h"
#include "app/core/settingstable.h"

class BusyWait;

// The local store: devices, users, schedules and the client's settings, in
// the ready-made SQLite file "quendalix.xdt" of the working directory. The
// program never creates the file or a table; a file that is missing, not a
// database or short of a table leaves the object closed (`isOpened()` false,
// `openError()` tells why) and every operation reports its failure result.
//
// The object is created on the GUI thread, which uses the connection
// "systeminfo". Any other thread that calls in gets a connection of its own to
// the same file, removed when that thread ends: Qt forbids sharing one
// connection between threads. One mutex serialises every statement and every
// cache change; it is not recursive, so public operations never call each
// other while holding it.
//
// A read that fails is never a value: the readers that hand out lists and
// the settings row say whether they worked (ReadStatus), and a cache is
// only ever filled from a load that worked. While another program holds
// the file, the GUI thread's statements of one turn of the event loop wait
// once between them (BusyWait).
class qcDatabase
{
public:
    static const char *const kFileName;       // "quendalix.xdt"
    static const char *const kConnectionName; // "systeminfo"
    // The reason addDevice and updateDevice give when another stored device
    // has the address, in whatever spelling.
    static const char *const kAddressHeld;

    qcDatabase();
    ~qcDatabase();
    qcDatabase(const qcDatabase &) = delete;
    qcDatabase &operator=(const qcDatabase &) = delete;

    bool isOpened() const { return opened; }
    // Why the open failed, naming the file; empty when it succeeded.
    QString openError() const { return m_openError; }

    // How many times a statement of the creating thread has waited for
    // another program's lock.
    quint64 busyWaits() const;

    // While one lives, the creating thread's statements that find the file
    // held give up at once instead of waiting for it: a read that a timer
    // tries again must not keep the window each time.
    class NoWait
    {
    public:
        explicit NoWait(qcDatabase *db);
        ~NoWait();
        NoWait(const NoWait &) = delete;
        NoWait &operator=(const NoWait &) = delete;

    private:
        BusyWait *m_wait = nullptr;
        bool m_waited = true;
    };

    // Both settings rows in one statement.
    SettingsRow readSettings();

    // Device counter: -1 when unreadable, -3 when 0, negative or NULL.
    qint64 getCurDevIndex();
    bool setCurDevIndex(qint64 value);

    // Devices
    int getDeviceCount();
    // Every stored device; `out` is emptied when they could not be read.
    ReadStatus readDevices(QList<_st_device_item> &out);
    bool getDevice(_st_device_item &out, int index);
    bool isNewDevice(const QString &devname, const QString &address);
    // The new row's indexid; -1 closed or no usable counter, -2 address
    // already listed or stored (in any spelling), -3 no index left or the insert or the counter update
    // failed (nothing kept). The index is the counter's, or the next past the
    // largest stored when the counter has fallen behind the rows. `failure`
    // (when given) gets what went wrong, in the database's own words where it
    // gave any, for the log; it is emptied when the device was stored.
    qint64 addDevice(const _st_device_item &item, QString *failure = nullptr);
    static constexpr qint64 kAddressStored = -2;
    // Every device of that address and its schedules; `failure` as for addDevice.
    bool deleteDevice(const QString &address, QString *failure = nullptr);
    // The one row of device.indexid and device.address, and the schedules of
    // that address unless another stored device has it too. Gone (nothing
    // deleted) when the database holds no such row any more.
    enum class Removal { Deleted, Gone, Refused };
    Removal removeDevice(const _st_device_item &device, QString *failure = nullptr);
    // Every column of the row of item.indexid; false when closed, refused,
    // when no row has that index or when another stored device has the new
    // address. `failure` as for addDevice.
    bool updateDevice(const _st_device_item &item, QString *failure = nullptr);
    bool updateDeviceText(const QString &column, const QString &value, qint64 indexid);
    bool updateDeviceInt(const QString &column, int value, qint64 indexid);

    // Users
    int getUserCount();
    // Every local user; `out` is emptied when they could not be read.
    ReadStatus readUsers(QList<_st_user_item> &out);
    bool getUser(_st_user_item &out, int index);
    // Copies username, password and usertype only; the name matches exactly.
    bool findUser(_st_user_item &out, const QString &username);
    bool isNewUser(const QString &username);
    // 0 added, 1 name taken, 2 insert failed, 3 closed. `failure` of these
    // three as for addDevice.
    int addUser(const _st_user_item &item, QString *failure = nullptr);
    // False also when no row has the name.
    bool deleteUser(const QString &username, QString *failure = nullptr);
    bool updateUser(const _st_user_item &item, QString *failure = nullptr);
    bool updateUserText(const QString &column, const QString &value, const QString &username);
    bool updateUserInt(const QString &column, int value, const QString &username);

    // Schedules. An empty ipaddr is stored and matched as the text "null".
    int getScheduleCount();
    bool getSchedule(_st_schedule_item &out, int index);
    // Every stored schedule; `out` is emptied when they could not be read.
    ReadStatus readSchedules(QList<_st_schedule_item> &out);
    // Reads the schedules again; after a failure the next reader tries again.
    ReadStatus reloadSchedules();
    bool isNewSchedule(const QString &ipaddr);
    // `failure` of the writes below as for addDevice.
    bool addSchedule(const _st_schedule_item &item, QString *failure = nullptr);
    bool deleteScheduleType(int skdtype);
    // The one row of that address and kind; false when closed, when the
    // statement fails or when it deleted no row.
    bool deleteSchedule(const QString &ipaddr, int skdtype, QString *failure = nullptr);
    bool updateSchedule(const _st_schedule_item &item, QString *failure = nullptr);
    bool updateScheduleColumn(const QString &ipaddr, int applytype, int skdtype, const QString &column,
                              const QString &value);
    bool updateScheduleText(const QString &ipaddr, int applytype, int skdtype, const QString &column,
                            const QString &value);

    // Settings readers: 0 value read, 1 statement failed or column unknown,
    // 2 no row or empty value, 3 database closed. `out` is written only on 0.
    int querySysInfoText(const QString &column, QString &out);
    int querySysInfoInt(const QString &column, int &out);
    int queryRecordCaptureInt(const QString &column, int &out);
    // A number or flag column's text as stored, before it is read as a number.
    int queryRecordCaptureStored(const QString &column, QString &out);
    // Settings writers: false when closed, the column is unknown, the
    // statement fails or there is no row to change. `failure` (when given)
    // gets why, in the database's own words where it gave any, as for
    // addDevice; so do the setters below.
    bool updateSysInfoText(const QString &column, const QString &value, QString *failure = nullptr);
    bool updateSysInfoInt(const QString &column, int value, QString *failure = nullptr);
    bool updateRecordCaptureInt(const QString &column, int value, QString *failure = nullptr);

#define QC_DECLARE_TEXT_RO(t, c, g) QString g();
#define QC_DECLARE_TEXT(t, c, g, s)                                                                                    \
    QC_DECLARE_TEXT_RO(t, c, g) bool s(const QString &value, QString *failure = nullptr);
#define QC_DECLARE_NUMBER_RO(t, c, g, f) int g();
#define QC_DECLARE_NUMBER(t, c, g, f, s, lo, hi)                                                                       \
    QC_DECLARE_NUMBER_RO(t, c, g, f) bool s(int value, QString *failure = nullptr);
#define QC_DECLARE_FLAG_RO(t, c, g) bool g();
#define QC_DECLARE_FLAG(t, c, g, s) QC_DECLARE_FLAG_RO(t, c, g) bool s(bool value, QString *failure = nullptr);
    QC_SETTINGS_TABLE(QC_DECLARE_TEXT, QC_DECLARE_TEXT_RO, QC_DECLARE_NUMBER, QC_DECLARE_NUMBER_RO, QC_DECLARE_FLAG,
                      QC_DECLARE_FLAG_RO)
#undef QC_DECLARE_TEXT_RO
#undef QC_DECLARE_TEXT
#undef QC_DECLARE_NUMBER_RO
#undef QC_DECLARE_NUMBER
#undef QC_DECLARE_FLAG_RO
#undef QC_DECLARE_FLAG

private:
    // Everything below expects the mutex to be held by the caller, unless it
    // says otherwise.
    QSqlDatabase connection();
    // `why` (when given) gets the reason of a failure.
    qint64 readCounter(QString *why = nullptr);
    bool writeCounter(qint64 value);
    // Each fills its cache when it is not filled (or holds no row) and says
    // whether the cache now holds the table.
    ReadStatus loadDevices();
    ReadStatus loadUsers();
    ReadStatus loadSchedules();
    void forgetDevices();
    void forgetUsers();
    void forgetSchedules();
    qint64 storeDevice(const _st_device_item &item, QString &why);
    // Deletes the devices `condition` selects and the schedules of `address`
    // unless a device stays there; the rows deleted, -1 when it failed.
    int dropDevice(const QString &condition, const QVariantList &keys, const QString &address, QString &why);
    bool deviceListed(const QString &address) const;
    bool userListed(const QString &username) const;
    bool scheduleListed(const QString &ipaddr) const;
    // Runs `work` in one transaction on this thread's connection; rolls back
    // and returns false when it fails. `why` (when given) gets the reason when
    // the transaction cannot begin or commit; a failing `work` says its own.
    template <typename Work>
    bool inTransaction(Work work, QString *why = nullptr);
    // Runs `work(why)` under the mutex (the caller must not hold it) and
    // hands `failure` (when given) the reason `work` left in `why`: empty
    // when it succeeded, so that a caller can log it either way.
    template <typename Work>
    auto withReason(QString *failure, Work work);
    // Whether the file is open; `why` says so when it is not.
    bool isOpen(QString &why) const;
    int readSetting(const char *table, const QString &column, bool number, QString &out);
    bool writeSetting(const char *table, const QString &column, bool number, const QVariant &value, QString *why);
    // Runs an update on this thread's connection; false when it fails or
    // changes no row, with the reason in `why` (when given).
    bool runChange(const QString &sql, const QVariantList &values, QString *why);

    QSqlDatabase m_db;
    bool opened = false;
    QString m_openError;
    QMutex m_mutex;
    QList<_st_device_item> m_devices;
    QList<_st_user_item> m_users;
    QList<_st_schedule_item> m_schedules;
    // Whether each cache holds its table as a load that worked found it.
    bool m_devicesLoaded = false;
    bool m_usersLoaded = false;
    bool m_schedulesLoaded = false;
    std::unique_ptr<BusyWait> m_busyWait;
    QThread *m_ownerThread = nullptr;
    quint64 m_serial = 0;
};

// The one store of the running program, set by start-up.
extern qcDatabase *g_database;
