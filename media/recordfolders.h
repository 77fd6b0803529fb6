#pragma once

#include <QString>

// The record and snapshot folders as the settings store them, turned into
// the folders recordings and pictures go to. A folder stored empty, blank or
// NULL (the settings page refuses one, but the database may come from
// elsewhere) is the run folder ".", as in the seed database: never the file
// system's root, which "" + "/RecordFile" would name. Saying so goes to the
// system log once, until the setting holds a folder again.
namespace recordfolders {

// `setting` is the column the value came from: "recordpath" or "snapshotpath".
QString usable(const QString &setting, const QString &stored);

// The roots under the stored folders: "<folder>/RecordFile", "<folder>/CaptureFile".
QString recordRoot(const QString &storedRecordPath);
QString captureRoot(const QString &storedSnapshotPath);

} // namespace recordfolders
