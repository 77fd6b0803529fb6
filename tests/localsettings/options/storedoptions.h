#pragma once

#include <QFile>
#include <QString>

#include "tests/support/runfolder.h"

namespace optionstest {

inline const QString kDb = QStringLiteral("quendalix.xdt");

// Both settings rows as text, to see that a refused save left every column
// alone.
inline QString storedRow()
{
    using testsupport::RunFolder;
    return RunFolder::query(kDb, "select * from systeminfo") + "\n" +
           RunFolder::query(kDb, "select * from recordcapture");
}

// A folder below a regular file: nobody can make it, not even root.
inline QString blockedFolder(const testsupport::RunFolder &folder)
{
    QFile file(folder.filePath("plain-file"));
    file.open(QIODevice::WriteOnly);
    return file.fileName() + "/sub";
}

} // namespace optionstest
