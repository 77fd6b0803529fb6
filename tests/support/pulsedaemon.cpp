#include "tests/support/pulsedaemon.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <sys/types.h>

namespace testsupport {

PulseDaemon::PulseDaemon() = default;

PulseDaemon::~PulseDaemon()
{
    if (m_process.state() != QProcess::NotRunning) {
        ::kill(pid_t(m_process.processId()), SIGTERM);
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    if (m_hadServer)
        qputenv("PULSE_SERVER", m_previousServer);
    else if (!m_server.isEmpty())
        qunsetenv("PULSE_SERVER");
}

QProcessEnvironment PulseDaemon::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", m_dir.filePath("home"));
    env.insert("XDG_RUNTIME_DIR", m_dir.filePath("run"));
    env.insert("PULSE_RUNTIME_PATH", m_dir.filePath("run"));
    if (!m_server.isEmpty())
        env.insert("PULSE_SERVER", m_server);
    return env;
}

bool PulseDaemon::start(QString *why)
{
    auto fail = [why](const QString &reason) {
        if (why)
            *why = reason;
        return false;
    };
    const QString program = QStandardPaths::findExecutable("pulseaudio");
    if (program.isEmpty())
        return fail("pulseaudio is not installed");
    if (!m_dir.isValid())
        return fail("no temporary folder");
    QDir(m_dir.path()).mkpath("home");
    QDir(m_dir.path()).mkpath("run");
    QFile script(m_dir.filePath("default.pa"));
    if (!script.open(QIODevice::WriteOnly))
        return fail("cannot write the start-up script");
    // The socket comes last, so a client that finds it finds the sink too.
    script.write("load-module module-null-sink sink_name=testout\n"
                 "set-default-sink testout\n"
                 "load-module module-native-protocol-unix\n");
    script.close();

    m_process.setProcessEnvironment(environment());
    m_process.setWorkingDirectory(m_dir.path());
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.start(program, {"-n", "-F", script.fileName(), "--daemonize=no", "--exit-idle-time=-1",
                              "--disable-shm=yes", "--log-level=error", "--log-target=stderr"});
    if (!m_process.waitForStarted(5000))
        return fail("pulseaudio did not start");
    const QString socket = m_dir.filePath("run/native");
    QElapsedTimer t;
    t.start();
    while (!QFile::exists(socket)) {
        if (m_process.state() == QProcess::NotRunning || t.elapsed() > 10000)
            return fail("pulseaudio did not open its socket");
        QThread::msleep(20);
    }
    m_server = "unix:" + socket;
    m_hadServer = qEnvironmentVariableIsSet("PULSE_SERVER");
    m_previousServer = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", m_server.toLocal8Bit());
    return true;
}

} // namespace testsupport
