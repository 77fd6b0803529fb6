#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// Reads a file whole, judging it by the descriptor it opened: an open of a
// named pipe without a writer would wait for one for good, and a device or a
// pipe could hand out bytes without end. Such a path is opened without
// waiting and refused before anything is read. False, with `reason` saying
// why (when given), when the path cannot be opened, is no regular file, is
// larger than maxBytes or cannot be read.
bool readRegularFile(const QString &path, qint64 maxBytes, QByteArray *bytes, QString *reason);

} // namespace platform
