#pragma once

#include <QString>

// Texts an operator typed or a device sent (names, alarm and OSD texts,
// paths, replies) are shown as written. A label takes them as plain text
// (Qt::PlainText); a tool tip has no such switch and reads anything that
// looks like markup as rich text, where "<img src=...>" would load a file.
namespace plaintext {

// The tool tip that shows `text` as written: the text itself when Qt would
// take it as plain anyway, else its characters escaped in a paragraph that
// keeps its spaces and line breaks.
QString toolTip(const QString &text);

} // namespace plaintext
