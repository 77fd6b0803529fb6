#pragma once

#include <QHash>
#include <QString>
#include <QVariant>

#include "app/core/readstatus.h"
#include "app/core/settingstable.h"

// Both one-row settings tables as one statement found them. The getters
// give what the store's getters give for the same stored values (a NULL,
// empty or missing value reads as the getter's failure value); a row that
// could not be read at all, or that no read filled, says so in status()
// and holds no values.
class SettingsRow
{
public:
    ReadStatus status() const { return m_status; }
    bool ok() const { return m_status.ok(); }

    // A column's text as stored; empty when NULL, missing or not read.
    QString stored(const QString &column) const { return m_values.value(column); }
    // A column as its getter gives it (bool, QString or int); invalid for a
    // column of neither table.
    QVariant value(const QString &column) const;

#define QC_ROW_TEXT_RO(t, c, g)              QString g() const;
#define QC_ROW_TEXT(t, c, g, s)              QC_ROW_TEXT_RO(t, c, g)
#define QC_ROW_NUMBER_RO(t, c, g, f)         int g() const;
#define QC_ROW_NUMBER(t, c, g, f, s, lo, hi) QC_ROW_NUMBER_RO(t, c, g, f)
#define QC_ROW_FLAG_RO(t, c, g)              bool g() const;
#define QC_ROW_FLAG(t, c, g, s)              QC_ROW_FLAG_RO(t, c, g)
    QC_SETTINGS_TABLE(QC_ROW_TEXT, QC_ROW_TEXT_RO, QC_ROW_NUMBER, QC_ROW_NUMBER_RO, QC_ROW_FLAG, QC_ROW_FLAG_RO)
#undef QC_ROW_TEXT_RO
#undef QC_ROW_TEXT
#undef QC_ROW_NUMBER_RO
#undef QC_ROW_NUMBER
#undef QC_ROW_FLAG_RO
#undef QC_ROW_FLAG

private:
    friend class qcDatabase;
    QString text(const char *column) const
    {
        return m_values.value(QLatin1String(column));
    }
    int number(const char *column, int failure) const;
    bool flag(const char *column) const;

    ReadStatus m_status{ReadStatus::Closed}; // until a read fills it
    QHash<QString, QString> m_values;        // by column, as text
};
