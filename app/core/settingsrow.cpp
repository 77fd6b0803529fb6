#include "app/core/settingsrow.h"

int SettingsRow::number(const char *column, int failure) const
{
    const QString t = text(column);
    return t.isEmpty() ? failure : t.toInt(); // a text that is not a number reads 0
}

bool SettingsRow::flag(const char *column) const
{
    return number(column, 0) == 1;
}

#define QC_ROW_TEXT_RO(t, c, g)                                                                                        \
    QString SettingsRow::g() const                                                                                     \
    {                                                                                                                  \
        return text(#c);                                                                                               \
    }
#define QC_ROW_TEXT(t, c, g, s) QC_ROW_TEXT_RO(t, c, g)
#define QC_ROW_NUMBER_RO(t, c, g, f)                                                                                   \
    int SettingsRow::g() const                                                                                         \
    {                                                                                                                  \
        return number(#c, (f));                                                                                        \
    }
#define QC_ROW_NUMBER(t, c, g, f, s, lo, hi) QC_ROW_NUMBER_RO(t, c, g, f)
#define QC_ROW_FLAG_RO(t, c, g)                                                                                        \
    bool SettingsRow::g() const                                                                                        \
    {                                                                                                                  \
        return flag(#c);                                                                                               \
    }
#define QC_ROW_FLAG(t, c, g, s) QC_ROW_FLAG_RO(t, c, g)
QC_SETTINGS_TABLE(QC_ROW_TEXT, QC_ROW_TEXT_RO, QC_ROW_NUMBER, QC_ROW_NUMBER_RO, QC_ROW_FLAG, QC_ROW_FLAG_RO)

QVariant SettingsRow::value(const QString &column) const
{
#define QC_VALUE_TEXT_RO(t, c, g)                                                                                      \
    if (column == QLatin1String(#c))                                                                                   \
        return g();
#define QC_VALUE_TEXT(t, c, g, s)              QC_VALUE_TEXT_RO(t, c, g)
#define QC_VALUE_NUMBER_RO(t, c, g, f)         QC_VALUE_TEXT_RO(t, c, g)
#define QC_VALUE_NUMBER(t, c, g, f, s, lo, hi) QC_VALUE_TEXT_RO(t, c, g)
#define QC_VALUE_FLAG_RO(t, c, g)              QC_VALUE_TEXT_RO(t, c, g)
#define QC_VALUE_FLAG(t, c, g, s)              QC_VALUE_TEXT_RO(t, c, g)
    QC_SETTINGS_TABLE(QC_VALUE_TEXT, QC_VALUE_TEXT_RO, QC_VALUE_NUMBER, QC_VALUE_NUMBER_RO, QC_VALUE_FLAG,
                      QC_VALUE_FLAG_RO)
    return QVariant();
}
