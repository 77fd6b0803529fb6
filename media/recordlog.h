#pragma once

#include <QString>

// Recording faults an operator must be able to see. A recording that cannot
// start goes into the system log as an abnormal event, once per file name
// until a recording under that name starts again: the stream service tries
// a scheduled recording again on every tick.
namespace recordlog {

// path: the recording's first name; its folder is named after the device.
void cannotStart(const QString &path, const QString &reason);
void started(const QString &path);

} // namespace recordlog
