// The system log page listing a full log: a log file with as many records as
// the log keeps (80,000), searched through a real qwLocalLog and a real
// qcLogHelper on its thread. Prints the time from the Search click until
// the last row is in the list, until the page knows the search has ended,
// and the longest stall of the GUI thread meanwhile (gaps between the ticks
// of a 1 ms timer), also in the thread's processor time, which a loaded
// machine's scheduling does not stretch.
//
//   build-release/bench/bench_locallog [--rows N] [--runs N]
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise
// (xvfb-run -a ... with QT_QPA_PLATFORM=xcb draws through a real X server).

#include "benchsupport.h"

#include "app/core/currentuser.h"
#include "app/core/loghelper.h"
#include "app/core/qclanguagexml.h"
#include "app/widgets/userrights.h"
#include "localsettings/qcloglistmodel.h"
#include "localsettings/qwlocallog.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Run
{
    double listedMs = -1;   // the last row is in the list
    double finishedMs = -1; // the page has seen the search end
    double clickMs = 0;     // the Search click itself
    double longestGapMs = 0;
    double longestBusyMs = 0; // the same in the GUI thread's processor time
    int gapsOver16 = 0;
    int batches = 0;
};

// A log of `rows` records 30 s apart from 1 January on, of every kind, in
// one transaction; the file comes from the build's seed, made from the
// log schema.
bool fillLog(int rows)
{
    const QString file = QString::fromLatin1(qcLogHelper::kFileName);
    if (!QFile::copy(QStringLiteral(ARDO_SEED_DIR "/cmsclient.logx"), file))
        return false;
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-fill"));
        db.setDatabaseName(file);
        if (db.open() && db.transaction()) {
            QSqlQuery q(db);
            ok = q.prepare(QStringLiteral("insert into systemlogs values(?,?,?,?,?,?,?)"));
            const char *const decls[] = {"login successful", "device alarm", "stream lost", "add device", "add user"};
            const QDateTime start(QDate(2026, 1, 1), QTime(0, 0));
            for (int i = 0; ok && i < rows; ++i) {
                const int kind = 1 + i % 3;
                q.addBindValue(start.addSecs(qint64(i) * 30).toString(QStringLiteral("yyyy-MM-dd'T'hh:mm:ss")));
                q.addBindValue(QStringLiteral("admin"));
                q.addBindValue(kind);
                q.addBindValue(QLatin1String(decls[i % 5]));
                q.addBindValue(QStringLiteral("camera %1").arg(i % 64));
                q.addBindValue(QStringLiteral("127.0.0.%1").arg(1 + i % 64));
                q.addBindValue(QStringLiteral("record %1").arg(i));
                ok = q.exec();
            }
            ok = ok && db.commit();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-fill"));
    return ok;
}

Run searchOnce(qwLocalLog &page, int kind, int expected)
{
    Run run;
    qcLogListModel *model = page.model();
    page.findChild<QComboBox *>(QStringLiteral("comboBox_LogKind"))->setCurrentIndex(kind);
    page.findChild<QDateEdit *>(QStringLiteral("dateEdit_LogFrom"))->setDate(QDate(2026, 1, 1));
    page.findChild<QDateEdit *>(QStringLiteral("dateEdit_LogTo"))->setDate(QDate(2026, 12, 31));

    QElapsedTimer clock;
    QEventLoop loop;
    qint64 lastTick = 0;
    double lastCpu = 0;
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    ticks.setInterval(1);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        const double gap = (now - lastTick) / 1e6;
        run.longestGapMs = std::max(run.longestGapMs, gap);
        run.gapsOver16 += gap > 16;
        lastTick = now;
        const double cpu = benchsupport::threadCpuMs();
        run.longestBusyMs = std::max(run.longestBusyMs, cpu - lastCpu);
        lastCpu = cpu;
    });
    const auto inserted = QObject::connect(model, &QAbstractItemModel::rowsInserted, [&] {
        ++run.batches;
        if (model->rowCount() >= expected && run.listedMs < 0)
            run.listedMs = clock.nsecsElapsed() / 1e6;
    });
    const auto finished = QObject::connect(model, &qcLogListModel::sigSearchFinished, [&] {
        run.finishedMs = clock.nsecsElapsed() / 1e6;
        loop.quit();
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);

    ticks.start();
    lastCpu = benchsupport::threadCpuMs();
    clock.start();
    page.findChild<QPushButton *>(QStringLiteral("pushButton_LogSearch"))->click();
    run.clickMs = clock.nsecsElapsed() / 1e6;
    // The click runs on the GUI thread too; it counts as a gap.
    run.longestGapMs = std::max(run.longestGapMs, run.clickMs);
    lastTick = clock.nsecsElapsed();
    if (model->isSearching())
        loop.exec();
    ticks.stop();
    QObject::disconnect(inserted);
    QObject::disconnect(finished);
    if (model->rowCount() != expected)
        std::fprintf(stderr, "kind %d: %d rows listed, %d expected\n", kind, model->rowCount(), expected);
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int rows = qcLogHelper::kMaxRows;
    int runs = 3;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args.at(i) == QLatin1String("--rows"))
            rows = args.at(i + 1).toInt();
        else if (args.at(i) == QLatin1String("--runs"))
            runs = std::max(1, args.at(i + 1).toInt());
    }

    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path())) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    QDir().mkdir(QStringLiteral("languages"));
    QFile::copy(QStringLiteral(ARDO_SEED_DIR "/languages/korvistalang.xml"),
                QStringLiteral("languages/korvistalang.xml"));
    g_langXml = new qcLanguageXml;
    g_langXml->load();
    QElapsedTimer fill;
    fill.start();
    if (!fillLog(rows)) {
        std::fprintf(stderr, "could not make the log file\n");
        return 1;
    }
    std::printf("log file: %d records written in %.0f ms\n", rows, fill.nsecsElapsed() / 1e6);

    g_curUserRights = userrights::LogView;
    g_logHelper = new qcLogHelper;
    g_logHelper->start(QThread::LowPriority);
    {
        QElapsedTimer wait;
        wait.start();
        while (!g_logHelper->isOpened() && wait.elapsed() < 10000)
            QThread::msleep(5);
    }
    if (!g_logHelper->isOpened()) {
        std::fprintf(stderr, "the log did not open: %s\n", qPrintable(g_logHelper->openError()));
        return 1;
    }

    int status = 0;
    {
        qwLocalLog page;
        page.resize(1100, 700);
        page.show();
        benchsupport::waitMs(200);

        std::printf("%-10s %6s %10s %12s %9s %11s %12s %9s %8s\n", "search", "rows", "listed ms", "finished ms",
                    "click ms", "longest gap", "longest cpu", "gaps>16", "batches");
        struct Case
        {
            const char *name;
            int kind;
            int rows;
        };
        const Case cases[] = {{"all", 0, rows}, {"alarms", 2, (rows + 1) / 3}};
        for (const Case &c : cases) {
            std::vector<Run> done;
            for (int r = 0; r < runs; ++r) {
                const Run run = searchOnce(page, c.kind, c.rows);
                std::printf("%-10s %6d %10.0f %12.0f %9.1f %11.1f %12.1f %9d %8d\n", c.name, page.model()->rowCount(),
                            run.listedMs, run.finishedMs, run.clickMs, run.longestGapMs, run.longestBusyMs,
                            run.gapsOver16, run.batches);
                done.push_back(run);
                if (run.listedMs < 0)
                    status = 1;
            }
            std::printf("%-10s median: last row listed after %.0f ms, longest GUI stall %.1f ms (targets 2000 ms, "
                        "100 ms); longest processor time between ticks %.1f ms\n",
                        c.name, benchsupport::medianOf(done, &Run::listedMs),
                        benchsupport::medianOf(done, &Run::longestGapMs),
                        benchsupport::medianOf(done, &Run::longestBusyMs));
        }
    }
    g_logHelper->stop();
    delete g_logHelper;
    g_logHelper = nullptr;
    return status;
}
