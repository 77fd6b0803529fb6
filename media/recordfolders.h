#pragma once

#include <QString>

// The record and snapshot folders as the settings store them, turned into
// the folders recordings and pictures go to. A folder stored empty, blank or
// NULL (the settings page refuses one, but the database may come from
// elsewhere) is the run folder ".", as in the seed database: never the file
// system's root, which "" + "/RecordFile" would name. Saying so goes to the
// system log once, until the setting holds a folder again.
namespace recordfolders {

// A folder typed with "." or ".." in it, or with doubled or trailing
// slashes, is cleaned here, once, as text ("./a/../rec" is "rec", whether
// "a" is missing or a link), and every part (recorder, start-up pass, disk
// guard, snapshots) is handed that one form; the settings page makes a new
// folder by the same form.
// `setting` is the column the value came from: "recordpath" or "snapshotpath".
QString usable(const QString &setting, const QString &stored);

// The roots under the stored folders: "<folder>/RecordFile", "<folder>/CaptureFile",
// cleaned as usable() cleans the folder.
QString recordRoot(const QString &storedRecordPath);
QString captureRoot(const QString &storedSnapshotPath);

} // namespace recordfolders
