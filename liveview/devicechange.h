#pragma once

#include "app/core/records.h"

#include <QList>
#include <QString>

// Whether a change of one listed device may go on to the database, whether
// its Modify dialog or its settings window asks for it. Both carry the
// device's indexid, as rows move while they are open. Two devices at one
// address, however it is spelt, would reach one camera, share their
// schedules and go together at a deletion, so another listed device's
// address is refused.
namespace devicechange {

struct Check
{
    int row = -1;              // the device's row, -1 when it is no longer listed
    const char *key = nullptr; // the reminder's text key when refused
    QString why;               // the log's note when refused
    bool allowed() const { return key == nullptr; }
};

Check check(const QList<_st_device_item *> &devices, qint64 indexid, const QString &address);

// What a Modify dialog's form holds of its device.
struct Fields
{
    QString devname;
    QString address;
    int connecttype = 0;
    QString port;
    QString username;
    QString password;

    static Fields of(const _st_device_item &device);
};

// The change a Modify dialog asks for: the device as it is now, with only
// what the operator changed in the dialog, from `shown` when it opened
// (null: the device as it is now) to `typed` at OK, into `changed`; an
// address typed anew in its one spelling. A dialog stays open while its
// device is changed elsewhere (another dialog, the settings window): what it
// still shows from then is no change. Judged by check() at the address the
// change leaves the device at.
Check checkEdits(const QList<_st_device_item *> &devices, qint64 indexid, const Fields *shown, const Fields &typed,
                 _st_device_item &changed);

// Whether a window that reaches the device at `before` would reach another
// place after the change to `after`.
bool movesAway(const _st_device_item &before, const _st_device_item &after);
// Whether a settings window given the device's address, port and login
// at `before` would ask it with something else than it holds after the
// change to `after`.
bool leavesWindowBehind(const _st_device_item &before, const _st_device_item &after);

} // namespace devicechange
