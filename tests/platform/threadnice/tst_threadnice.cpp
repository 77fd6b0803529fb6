#include <QtTest>

#include <atomic>
#include <thread>

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/threadnice.h"

namespace {

pid_t tid()
{
    return pid_t(::syscall(SYS_gettid));
}

// The nice value as the kernel reports it for one thread (field 19 of stat).
int niceOf(pid_t thread)
{
    QFile f(QStringLiteral("/proc/self/task/%1/stat").arg(thread));
    if (!f.open(QIODevice::ReadOnly))
        return -100;
    const QByteArray line = f.readAll();
    // The command name may hold spaces; fields count from after its ')'.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 16 ? fields.at(16).toInt() : -100;
}

// Drops CAP_SYS_NICE from the calling thread only (capabilities are per
// thread on Linux), so the test sees what an unprivileged user sees even
// when it runs as root.
bool dropSysNice()
{
    __user_cap_header_struct hdr{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &hdr, data) != 0)
        return false;
    data[CAP_SYS_NICE / 32].effective &= ~(1u << (CAP_SYS_NICE % 32));
    return ::syscall(SYS_capset, &hdr, data) == 0;
}

// Runs fn on a fresh thread and waits for it.
template <typename Fn>
void onThread(Fn fn)
{
    std::thread t(fn);
    t.join();
}

} // namespace

class TestThreadNice : public QObject
{
    Q_OBJECT
private slots:
    void lowerOneThreadOnly()
    {
        const pid_t mainTid = tid();
        const int mainBefore = niceOf(mainTid);
        std::atomic<pid_t> otherTid{0};
        std::atomic<bool> release{false};
        std::thread other([&] {
            otherTid = tid();
            while (!release)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        });
        while (!otherTid)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const int otherBefore = niceOf(otherTid);

        int seen = -100;
        onThread([&] {
            QVERIFY(platform::applyThreadPriority(QThread::LowPriority));
            seen = niceOf(tid());
            QCOMPARE(platform::currentThreadNice(), seen);
        });
        // "Low" never raises a thread that already runs below it (a test run under nice).
        QCOMPARE(seen, qMax(10, mainBefore));
        QCOMPARE(niceOf(mainTid), mainBefore);
        QCOMPARE(niceOf(otherTid), otherBefore);
        release = true;
        other.join();
    }

    void priorityMapping_data()
    {
        QTest::addColumn<int>("priority");
        // New threads inherit the creator's value; 0 stands for it.
        QTest::addColumn<int>("nice");
        QTest::newRow("idle") << int(QThread::IdlePriority) << 19;
        QTest::newRow("lowest") << int(QThread::LowestPriority) << 10;
        QTest::newRow("low") << int(QThread::LowPriority) << 10;
        QTest::newRow("normal") << int(QThread::NormalPriority) << 0;
        QTest::newRow("inherit") << int(QThread::InheritPriority) << 0;
    }

    void priorityMapping()
    {
        QFETCH(int, priority);
        QFETCH(int, nice);
        const int base = niceOf(tid());
        bool ok = false;
        int seen = -100;
        onThread([&] {
            ok = platform::applyThreadPriority(QThread::Priority(priority));
            seen = platform::currentThreadNice();
        });
        QVERIFY(ok);
        QCOMPARE(seen, nice == 0 ? base : qMax(nice, base));
    }

    void lowDoesNotRaiseIdle()
    {
        int nice = -100;
        bool ok = false;
        onThread([&] {
            platform::applyThreadPriority(QThread::IdlePriority);
            ok = platform::applyThreadPriority(QThread::LowPriority);
            nice = platform::currentThreadNice();
        });
        QVERIFY(ok);
        QCOMPARE(nice, 19);
        QVERIFY(!platform::setCurrentThreadNice(20));
        QVERIFY(!platform::setCurrentThreadNice(-21));
    }

    void raisingFailsWithoutPrivilege()
    {
        rlimit lim{};
        ::getrlimit(RLIMIT_NICE, &lim);
        if (lim.rlim_cur > 0)
            QSKIP("RLIMIT_NICE lets this user raise priorities");
        // Start from 5, or from where the run already is when it runs under nice.
        const int start = qBound(5, niceOf(tid()), 19);
        bool dropped = false;
        int before = -100, after = -100;
        bool raw = true;
        bool high = true, highest = true, critical = true;
        onThread([&] {
            dropped = dropSysNice();
            platform::setCurrentThreadNice(start);
            before = niceOf(tid());
            raw = platform::setCurrentThreadNice(start - 1);
            high = platform::applyThreadPriority(QThread::HighPriority);
            highest = platform::applyThreadPriority(QThread::HighestPriority);
            critical = platform::applyThreadPriority(QThread::TimeCriticalPriority);
            after = niceOf(tid());
        });
        QVERIFY(dropped);
        QCOMPARE(before, start);
        QVERIFY(!raw);
        QVERIFY(!high);
        QVERIFY(!highest);
        QVERIFY(!critical);
        QCOMPARE(after, start);
    }
};

QTEST_GUILESS_MAIN(TestThreadNice)
#include "tst_threadnice.moc"
