#pragma once

#include <QByteArray>

#include <functional>

namespace devicesim {

// A live "mdstatus" document: a 40 x 24 cell grid in which a block of 4 x 3
// cells walks one column to the right every 200 ms, and a motion level that
// rises from 0 to 200 and falls back over 6 s. Bit k = row x 40 + column.
std::function<QByteArray()> motionStatusSource();

} // namespace devicesim
