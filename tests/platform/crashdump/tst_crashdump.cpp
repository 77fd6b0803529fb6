#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>

class TestCrashDump : public QObject
{
    Q_OBJECT

    struct Run
    {
        bool finished = false;
        bool crashed = false;
        int signal = 0;
        QByteArray out;
    };

    Run run(const QString &dir, const QString &mode)
    {
        QProcess p;
        p.setWorkingDirectory(dir);
        p.start(QStringLiteral(FAULTER_PATH), {mode});
        Run r;
        if (!p.waitForStarted(5000))
            return r;
        r.finished = p.waitForFinished(10000);
        if (!r.finished) {
            p.kill();
            p.waitForFinished(2000);
            return r;
        }
        r.crashed = p.exitStatus() == QProcess::CrashExit;
        r.signal = p.exitCode(); // the terminating signal for a crash
        r.out = p.readAllStandardOutput();
        return r;
    }

    static QByteArray dump(const QString &dir)
    {
        QFile f(QDir(dir).filePath("Korvista.dmp"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void faults_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("signal");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("function");
        QTest::newRow("null write") << "segv" << int(SIGSEGV) << QByteArray("SIGSEGV")
                                    << QByteArray("faulterNullWrite");
        QTest::newRow("worker thread") << "thread" << int(SIGSEGV) << QByteArray("SIGSEGV")
                                       << QByteArray("faulterWorker");
        QTest::newRow("abort") << "abort" << int(SIGABRT) << QByteArray("SIGABRT") << QByteArray("faulterAbort");
        QTest::newRow("uncaught exception")
            << "throw" << int(SIGABRT) << QByteArray("SIGABRT") << QByteArray("faulterThrow");
        QTest::newRow("division by zero")
            << "fpe" << int(SIGFPE) << QByteArray("SIGFPE") << QByteArray("faulterDivide");
    }

    void faults()
    {
        QFETCH(QString, mode);
        QFETCH(int, signal);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, function);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        {
            // An older dump is replaced, not appended to.
            QFile old(dir.filePath("Korvista.dmp"));
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(100000, 'X'));
        }
        const Run r = run(dir.path(), mode);
        QVERIFY2(r.finished, "the process hung");
        QVERIFY(r.crashed);
        QCOMPARE(r.signal, signal);

        const QByteArray text = dump(dir.path());
        QVERIFY(!text.contains("XXXX"));
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(dir.filePath("Korvista.dmp")).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        const QList<QByteArray> lines = text.split('\n');
        QVERIFY(lines.size() > 5);
        QVERIFY2(lines[0].startsWith("signal " + QByteArray::number(signal) + " (" + name + ") code "),
                 lines[0].constData());
        QVERIFY(lines[0].contains(" address 0x"));
        QVERIFY(lines[1].startsWith("pid "));
        QVERIFY(lines[2].startsWith("time "));
        QCOMPARE(lines[3], QByteArray("backtrace:"));
        const int maps = lines.indexOf("maps:");
        QVERIFY(maps > 4);
        bool named = false;
        for (int i = 4; i < maps; ++i)
            named = named || lines[i].contains("(" + function + "+");
        QVERIFY2(named, text.left(3000).constData());
        const QByteArray exe = QFileInfo(QStringLiteral(FAULTER_PATH)).canonicalFilePath().toLocal8Bit();
        bool mapped = false;
        for (int i = maps + 1; i < lines.size(); ++i)
            mapped = mapped || lines[i].endsWith(exe);
        QVERIFY(mapped);

        if (mode == "thread") {
            const QByteArray tid = r.out.trimmed().split(' ').last();
            QVERIFY(!tid.isEmpty());
            QVERIFY2(lines[1].endsWith(" tid " + tid), lines[1].constData());
            QVERIFY(!lines[1].startsWith("pid " + tid + " "));
        }
    }

    // Neither a directory nor a link at the dump's path is written through.
    void dumpCannotBeWritten_data()
    {
        QTest::addColumn<bool>("link");
        QTest::newRow("directory") << false;
        QTest::newRow("symbolic link") << true;
    }

    void dumpCannotBeWritten()
    {
        QFETCH(bool, link);
        QTemporaryDir dir;
        const QString path = dir.filePath("Korvista.dmp");
        const QString target = dir.filePath("target");
        if (link) {
            QFile t(target);
            QVERIFY(t.open(QIODevice::WriteOnly));
            t.write("kept");
            t.close();
            QVERIFY(QFile::link(target, path));
        } else {
            QVERIFY(QDir(dir.path()).mkdir("Korvista.dmp"));
        }
        const Run r = run(dir.path(), "segv");
        QVERIFY2(r.finished, "the process hung");
        QVERIFY(r.crashed);
        QCOMPARE(r.signal, int(SIGSEGV));
        if (link) {
            QVERIFY(QFileInfo(path).isSymLink());
            QFile t(target);
            QVERIFY(t.open(QIODevice::ReadOnly));
            QCOMPARE(t.readAll(), QByteArray("kept"));
        } else {
            QVERIFY(QFileInfo(path).isDir());
        }
    }
};

QTEST_GUILESS_MAIN(TestCrashDump)
#include "tst_crashdump.moc"
