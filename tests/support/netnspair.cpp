#include "tests/support/netnspair.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace testsupport {

NetnsPair::NetnsPair(const QString &tag)
{
    const QString id = tag + QLatin1Char('-') + QString::number(QCoreApplication::applicationPid());
    if (geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty()) {
        m_error = QStringLiteral("needs root and iproute2");
        return;
    }
    for (int side = 0; side < 2; ++side) {
        m_names[side] = QStringLiteral("ardo-%1-%2").arg(id).arg(side);
        // Interface names have at most 15 characters.
        m_links[side] = QStringLiteral("v%1%2").arg(QCoreApplication::applicationPid()).arg(side);
    }
    if (!ip({"netns", "add", m_names[0]})) {
        m_error = QStringLiteral("cannot make a network namespace here");
        m_names[0].clear();
        m_names[1].clear();
        return;
    }
    m_ok = ip({"netns", "add", m_names[1]}) && ip({"link", "add", m_links[0], "netns", m_names[0], "type", "veth",
                                                   "peer", "name", m_links[1], "netns", m_names[1]});
    for (int side = 0; m_ok && side < 2; ++side) {
        m_ok = ip({"-n", m_names[side], "addr", "add", address(side) + "/24", "dev", m_links[side]}) &&
               ip({"-n", m_names[side], "link", "set", "lo", "up"}) &&
               ip({"-n", m_names[side], "link", "set", m_links[side], "up"});
    }
    if (!m_ok)
        m_error = QStringLiteral("cannot set up the veth pair");
}

NetnsPair::~NetnsPair()
{
    for (const QString &name : m_names) {
        if (!name.isEmpty())
            ip({"netns", "del", name});
    }
}

bool NetnsPair::ip(const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QStringLiteral("ip"), args);
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool NetnsPair::enter(int side) const
{
    if (!m_ok)
        return false;
    const QByteArray path = QFile::encodeName(QStringLiteral("/run/netns/") + m_names[side]);
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool entered = setns(fd, CLONE_NEWNET) == 0;
    ::close(fd);
    return entered;
}

bool NetnsPair::setLinkUp(bool up)
{
    return m_ok && ip({"-n", m_names[1], "link", "set", m_links[1], up ? "up" : "down"});
}

} // namespace testsupport
