#pragma once

#include <QDBusUnixFileDescriptor>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QThread>

// Fake desktop services on the private session bus. They live on a thread
// of their own so that the code under test may block on its calls.
class FakeScreenSaver : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public slots:
    uint Inhibit(const QString &application, const QString &reason);
    void UnInhibit(uint cookie);
};

class FakeLogin : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public slots:
    QDBusUnixFileDescriptor Inhibit(const QString &what, const QString &who, const QString &why, const QString &mode);
};

class FakeFileManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public slots:
    void ShowItems(const QStringList &uris, const QString &startupId);
};

struct FakeLog
{
    QMutex mutex;
    QList<QStringList> calls; // method name first, then the arguments as text
    int inhibitReadFd = -1;   // our end of the descriptor handed out by login1

    // Removes and returns the calls of one method.
    QList<QStringList> take(const QString &method);
};
FakeLog &fakeLog();

class FakeBus : public QObject
{
    Q_OBJECT
public:
    FakeBus();
    ~FakeBus() override;

    // Registers or drops the three services; blocking.
    bool up();
    void down();

private:
    QThread m_thread;
    QObject *m_host = nullptr;
};

// Runs the calling test program again under dbus-run-session unless it
// already runs there; returns -1 in the child, else the child's exit code.
int runOnPrivateBus(int argc, char **argv);

// The main() of a suite that talks to the fakes.
#define FAKEBUS_TEST_MAIN(TestClass, AppClass)                                                                         \
    int main(int argc, char **argv)                                                                                    \
    {                                                                                                                  \
        const int code = runOnPrivateBus(argc, argv);                                                                  \
        if (code >= 0)                                                                                                 \
            return code;                                                                                               \
        AppClass app(argc, argv);                                                                                      \
        TestClass t;                                                                                                   \
        return QTest::qExec(&t, argc, argv);                                                                           \
    }
