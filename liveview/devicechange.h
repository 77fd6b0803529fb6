#pragma once

#include "app/core/records.h"

#include <QList>
#include <QString>

// Whether a change of one listed device may go on to the database, whether
// its Modify dialog or its settings window asks for it. Both carry the
// device's indexid, as rows move while they are open. Two devices at one
// address would share their schedules and go together at a deletion, so
// another listed device's address is refused.
namespace devicechange {

struct Check
{
    int row = -1;              // the device's row, -1 when it is no longer listed
    const char *key = nullptr; // the reminder's text key when refused
    QString why;               // the log's note when refused
    bool allowed() const { return key == nullptr; }
};

Check check(const QList<_st_device_item *> &devices, qint64 indexid, const QString &address);

// Whether a window that reaches the device at `before` would reach another
// place after the change to `after`.
bool movesAway(const _st_device_item &before, const _st_device_item &after);

} // namespace devicechange
