// Accessors of the single settings in the one-row tables `systeminfo` and
// `recordcapture`, expanded from the table in settingstable.h.
#include "app/core/database.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace {

const char kSysInfo[] = "systeminfo";
const char kRecordCapture[] = "recordcapture";

struct SettingColumn
{
    const char *table;
    const char *column;
    bool number;
};

#define QC_COLUMN_TEXT_RO(t, c, g)              {k##t, #c, false},
#define QC_COLUMN_TEXT(t, c, g, s)              QC_COLUMN_TEXT_RO(t, c, g)
#define QC_COLUMN_NUMBER_RO(t, c, g, f)         {k##t, #c, true},
#define QC_COLUMN_NUMBER(t, c, g, f, s, lo, hi) QC_COLUMN_NUMBER_RO(t, c, g, f)
#define QC_COLUMN_FLAG_RO(t, c, g)              {k##t, #c, true},
#define QC_COLUMN_FLAG(t, c, g, s)              QC_COLUMN_FLAG_RO(t, c, g)
const SettingColumn kSettingColumns[] = {QC_SETTINGS_TABLE(QC_COLUMN_TEXT, QC_COLUMN_TEXT_RO, QC_COLUMN_NUMBER,
                                                           QC_COLUMN_NUMBER_RO, QC_COLUMN_FLAG, QC_COLUMN_FLAG_RO)};

// Column names reach the statement text, so only the table's own settings
// columns of the requested kind are accepted.
bool isSettingColumn(const char *table, const QString &column, bool number)
{
    for (const SettingColumn &c : kSettingColumns) {
        if (qstrcmp(c.table, table) == 0 && c.number == number && column == QLatin1String(c.column))
            return true;
    }
    return false;
}

} // namespace

SettingsRow qcDatabase::readSettings()
{
    SettingsRow row;
    QMutexLocker lock(&m_mutex);
    if (!opened)
        return row;
    // One statement and always one row: a table that lost its row reads as
    // NULLs, as its getters would read it.
    QSqlQuery q(connection());
    if (!q.exec(QStringLiteral("select * from (select 0) left join systeminfo on systeminfo.indexid = 0 "
                               "left join recordcapture on recordcapture.indexid = 0")) ||
        !q.next()) {
        row.m_status = ReadStatus::failed(q.lastError());
        return row;
    }
    row.m_status = ReadStatus();
    const QSqlRecord fields = q.record();
    for (const SettingColumn &c : kSettingColumns) {
        const int field = fields.indexOf(QLatin1String(c.column));
        if (field >= 0)
            row.m_values.insert(QLatin1String(c.column), q.value(field).toString());
    }
    return row;
}

int qcDatabase::readSetting(const char *table, const QString &column, bool number, QString &out)
{
    QMutexLocker lock(&m_mutex);
    if (!opened)
        return 3;
    if (!isSettingColumn(table, column, number))
        return 1;
    QSqlQuery q(connection());
    if (!q.exec(QStringLiteral("select %1 from %2 where indexid = 0").arg(column, QLatin1String(table))))
        return 1;
    if (!q.next())
        return 2;
    const QString text = q.value(0).toString();
    if (text.isEmpty())
        return 2;
    out = text;
    return 0;
}

bool qcDatabase::writeSetting(const char *table, const QString &column, bool number, const QVariant &value,
                              QString *why)
{
    QString reason;
    bool ok = false;
    {
        QMutexLocker lock(&m_mutex);
        if (!isSettingColumn(table, column, number))
            reason = QStringLiteral("%1 is no setting of that kind").arg(column);
        else if (isOpen(reason))
            ok = runChange(QStringLiteral("update %1 set %2 = ? where indexid = 0").arg(QLatin1String(table), column),
                           {value}, &reason);
    }
    if (why)
        *why = reason;
    return ok;
}

int qcDatabase::querySysInfoText(const QString &column, QString &out)
{
    return readSetting(kSysInfo, column, false, out);
}

static int readNumber(int result, const QString &text, int &out)
{
    if (result == 0)
        out = text.toInt(); // a text that is not a number reads 0
    return result;
}

int qcDatabase::querySysInfoInt(const QString &column, int &out)
{
    QString text;
    return readNumber(readSetting(kSysInfo, column, true, text), text, out);
}

int qcDatabase::queryRecordCaptureInt(const QString &column, int &out)
{
    QString text;
    return readNumber(readSetting(kRecordCapture, column, true, text), text, out);
}

int qcDatabase::queryRecordCaptureStored(const QString &column, QString &out)
{
    return readSetting(kRecordCapture, column, true, out);
}

bool qcDatabase::updateSysInfoText(const QString &column, const QString &value, QString *failure)
{
    return writeSetting(kSysInfo, column, false, value, failure);
}

bool qcDatabase::updateSysInfoInt(const QString &column, int value, QString *failure)
{
    return writeSetting(kSysInfo, column, true, value, failure);
}

bool qcDatabase::updateRecordCaptureInt(const QString &column, int value, QString *failure)
{
    return writeSetting(kRecordCapture, column, true, value, failure);
}

#define QC_DEFINE_TEXT_RO(t, c, g)                                                                                     \
    QString qcDatabase::g()                                                                                            \
    {                                                                                                                  \
        QString value;                                                                                                 \
        return query##t##Text(QStringLiteral(#c), value) == 0 ? value : QString();                                     \
    }
#define QC_DEFINE_TEXT(t, c, g, s)                                                                                     \
    QC_DEFINE_TEXT_RO(t, c, g)                                                                                         \
    bool qcDatabase::s(const QString &value, QString *failure)                                                         \
    {                                                                                                                  \
        return update##t##Text(QStringLiteral(#c), value, failure);                                                    \
    }
#define QC_DEFINE_NUMBER_RO(t, c, g, f)                                                                                \
    int qcDatabase::g()                                                                                                \
    {                                                                                                                  \
        int value = 0;                                                                                                 \
        return query##t##Int(QStringLiteral(#c), value) == 0 ? value : (f);                                            \
    }
#define QC_DEFINE_NUMBER(t, c, g, f, s, lo, hi)                                                                        \
    QC_DEFINE_NUMBER_RO(t, c, g, f)                                                                                    \
    bool qcDatabase::s(int value, QString *failure)                                                                    \
    {                                                                                                                  \
        if (value < (lo) || value > (hi)) {                                                                            \
            if (failure)                                                                                               \
                *failure = QStringLiteral("%1 is outside %2 to %3").arg(value).arg(lo).arg(hi);                        \
            return false;                                                                                              \
        }                                                                                                              \
        return update##t##Int(QStringLiteral(#c), value, failure);                                                     \
    }
#define QC_DEFINE_FLAG_RO(t, c, g)                                                                                     \
    bool qcDatabase::g()                                                                                               \
    {                                                                                                                  \
        int value = 0;                                                                                                 \
        return query##t##Int(QStringLiteral(#c), value) == 0 && value == 1;                                            \
    }
#define QC_DEFINE_FLAG(t, c, g, s)                                                                                     \
    QC_DEFINE_FLAG_RO(t, c, g)                                                                                         \
    bool qcDatabase::s(bool value, QString *failure)                                                                   \
    {                                                                                                                  \
        return update##t##Int(QStringLiteral(#c), value ? 1 : 0, failure);                                             \
    }

QC_SETTINGS_TABLE(QC_DEFINE_TEXT, QC_DEFINE_TEXT_RO, QC_DEFINE_NUMBER, QC_DEFINE_NUMBER_RO, QC_DEFINE_FLAG,
                  QC_DEFINE_FLAG_RO)
