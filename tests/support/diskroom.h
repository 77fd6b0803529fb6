#pragma once

#include "media/qcdiskmanager.h"

namespace testsupport {

// Every stream service with a record root runs a disk guard; on a machine
// with little free space it would delete the recordings a test checks.
inline void assumePlentyOfRoom()
{
    qcDiskManager::setFreeSpaceFunction([](const QString &) { return std::optional<qint64>(qint64(1) << 40); });
}

} // namespace testsupport
