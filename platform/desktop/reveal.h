#pragma once

#include <QString>

namespace platform {

// Opens the desktop's file manager on the folder holding path, with the file
// selected where the file manager supports it. The path travels as one
// argument; no command line is built from it.
// Returns false when neither the file manager nor the folder could be opened.
bool revealInFileManager(const QString &path);

} // namespace platform
