#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

namespace testsupport {

// A private PulseAudio server for one test: started as the test's own child
// with its runtime files in a temporary folder, a null sink "testout" as the
// default sink, and stopped by its process id when the object goes. The
// test process is pointed at it through PULSE_SERVER, so Qt Multimedia and
// the pulse tools use it and no machine-wide server is touched.
class PulseDaemon
{
public:
    PulseDaemon();
    ~PulseDaemon();

    // False (with a reason) where pulseaudio is not installed or did not come up.
    bool start(QString *why = nullptr);
    QString server() const { return m_server; }
    // An environment for tools (parec, pactl) that talk to this server.
    QProcessEnvironment environment() const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_server;
    QByteArray m_previousServer;
    bool m_hadServer = false;
};

} // namespace testsupport
