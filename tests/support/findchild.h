#pragma once

// A named child a test cannot go on without: a missing one stops the suite
// with its name rather than crashing on a null pointer. Header only.

#include <QObject>
#include <QString>

namespace testsupport {

template <class T>
T *requireChild(const QObject *parent, const QString &name)
{
    T *w = parent->findChild<T *>(name);
    if (!w)
        qFatal("no child %s", qPrintable(name));
    return w;
}

} // namespace testsupport
