#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace testsupport {

// A file's bytes, through a link too; empty when it cannot be read.
inline QByteArray bytesOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace testsupport
