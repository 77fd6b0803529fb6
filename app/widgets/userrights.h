#pragma once

#include <QtGlobal>

class QWidget;

// The bits of a user's rights mask, as the users table stores them and the
// login hands them to g_curUserRights.
namespace userrights {

enum Right : quint32 {
    PtzControl = 0x1,
    Snapshot = 0x2,
    ManualRecording = 0x4,
    Playback = 0x8,
    LogView = 0x10,
    DeviceConfiguration = 0x20,
    LocalConfiguration = 0x40,
    ScheduleManagement = 0x80,
    DeviceManagement = 0x100,
};

// Whether the logged-in user holds the right; without it the red
// "permdenied" tip shows over parent (none when parent is null).
bool check(QWidget *parent, quint32 bit);

} // namespace userrights
