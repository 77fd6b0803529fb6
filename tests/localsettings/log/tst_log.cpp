#include <QtTest>

#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QPushButton>
#include <QTableView>

#include <algorithm>
#include <memory>

#include "app/core/currentuser.h"
#include "app/core/loghelper.h"
#include "app/widgets/stylesheets.h"
#include "app/widgets/userrights.h"
#include "localsettings/qcloglistmodel.h"
#include "localsettings/qwlocallog.h"
#include "localsettings/qwlocalsetting.h"
#include "tests/support/appglobals.h"
#include "tests/support/findchild.h"
#include "tests/support/heldlock.h"
#include "tests/support/popups.h"
#include "tests/support/runfolder.h"
#include "tests/support/shown.h"

using testsupport::AppGlobals;
using testsupport::RunFolder;

namespace {

// The records every case starts with; the note names each one.
struct Seed
{
    const char *date;
    int type;
    const char *decl;
    const char *note;
};
const Seed kSeeds[] = {
    {"2026-03-01T08:00:00", 1, "login successful", "a"}, {"2026-03-01T09:00:00", 2, "device alarm", "b"},
    {"2026-03-02T10:00:00", 3, "stream lost", "c"},      {"2026-03-02T23:59:59", 1, "add device", "d"},
    {"2026-03-03T00:00:00", 2, "device alarm", "e"},     {"2026-03-04T12:00:00", 1, "add user", "f"},
};

QDate day(const char *text)
{
    return QDate::fromString(QLatin1String(text), Qt::ISODate);
}

QStringList column(const QAbstractItemModel *model, int c)
{
    QStringList cells;
    for (int r = 0; r < model->rowCount(); ++r)
        cells << model->index(r, c).data().toString();
    return cells;
}

// Fills the table with `count` kind-1 rows before the log thread opens it.
bool fillRows(int count)
{
    return RunFolder::exec(
        QStringLiteral("cmsclient.logx"),
        QStringLiteral("with recursive n(i) as (select 1 union all select i + 1 from n where i < %1) "
                       "insert into systemlogs select strftime('%Y-%m-%dT%H:%M:%S', '2026-01-01', "
                       "'+' || i || ' seconds'), 'seed', 1, 'filler', '', '', i from n")
            .arg(count));
}

// Holds the log thread inside the first record it delivers, so that the
// query stays pending for as long as a case needs. The record in delivery
// keeps the gate alive; a failing check opens it on the way out, so the log
// thread can stop.
class LogGate
{
public:
    LogGate() : m_gate(std::make_shared<QMutex>()), m_closed(m_gate.get())
    {
        std::shared_ptr<QMutex> gate = m_gate;
        QObject::connect(
            g_logHelper, &qcLogHelper::sigHaslogitem, &m_holder, [gate] { QMutexLocker hold(gate.get()); },
            Qt::DirectConnection);
    }
    void open() { m_closed.unlock(); }

private:
    std::shared_ptr<QMutex> m_gate;
    QMutexLocker m_closed;
    QObject m_holder;
};

} // namespace

class LogPageTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<RunFolder> m_folder;
    std::unique_ptr<AppGlobals> m_globals;
    std::unique_ptr<QWidget> m_host;
    qwLocalLog *m_page = nullptr;

    template <class T>
    T *child(const char *name)
    {
        return testsupport::requireChild<T>(m_page, QLatin1String(name));
    }

    void start(int fillerRows = 0)
    {
        m_folder.reset(new RunFolder);
        QVERIFY(m_folder->isValid());
        if (fillerRows)
            QVERIFY(fillRows(fillerRows));
        m_globals.reset(new AppGlobals);
        QVERIFY(m_globals->isValid());
        for (const Seed &s : kSeeds)
            QVERIFY(g_logHelper->addLog(_st_log_item(s.date, "admin", s.decl, "cam", "127.0.0.1", s.note, s.type)));
        g_curUserRights = userrights::LogView;
        // The main window's sheet cascades into every page; the page must
        // stay dark under it.
        m_host.reset(new QWidget);
        m_host->setStyleSheet(QLatin1String(styles::kMainWindow));
        m_page = new qwLocalLog(m_host.get());
        m_host->resize(1000, 600);
        m_page->resize(1000, 600);
        m_host->show();
    }

    void search(int kind, const char *from, const char *to)
    {
        child<QComboBox>("comboBox_LogKind")->setCurrentIndex(kind);
        child<QDateEdit>("dateEdit_LogFrom")->setDate(day(from));
        child<QDateEdit>("dateEdit_LogTo")->setDate(day(to));
        child<QPushButton>("pushButton_LogSearch")->click();
    }

    // The local settings page entered as the main window enters it, on its
    // first sub-page; m_page is its log.
    qwLocalSetting *enterSettingsPage()
    {
        g_curUserRights = userrights::LogView | userrights::LocalConfiguration;
        auto *settings = new qwLocalSetting(m_host.get());
        settings->resize(1000, 600);
        settings->show();
        settings->reloadAll();
        m_page = settings->findChild<qwLocalLog *>();
        return settings;
    }

    static void showSubPage(qwLocalSetting *settings, const char *name)
    {
        auto *button = settings->findChild<QPushButton *>(QStringLiteral("pushButton_Local") + QLatin1String(name));
        QVERIFY(button);
        button->click();
    }

    // Writes a record and waits until the log holds it.
    static void write(const QDate &date, const char *time, int type, const char *note)
    {
        const QString count = QStringLiteral("select count(*) from systemlogs");
        // A look while the log thread commits finds the file busy and gives
        // nothing, which is no count.
        QString seen;
        QTRY_VERIFY(!(seen = RunFolder::query("cmsclient.logx", count)).isEmpty());
        const int before = seen.toInt();
        const QString at = date.toString(Qt::ISODate) + QLatin1Char('T') + QLatin1String(time);
        QVERIFY(g_logHelper->addLog(_st_log_item(at, "admin", "modify system options", "", "", note, type)));
        QTRY_COMPARE(RunFolder::query("cmsclient.logx", count), QString::number(before + 1));
    }

    // Clicks Search and waits until the search has listed everything.
    bool searchAll(int kind, const char *from, const char *to)
    {
        QSignalSpy finished(m_page->model(), &qcLogListModel::sigSearchFinished);
        search(kind, from, to);
        return finished.count() || finished.wait(20000);
    }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    void cleanup()
    {
        m_host.reset();
        m_page = nullptr;
        m_globals.reset();
        m_folder.reset();
    }

    void searchesByKindAndRange_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("notes");
        QTest::addColumn<QStringList>("tips");
        QTest::newRow("all") << 0 << "2026-03-01"
                             << "2026-03-04"
                             << "abcdef" << QStringList();
        QTest::newRow("operation") << 1 << "2026-03-01"
                                   << "2026-03-04"
                                   << "adf" << QStringList();
        QTest::newRow("device alarm") << 2 << "2026-03-01"
                                      << "2026-03-03"
                                      << "be" << QStringList();
        QTest::newRow("abnormal event") << 3 << "2026-03-01"
                                        << "2026-03-04"
                                        << "c" << QStringList();
        QTest::newRow("one day") << 0 << "2026-03-02"
                                 << "2026-03-02"
                                 << "cd" << QStringList();
        QTest::newRow("whole end day") << 0 << "2026-03-02"
                                       << "2026-03-03"
                                       << "cde" << QStringList();
        QTest::newRow("nothing in range") << 0 << "2026-04-01"
                                          << "2026-04-02"
                                          << "" << QStringList();
        // The log alone would list every record of every kind here.
        QTest::newRow("reversed range is swapped") << 1 << "2026-03-03"
                                                   << "2026-03-02"
                                                   << "d" << QStringList{"tip_lograngeswapped"};
    }
    void searchesByKindAndRange()
    {
        QFETCH(int, kind);
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, notes);
        QFETCH(QStringList, tips);
        start();
        QVERIFY(searchAll(kind, qPrintable(from), qPrintable(to)));
        QCOMPARE(column(m_page->model(), qcLogListModel::NoteColumn).join(QString()), notes);
        QCOMPARE(testsupport::popupKeys(m_page), tips);
        const QDate first = std::min(day(qPrintable(from)), day(qPrintable(to)));
        QCOMPARE(child<QDateEdit>("dateEdit_LogFrom")->date(), first);
        QVERIFY(child<QDateEdit>("dateEdit_LogTo")->date() >= first);
    }

    // A record's texts (a device's name, an alarm's note) read as written in
    // the tool tip that shows a cell whole, too.
    void toolTipsShowTextsAsWritten()
    {
        start();
        const QString note = QStringLiteral("<b>x</b> <img src=\"/etc/hostname\">");
        QVERIFY(g_logHelper->addLog(
            _st_log_item("2026-03-05T08:00:00", "admin", "device alarm", "Cam <u>1</u>", "127.0.0.1", note, 2)));
        QVERIFY(searchAll(0, "2026-03-05", "2026-03-05"));
        const QAbstractItemModel *model = m_page->model();
        QCOMPARE(model->rowCount(), 1);
        QCOMPARE(
            testsupport::shownToolTip(model->index(0, qcLogListModel::NoteColumn).data(Qt::ToolTipRole).toString()),
            note);
        QCOMPARE(
            testsupport::shownToolTip(model->index(0, qcLogListModel::DeviceColumn).data(Qt::ToolTipRole).toString()),
            QStringLiteral("Cam <u>1</u>"));
    }

    void everyColumnIsShownInTheDarkLook()
    {
        start();
        QVERIFY(searchAll(0, "2026-03-02", "2026-03-02"));
        const QAbstractItemModel *model = m_page->model();
        QCOMPARE(model->rowCount(), 2);
        QStringList first;
        for (int c = 0; c < model->columnCount(); ++c) {
            first << model->index(0, c).data().toString();
            // A cell cut short by its column is read whole in its tool tip.
            QCOMPARE(model->index(0, c).data(Qt::ToolTipRole).toString(), first.last());
        }
        QCOMPARE(first,
                 (QStringList{"2026-03-02 10:00:00", "admin", "Abnormal", "stream lost", "cam", "127.0.0.1", "c"}));
        QStringList headers;
        for (int c = 0; c < model->columnCount(); ++c)
            headers << model->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headers,
                 (QStringList{"Date and time", "User", "Log type", "Description", "Device", "Device address", "Note"}));

        auto *table = child<QTableView>("tableView_Log");
        const QImage shot = table->viewport()->grab().toImage();
        for (int row = 0; row < 2; ++row) {
            const QRect cell = table->visualRect(model->index(row, qcLogListModel::UserColumn));
            const QColor inside = shot.pixelColor(cell.right() - 4, cell.center().y());
            QVERIFY2(inside.lightness() < 100, qPrintable(QString("row %1: %2").arg(row).arg(inside.name())));
        }
    }

    void busyLogRefusesAndKeepsTheList()
    {
        start();
        QVERIFY(searchAll(0, "2026-03-01", "2026-03-04"));
        LogGate gate;
        QSignalSpy finished(m_page->model(), &qcLogListModel::sigSearchFinished);
        search(1, "2026-03-01", "2026-03-04");
        QVERIFY(g_logHelper->isQueryPending());
        QCOMPARE(testsupport::popupKeys(m_page), QStringList());

        search(2, "2026-03-01", "2026-03-04");
        QCOMPARE(testsupport::popupKeys(m_page), QStringList{"tip_logsearchbusy"});
        gate.open();
        QVERIFY(finished.wait(20000));
        // The accepted search's records, not the refused one's.
        QCOMPARE(column(m_page->model(), qcLogListModel::NoteColumn).join(QString()), QString("adf"));
    }

    void refusedWithoutTheRight()
    {
        start();
        g_curUserRights = userrights::LocalConfiguration | userrights::Playback;
        search(0, "2026-03-01", "2026-03-04");
        QCOMPARE(testsupport::popupKeys(m_page), QStringList{"tip_permdenied"});
        QVERIFY(!m_page->model()->isSearching());
        // No query was started: the log takes one at once.
        QVERIFY(g_logHelper->requestQuery(0, day("2026-03-01").startOfDay(), day("2026-03-01").startOfDay()));
    }

    // Shown again, the page lists today's records of every kind at once, as
    // Search with its first choices would, and says how many.
    void shownListsTodaysRecords()
    {
        start();
        const QString today = QDate::currentDate().toString(Qt::ISODate);
        const QString yesterday = QDate::currentDate().addDays(-1).toString(Qt::ISODate);
        const struct
        {
            QString date;
            int type;
            const char *note;
        } records[] = {{yesterday + "T23:59:59", 1, "old"},
                       {today + "T00:00:00", 1, "t1"},
                       {today + "T12:00:00", 2, "t2"},
                       {today + "T23:59:59", 3, "t3"}};
        for (const auto &r : records)
            QVERIFY(g_logHelper->addLog(_st_log_item(r.date, "admin", "x", "", "", r.note, r.type)));
        // Written before the page asks: a query the log is given in the same
        // pass as a record may run before it.
        QTRY_COMPARE(RunFolder::query("cmsclient.logx", "select count(*) from systemlogs"), QString("10"));
        // Filters left elsewhere are put back.
        child<QComboBox>("comboBox_LogKind")->setCurrentIndex(2);
        child<QDateEdit>("dateEdit_LogFrom")->setDate(day("2026-03-01"));
        m_page->reload();
        QTRY_COMPARE(column(m_page->model(), qcLogListModel::NoteColumn), (QStringList{"t1", "t2", "t3"}));
        QTRY_COMPARE(m_page->resultLabel()->text(), QString("3 records listed"));
        QCOMPARE(child<QComboBox>("comboBox_LogKind")->currentIndex(), 0);
        QCOMPARE(child<QDateEdit>("dateEdit_LogFrom")->date(), QDate::currentDate());
        QCOMPARE(child<QDateEdit>("dateEdit_LogTo")->date(), QDate::currentDate());
        QCOMPARE(testsupport::popupKeys(m_page), QStringList());
    }

    // The log still runs the query of an earlier showing: the page's own
    // search waits for it instead of showing nothing.
    void shownWhileTheLogIsBusy()
    {
        start();
        QVERIFY(g_logHelper->addLog(
            _st_log_item(QDate::currentDate().toString(Qt::ISODate) + "T08:00:00", "admin", "x", "", "", "now", 1)));
        QTRY_COMPARE(RunFolder::query("cmsclient.logx", "select count(*) from systemlogs"), QString("7"));
        LogGate gate;
        search(0, "2026-03-01", "2026-03-04");
        QVERIFY(g_logHelper->isQueryPending());
        m_page->reload();
        gate.open();
        QTRY_COMPARE(column(m_page->model(), qcLogListModel::NoteColumn), QStringList{"now"});
        QTRY_COMPARE(m_page->resultLabel()->text(), QString("1 record listed"));
        QCOMPARE(testsupport::popupKeys(m_page), QStringList());
    }

    void shownWithoutTheRightListsNothing()
    {
        start();
        g_curUserRights = userrights::LocalConfiguration;
        m_page->reload();
        QVERIFY(!m_page->model()->isSearching());
        QCOMPARE(testsupport::popupKeys(m_page), QStringList());
        QVERIFY(g_logHelper->requestQuery(0, day("2026-03-01").startOfDay(), day("2026-03-01").startOfDay()));
    }

    // Inside the local settings page the log lists today's records each time
    // it comes up, with whatever was written while another sub-page was shown.
    void comingUpAgainListsWhatWasWrittenMeanwhile()
    {
        start();
        qwLocalSetting *settings = enterSettingsPage();
        QCOMPARE(settings->currentSubPage(), int(qwLocalSetting::OptionsPage));
        QVERIFY(m_page);
        const QDate today = QDate::currentDate();
        write(today, "08:00:00", 1, "entered");
        showSubPage(settings, "Log");
        QTRY_COMPARE(column(m_page->model(), qcLogListModel::NoteColumn), QStringList{"entered"});
        QTRY_COMPARE(m_page->resultLabel()->text(), QString("1 record listed"));
        showSubPage(settings, "Options");
        write(today, "09:00:00", 1, "saved");
        write(today, "09:00:01", 1, "saved again");
        showSubPage(settings, "Log");
        QTRY_COMPARE(column(m_page->model(), qcLogListModel::NoteColumn),
                     (QStringList{"entered", "saved", "saved again"}));
        QTRY_COMPARE(m_page->resultLabel()->text(), QString("3 records listed"));
        QCOMPARE(testsupport::popupKeys(settings), QStringList());
    }

    // Within the page the log keeps the operator's kind and dates and lists
    // under them each time it comes up; entering the page again starts it at
    // today's records of every kind, whichever sub-page the page shows.
    void logFiltersKept_data()
    {
        QTest::addColumn<int>("from"); // days from today
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("away");
        QTest::addColumn<bool>("reset");
        QTest::addColumn<QStringList>("notes");
        const QStringList operations{"op yesterday", "op meanwhile"};
        const QStringList today{"alarm today", "op meanwhile"};
        QTest::newRow("kept") << -1 << 0 << "sub-page" << false << operations;
        // Left reversed without a search: listed as Search would list them.
        QTest::newRow("kept, reversed dates put in order") << 0 << -1 << "sub-page" << false << operations;
        QTest::newRow("page entered resets") << -1 << 0 << "page" << true << today;
        QTest::newRow("page entered on another sub-page resets") << -1 << 0 << "page from options" << true << today;
    }
    void logFiltersKept()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QString, away);
        QFETCH(bool, reset);
        QFETCH(QStringList, notes);
        start();
        const QDate today = QDate::currentDate();
        write(today.addDays(-1), "23:00:00", 1, "op yesterday");
        write(today, "08:00:00", 2, "alarm today");
        qwLocalSetting *settings = enterSettingsPage();
        showSubPage(settings, "Log");
        QTRY_COMPARE(column(m_page->model(), qcLogListModel::NoteColumn), QStringList{"alarm today"});
        auto *kind = child<QComboBox>("comboBox_LogKind");
        auto *fromEdit = child<QDateEdit>("dateEdit_LogFrom");
        auto *toEdit = child<QDateEdit>("dateEdit_LogTo");
        kind->setCurrentIndex(1);
        fromEdit->setDate(today.addDays(from));
        toEdit->setDate(today.addDays(to));

        if (away != "page")
            showSubPage(settings, "Options");
        if (away.startsWith("page"))
            settings->hide();
        write(today, "09:00:00", 1, "op meanwhile");
        if (away.startsWith("page")) {
            settings->show();
            settings->reloadAll();
        }
        if (away != "page")
            showSubPage(settings, "Log");
        QCOMPARE(settings->currentSubPage(), int(qwLocalSetting::LogPage));

        QCOMPARE(kind->currentIndex(), reset ? 0 : 1);
        QCOMPARE(fromEdit->date(), reset ? today : today.addDays(std::min(from, to)));
        QCOMPARE(toEdit->date(), reset ? today : today.addDays(std::max(from, to)));
        QTRY_COMPARE(column(m_page->model(), qcLogListModel::NoteColumn), notes);
        QCOMPARE(testsupport::popupKeys(settings), QStringList());
    }

    // Every search says how many records it listed, one without any says so,
    // and one that could not read the log (another program holds it) says
    // that instead of "none".
    void searchSaysWhatItFound_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("result");
        QTest::addColumn<bool>("held");
        QTest::newRow("none") << 0 << "2026-04-01"
                              << "2026-04-02"
                              << "No records match this search" << false;
        QTest::newRow("none of the kind") << 3 << "2026-03-03"
                                          << "2026-03-04"
                                          << "No records match this search" << false;
        QTest::newRow("one") << 3 << "2026-03-01"
                             << "2026-03-04"
                             << "1 record listed" << false;
        QTest::newRow("several") << 0 << "2026-03-01"
                                 << "2026-03-04"
                                 << "6 records listed" << false;
        QTest::newRow("the log held") << 0 << "2026-03-01"
                                      << "2026-03-04"
                                      << "The log could not be read: another program may hold it. Search again later."
                                      << true;
    }
    void searchSaysWhatItFound()
    {
        QFETCH(int, kind);
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, result);
        QFETCH(bool, held);
        start();
        auto holder = std::make_unique<testsupport::HeldLock>();
        if (held) {
            QTRY_COMPARE(RunFolder::query("cmsclient.logx", "select count(*) from systemlogs"), QString("6"));
            QVERIFY(holder->hold("cmsclient.logx"));
        }
        QVERIFY(searchAll(kind, qPrintable(from), qPrintable(to)));
        holder.reset();
        QCOMPARE(m_page->resultLabel()->text(), result);
        QVERIFY(m_page->resultLabel()->isVisibleTo(m_page));
    }

    // The model alone, against the same log.

    void batchesKeepArrivalOrder()
    {
        start(25);
        qcLogListModel model;
        model.setBatchRows(10);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy finished(&model, &qcLogListModel::sigSearchFinished);
        QVERIFY(model.search(g_logHelper, 1, day("2026-01-01").startOfDay(), day("2026-01-01").startOfDay()));
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.first().first().toInt(), 25);
        QList<QPair<int, int>> batches;
        for (const QList<QVariant> &args : inserted)
            batches << qMakePair(args.at(1).toInt(), args.at(2).toInt());
        QCOMPARE(batches, (QList<QPair<int, int>>{{0, 9}, {10, 19}, {20, 24}}));
        QStringList expected;
        for (int i = 1; i <= 25; ++i)
            expected << QString::number(i);
        QCOMPARE(column(&model, qcLogListModel::NoteColumn), expected);
        QCOMPARE(model.kindText(1), QString("Operation"));
        QCOMPARE(model.kindText(2), QString("Device alarm"));
        QCOMPARE(model.kindText(3), QString("Abnormal"));
        QCOMPARE(model.kindText(0), QString("Unknown"));
        QCOMPARE(model.kindText(9), QString("Unknown"));
    }

    void earlierQueryDoesNotMixIn_data()
    {
        QTest::addColumn<bool>("partlyListed");
        QTest::newRow("none listed yet") << false;
        QTest::newRow("partly listed") << true;
    }
    void earlierQueryDoesNotMixIn()
    {
        QFETCH(bool, partlyListed);
        start(20000);
        qcLogListModel model;
        model.setBatchRows(500);
        QVERIFY(model.search(g_logHelper, 0, day("2026-01-01").startOfDay(), day("2026-01-01").startOfDay()));
        if (partlyListed)
            QTRY_VERIFY(model.rowCount() > 0);
        // No events meanwhile: whatever the first query found waits in the
        // model, none of it listed yet.
        QDeadlineTimer limit(20000);
        while (g_logHelper->isQueryPending() && !limit.hasExpired())
            QThread::msleep(2);
        QVERIFY(model.rowCount() < 20000);
        QSignalSpy finished(&model, &qcLogListModel::sigSearchFinished);
        QVERIFY(model.search(g_logHelper, 2, day("2026-03-01").startOfDay(), day("2026-03-04").startOfDay()));
        QCOMPARE(model.rowCount(), 0);
        QVERIFY(finished.wait(20000));
        QCOMPARE(column(&model, qcLogListModel::NoteColumn), (QStringList{"b", "e"}));
    }

    void clearDropsWhatIsStillComing()
    {
        start(5000);
        qcLogListModel model;
        model.setBatchRows(100);
        QVERIFY(model.search(g_logHelper, 0, day("2026-01-01").startOfDay(), day("2026-01-01").startOfDay()));
        QTRY_VERIFY(model.rowCount() > 0);
        model.clear();
        QVERIFY(!model.isSearching());
        QTRY_VERIFY(!g_logHelper->isQueryPending());
        QTest::qWait(50);
        QCOMPARE(model.rowCount(), 0);
    }
};

QTEST_MAIN(LogPageTest)
#include "tst_log.moc"
