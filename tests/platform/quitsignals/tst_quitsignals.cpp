#include "platform/quitsignals.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void (*handlerOf(int sig))(int)
{
    struct sigaction sa;
    sigaction(sig, nullptr, &sa);
    return sa.sa_handler;
}

void priorHandler(int) {}

void setHandler(int sig, void (*handler)(int))
{
    struct sigaction sa;
    memset(&sa, 0, sizeof(sa));
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
}

} // namespace

// The client's end to end run (SIGTERM while it records) is in app.signals.
class TestQuitSignals : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        for (int sig : {SIGTERM, SIGINT, SIGHUP})
            setHandler(sig, SIG_DFL);
    }

    void signalReachesTheLoop_data()
    {
        QTest::addColumn<int>("sig");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }

    void signalReachesTheLoop()
    {
        QFETCH(int, sig);
        platform::QuitSignals quit;
        QVERIFY(quit.isValid());
        QCOMPARE(platform::QuitSignals::received(), 0);
        QSignalSpy spy(&quit, &platform::QuitSignals::quitRequested);
        // Sent to the process: any of its threads may take it.
        QCOMPARE(::kill(getpid(), sig), 0);
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), sig);
        QCOMPARE(platform::QuitSignals::received(), sig);
    }

    void oneHolderAndDefaultsRestored()
    {
        // The fault signals are the crash handler's (here the sanitizer's).
        const auto fault = handlerOf(SIGSEGV);
        auto first = std::make_unique<platform::QuitSignals>();
        QVERIFY(first->isValid());
        QVERIFY(handlerOf(SIGTERM) != SIG_DFL);
        platform::QuitSignals second;
        QVERIFY(!second.isValid());
        first.reset();
        for (int sig : {SIGTERM, SIGINT, SIGHUP})
            QVERIFY(handlerOf(sig) == SIG_DFL);
        QVERIFY(handlerOf(SIGSEGV) == fault);
    }

    void priorActionKeptAndGivenBack_data()
    {
        QTest::addColumn<int>("sig");
        QTest::addColumn<bool>("ignored");
        QTest::newRow("SIGHUP ignored (nohup)") << int(SIGHUP) << true;
        QTest::newRow("SIGINT ignored") << int(SIGINT) << true;
        QTest::newRow("SIGTERM handled") << int(SIGTERM) << false;
    }

    // Started with a signal ignored, the process was meant to outlive what
    // sends it: it stays ignored. A handler found is taken over for the
    // object's life and then given back.
    void priorActionKeptAndGivenBack()
    {
        QFETCH(int, sig);
        QFETCH(bool, ignored);
        const auto prior = ignored ? SIG_IGN : priorHandler;
        setHandler(sig, prior);
        auto quit = std::make_unique<platform::QuitSignals>();
        QVERIFY(quit->isValid());
        QCOMPARE(handlerOf(sig) == prior, ignored);
        for (int other : {SIGTERM, SIGINT, SIGHUP})
            if (other != sig)
                QVERIFY(handlerOf(other) != SIG_DFL && handlerOf(other) != SIG_IGN);
        quit.reset();
        QVERIFY(handlerOf(sig) == prior);
    }

    void secondSignalEnds_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::newRow("SIGTERM twice") << int(SIGTERM) << int(SIGTERM);
        QTest::newRow("SIGTERM, then SIGINT") << int(SIGTERM) << int(SIGINT);
    }

    // A close that never ends must not keep the process: the second signal
    // ends it by itself, without the loop.
    void secondSignalEnds()
    {
        QFETCH(int, first);
        QFETCH(int, second);
        auto quit = std::make_unique<platform::QuitSignals>();
        QVERIFY(quit->isValid());
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            raise(first);
            raise(second);
            _exit(0);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY2(WIFSIGNALED(status), qPrintable(QString("exit code %1").arg(WEXITSTATUS(status))));
        QCOMPARE(WTERMSIG(status), second);
        // The child wrote its first signal into the pipe it shares with us;
        // gone with the object before the loop reads it.
        quit.reset();
    }
};

QTEST_GUILESS_MAIN(TestQuitSignals)
#include "tst_quitsignals.moc"
