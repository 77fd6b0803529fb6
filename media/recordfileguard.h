#pragma once

#include <QFile>
#include <QString>

#include <functional>

// Every change below the tops of the record and snapshot trees goes through
// here: the creation of a folder or a file, an open for writing, a cut, a
// rename, a move, a copy and a deletion. The rule is one: below a top
// ("RecordFile", "CaptureFile"), no link is ever followed, whether it stands
// for a file or for a folder, and nothing but regular files and real folders
// is touched. What a link names lies outside the record folders; it is left
// where it is and told once. A link down to a top is followed: the folder the
// operator chose may be, or lie under, a link, and so may the tops in it (an
// operator who moves the recordings to a larger disk links one of them).
// Reading through a link stays allowed.
//
// Every call is handed the top its path lies under by the caller, which
// holds it from the settings (or was handed it): a top is never guessed from
// the names on a path, for a device or a folder below a top may bear any
// name, a top's too. A path that is not the top or below it (a ".." that
// climbs out included) is refused with EPERM, never touched, and told once.
namespace recordfileguard {

enum class Kind {
    Absent,
    Plain, // a regular file, not a link
    Other,
};
// What stands under the name itself (lstat); Absent also when the name
// cannot be looked at.
Kind kindOf(const QString &top, const QString &path);

// Opens a file for reading through one descriptor, which alone decides what
// it is: a named pipe is never waited on, nothing but a regular file is kept
// open, and what is already seen to be none is not opened at all (a device
// may act on an open). `dir` is a folder's descriptor, or AT_FDCWD for a
// path; `follow`: whether a link under the name itself is followed (the
// folders on the way are followed as they are). Returns what stands there
// instead, in words ("a named pipe", "a link to a folder", ...); empty when
// `file` is open or nothing stands there. Nothing is told: this is for
// readers outside the tops, or above them.
QString openToRead(int dir, const QString &name, QFile &file, bool follow = false);

// Opens `path` as QFile::open(mode) would, creating it when mode writes and
// asks for no existing file only, but never through a link and never
// anything but a regular file, and never waiting on a named pipe: the
// descriptor opened is the one judged and the one read and written. False
// when it was not opened; a link or another kind of file is told.
bool open(const QString &top, QFile &file, const QString &path, QIODevice::OpenMode mode);
// Deletes or cuts a regular file; false for anything else, which is told
// when it stands there.
bool remove(const QString &top, const QString &path);
bool resize(const QString &top, const QString &path, qint64 size);
// Renames a regular file or a real folder. Never replaces or follows what
// stands at `to`: when the name is taken, `from` keeps its name (errno
// EEXIST) and a link standing there is told.
bool rename(const QString &top, const QString &from, const QString &to);
// Renames the regular file `from` onto `to` in the same folder, replacing a
// regular file that stands there, in one step. Never replaces a link or
// anything but a regular file (told, errno EEXIST); false too when the
// folder cannot be reached without a link.
bool replace(const QString &top, const QString &from, const QString &to);
// rename(), or for a regular file on another file system a copy under a
// temporary name in the folder of `to` (recordnames::movingName), checked
// (whole, on the disk), renamed to `to` without replacing, and then the
// original deleted; on any failure the copy goes and the original stays.
// What a move cut short left under `to` is finished: the whole copy there
// lets the original go, a part of it gives way to a new copy. A move that
// fails gives *why, for the operator, when there is more to say than what
// was told already (a link or no regular file at `from`): a full disk,
// what stands under the new name or under the copy's temporary name.
bool move(const QString &top, const QString &from, const QString &to, QString *why = nullptr);

// Makes `folder` and the folders above it down from `top`; the top itself
// (also for makeFolder(top, top)) is made as QDir::mkpath makes it. False when a link or a file stands on
// the way (told) or a folder cannot be made.
bool makeFolder(const QString &top, const QString &folder);
// Deletes an empty real folder; never a link.
bool removeFolder(const QString &top, const QString &folder);

// Tells once (per path, while the process runs) that `path` is left alone.
void tell(const QString &path);

// Test seam, set by tests only: called with the path before every change
// made here (a folder made or removed, an open that may write, a rename, a
// replace, a deletion), so that a test can end the process at that point as
// a kill would.
void setBeforeChangeHook(std::function<void(const QString &path)> hook);

} // namespace recordfileguard
