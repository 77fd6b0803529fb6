#pragma once

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <functional>

// Every picture stored under the snapshot tree's top goes through here, the
// timed and alarm pictures fetched from a device and a view's manual
// snapshot alike, and so does every picture that could not be: it is told
// the one way (recordlog::pictureNotStored), whatever kept it from the disk.
namespace capturefile {

// The cause of a snapshot that had no picture to take (the camera delivers
// no video), beside the errno values of a failed write.
constexpr int kNoPicture = ENODATA;

inline bool noRoom(int error)
{
    return error == ENOSPC || error == EDQUOT;
}

// The file of the `raise`-th try, 0 first; a name already taken (a second
// picture in the same millisecond) asks for the next. Empty when no name can
// be made.
using Namer = std::function<QString(int raise)>;

// Writes the picture into a new file under `root`, its folder made first,
// never through a link. Returns the file, or an empty string when nothing
// was stored: what a failed write began is removed, the failure told and its
// errno kept in *error (0 on success).
QString store(const QString &root, const Namer &name, const QByteArray &bytes, int *error = nullptr);

// A snapshot refused before anything was written (`path`: the file it would
// have been, or the device's folder), told as a picture not stored.
void notTaken(const QString &path, int error = kNoPicture);

} // namespace capturefile
