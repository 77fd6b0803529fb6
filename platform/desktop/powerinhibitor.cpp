#include "platform/desktop/powerinhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDebug>

#include <fcntl.h>
#include <unistd.h>

namespace platform {
namespace {

const char kApplication[] = "ARDO Client";
const int kTimeoutMs = 1000;

QDBusMessage callOn(QDBusConnection bus, const QDBusMessage &msg)
{
    if (!bus.isConnected())
        return QDBusMessage::createError(QStringLiteral("org.freedesktop.DBus.Error.NoServer"),
                                         QStringLiteral("bus not connected"));
    return bus.call(msg, QDBus::Block, kTimeoutMs);
}

} // namespace

PowerInhibitor::~PowerInhibitor()
{
    release();
}

bool PowerInhibitor::acquire(const QString &reason)
{
    if (isHeld())
        return true;

    QDBusMessage saver = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/org/freedesktop/ScreenSaver"),
        QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("Inhibit"));
    saver << QString::fromLatin1(kApplication) << reason;
    const QDBusMessage saverReply = callOn(QDBusConnection::sessionBus(), saver);
    if (saverReply.type() == QDBusMessage::ReplyMessage && !saverReply.arguments().isEmpty()) {
        m_cookie = saverReply.arguments().first().toUInt();
        m_haveCookie = true;
    } else {
        qDebug() << "screen saver inhibition not available:" << saverReply.errorMessage();
    }

    QDBusMessage login = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    login << QStringLiteral("sleep:idle") << QString::fromLatin1(kApplication) << reason << QStringLiteral("block");
    const QDBusMessage loginReply = callOn(QDBusConnection::systemBus(), login);
    if (loginReply.type() == QDBusMessage::ReplyMessage && !loginReply.arguments().isEmpty()) {
        const QDBusUnixFileDescriptor fd = loginReply.arguments().first().value<QDBusUnixFileDescriptor>();
        if (fd.isValid())
            m_sleepFd = fcntl(fd.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    }
    if (m_sleepFd < 0)
        qDebug() << "suspend inhibition not available:" << loginReply.errorMessage();

    return isHeld();
}

void PowerInhibitor::release()
{
    if (m_haveCookie) {
        QDBusMessage msg = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/org/freedesktop/ScreenSaver"),
            QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("UnInhibit"));
        msg << m_cookie;
        callOn(QDBusConnection::sessionBus(), msg);
        m_haveCookie = false;
        m_cookie = 0;
    }
    if (m_sleepFd >= 0) {
        ::close(m_sleepFd);
        m_sleepFd = -1;
    }
}

} // namespace platform
