#pragma once

#include <QStringList>

class QCoreApplication;

// The probe's modes; each takes the arguments after its name and returns
// the exit code.
int devprobeP2p(QCoreApplication &app, const QStringList &args);
