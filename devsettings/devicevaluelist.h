#pragma once

#include <QString>
#include <QStringList>

class QComboBox;

// A list of a settings page whose entries stand for device values. A value
// the device holds that none of the entries stands for is shown as an extra
// entry at the end and goes back to the device unchanged unless the operator
// picks another entry: a save must not overwrite what the page cannot show.
// The extra entry goes again when the list shows the next device value.
// Values are the texts the device sends, compared as texts; an entry's value
// is its user data (Qt::UserRole).
namespace devset {

// The device value of each entry, in order; an entry without one stands for
// its index in decimal.
void setEntryValues(QComboBox *list, const QStringList &values);
// Each entry stands for its own text (a resolution, a frame rate).
void useTextsAsValues(QComboBox *list);
// Selects the entry of value, or an extra entry showing extraText (the value
// itself when empty). Signals of the list are not blocked.
void showDeviceValue(QComboBox *list, const QString &value, const QString &extraText = QString());
inline void showDeviceValue(QComboBox *list, int value, const QString &extraText = QString())
{
    showDeviceValue(list, QString::number(value), extraText);
}
// The value the selected entry stands for; empty with no selection.
QString selectedValue(const QComboBox *list);
inline int selectedInt(const QComboBox *list, int none = -1)
{
    bool ok = false;
    const int v = selectedValue(list).toInt(&ok);
    return ok ? v : none;
}
// Whether the list shows an extra entry now.
bool hasExtraEntry(const QComboBox *list);

} // namespace devset
