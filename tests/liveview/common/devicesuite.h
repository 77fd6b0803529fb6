#pragma once

// What the suites of the live page's device roads (the list, the Add form
// and Modify dialog, the settings window, the address) share: a fresh run
// folder per row, loopback devices stored in it, and the system log read
// back. A suite derives from DeviceSuite and lists this header among its
// sources, for its slots.

#include "app/core/database.h"
#include "app/shell/pagelinks.h"
#include "liveview/qwcameraitem.h"
#include "liveview/qwliveview.h"
#include "tests/support/livepage.h"
#include "livedevices.h"

#include <QLabel>
#include <QListWidget>
#include <QtTest>

#include <memory>
#include <vector>

namespace livedevices {

// The fault of a row that holds the database locked from another connection
// while the change is asked for.
const QString kHeldLocked = QStringLiteral("held locked");

inline QStringList rowNames(qwLiveView &page)
{
    QStringList names;
    for (int i = 0; i < page.deviceList()->count(); ++i)
        names << page.cameraItem(i)->nameLabel()->text();
    return names;
}

} // namespace livedevices

// Out of any namespace: Q_INIT_RESOURCE declares its function where it
// stands.
class DeviceSuite : public QObject
{
    Q_OBJECT

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

protected:
    std::unique_ptr<testsupport::LivePageFixture> m_fixture;
    std::vector<std::unique_ptr<devicesim::Device>> m_devices;

    // Stores one record per device (camA at 127.0.0.2, camB at .3, ...).
    void storeDevices(int count)
    {
        const char *names[] = {"camA", "camB", "camC", "camD", "camE"};
        for (int i = 0; i < count; ++i) {
            m_devices.push_back(livedevices::start(QString("127.0.0.%1").arg(2 + i)));
            QVERIFY(m_devices.back());
            QVERIFY(g_database->addDevice(livedevices::record(names[i], *m_devices.back())) >= 1);
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
};
