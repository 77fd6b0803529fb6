#include "devsettings/devicevaluelist.h"

#include <QComboBox>

namespace {

constexpr int kValueRole = Qt::UserRole;
constexpr int kExtraRole = Qt::UserRole + 41;

QString valueAt(const QComboBox *list, int index)
{
    const QVariant v = list->itemData(index, kValueRole);
    return v.isValid() ? v.toString() : QString::number(index);
}

} // namespace

namespace devset {

void setEntryValues(QComboBox *list, const QStringList &values)
{
    for (int i = 0; i < values.size() && i < list->count(); ++i)
        list->setItemData(i, values.at(i), kValueRole);
}

void useTextsAsValues(QComboBox *list)
{
    for (int i = 0; i < list->count(); ++i)
        list->setItemData(i, list->itemText(i), kValueRole);
}

bool hasExtraEntry(const QComboBox *list)
{
    return list->count() > 0 && list->itemData(list->count() - 1, kExtraRole).toBool();
}

void showDeviceValue(QComboBox *list, const QString &value, const QString &extraText)
{
    if (hasExtraEntry(list))
        list->removeItem(list->count() - 1);
    for (int i = 0; i < list->count(); ++i) {
        if (valueAt(list, i) == value) {
            list->setCurrentIndex(i);
            return;
        }
    }
    list->addItem(extraText.isEmpty() ? value : extraText);
    const int extra = list->count() - 1;
    list->setItemData(extra, value, kValueRole);
    list->setItemData(extra, true, kExtraRole);
    list->setCurrentIndex(extra);
}

QString selectedValue(const QComboBox *list)
{
    const int i = list->currentIndex();
    return i < 0 ? QString() : valueAt(list, i);
}

} // namespace devset
