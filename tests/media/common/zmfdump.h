#pragma once

// Runs a tool, and the record-file tool (the suite's build passes its path
// as ZMFDUMP) over a recording or a folder.

#include "platform/clock.h"

#include <QByteArray>
#include <QDebug>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace mediatest {

// The program's exit code (-1 when it did not end by itself within 30 s), its
// standard output in *out.
inline int run(const QString &program, const QStringList &args, QByteArray *out = nullptr)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(30000))
        return -1;
    if (out)
        *out = p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

#ifdef ZMFDUMP
inline int zmfdump(const QStringList &args, QByteArray *out = nullptr)
{
    return run(QStringLiteral(ZMFDUMP), args, out);
}

// The folder's two indexes agree with its files, as the tool sees it at the
// test's present (a fake clock's, when one is set); its report is printed
// when they do not.
inline bool consistent(const QString &folder, QByteArray *report = nullptr)
{
    QByteArray out;
    const int code = zmfdump({"--index", folder, "--now", platform::localNow().toString(Qt::ISODateWithMs)}, &out);
    if (report)
        *report = out;
    if (code != 0)
        qInfo().noquote() << out;
    return code == 0;
}
#endif

} // namespace mediatest
