#include "app/core/server.h"
#include "tests/support/runfolder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <memory>

#include <csignal>
#include <sys/stat.h>
#include <sys/types.h>

namespace {

QString xdotool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    p.waitForFinished(10000);
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

// The client runs with the sanitizer's slow, exact unwinding on every
// allocation (its leak stacks must reach the system libraries the
// suppressions name): its main window takes seconds to build, and minutes on
// a machine loaded several times over. The bounds are for that machine.
constexpr int kStartMs = 120000;
constexpr int kMainWindowMs = 240000;

// The first visible window with exactly this title, waiting up to timeoutMs.
QString waitForWindow(const QString &title, QProcess *owner, int timeoutMs = kStartMs)
{
    QString id;
    (void)QTest::qWaitFor(
        [&] {
            id = xdotool({"search", "--onlyvisible", "--name", "^" + title + "$"}).section('\n', 0, 0);
            return !id.isEmpty() || (owner && owner->state() == QProcess::NotRunning);
        },
        timeoutMs);
    return id;
}

// Whether the window is gone (or its owner ended) within timeoutMs.
bool waitForWindowGone(const QString &id, QProcess *owner, int timeoutMs = kStartMs)
{
    return QTest::qWaitFor(
        [&] {
            return owner->state() == QProcess::NotRunning ||
                   !xdotool({"search", "--onlyvisible", "--name", "."}).split('\n').contains(id);
        },
        timeoutMs);
}

// X, Y, WIDTH and HEIGHT of a window.
QMap<QString, int> geometryOf(const QString &id)
{
    QMap<QString, int> g;
    for (const QString &line : xdotool({"getwindowgeometry", "--shell", id}).split('\n'))
        g[line.section('=', 0, 0)] = line.section('=', 1).toInt();
    return g;
}

} // namespace

// QTEST_MAIN keeps an X connection open for the whole run: Xvfb resets when
// its last client leaves, and a client connecting during the reset fails.
class TestProcess : public QObject
{
    Q_OBJECT

    std::unique_ptr<testsupport::RunFolder> m_folder;
    QString m_instanceKey;
    QList<QProcess *> m_clients;

    QProcess *startClient()
    {
        auto *p = new QProcess(this);
        p->setWorkingDirectory(m_folder->path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "xcb");
        if (!m_instanceKey.isEmpty())
            env.insert("ARDO_INSTANCE_KEY", m_instanceKey);
        p->setProcessEnvironment(env);
        p->start(QStringLiteral(CLIENT_PATH), QStringList());
        m_clients << p;
        return p;
    }

    static bool finish(QProcess *p, int ms = 60000)
    {
        return p->state() == QProcess::NotRunning || p->waitForFinished(ms);
    }

    // Reads the box's text from stderr, then dismisses it with the keyboard.
    static void dismissWarning(QProcess *p)
    {
        const QString box = waitForWindow("Warning", p);
        if (box.isEmpty()) {
            QFile dump(QDir(p->workingDirectory()).filePath("Korvista.dmp"));
            dump.open(QIODevice::ReadOnly);
            QFAIL(qPrintable("no warning box; stderr:\n" + p->readAllStandardError() + "\ndump:\n" + dump.read(4000)));
        }
        xdotool({"windowfocus", "--sync", box});
        xdotool({"key", "--clearmodifiers", "Return"});
        QVERIFY(finish(p));
    }

    static void typeLogin(const QString &login, const QString &user, const QString &password)
    {
        xdotool({"windowfocus", "--sync", login});
        xdotool({"type", "--delay", "30", user});
        xdotool({"key", "Tab"});
        xdotool({"type", "--delay", "30", password});
        xdotool({"key", "Return"});
    }

    static void clickCloseButton(const QString &window)
    {
        const QMap<QString, int> g = geometryOf(window);
        xdotool({"mousemove", "--sync", QString::number(g["X"] + g["WIDTH"] - 24), QString::number(g["Y"] + 14)});
        xdotool({"click", "1"});
    }

