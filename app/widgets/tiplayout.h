#pragma once

#include <QFontMetrics>
#include <QString>
#include <QStringList>
#include <QVector>

// How popup tips lay out: a file path fitted to the tip's message area, and
// the place of each tip among those shown at once.
namespace tiplayout {

// The lines that show path within width pixels and at most maxLines lines:
// the whole path broken anywhere when it fits, otherwise its beginning and
// end around an ellipsis in the middle, as much of both as fits. A path has
// no spaces to break at, so a word-wrapping label would run it off the
// edge.
QStringList fitPath(const QString &path, const QFontMetrics &metrics, int width, int maxLines);

// Places in a stack of tips: 0 in the corner, each next one above the
// last. A tip takes the lowest free place when it shows and frees it when
// it goes, so tips shown together do not cover one another.
class Stack
{
public:
    int take();
    void release(int place);
    // The one stack of the program's tips.
    static Stack &tips();

private:
    QVector<bool> m_taken;
};

} // namespace tiplayout
