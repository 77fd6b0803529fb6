#pragma once

#include <QFile>
#include <QString>

// The files of a record folder that the recorder, the disk guard and the
// start-up repair change: only regular files standing in the folder
// themselves. A link to a file elsewhere (or a pipe, a device, a folder under
// a file's name) is never opened for writing, cut, renamed, moved or deleted:
// whatever it names lies outside the record folders. It is left where it is
// and told once. Reading through a link stays allowed; a link above the file
// (the folder the operator chose) is not looked at.
namespace recordfileguard {

enum class Kind {
    Absent,
    Plain, // a regular file, not a link
    Other,
};
// What stands under the name itself (lstat); Absent also when the name
// cannot be looked at.
Kind kindOf(const QString &path);

// Opens `path` as QFile::open(mode) would, creating it when mode writes and
// asks for no existing file only, but never through a link and never
// anything but a regular file. False when it was not opened; a link or
// another kind of file is told.
bool open(QFile &file, const QString &path, QIODevice::OpenMode mode);
// Deletes, renames (never over a file that exists) or cuts a regular file;
// false for anything else, which is told when it stands there.
bool remove(const QString &path);
bool rename(const QString &from, const QString &to);
bool resize(const QString &path, qint64 size);

// Tells once (per path, while the process runs) that `path` is left alone.
void tell(const QString &path);

} // namespace recordfileguard