    void checkClean(QProcess *p)
    {
        const QByteArray err = p->readAllStandardError();
        QVERIFY2(!err.contains("Sanitizer") && !err.contains("runtime error"), err.constData());
        QVERIFY(!QFile::exists(m_folder->filePath("Korvista.dmp")));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(!QStandardPaths::findExecutable("xdotool").isEmpty(), "xdotool is missing");
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "no X display");
        // A developer's running client keeps the real name; use one of our own then.
        if (Server::isServerRunning("qzprys-400"))
            m_instanceKey = QStringLiteral("qzprys-400-test-%1").arg(QCoreApplication::applicationPid());
    }

    void init()
    {
        m_folder = std::make_unique<testsupport::RunFolder>();
        QVERIFY(m_folder->isValid());
    }

    void cleanup()
    {
        for (QProcess *p : m_clients) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
            delete p;
        }
        m_clients.clear();
        m_folder.reset();
    }

    void refusals_data()
    {
        QTest::addColumn<QStringList>("removed");
        QTest::addColumn<QString>("message");
        // What stands in the language file's place afterwards: "" nothing,
        // "pipe" a named pipe nobody writes, else these bytes.
        QTest::addColumn<QByteArray>("language");
        const QString lang = "languages/korvistalang.xml";
        QTest::newRow("no language file, no database")
            << QStringList{lang, "quendalix.xdt"} << "The language file is unavailable!!" << QByteArray();
        QTest::newRow("no database") << QStringList{"quendalix.xdt"}
                                     << "The database file \"quendalix.xdt\" cannot be used (" << QByteArray();
        QTest::newRow("no log database") << QStringList{"cmsclient.logx"}
                                         << "The log database file \"cmsclient.logx\" cannot be used (" << QByteArray();
        QTest::newRow("language file of garbage")
            << QStringList{lang} << "The language file is unavailable!!" << QByteArray("garbage\n\x01\xfe");
        QTest::newRow("named pipe for a language file")
            << QStringList{lang} << "The language file is unavailable!!" << QByteArray("pipe");
    }

    void refusals()
    {
        QFETCH(QStringList, removed);
        QFETCH(QString, message);
        QFETCH(QByteArray, language);
        for (const QString &f : removed)
            QVERIFY(QFile::remove(m_folder->filePath(f)));
        const QString lang = "languages/korvistalang.xml";
        if (!language.isEmpty()) {
            removed.removeAll(lang); // something stands there again
            QFile f(m_folder->filePath(lang));
            if (language == "pipe")
                QCOMPARE(::mkfifo(QFile::encodeName(f.fileName()).constData(), 0600), 0);
            else
                QVERIFY(f.open(QIODevice::WriteOnly) && f.write(language) == language.size());
        }
        QProcess *p = startClient();
        dismissWarning(p);
        QCOMPARE(p->exitStatus(), QProcess::NormalExit);
        QCOMPARE(p->exitCode(), 1);
        const QByteArray err = p->readAllStandardError();
        QVERIFY2(err.contains(message.toUtf8()), err.constData());
        for (const QString &f : removed)
            QVERIFY2(!QFile::exists(m_folder->filePath(f)), qPrintable(f + " was created"));
    }

    void loginAndClose()
    {
        QProcess *p = startClient();
        const QString login = waitForWindow("Login", p);
        QVERIFY2(!login.isEmpty(), p->readAllStandardError().constData());
        typeLogin(login, "admin", "admin");
        // The dialog hides as soon as it takes the login; the main window
        // is built after that.
        QVERIFY2(waitForWindowGone(login, p), "the typed login did not reach the dialog");
        const QString main = waitForWindow("ARDO Client", p, kMainWindowMs);
        QVERIFY2(!main.isEmpty(), p->readAllStandardError().constData());
        QCOMPARE(geometryOf(main)["WIDTH"], 1200);
        // A click before the title bar takes clicks is lost: again until the
        // client ends.
        QVERIFY(QTest::qWaitFor(
            [&] {
                clickCloseButton(main);
                return finish(p, 3000);
            },
            kStartMs));
        QCOMPARE(p->exitStatus(), QProcess::NormalExit);
        QCOMPARE(p->exitCode(), 0);
        checkClean(p);
        const QString rows = testsupport::RunFolder::query(m_folder->filePath("cmsclient.logx"),
                                                           "select logdecl from systemlogs order by rowid");
        QCOMPARE(rows.split('\n'), (QStringList{"login successful", "exit cmslient"}));
    }

    void secondInstanceRefused()
    {
        QProcess *first = startClient();
        QVERIFY2(!waitForWindow("Login", first).isEmpty(), first->readAllStandardError().constData());
        QProcess *second = startClient();
        dismissWarning(second);
        QCOMPARE(second->exitCode(), 1);
        QVERIFY(second->readAllStandardError().contains("An instance is already running!!"));
        QCOMPARE(first->state(), QProcess::Running);
        QVERIFY(Server::isServerRunning(m_instanceKey.isEmpty() ? "qzprys-400" : m_instanceKey));
        QVERIFY(!waitForWindow("Login", first, 1000).isEmpty());
    }

    void startAfterKill()
    {
        QProcess *first = startClient();
        QVERIFY2(!waitForWindow("Login", first).isEmpty(), first->readAllStandardError().constData());
        first->kill();
        QVERIFY(first->waitForFinished(5000));

        QProcess *next = startClient();
        const QString login = waitForWindow("Login", next);
        QVERIFY2(!login.isEmpty(), next->readAllStandardError().constData());

        // A write to a socket whose peer has gone must not end the client.
        QFile status(QStringLiteral("/proc/%1/status").arg(next->processId()));
        QVERIFY(status.open(QIODevice::ReadOnly));
        const QByteArray text = status.readAll();
        const int at = text.indexOf("SigIgn:");
        QVERIFY(at >= 0);
        const quint64 ignored = text.mid(at + 7, text.indexOf('\n', at) - at - 7).trimmed().toULongLong(nullptr, 16);
        QVERIFY(ignored & (quint64(1) << (SIGPIPE - 1)));
        QVERIFY(Server::isServerRunning(m_instanceKey.isEmpty() ? "qzprys-400" : m_instanceKey));
        // Cancel ends the client: name, password, check box, login, cancel.
        xdotool({"windowfocus", "--sync", login});
        for (int i = 0; i < 4; ++i)
            xdotool({"key", "Tab"});
        xdotool({"key", "space"});
        QVERIFY(finish(next));
        QCOMPARE(next->exitStatus(), QProcess::NormalExit);
        QCOMPARE(next->exitCode(), 0);
        checkClean(next);
    }

    void faultLeavesReport()
    {
        QProcess *p = startClient();
        QVERIFY2(!waitForWindow("Login", p).isEmpty(), p->readAllStandardError().constData());
        ::kill(pid_t(p->processId()), SIGSEGV);
        QVERIFY(finish(p, 10000));
        QCOMPARE(p->exitStatus(), QProcess::CrashExit);
        QFile dump(m_folder->filePath("Korvista.dmp"));
        QVERIFY(dump.open(QIODevice::ReadOnly));
        const QByteArray text = dump.readAll();
        // What the dump holds is platform.crashdump's; here that the client writes one.
        QVERIFY2(text.startsWith("signal 11 (SIGSEGV)"), text.left(200).constData());
    }
};

QTEST_MAIN(TestProcess)
#include "tst_process.moc"
