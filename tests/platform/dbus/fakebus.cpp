#include "fakebus.h"

#include <QDBusConnection>
#include <QMutexLocker>

#include <fcntl.h>
#include <unistd.h>

#include <vector>

namespace {
const char kBusName[] = "ardo-fakes";
}

FakeLog &fakeLog()
{
    static FakeLog log;
    return log;
}

QList<QStringList> FakeLog::take(const QString &method)
{
    QMutexLocker lock(&mutex);
    QList<QStringList> out;
    QList<QStringList> rest;
    for (const QStringList &c : calls) {
        if (c.first() == method)
            out << c.mid(1);
        else
            rest << c;
    }
    calls = rest;
    return out;
}

static void record(const QStringList &call)
{
    QMutexLocker lock(&fakeLog().mutex);
    fakeLog().calls << call;
}

uint FakeScreenSaver::Inhibit(const QString &application, const QString &reason)
{
    record({"ScreenSaver.Inhibit", application, reason});
    return 77;
}

void FakeScreenSaver::UnInhibit(uint cookie)
{
    record({"ScreenSaver.UnInhibit", QString::number(cookie)});
}

QDBusUnixFileDescriptor FakeLogin::Inhibit(const QString &what, const QString &who, const QString &why,
                                           const QString &mode)
{
    record({"login1.Inhibit", what, who, why, mode});
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return QDBusUnixFileDescriptor();
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    {
        QMutexLocker lock(&fakeLog().mutex);
        fakeLog().inhibitReadFd = fds[0];
    }
    QDBusUnixFileDescriptor out(fds[1]); // duplicates
    ::close(fds[1]);
    return out;
}

void FakeFileManager::ShowItems(const QStringList &uris, const QString &startupId)
{
    record(QStringList{"FileManager1.ShowItems", startupId} + uris);
}

FakeBus::FakeBus()
{
    m_host = new QObject;
    m_host->moveToThread(&m_thread);
    m_thread.start();
}

FakeBus::~FakeBus()
{
    down();
    m_thread.quit();
    m_thread.wait();
    delete m_host; // its thread has ended
}

bool FakeBus::up()
{
    bool ok = false;
    QMetaObject::invokeMethod(
        m_host,
        [&ok, this]() {
            QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, kBusName);
            auto *saver = new FakeScreenSaver;
            auto *login = new FakeLogin;
            auto *files = new FakeFileManager;
            for (QObject *o :
                 {static_cast<QObject *>(saver), static_cast<QObject *>(login), static_cast<QObject *>(files)})
                o->setParent(m_host);
            ok = bus.isConnected() &&
                 bus.registerObject("/org/freedesktop/ScreenSaver", saver, QDBusConnection::ExportAllSlots) &&
                 bus.registerObject("/org/freedesktop/login1", login, QDBusConnection::ExportAllSlots) &&
                 bus.registerObject("/org/freedesktop/FileManager1", files, QDBusConnection::ExportAllSlots) &&
                 bus.registerService("org.freedesktop.ScreenSaver") && bus.registerService("org.freedesktop.login1") &&
                 bus.registerService("org.freedesktop.FileManager1");
        },
        Qt::BlockingQueuedConnection);
    return ok;
}

void FakeBus::down()
{
    QMetaObject::invokeMethod(
        m_host,
        [this]() {
            {
                QDBusConnection bus(kBusName);
                if (bus.isConnected()) {
                    bus.unregisterService("org.freedesktop.ScreenSaver");
                    bus.unregisterService("org.freedesktop.login1");
                    bus.unregisterService("org.freedesktop.FileManager1");
                    bus.unregisterObject("/org/freedesktop/ScreenSaver");
                    bus.unregisterObject("/org/freedesktop/login1");
                    bus.unregisterObject("/org/freedesktop/FileManager1");
                }
            }
            QDBusConnection::disconnectFromBus(kBusName);
            qDeleteAll(m_host->children());
        },
        Qt::BlockingQueuedConnection);
}

int runOnPrivateBus(int argc, char **argv)
{
    if (qgetenv("ARDO_PRIVATE_BUS") == "1") {
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", qgetenv("DBUS_SESSION_BUS_ADDRESS"));
        return -1;
    }
    setenv("ARDO_PRIVATE_BUS", "1", 1);
    std::vector<char *> args;
    args.push_back(const_cast<char *>("dbus-run-session"));
    args.push_back(const_cast<char *>("--"));
    for (int i = 0; i < argc; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    execvp("dbus-run-session", args.data());
    perror("dbus-run-session");
    return 1;
}
