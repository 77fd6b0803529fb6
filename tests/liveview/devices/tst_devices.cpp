#include "app/core/currentuser.h"
#include "app/core/database.h"
#include "app/shell/pagelinks.h"
#include "device/deviceaddress.h"
#include "app/widgets/qwtipsdlg.h"
#include "app/widgets/qwtipsdlgex.h"
#include "devsettings/qwdevicesettings.h"
#include "liveview/livetext.h"
#include "liveview/qclivedevicerequests.h"
#include "liveview/qcptzstopretry.h"
#include "liveview/qwadddevice.h"
#include "liveview/qwcameraitem.h"
#include "liveview/qwdeviceform.h"
#include "liveview/qwliveview.h"
#include "liveview/qwmodifydevice.h"
#include "liveview/qwptzpanel.h"
#include "media/qcstreamserver.h"
#include "media/qcstreamutil.h"
#include "platform/widgets/qipaddressedit.h"
#include "tests/devicesim/discoveryresponder.h"
#include "tests/support/heldlock.h"
#include "tests/support/livepage.h"
#include "tests/support/popups.h"
#include "livedevices.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>

#include <algorithm>

using livedevices::record;
using testsupport::HeldLock;
using testsupport::popupKeys;

namespace {

// The fault of a row that holds the database locked from another connection
// while the change is asked for.
const QString kHeldLocked = QStringLiteral("held locked");

QStringList rowNames(qwLiveView &page)
{
    QStringList names;
    for (int i = 0; i < page.deviceList()->count(); ++i)
        names << page.cameraItem(i)->nameLabel()->text();
    return names;
}

} // namespace

class DevicesTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<testsupport::LivePageFixture> m_fixture;
    std::vector<std::unique_ptr<devicesim::Device>> m_devices;

    // Stores one record per device and returns them.
    void storeDevices(int count)
    {
        const char *names[] = {"camA", "camB", "camC", "camD", "camE"};
        for (int i = 0; i < count; ++i) {
            m_devices.push_back(livedevices::start(QString("127.0.0.%1").arg(2 + i)));
            QVERIFY(m_devices.back());
            QVERIFY(g_database->addDevice(record(names[i], *m_devices.back())) >= 1);
        }
    }

    // A recording schedule of camA at 127.0.0.2, every day all day.
    void storeAllDaySchedule()
    {
        _st_schedule_item row;
        row.devname = "camA";
        row.ipaddr = "127.0.0.2";
        row.skdsun = row.skdmon = row.skdtue = row.skdwed = row.skdthu = row.skdfri = row.skdsat = "0:0-1440";
        row.enable = 1;
        QVERIFY(g_database->addSchedule(row));
    }

    QString logRows()
    {
        m_fixture->flushLog();
        return testsupport::RunFolder::query(m_fixture->logFile(),
                                             "SELECT logdecl, logtype, reldevname, reldevaddr, curuser FROM "
                                             "systemlogs ORDER BY rowid");
    }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        shell::linkPages();
    }

    void init()
    {
        m_fixture = std::make_unique<testsupport::LivePageFixture>();
        QVERIFY(m_fixture->isValid());
    }

    void cleanup()
    {
        m_devices.clear();
        m_fixture.reset();
    }

    // The Add dialog's default login that could not be read is no empty
    // default: the dialog says so.
    void addDefaultsWhileHeld()
    {
        qwLiveView page;
        {
            HeldLock holder;
            QVERIFY(holder.hold(m_fixture->databaseFile()));
            page.onAddDevManual();
        }
        auto *dialog = page.findChild<qwAddDevice *>();
        QVERIFY(dialog);
        QCOMPARE(dialog->form()->userName(), QString());
        QVERIFY(popupKeys(dialog).contains(QStringLiteral("tip_databasebusy")));
    }

    void addAllFromSearch()
    {
        devicesim::DiscoveryResponder responder;
        QVERIFY(responder.start({QHostAddress("127.0.0.1")}));
        devicesim::DiscoveryResponder::Record found;
        found.name = "lanCam";
        found.address = "127.0.0.7";
        found.port = 8081;
        found.model = "IPC-4M";
        found.mac = "00:12:34:56:78:9A";
        responder.setRecord(found);
        devicesim::DiscoveryResponder::Faults twice;
        twice.replies = 2;
        responder.setFaults(twice);
        qputenv("ARDO_DISCOVERY_TARGET", QByteArray("127.0.0.1:") + QByteArray::number(responder.port()));

        qwLiveView page;
        page.onAddDevManual();
        auto *dialog = page.findChild<qwAddDevice *>();
        QSignalSpy results(dialog, &qwAddDevice::sigOptionResult);
        dialog->searchButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!responder.received().isEmpty(), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(dialog->foundTable()->rowCount(), 1, 5000);
        QStringList cells;
        for (int c = 0; c < dialog->foundTable()->columnCount(); ++c)
            cells << dialog->foundTable()->item(0, c)->text();
        QCOMPARE(cells, (QStringList{"lanCam", "127.0.0.7", "8081", "IPC-4M", "00:12:34:56:78:9A"}));

        // A click on a found device fills the form; the login stays as typed.
        dialog->form()->userEdit()->setText("operator");
        const QTableWidget *table = dialog->foundTable();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(0, 3)).center());
        QCOMPARE(dialog->form()->nameEdit()->text(), QStringLiteral("lanCam"));
        QCOMPARE(dialog->form()->address(), QStringLiteral("127.0.0.7"));
        QCOMPARE(dialog->form()->port(), QStringLiteral("8081"));
        QCOMPARE(dialog->form()->userName(), QStringLiteral("operator"));
        QCOMPARE(dialog->form()->password(), QStringLiteral("1234"));

        dialog->addAllButton()->click();
        QCOMPARE(results.count(), 1);
        QCOMPARE(results.at(0), (QVariantList{"lanCam", "127.0.0.7", "VARAR", "8081", "operator", "1234", 1}));
        QCOMPARE(page.deviceCount(), 1);
        QCOMPARE(page.cameraItem(0)->infoLabel()->text(), QStringLiteral("127.0.0.7"));
        QCOMPARE(popupKeys(&page), QStringList());
        // Listed already: skipped, and said once.
        dialog->addAllButton()->click();
        QCOMPARE(results.count(), 1);
        QCOMPARE(popupKeys(&page), QStringList{"tip_devexist"});
        qputenv("ARDO_DISCOVERY_TARGET", "127.0.0.1:9");
    }

    // "Add all" takes each answer of the search as the Add form would take
    // the device typed, and says once how many it left out.
    void addAllAsTheFormTakes_data()
    {
        QTest::addColumn<QString>("stored");      // the address of a listed device, if any
        QTest::addColumn<QStringList>("answers"); // name|address|port
        QTest::addColumn<QStringList>("added");   // name|address|port
        QTest::addColumn<QString>("tip");
        QTest::addColumn<QString>("told"); // the reminder's text, where it matters
        const auto row = [](const char *tag, const char *stored, const QStringList &answers, const QStringList &added,
                            const char *tip,
                            const char *told = "") { QTest::newRow(tag) << stored << answers << added << tip << told; };
        const char *refused = "tip_foundrefused";
        row("port 0", "", {"cam|127.0.0.7|0", "ok|127.0.0.8|80"}, {"ok|127.0.0.8|80"}, refused);
        row("port 65536", "", {"cam|127.0.0.7|65536"}, {}, refused);
        row("port 4294967295", "", {"cam|127.0.0.7|4294967295"}, {}, refused);
        row("port 65535", "", {"cam|127.0.0.7|65535"}, {"cam|127.0.0.7|65535"}, "");
        row("host name", "", {"cam|localhost|80"}, {}, refused);
        row("identifier reached by address", "", {"cam|ABCDEF123456|80"}, {}, refused);
        row("two spellings of one address", "", {"a|127.0.0.05|80", "b|127.0.0.5|80"}, {"a|127.0.0.5|80"}, "");
        row("listed in another spelling", "127.0.0.05", {"a|127.0.0.5|80"}, {}, "tip_devexist");
        row("control bytes in the name", "", {" ca\nm\x1b[1m\t|127.0.0.7|80"}, {"cam[1m|127.0.0.7|80"}, "");
        row("refused and listed", "127.0.0.7", {"a|127.0.0.7|80", "b|127.0.0.8|0", "c|localhost|80", "d|127.0.0.9|80"},
            {"d|127.0.0.9|80"}, refused,
            "3 found devices were not added: 2 with an address or a port the Add form does not take, 1 already in "
            "the list");
    }
    void addAllAsTheFormTakes()
    {
        QFETCH(QString, stored);
        QFETCH(QStringList, answers);
        QFETCH(QStringList, added);
        QFETCH(QString, tip);
        QFETCH(QString, told);
        if (!stored.isEmpty()) {
            _st_device_item listed;
            listed.devname = "old";
            listed.address = stored;
            listed.port = "80";
            QVERIFY(g_database->addDevice(listed) >= 1);
        }
        qwLiveView page;
        page.onAddDevManual();
        auto *dialog = page.findChild<qwAddDevice *>();
        for (const QString &a : answers) {
            const QStringList f = a.split('|');
            dialog->addFound({f[0], f[1], f[2], "IPC", "00:12:34:56:78:9A"});
        }
        dialog->addAllButton()->click();
        QStringList devices;
        for (const _st_device_item *d : page.devices())
            if (d->devname != "old")
                devices << d->devname + "|" + d->address + "|" + d->port;
        QCOMPARE(devices, added);
        QCOMPARE(page.deviceList()->count(), added.size() + (stored.isEmpty() ? 0 : 1));
        if (!told.isEmpty())
            QCOMPARE(page.findChild<qwTipsDlg *>()->findChild<QLabel *>("label_Tips")->text(), told);
        QCOMPARE(popupKeys(&page), tip.isEmpty() ? QStringList() : QStringList{tip});
        const QString log = logRows();
        for (const QChar c : log)
            QVERIFY2(c == '\n' || c.category() != QChar::Other_Control, qPrintable(log));
        QCOMPARE(log.count("add device|1"), added.size());
    }

    // A reply of the search that is only its header names no device.
    void headerOnlyAnswer()
    {
        devicesim::DiscoveryResponder responder;
        QVERIFY(responder.start({QHostAddress("127.0.0.1")}));
        devicesim::DiscoveryResponder::Faults headerOnly;
        headerOnly.truncateTo = 8;
        responder.setFaults(headerOnly);
        qputenv("ARDO_DISCOVERY_TARGET", QByteArray("127.0.0.1:") + QByteArray::number(responder.port()));
        qwLiveView page;
        page.onAddDevManual();
        auto *dialog = page.findChild<qwAddDevice *>();
        dialog->searchButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!responder.received().isEmpty(), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->isSearching(), 5000);
        QCoreApplication::processEvents();
        qputenv("ARDO_DISCOVERY_TARGET", "127.0.0.1:9");
        QCOMPARE(dialog->foundTable()->rowCount(), 0);
        dialog->addAllButton()->click();
        QCOMPARE(page.deviceCount(), 0);
        QCOMPARE(popupKeys(&page), QStringList());
    }

    // Every road that adds or changes a device takes only an IPv4 address or
    // a P2P identifier: a LAN search answer or a stored row may hold a path.
    void addressCheckOnEveryRoad_data()
    {
        QTest::addColumn<QString>("road");
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("accepted");
        for (const char *road : {"add", "add all", "modify", "stored"}) {
            QTest::addRow("%s, IPv4", road) << road << "127.0.0.9" << true;
            QTest::addRow("%s, escaping path", road) << road << "../../../escape-a" << false;
            QTest::addRow("%s, separator", road) << road << "abc/defgh" << false;
            QTest::addRow("%s, part over 255", road) << road << "127.0.0.256" << false;
            QTest::addRow("%s, trailing blank", road) << road << "127.0.0.9 " << false;
            QTest::addRow("%s, trailing newline", road) << road << "127.0.0.9\n" << false;
        }
        // Identifiers only where the type keeps them on the loopback stand-in.
        QTest::newRow("add, identifier") << "add"
                                         << "ABCD-123456-XYZ" << true;
        QTest::newRow("stored, identifier") << "stored"
                                            << "ABCD-123456-XYZ" << true;
        QTest::newRow("stored, identifier too short") << "stored"
                                                      << "ABCDE" << false;
    }
    void addressCheckOnEveryRoad()
    {
        QFETCH(QString, road);
        QFETCH(QString, address);
        QFETCH(bool, accepted);
        _st_device_item stored;
        stored.devname = "camX";
        stored.address = road == "stored" ? address : QString("127.0.0.8");
        stored.port = "1";
        stored.devtype = "LOOPP2P";
        qint64 row = 0;
        if (road == "stored" || road == "modify")
            QVERIFY((row = g_database->addDevice(stored)) >= 1);
        qwLiveView page;
        if (road == "add") {
            page.onAddDevManual();
            page.onCameraOptionResult("camX", address, "LOOPP2P", "1", "admin", "1234", 0);
        } else if (road == "add all") {
            page.onAddDevManual();
            auto *dialog = page.findChild<qwAddDevice *>();
            dialog->addFound({"camX", address, "1", "IPC", "00:12:34:56:78:9A"});
            dialog->addAllButton()->click();
        } else if (road == "modify") {
            page.onCameraModifyResult("camX", address, 0, "1", "admin", "1234", page.devices().at(0)->indexid);
        }
        QStringList addresses;
        for (const _st_device_item *d : page.devices())
            addresses << d->address;
        QCOMPARE(addresses.contains(address), accepted);
        QCOMPARE(page.streamServer()->unitFor(address) != nullptr, accepted);
        // A stored row left out is said in the system log, naming the row.
        if (road == "stored") {
            const QString skipped =
                QString("device skipped|3|camX|%1|stored row %2:").arg(deviceaddress::printable(address)).arg(row);
            m_fixture->flushLog();
            const QString rows = testsupport::RunFolder::query(
                m_fixture->logFile(), QString("SELECT logdecl, logtype, reldevname, reldevaddr, substr(lognote, 1, %1) "
                                              "FROM systemlogs WHERE logtype = 3")
                                          .arg(skipped.section('|', 4).size()));
            QCOMPARE(rows, accepted ? QString() : skipped);
        }
    }

    // A refused insert or deletion changes nothing and is logged as abnormal.
    void refusedWrite_data()
    {
        QTest::addColumn<QString>("event");
        QTest::newRow("add") << "INSERT";
        QTest::newRow("remove") << "DELETE";
    }
    void refusedWrite()
    {
        QFETCH(QString, event);
        const bool add = event == "INSERT";
        storeDevices(add ? 0 : 1);
        QVERIFY(m_fixture->exec("CREATE TRIGGER refuse BEFORE " + event +
                                " ON devices BEGIN SELECT RAISE(ABORT, 'no'); END"));
        qwLiveView page;
        if (add) {
            page.onAddDevManual();
            page.onCameraOptionResult("camA", "127.0.0.2", "VARAR", "80", "admin", "1234", 0);
        } else {
            page.onDevlistButtonClick(0, 0x10);
        }
        QCOMPARE(page.deviceList()->count(), add ? 0 : 1);
        QCOMPARE(page.streamServer()->unitFor("127.0.0.2") != nullptr, !add);
        const QString log = logRows();
        const QString kind = add ? "add device|" : "delete device|";
        QVERIFY2(log.contains(kind + "3|camA|127.0.0.2"), qPrintable(log));
        QVERIFY(!log.contains(kind + "1"));
    }

    // A device added or changed from its dialog, or deleted from its row:
    // a counter left on a stored index still stores and lists the device; a
    // change the database cannot store is said over the dialog, which stays
    // open with what was typed, and the log says why in the database's own
    // words. A refused deletion keeps the row, the record and its streams.
    void changeFromDialog_data()
    {
        QTest::addColumn<QString>("road");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("says");
        QTest::newRow("counter on a stored index") << "add"
                                                   << "UPDATE systeminfo SET curdevindex = "
                                                      "(SELECT max(indexid) FROM devices)"
                                                   << "";
        QTest::newRow("insert refused") << "add"
                                        << "CREATE TRIGGER refuse BEFORE INSERT ON devices "
                                           "BEGIN SELECT RAISE(ABORT, 'devices kept read-only'); END"
                                        << "devices kept read-only";
        QTest::newRow("counter unusable") << "add"
                                          << "UPDATE systeminfo SET curdevindex = 0"
                                          << "holds no usable number";
        QTest::newRow("add, held locked") << "add" << kHeldLocked << "database is locked";
        QTest::newRow("modify, stored") << "modify"
                                        << ""
                                        << "";
        QTest::newRow("modify, held locked") << "modify" << kHeldLocked << "database is locked";
        QTest::newRow("modify, update refused") << "modify"
                                                << "CREATE TRIGGER refuse BEFORE UPDATE ON devices "
                                                   "BEGIN SELECT RAISE(ABORT, 'devices kept as they are'); END"
                                                << "devices kept as they are";
        QTest::newRow("delete, held locked") << "delete" << kHeldLocked << "database is locked";
        QTest::newRow("delete, removal refused") << "delete"
                                                 << "CREATE TRIGGER refuse BEFORE DELETE ON devices "
                                                    "BEGIN SELECT RAISE(ABORT, 'devices kept as they are'); END"
                                                 << "devices kept as they are";
    }
    void changeFromDialog()
    {
        QFETCH(QString, road);
        QFETCH(QString, fault);
        QFETCH(QString, says);
        const bool stored = says.isEmpty();
        storeDevices(2);
        if (!fault.isEmpty() && fault != kHeldLocked)
            QVERIFY(m_fixture->exec(fault));
        qwLiveView page;
        QPointer<QWidget> dialog;
        qwDeviceForm *form = nullptr;
        QPushButton *confirm = nullptr;
        if (road == "add") {
            page.onAddDevManual();
            auto *add = page.findChild<qwAddDevice *>();
            QVERIFY(add);
            dialog = add;
            form = add->form();
            confirm = add->addButton();
        } else if (road == "modify") {
            page.onDevlistButtonClick(0, 8);
            auto *modify = page.findChild<qwModifyDevice *>();
            QVERIFY(modify);
            dialog = modify;
            form = modify->form();
            confirm = modify->confirmButton();
        }
        if (dialog) {
            dialog->activateWindow();
            QTRY_COMPARE(QApplication::activeWindow(), dialog.data());
            form->setValues("camN", "127.0.0.9", qwDeviceForm::ByAddress, "80", "admin", "1234");
        }
        auto holder = std::make_unique<HeldLock>();
        if (fault == kHeldLocked)
            QVERIFY(holder->hold(m_fixture->databaseFile()));
        if (confirm)
            confirm->click();
        else
            page.onDevlistButtonClick(0, 0x10);
        holder.reset();

        if (road == "add") {
            QVERIFY(dialog->isVisible());
            QCOMPARE(page.deviceCount(), stored ? 3 : 2);
            QCOMPARE(rowNames(page).contains("camN"), stored);
            QCOMPARE(page.streamServer()->unitFor("127.0.0.9") != nullptr, stored);
            const QString largest = m_fixture->query("SELECT max(indexid) FROM devices WHERE address <> '127.0.0.9'");
            QCOMPARE(m_fixture->query("SELECT indexid FROM devices WHERE address = '127.0.0.9'"),
                     stored ? QString::number(largest.toLongLong() + 1) : QString());
            if (stored)
                QCOMPARE(page.devices().last()->indexid, largest.toLongLong() + 1);
        } else if (road == "modify") {
            QCOMPARE(dialog && dialog->isVisible(), !stored);
            if (!stored) {
                QCOMPARE(form->deviceName(), QStringLiteral("camN"));
                QCOMPARE(form->address(), QStringLiteral("127.0.0.9"));
            }
            QCOMPARE(rowNames(page), (QStringList{stored ? "camN" : "camA", "camB"}));
            QCOMPARE(page.devices().at(0)->address, QString(stored ? "127.0.0.9" : "127.0.0.2"));
            QCOMPARE(m_fixture->query("SELECT devname FROM devices ORDER BY indexid"),
                     QString(stored ? "camN\ncamB" : "camA\ncamB"));
        } else {
            QCOMPARE(rowNames(page), (QStringList{"camA", "camB"}));
            QCOMPARE(page.devices().at(0)->address, QStringLiteral("127.0.0.2"));
            QCOMPARE(m_fixture->query("SELECT count(*) FROM devices"), QStringLiteral("2"));
            QCOMPARE(page.deviceCount(), 2);
        }
        if (!stored && road != "add")
            QVERIFY(page.streamServer()->unitFor("127.0.0.2"));
        auto *message = (dialog ? dialog.data() : &page)->findChild<qwTipsDlg *>();
        QCOMPARE(message != nullptr, !stored);
        if (message) {
            QVERIFY(message->isVisible());
            QCOMPARE(message->property(livetext::kTipKey).toString(), QStringLiteral("databaseerr"));
        }
        QCOMPARE(popupKeys(&page), stored ? QStringList() : QStringList{"tip_databaseerr"});
        m_fixture->flushLog();
        const QString note = testsupport::RunFolder::query(
            m_fixture->logFile(),
            QString("SELECT logtype || '|' || ifnull(lognote, '') FROM systemlogs WHERE logdecl = '%1 device'")
                .arg(road));
        QVERIFY2(stored ? note == "1|" : note.startsWith("3|") && note.contains(says), qPrintable(note));
    }

    void modifyDialog()
    {
        storeDevices(3);
        qwLiveView page;
        // A's address taken by B: refused, both unchanged.
        page.onDevlistButtonClick(0, 8);
        auto *dialog = page.findChild<qwModifyDevice *>();
        QVERIFY(dialog);
        const qint64 a = page.devices().at(0)->indexid;
        QCOMPARE(dialog->indexId(), a);
        page.onCameraModifyResult("camA", "127.0.0.3", 0, "80", "admin", "1234", a);
        QCOMPARE(popupKeys(&page), QStringList{"tip_devexist"});
        QCOMPARE(page.devices().at(0)->address, QStringLiteral("127.0.0.2"));
        QCOMPARE(page.devices().at(1)->address, QStringLiteral("127.0.0.3"));
        delete dialog;

        // The dialog stays bound to its device when rows move under it.
        page.onDevlistButtonClick(2, 8);
        dialog = page.findChild<qwModifyDevice *>();
        page.onDevlistButtonClick(0, 0x10);
        QCOMPARE(rowNames(page), (QStringList{"camB", "camC"}));
        dialog->form()->nameEdit()->setText("camC2");
        dialog->confirmButton()->click();
        QCOMPARE(rowNames(page), (QStringList{"camB", "camC2"}));
        QCOMPARE(page.devices().at(0)->devname, QStringLiteral("camB"));
        QCOMPARE(page.devices().at(1)->devname, QStringLiteral("camC2"));
        QCOMPARE(m_fixture->query("SELECT devname FROM devices ORDER BY address"), QStringLiteral("camB\ncamC2"));
        QVERIFY(logRows().contains("modify device|1|camC2|127.0.0.4"));

        // A result for a device that is gone changes nothing.
        page.onCameraModifyResult("ghost", "127.0.0.9", 0, "80", "admin", "1234", a);
        QCOMPARE(rowNames(page), (QStringList{"camB", "camC2"}));
    }

    // A modification the list refuses keeps the dialog with what was typed,
    // says why over it and logs the attempt as abnormal.
    void modifyRefusedByTheList_data()
    {
        QTest::addColumn<bool>("removed");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("says");
        QTest::newRow("address of a listed device") << false << "devexist"
                                                    << "listed device camB";
        QTest::newRow("device removed meanwhile") << true << "devremoved"
                                                  << "removed";
    }
    void modifyRefusedByTheList()
    {
        QFETCH(bool, removed);
        QFETCH(QString, key);
        QFETCH(QString, says);
        storeDevices(2);
        qwLiveView page;
        page.onDevlistButtonClick(0, 8);
        QPointer<qwModifyDevice> dialog = page.findChild<qwModifyDevice *>();
        QVERIFY(dialog);
        if (removed)
            page.onDevlistButtonClick(0, 0x10);
        dialog->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), dialog.data());
        const QString address = removed ? "127.0.0.9" : "127.0.0.3";
        dialog->form()->setValues("camN", address, qwDeviceForm::ByAddress, "80", "admin", "1234");
        dialog->confirmButton()->click();
        QApplication::processEvents();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->form()->deviceName(), QStringLiteral("camN"));
        QCOMPARE(dialog->form()->address(), address);
        auto *message = dialog->findChild<qwTipsDlg *>();
        QVERIFY(message && message->isVisible());
        QCOMPARE(message->property(livetext::kTipKey).toString(), key);
        QCOMPARE(rowNames(page), removed ? QStringList{"camB"} : (QStringList{"camA", "camB"}));
        QCOMPARE(m_fixture->query("SELECT address FROM devices ORDER BY indexid"),
                 QString(removed ? "127.0.0.3" : "127.0.0.2\n127.0.0.3"));
        m_fixture->flushLog();
        const QString note = testsupport::RunFolder::query(
            m_fixture->logFile(),
            "SELECT logtype || '|' || ifnull(lognote, '') FROM systemlogs WHERE logdecl = 'modify device'");
        QVERIFY2(note.startsWith("3|") && note.contains(says), qPrintable(note));
    }

    // A device whose address changes keeps its recording schedule, stored
    // and running, whichever road changed it.
    void addressChangeKeepsTheSchedule_data()
    {
        QTest::addColumn<bool>("dialog");
        QTest::newRow("modify dialog") << true;
        QTest::newRow("settings window") << false;
    }
    void addressChangeKeepsTheSchedule()
    {
        QFETCH(bool, dialog);
        storeDevices(2);
        QVERIFY(g_database->setRecordScheduleEnable(true));
        storeAllDaySchedule();
        qwLiveView page;
        auto named = [&page] {
            QStringList out;
            for (const auto &e : page.streamServer()->recordSchedules())
                out << e.devices;
            out.removeDuplicates();
            return out;
        };
        QCOMPARE(named(), QStringList{"127.0.0.2"});
        if (dialog) {
            page.onDevlistButtonClick(0, 8);
            auto *modify = page.findChild<qwModifyDevice *>();
            QVERIFY(modify);
            modify->form()->setValues("camA", "127.0.0.9", qwDeviceForm::ByAddress, "80", "admin", "1234");
            modify->confirmButton()->click();
        } else {
            page.onDevlistButtonClick(0, 4);
            auto *settings = page.findChild<qwDeviceSettings *>();
            QVERIFY(settings);
            emit settings->sigBaseInfoChange("127.0.0.9", "80", "admin", "1234");
        }
        QCOMPARE(page.devices().at(0)->address, QStringLiteral("127.0.0.9"));
        QCOMPARE(m_fixture->query("SELECT ipaddr FROM schedules"), QStringLiteral("127.0.0.9"));
        QCOMPARE(named(), QStringList{"127.0.0.9"});
    }

    // A refused update changes nothing and says so, on screen and in the log.
    void refusedUpdate()
    {
        storeDevices(1);
        qwLiveView page;
        QVERIFY(m_fixture->exec("CREATE TRIGGER refuse BEFORE UPDATE ON devices BEGIN SELECT RAISE(ABORT, 'no'); END"));
        const qint64 a = page.devices().at(0)->indexid;
        qcStreamUtil *unit = page.streamServer()->unitFor("127.0.0.2");
        page.onCameraModifyResult("camX", "127.0.0.8", 0, "81", "root", "pw", a);
        QCOMPARE(popupKeys(&page), QStringList{"tip_databaseerr"});
        QCOMPARE(page.devices().at(0)->devname, QStringLiteral("camA"));
        QCOMPARE(page.devices().at(0)->address, QStringLiteral("127.0.0.2"));
        QCOMPARE(page.cameraItem(0)->nameLabel()->text(), QStringLiteral("camA"));
        QCOMPARE(page.cameraItem(0)->infoLabel()->text(), QStringLiteral("127.0.0.2"));
        QCOMPARE(page.streamServer()->unitFor("127.0.0.2"), unit);
        QVERIFY(!page.streamServer()->unitFor("127.0.0.8"));

        page.onDevlistButtonClick(0, 4);
        auto *settings = page.findChild<qwDeviceSettings *>();
        settings->OnBaseinfoChange("root", "pw");
        QCOMPARE(popupKeys(&page), QStringList{"tip_databaseerr"});
        QCOMPARE(page.devices().at(0)->password, QStringLiteral("1234"));
        QCOMPARE(page.streamServer()->unitFor("127.0.0.2"), unit);
        // Both refusals are logged as abnormal, none as a change made.
        const QString log = logRows();
        QCOMPARE(log.count("modify device|3|"), 2);
        QVERIFY2(!log.contains("modify device|1|"), qPrintable(log));
    }

    void settingsWindow()
    {
        storeDevices(2);
        qwLiveView page;
        QTRY_COMPARE_WITH_TIMEOUT(page.cameraItem(0)->getStatus(), 2, 8000);
        page.onDevlistButtonClick(0, 4);
        auto *settings = page.findChild<qwDeviceSettings *>();
        QVERIFY(settings);
        QCOMPARE(settings->address(), QStringLiteral("127.0.0.2"));
        m_devices[0]->setCredentials("admin", "4321");
        settings->OnBaseinfoChange("admin", "4321");
        QCOMPARE(page.devices().at(0)->password, QStringLiteral("4321"));
        QCOMPARE(page.devices().at(1)->password, QStringLiteral("1234"));
        QCOMPARE(page.streamServer()->unitFor("127.0.0.2")->password(), QStringLiteral("4321"));
        QCOMPARE(m_fixture->query("SELECT password FROM devices WHERE address='127.0.0.2'"), QStringLiteral("4321"));
        QTRY_COMPARE_WITH_TIMEOUT(page.cameraItem(0)->getStatus(), 2, 8000);
        QVERIFY(logRows().contains("modify device|1|camA|127.0.0.2"));

        // A window whose device is gone changes nothing.
        page.onDevlistButtonClick(1, 4);
        auto windows = page.findChildren<qwDeviceSettings *>();
        QCOMPARE(windows.size(), 2);
        qwDeviceSettings *forB = windows.at(0) == settings ? windows.at(1) : windows.at(0);
        page.onDevlistButtonClick(1, 0x10);
        QCOMPARE(page.deviceCount(), 1);
        forB->OnBaseinfoChange("x", "y");
        QCOMPARE(page.deviceCount(), 1);
        QCOMPARE(page.devices().at(0)->username, QStringLiteral("admin"));
        QVERIFY(!page.streamServer()->unitFor("127.0.0.3"));
    }

    // A settings window acts for its device only where the device is: a
    // Modify that moves it (camA from .2 to .9, then camB to .2) or its
    // deletion closes the window, told, and what the closed window still
    // reports changes nothing; its own change to camB's address is refused
    // as the list's Modify refuses it.
    void settingsWindowFollowsItsDevice_data()
    {
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<QString>("stored"); // every stored address afterwards
        QTest::newRow("camA moved, camB to its old address") << "modify"
                                                             << "127.0.0.9\n127.0.0.2";
        QTest::newRow("camA deleted") << "delete"
                                      << "127.0.0.3";
        QTest::newRow("camB's address") << ""
                                        << "127.0.0.2\n127.0.0.3";
    }
    void settingsWindowFollowsItsDevice()
    {
        QFETCH(QString, meanwhile);
        QFETCH(QString, stored);
        storeDevices(2);
        qwLiveView page;
        page.onDevlistButtonClick(0, 4);
        QPointer<qwDeviceSettings> settings = page.findChild<qwDeviceSettings *>();
        QVERIFY(settings);
        if (meanwhile == "modify") {
            page.onCameraModifyResult("camA", "127.0.0.9", 0, "80", "admin", "1234", page.devices().at(0)->indexid);
            page.onCameraModifyResult("camB", "127.0.0.2", 0, "80", "admin", "1234", page.devices().at(1)->indexid);
        } else if (meanwhile == "delete") {
            page.onDevlistButtonClick(0, 0x10);
        }
        QCOMPARE(settings && settings->isVisible(), meanwhile.isEmpty());
        QVERIFY(settings);
        const QString address = meanwhile.isEmpty() ? "127.0.0.3" : "127.0.0.2";
        emit settings->sigBaseInfoChange(address, "80", "admin", "4321");
        QCOMPARE(popupKeys(&page), QStringList{meanwhile.isEmpty() ? "tip_devexist" : "tip_devsetclosed"});
        QCOMPARE(m_fixture->query("SELECT address FROM devices ORDER BY indexid"), stored);
        QCOMPARE(m_fixture->query("SELECT count(*) FROM devices WHERE password = '4321'"), QStringLiteral("0"));
        QVERIFY(!logRows().contains("modify device|1|camA|" + address));
    }

    // A Delete takes the one device asked for, though an older version
    // stored another at its address; a device whose row went meanwhile
    // leaves the list, said and logged as no deletion made.
    void deleteTakesTheOneDeviceAsked()
    {
        storeDevices(2);
        QVERIFY(
            m_fixture->exec("INSERT INTO devices(devname,address,port,indexid) VALUES('camZ','127.0.0.2','80',90)"));
        qwLiveView page;
        page.onDevlistButtonClick(0, 0x10);
        QCOMPARE(m_fixture->query("SELECT devname FROM devices ORDER BY indexid"), QStringLiteral("camB\ncamZ"));
        QVERIFY(m_fixture->exec("DELETE FROM devices WHERE devname = 'camB'"));
        page.onDevlistButtonClick(0, 0x10);
        QCOMPARE(page.deviceCount(), 0);
        QVERIFY(!page.streamServer()->unitFor("127.0.0.3"));
        QCOMPARE(popupKeys(&page), QStringList{"tip_devgone"});
        const QString log = logRows();
        QVERIFY2(log.contains("delete device|1|camA|127.0.0.2") && log.contains("delete device|3|camB|127.0.0.3") &&
                     !log.contains("delete device|1|camB"),
                 qPrintable(log));
    }

    // Rows an older version left at one address are listed, each; the one
    // left after the other's Delete keeps the address's streams, and adding
    // the address, or one another program stored meanwhile, is "devexist".
    void rowsAtOneAddressAreListed()
    {
        m_fixture.reset();
        const QString row = "INSERT INTO devices(devname,address,port,username,password,devtype,indexid) "
                            "VALUES('%1','127.0.0.2','80','admin','1234','VARAR',%2)";
        m_fixture = std::make_unique<testsupport::LivePageFixture>(
            QStringList{row.arg("camA").arg(1), row.arg("camZ").arg(90)});
        QVERIFY(m_fixture->isValid());
        qwLiveView page;
        QCOMPARE(rowNames(page), (QStringList{"camA", "camZ"}));
        page.onDevlistButtonClick(0, 0x10);
        QCOMPARE(rowNames(page), QStringList{"camZ"});
        QVERIFY(page.streamServer()->unitFor("127.0.0.2"));
        QCOMPARE(page.streamServer()->unitFor("127.0.0.2")->deviceIndex(), qint64(90));
        QVERIFY(
            m_fixture->exec("INSERT INTO devices(devname,address,port,indexid) VALUES('camY','127.0.0.7','80',91)"));
        page.onAddDevManual();
        for (const char *address : {"127.0.0.2", "127.0.0.7"}) {
            page.onCameraOptionResult("camN", address, "VARAR", "80", "admin", "1234", 0);
            QCOMPARE(popupKeys(&page), QStringList{"tip_devexist"});
        }
        QCOMPARE(m_fixture->query("SELECT devname FROM devices ORDER BY indexid"), QStringLiteral("camZ\ncamY"));
        QVERIFY(!logRows().contains("add device|1|"));
    }

    // One device at one address, whatever its spelling: camB's 127.0.0.3 and
    // camZ's stored 127.0.0.04 are taken on every road in any spelling, and
    // an address typed anew is stored without leading zeros.
    void oneAddressWhateverTheSpelling_data()
    {
        QTest::addColumn<QString>("road");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("stored"); // camA's address afterwards, or the new device's
        for (const char *road : {"add", "modify", "settings window"}) {
            QTest::addRow("%s, camB's spelt with zeros", road) << road << "127.0.0.03"
                                                               << "";
            QTest::addRow("%s, camZ's spelt without", road) << road << "127.0.0.4"
                                                            << "";
        }
        QTest::newRow("add, new address spelt with zeros") << "add"
                                                           << "127.0.0.09"
                                                           << "127.0.0.9";
        QTest::newRow("modify, new address spelt with zeros") << "modify"
                                                              << "127.0.0.009"
                                                              << "127.0.0.9";
        QTest::newRow("settings window, new address spelt with zeros") << "settings window"
                                                                       << "127.0.0.009"
                                                                       << "127.0.0.9";
    }
    void oneAddressWhateverTheSpelling()
    {
        QFETCH(QString, road);
        QFETCH(QString, address);
        QFETCH(QString, stored);
        storeDevices(2);
        QVERIFY(
            m_fixture->exec("INSERT INTO devices(devname,address,port,indexid) VALUES('camZ','127.0.0.04','80',90)"));
        qwLiveView page;
        if (road == "add") {
            page.onAddDevManual();
            page.onCameraOptionResult("camN", address, "VARAR", "80", "admin", "1234", 0);
        } else if (road == "modify") {
            page.onCameraModifyResult("camA", address, 0, "80", "admin", "1234", page.devices().at(0)->indexid);
        } else {
            page.onDevlistButtonClick(0, 4);
            emit page.findChild<qwDeviceSettings *>()->sigBaseInfoChange(address, "80", "admin", "1234");
        }
        // A window that moved its device closes, told.
        const QStringList told = stored.isEmpty()            ? QStringList{"tip_devexist"}
                                 : road == "settings window" ? QStringList{"tip_devsetclosed"}
                                                             : QStringList();
        QCOMPARE(popupKeys(&page), told);
        const QString others = "127.0.0.3\n127.0.0.04";
        const QString camA = road != "add" && !stored.isEmpty() ? stored : QString("127.0.0.2");
        const QString added = road == "add" && !stored.isEmpty() ? "\n" + stored : QString();
        QCOMPARE(m_fixture->query("SELECT address FROM devices ORDER BY indexid"), camA + "\n" + others + added);
        QCOMPARE(page.devices().at(0)->address, camA);
    }

    // A Modify dialog writes back only what was changed in it: a password
    // the settings window changed, or an address another Modify dialog
    // gave, while it was open stays as the device has it now.
    void modifyWritesOnlyWhatItChanged_data()
    {
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<QString>("stored"); // devname|address|password afterwards
        QTest::newRow("password changed in the settings window") << "settings window"
                                                                 << "camN|127.0.0.2|4321";
        QTest::newRow("moved by another Modify dialog") << "modify"
                                                        << "camN|127.0.0.9|1234";
    }
    void modifyWritesOnlyWhatItChanged()
    {
        QFETCH(QString, meanwhile);
        QFETCH(QString, stored);
        storeDevices(1);
        storeAllDaySchedule();
        qwLiveView page;
        page.onDevlistButtonClick(0, 8);
        QPointer<qwModifyDevice> first = page.findChild<qwModifyDevice *>();
        QVERIFY(first);
        if (meanwhile == "settings window") {
            page.onDevlistButtonClick(0, 4);
            QPointer<qwDeviceSettings> settings = page.findChild<qwDeviceSettings *>();
            QVERIFY(settings);
            m_devices[0]->setCredentials("admin", "4321");
            settings->OnBaseinfoChange("admin", "4321");
            settings->close();
        } else {
            page.onDevlistButtonClick(0, 8);
            auto dialogs = page.findChildren<qwModifyDevice *>();
            dialogs.removeOne(first.data());
            QCOMPARE(dialogs.size(), 1);
            dialogs[0]->form()->addressEdit()->setText("127.0.0.9");
            dialogs[0]->confirmButton()->click();
        }
        first->form()->nameEdit()->setText("camN");
        first->confirmButton()->click();
        QCOMPARE(m_fixture->query("SELECT devname || '|' || address || '|' || password FROM devices"), stored);
        const QStringList fields = stored.split('|');
        const _st_device_item *camA = page.devices().at(0);
        QCOMPARE((QStringList{camA->devname, camA->address, camA->password}), fields);
        QCOMPARE(page.streamServer()->unitFor(fields[1])->password(), fields[2]);
        QCOMPARE(m_fixture->query("SELECT ipaddr FROM schedules"), fields[1]);
    }

    // A list Modify that leaves a device's settings window asking where the
    // device was, or with a login it no longer has, closes the window, and
    // the reminder stays over the page when the dialog closes.
    void closedSettingsWindowIsTold_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("password");
        QTest::newRow("moved") << "127.0.0.9"
                               << "1234";
        QTest::newRow("password changed") << "127.0.0.2"
                                          << "4321";
    }
    void closedSettingsWindowIsTold()
    {
        QFETCH(QString, address);
        QFETCH(QString, password);
        storeDevices(1);
        qwLiveView page;
        page.onDevlistButtonClick(0, 4);
        QPointer<qwDeviceSettings> settings = page.findChild<qwDeviceSettings *>();
        QVERIFY(settings);
        page.onDevlistButtonClick(0, 8);
        QPointer<qwModifyDevice> dialog = page.findChild<qwModifyDevice *>();
        QVERIFY(dialog);
        dialog->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), dialog.data());
        dialog->form()->addressEdit()->setText(address);
        dialog->form()->passwordEdit()->setText(password);
        dialog->confirmButton()->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!dialog);
        QVERIFY(!settings || !settings->isVisible());
        const auto tips = page.findChildren<qwTipsDlg *>();
        QCOMPARE(tips.size(), 1);
        QCOMPARE(tips[0]->property(livetext::kTipKey).toString(), QStringLiteral("devsetclosed"));
        QCOMPARE(tips[0]->parentWidget(), &page);
        QVERIFY(tips[0]->isVisible());
    }

    // A second click on a row's settings button brings the device's open
    // window forward, even from behind another window; closing it deletes
    // it (its pages and previews with it) and the next click opens anew.
    void settingsWindowOncePerDevice()
    {
        storeDevices(2);
        qwLiveView page;
        page.onDevlistButtonClick(0, 4);
        QPointer<qwDeviceSettings> first = page.findChild<qwDeviceSettings *>();
        QVERIFY(first);
        QVERIFY(first->isVisible());
        QWidget other;
        other.show();
        other.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &other);

        page.onDevlistButtonClick(0, 4);
        QCOMPARE(page.findChildren<qwDeviceSettings *>().size(), 1);
        QTRY_COMPARE(QApplication::activeWindow(), first.data());
        page.onDevlistButtonClick(1, 4);
        QCOMPARE(page.findChildren<qwDeviceSettings *>().size(), 2);

        first->close();
        QTRY_VERIFY(first.isNull());
        page.onDevlistButtonClick(0, 4);
        const auto windows = page.findChildren<qwDeviceSettings *>();
        QCOMPARE(windows.size(), 2);
        QVERIFY(windows.at(0)->isVisible() && windows.at(1)->isVisible());
    }

    void removal()
    {
        storeDevices(3);
        qwLiveView page;
        page.onDevlistButtonClick(1, 0x10);
        QCOMPARE(rowNames(page), (QStringList{"camA", "camC"}));
        QCOMPARE(page.deviceCount(), 2);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(page.cameraItem(i)->index(), i);
        QVERIFY(!page.streamServer()->unitFor("127.0.0.3"));
        QCOMPARE(m_fixture->query("SELECT count(*) FROM devices"), QStringLiteral("2"));
        page.onDevlistButtonClick(1, 0x10);
        page.onDevlistButtonClick(0, 0x10);
        QCOMPARE(page.deviceCount(), 0);
        QCOMPARE(page.deviceList()->count(), 0);
        QVERIFY(page.devices().isEmpty());
        const QString log = logRows();
        QCOMPARE(log.count("delete device|1|"), 3);

        // Out of range: nothing.
        page.removeDevice(0);
        page.modifyDevice(5);
        QVERIFY(!page.findChild<qwModifyDevice *>());
    }

    // A PTZ stop owed to a device ends with its row, or with its row's move.
    void owedStopFollowsTheList_data()
    {
        QTest::addColumn<QString>("road");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("owed");
        QTest::newRow("delete") << "delete"
                                << "127.0.0.2" << 0;
        QTest::newRow("modify to another address") << "modify"
                                                   << "127.0.0.9" << 0;
        QTest::newRow("modify the name only") << "modify"
                                              << "127.0.0.2" << 1;
    }
    void owedStopFollowsTheList()
    {
        QFETCH(QString, road);
        QFETCH(QString, address);
        QFETCH(int, owed);
        storeDevices(2);
        qwLiveView page;
        qcLiveDeviceRequests *requests = page.deviceRequests();
        auto *stops = page.ptzPanel()->findChild<qcPtzStopRetry *>();
        QVERIFY(stops);
        devicesim::Device &camA = *m_devices[0];
        camA.stop();
        requests->setDevice("127.0.0.2", QString::number(camA.port()), "admin", "1234");
        QVERIFY(requests->postPtzControl(
            "<request><ptzcmd><cmd>0</cmd><move><hori>0</hori><vert>0</vert></move></ptzcmd></request>",
            qcLiveDeviceRequests::OpStop));
        QTRY_COMPARE(stops->owedCount(), 1);
        popupKeys(page.ptzPanel());
        if (road == "delete") {
            page.onDevlistButtonClick(0, 0x10);
        } else {
            page.onDevlistButtonClick(0, 8);
            auto *modify = page.findChild<qwModifyDevice *>();
            QVERIFY(modify);
            modify->form()->setValues("camN", address, qwDeviceForm::ByAddress, QString::number(camA.port()), "admin",
                                      "1234");
            modify->confirmButton()->click();
        }
        QCOMPARE(stops->owedCount(), owed);
        QCOMPARE(requests->address(), road == "delete" ? QString() : address);
        if (owed)
            return;
        // A device started later at the old address is not that camera.
        QVERIFY(camA.start(camA.address(), camA.port()));
        camA.clearLog();
        stops->retryOwed();
        QTRY_COMPARE(stops->attemptsRunning(), 0);
        QVERIFY(!camA.waitFor(
            [](const QList<devicesim::LoggedRequest> &log) {
                return std::any_of(log.begin(), log.end(), [](const auto &r) { return r.path == "/action/ptz"; });
            },
            300));
    }

    void rights()
    {
        storeDevices(1);
        qwLiveView page;
        // PTZ and snapshot rights alone do not open the settings window.
        g_curUserRights = 0x1 | 0x2;
        page.onDevlistButtonClick(0, 4);
        QCOMPARE(popupKeys(&page), QStringList{"tip_permdenied"});
        QVERIFY(!page.findChild<qwDeviceSettings *>());
        g_curUserRights = 0x20;
        page.onDevlistButtonClick(0, 4);
        QVERIFY(page.findChild<qwDeviceSettings *>());
        page.onDevlistButtonClick(0, 8);
        QCOMPARE(popupKeys(&page), QStringList{"tip_permdenied"});
        QVERIFY(!page.findChild<qwModifyDevice *>());
        page.onDevlistButtonClick(0, 0x10);
        QCOMPARE(popupKeys(&page), QStringList{"tip_permdenied"});
        QCOMPARE(page.deviceCount(), 1);
        g_curUserRights = 0;
        page.onDevlistButtonClick(0, 4);
        QCOMPARE(popupKeys(&page), QStringList{"tip_permdenied"});
        QCOMPARE(page.findChildren<qwDeviceSettings *>().size(), 1);
    }

    // The settings window is a window of its own though the page makes it:
    // a message of the page never comes up over it or over its dialogs.
    void messagesStayOffTheSettingsWindow()
    {
        storeDevices(1);
        qwLiveView page;
        page.show();
        page.onDevlistButtonClick(0, 4);
        auto *settings = page.findChild<qwDeviceSettings *>();
        QVERIFY(settings);
        QVERIFY(QTest::qWaitForWindowExposed(settings));
        QDialog dialog(settings);
        dialog.open();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(qwTipsDlg::ownerFor(&page), &page);
        QCOMPARE(qwTipsDlg::ownerFor(settings), &dialog);
    }

    void refreshAndOpenWithoutLogin()
    {
        storeDevices(1);
        m_devices[0]->stop();
        qwLiveView page;
        page.onDevlistButtonClick(0, 0);
        QCOMPARE(page.cameraItem(0)->getStatus(), 1);
        QVERIFY(!page.cameraItem(0)->isOptionEnabled(4));
        // Not logged in: nothing opens.
        page.openStream(0);
        page.onListItemDrop(2);
        QCOMPARE(page.selectedView(), 2);
        QVERIFY(page.viewRecords().isEmpty());
        QVERIFY(!page.viewToolbar(2));
        QTRY_COMPARE_WITH_TIMEOUT(page.cameraItem(0)->getStatus(), 0, 8000);
        QVERIFY(page.cameraItem(0)->isOptionEnabled(8));
    }
};

QTEST_MAIN(DevicesTest)
#include "tst_devices.moc"
