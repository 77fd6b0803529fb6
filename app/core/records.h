#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>

// Plain value records: rows of the local and log databases, and alarms as the
// live page lists them. Field names are the column names of their tables.

// One row of `systemlogs`.
enum LogType { kLogOperation = 1, kLogDeviceAlarm = 2, kLogAbnormalEvent = 3 };

struct _st_log_item
{
    QString logdate; // local time, "yyyy-MM-ddThh:mm:ss"
    QString curuser;
    QString logdecl;
    QString reldevname;
    QString reldevaddr;
    QString lognote;
    int logtype = 0; // one of LogType

    _st_log_item() = default;
    _st_log_item(const QString &logdate, const QString &curuser, const QString &logdecl, const QString &reldevname,
                 const QString &reldevaddr, const QString &lognote, int logtype);
};
Q_DECLARE_METATYPE(_st_log_item)

// Makes `_st_log_item` travel by value through queued signals. Safe to call
// more than once and from any thread.
void registerLogItemMetaType();

// One row of `devices`.
struct _st_device_item
{
    QString devname;
    QString username;
    QString password;
    QString address; // key of deletion and of the duplicate check
    QString port;
    QString devtype;
    int connecttype = 0;
    qint64 indexid = 0; // key of row updates, drawn from systeminfo.curdevindex

    bool operator==(const _st_device_item &other) const;
    bool operator!=(const _st_device_item &other) const { return !(*this == other); }
};

// One row of `users`.
struct _st_user_item
{
    QString username; // unique; key of the row
    QString password;
    QString usergroup;
    QString userdecl;
    int usertype = 0; // rights bit mask

    bool operator==(const _st_user_item &other) const;
    bool operator!=(const _st_user_item &other) const { return !(*this == other); }
};

// One row of `schedules`.
struct _st_schedule_item
{
    QString devname;
    QString ipaddr;
    QString skdsun;
    QString skdmon;
    QString skdtue;
    QString skdwed;
    QString skdthu;
    QString skdfri;
    QString skdsat;
    int applytype = 0;
    int skdtype = 0;
    int enable = 0;       // 1 on; a stored text that is no number reads 0
    QString storedEnable; // the column as stored, empty when NULL
};

// One alarm received from a device.
struct _st_alarm_item
{
    QString ipaddr;
    QString file;
    QString devname;
    int type = 0;
    int action = 0;
    QDateTime time;

    _st_alarm_item() = default;
    // Arguments come in the order of the alarm signals, not the field order.
    _st_alarm_item(const QString &ipaddr, const QString &devname, const QString &file, int type, int action,
                   const QDateTime &time);
};
