#pragma once

#include <QString>

namespace devicesim {

class Device;
class Exchange;

// Sets that do more than merge into a stored document: the accounts
// ("user&do=del", "add", "modify") act on the stored "user" list and the
// login, and "diskfmt" frees the disk of "diskinfo&id=0". Answers and
// returns true for those keys, false for every other.
bool handleSettingsSet(Exchange &ex);

// Whether a set of this key may carry a body whose root is not "request":
// the schedules ("schetask", "alarm") take their own document back, whose
// root has the name of the stored document's root.
bool acceptsOwnRoot(const Device &device, const QString &key, const QString &rootName);

// Sets "imgstyle" in the stored devability document (adds it when
// missing); false when there is no such document or it does not parse.
bool setImageStyle(Device &device, int style);

} // namespace devicesim
