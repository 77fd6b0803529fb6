// How long one operator action keeps the GUI thread while another program
// holds the local database (a transaction begun with BEGIN EXCLUSIVE, as a
// backup tool or a database browser holds it): opening the main window,
// entering the local settings page, the live page's refresh after a save,
// and a login. Each action runs in a turn of its own; the figures are the
// median time the call took, with the file held and free, and how many busy
// waits the held run began.
//
//   build-release/bench/bench_heldlock
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include "benchsupport.h"

#include "app/core/currentuser.h"
#include "app/core/database.h"
#include "app/core/loghelper.h"
#include "app/core/qclanguagexml.h"
#include "app/shell/cmsclient.h"
#include "app/shell/qwlogin.h"
#include "liveview/qwliveview.h"
#include "localsettings/qwlocalsetting.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

// Another connection to the database file, holding it until released.
class Holder
{
public:
    bool hold()
    {
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-held"));
        m_db.setDatabaseName(QString::fromLatin1(qcDatabase::kFileName));
        return m_db.open() && QSqlQuery(m_db).exec(QStringLiteral("begin exclusive"));
    }
    void release()
    {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("bench-held"));
    }

private:
    QSqlDatabase m_db;
};

constexpr int kRuns = 5;

// A new turn of the event loop: what one action left behind is done.
void settle()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

struct Figures
{
    double heldMs = 0;
    double freeMs = 0;
    double waits = 0;
};

// `action` timed kRuns times with the file held and as often free.
Figures measure(const std::function<void()> &prepare, const std::function<void()> &action,
                const std::function<void()> &after)
{
    std::vector<double> held, free, waits;
    for (int r = 0; r < kRuns; ++r) {
        for (bool locked : {true, false}) {
            prepare();
            settle();
            Holder holder;
            if (locked && !holder.hold())
                std::fprintf(stderr, "the database could not be held\n");
            const quint64 before = g_database->busyWaits();
            QElapsedTimer clock;
            clock.start();
            action();
            const double ms = clock.nsecsElapsed() / 1e6;
            (locked ? held : free).push_back(ms);
            if (locked)
                waits.push_back(double(g_database->busyWaits() - before));
            holder.release();
            settle();
            after();
        }
    }
    return {benchsupport::median(held), benchsupport::median(free), benchsupport::median(waits)};
}

// The seed's databases and language file, in the current folder.
bool copySeeds()
{
    QDir().mkdir(QStringLiteral("languages"));
    for (const char *name : {qcDatabase::kFileName, qcLogHelper::kFileName, "languages/korvistalang.xml"}) {
        const QString target = QString::fromLatin1(name);
        if (!QFile::copy(QStringLiteral(ARDO_SEED_DIR "/") + target, target) ||
            !QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path()) || !copySeeds()) {
        std::fprintf(stderr, "no run folder: are the seed files built (seed_files)?\n");
        return 1;
    }
    // Recordings and pictures go into the temporary folder.
    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-seed"));
    {
        QSqlDatabase db = QSqlDatabase::database(QStringLiteral("bench-seed"));
        db.setDatabaseName(QString::fromLatin1(qcDatabase::kFileName));
        if (db.open())
            QSqlQuery(db).exec(QStringLiteral("update systeminfo set recordpath='rec', snapshotpath='pic'"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-seed"));

    g_langXml = new qcLanguageXml;
    g_langXml->load();
    g_database = new qcDatabase;
    if (!g_database->isOpened()) {
        std::fprintf(stderr, "%s\n", qPrintable(g_database->openError()));
        return 1;
    }
    g_logHelper = new qcLogHelper;
    g_logHelper->start(QThread::LowPriority);
    g_curUserName = QStringLiteral("admin");
    g_curUserRights = 511;

    std::printf("%-24s %14s %14s %12s\n", "action", "held ms", "free ms", "busy waits");
    auto print = [](const char *name, const Figures &f) {
        std::printf("%-24s %14.0f %14.1f %12.0f\n", name, f.heldMs, f.freeMs, f.waits);
        std::fflush(stdout);
    };

    cmsclient *window = nullptr;
    auto closeWindow = [&window] {
        if (window) {
            window->close();
            delete window;
            window = nullptr;
        }
    };
    print("open the main window", measure([] {}, [&window] { window = new cmsclient(nullptr, "admin"); }, closeWindow));

    window = new cmsclient(nullptr, QStringLiteral("admin"));
    settle();
    print("enter local settings", measure([] {}, [window] { window->menuButton(2)->click(); }, [] {}));
    print("refresh after a save", measure([] {}, [window] { window->liveView()->onLocalConfigChanged(); }, [] {}));
    closeWindow();

    qwLogin *login = nullptr;
    print("login", measure(
                       [&login] {
                           login = new qwLogin;
                           login->userEdit()->setText(QStringLiteral("admin"));
                           login->passwordEdit()->setText(QStringLiteral("admin"));
                       },
                       [&login] { login->loginButton()->click(); },
                       [&login] {
                           if (cmsclient *opened = login->mainWindow()) {
                               opened->close();
                               delete opened;
                           }
                           delete login;
                           login = nullptr;
                       }));

    g_logHelper->stop();
    g_logHelper->wait();
    delete g_logHelper;
    g_logHelper = nullptr;
    delete g_database;
    g_database = nullptr;
    return 0;
}
