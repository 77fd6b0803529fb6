#pragma once

#include <QString>

// Folders last chosen in file dialogs, remembered per purpose in
// "configure.ini" in the working directory (ids 673 to 679).
enum PathSettingId {
    PATH_DOWNLOAD = 673, // "DWNDIR"
    PATH_RECORD = 674,   // "RECDIR"
    PATH_PICTURE = 675,  // "PICDIR"
    PATH_IMPORT = 676,   // "INPTDIR": import of a device configuration
    PATH_EXPORT = 677,   // "OUPTDIR": export of a device configuration
    PATH_FILEMGR = 678,  // "FMDIR"
    PATH_NORMAL = 679,   // "NORDIR": picture chosen for upload
};

extern const char *const kConfigureIni; // "configure.ini"

// The remembered folder, "" when none is stored or the id is unknown.
QString getPathSetting(int pathId);
// Stores the folder; false for an unknown id (nothing written) or when the
// file cannot be written.
bool setPathSetting(int pathId, const QString &folder);
// The folder part of a path with "/" separators: everything before the last
// "/", without a trailing separator; "" when there is no "/".
QString getParentDir(const QString &filePath);
