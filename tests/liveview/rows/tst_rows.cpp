#include "app/core/database.h"
#include "app/widgets/qclabelex.h"
#include "cameraitems.h"
#include "liveview/livetext.h"
#include "liveview/qwcameraitem.h"
#include "liveview/qwcstmvideoview.h"
#include "liveview/qwliveview.h"
#include "liveview/qwpresetitem.h"
#include "tests/support/livepage.h"
#include "tests/support/shown.h"

#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QSignalSpy>
#include <QtTest>

namespace {

using cameraitems::enabledMask;

int g_drags = 0;
QByteArray g_dragData;
void countDrag(qwCameraItem *, QMimeData *data, const QPixmap &picture)
{
    ++g_drags;
    g_dragData = data->data(QLatin1String(qwCstmVideoview::kDragFormat));
    QCOMPARE(picture.size(), QSize(48, 48));
    delete data;
}

QString stateText(const char *key)
{
    return liveText(34, 48, "devstatus") + ": " + liveText(34, 48, key);
}

void press(QLabel *label)
{
    QTest::mousePress(label, Qt::LeftButton);
}

} // namespace

class RowsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    void statusStates()
    {
        testsupport::LivePageFixture fixture;
        QVERIFY(fixture.isValid());
        qwCameraItem item(nullptr, "camA", 0, true);
        QCOMPARE(item.getStatus(), 0);
        QCOMPARE(item.stateLabel()->text(), liveText(34, 48, "isoffline"));
        const QImage offlineIcon = item.iconLabel()->pixmap(Qt::ReturnByValue).toImage();

        item.setStatus(2);
        QCOMPARE(item.stateLabel()->text(), stateText("islogined"));
        const QImage loggedIcon = item.iconLabel()->pixmap(Qt::ReturnByValue).toImage();
        QVERIFY(loggedIcon != offlineIcon);
        for (int bad : {5, -1}) {
            item.setStatus(bad);
            QCOMPARE(item.getStatus(), 2);
            QCOMPARE(item.stateLabel()->text(), stateText("islogined"));
            QCOMPARE(item.iconLabel()->pixmap(Qt::ReturnByValue).toImage(), loggedIcon);
        }
        item.setStatus(4);
        QCOMPARE(item.getStatus(), 4);
        QCOMPARE(item.stateLabel()->text(), stateText("isloginerr"));
        QCOMPARE(item.iconLabel()->pixmap(Qt::ReturnByValue).toImage(), offlineIcon);

        item.setDeviceLabel("Gate");
        QCOMPARE(item.stateLabel()->text(), QStringLiteral("Gate"));
    }

    // What the page makes of the stream service's status codes for a row: the
    // codes go to the row whose address is given; the checks read the row
    // named in the last column (camA by address, camP by identifier).
    void pageSetsRowStatus_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QList<int>>("codes");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("mask");
        const QString a = QStringLiteral("127.0.0.2");
        QTest::newRow("checking") << a << QList<int>{0} << 0 << 1 << 0x18;
        QTest::newRow("logged in") << a << QList<int>{0, 1} << 0 << 2 << 0x1f;
        QTest::newRow("logged in while checked again") << a << QList<int>{1, 0} << 0 << 2 << 0x1f;
        QTest::newRow("login refused") << a << QList<int>{1, 2} << 0 << 4 << 0x18;
        QTest::newRow("unreachable") << a << QList<int>{1, 3} << 0 << 0 << 0x18;
        QTest::newRow("unknown code") << a << QList<int>{1, 7} << 0 << 2 << 0x1f;
        QTest::newRow("by identifier") << "ABCD-123456-XYZ" << QList<int>{1} << 1 << 2 << 0x19;
        QTest::newRow("unknown address") << "127.0.0.99" << QList<int>{0, 1} << 0 << 0 << 0x18;
    }

    void pageSetsRowStatus()
    {
        QFETCH(QString, address);
        QFETCH(QList<int>, codes);
        QFETCH(int, row);
        QFETCH(int, status);
        QFETCH(int, mask);
        testsupport::LivePageFixture fixture;
        QVERIFY(fixture.isValid());
        _st_device_item byAddress;
        byAddress.devname = "camA";
        byAddress.address = "127.0.0.2";
        byAddress.port = "1";
        byAddress.devtype = "VARAR";
        QVERIFY(g_database->addDevice(byAddress) >= 1);
        _st_device_item byId = byAddress;
        byId.devname = "camP";
        byId.address = "ABCD-123456-XYZ";
        byId.devtype = "LOOPP2P";
        QVERIFY(g_database->addDevice(byId) >= 1);
        qwLiveView page;
        page.onDeviceStatus("127.0.0.2", 3);
        page.onDeviceStatus("ABCD-123456-XYZ", 3);
        for (int code : codes)
            page.onDeviceStatus(address, code);
        page.onDeviceMataChange(address, 0);
        QCOMPARE(page.cameraItem(row)->getStatus(), status);
        QCOMPARE(enabledMask(page.cameraItem(row)), mask);
    }

    // A device's name as typed, and a preset's name as the device sent it,
    // read as written in their rows; a picture a name points to is never
    // loaded (the row would grow to its height).
    void namesShownAsWritten_data() { testsupport::addMarkupRows(); }
    void namesShownAsWritten()
    {
        QFETCH(QString, text);
        testsupport::LivePageFixture fixture;
        QVERIFY(fixture.isValid());
        const QString file = fixture.path() + "/big.png";
        QVERIFY(testsupport::savePicture(file));
        text.replace("%1", file);
        _st_device_item device;
        device.devname = text;
        device.address = "127.0.0.2";
        device.port = "1";
        device.devtype = "VARAR";
        QVERIFY(g_database->addDevice(device) >= 1);
        qwLiveView page;
        QLabel *shown = page.cameraItem(0)->nameLabel();
        QCOMPARE(testsupport::shownText(shown), text);
        QVERIFY(shown->sizeHint().height() < testsupport::kPictureSide);
        qwPresetItem preset(nullptr, 1, text, text);
        QCOMPARE(testsupport::shownText(preset.nameLabel()), text);
        QCOMPARE(testsupport::shownText(preset.stateLabel()), text);
    }

    void optionsAndClicks()
    {
        qwCameraItem item(nullptr, "camA", 0, true);
        QSignalSpy clicks(&item, &qwCameraItem::sigOptionBtnClick);
        const QImage settingsNormal = item.optionButton(4)->pixmap(Qt::ReturnByValue).toImage();

        item.disableOptions(0x1f);
        for (int mask : {1, 2, 4, 8, 0x10})
            QVERIFY(!item.isOptionEnabled(mask));
        QVERIFY(item.optionButton(4)->pixmap(Qt::ReturnByValue).toImage() != settingsNormal);
        QVERIFY(item.isOptionEnabled(0));
        for (int mask : {4, 8, 0x10})
            press(item.optionButton(mask));
        QCOMPARE(clicks.count(), 0);
        press(item.optionButton(0));
        QCOMPARE(clicks.count(), 1);
        QCOMPARE(clicks.takeFirst(), (QVariantList{0, 0}));

        item.enableOptions(0x18);
        QVERIFY(item.isOptionEnabled(8) && item.isOptionEnabled(0x10));
        QVERIFY(!item.isOptionEnabled(4) && !item.isOptionEnabled(1) && !item.isOptionEnabled(2));
        item.enableOptions(4);
        QCOMPARE(item.optionButton(4)->pixmap(Qt::ReturnByValue).toImage(), settingsNormal);

        item.setIndex(3);
        press(item.optionButton(0x10));
        QCOMPARE(clicks.count(), 1);
        QCOMPARE(clicks.takeFirst(), (QVariantList{3, 0x10}));

        // Play and face stay hidden whatever is enabled.
        QVERIFY(item.optionButton(1)->isHidden());
        QVERIFY(item.optionButton(2)->isHidden());
        QVERIFY(!item.optionButton(4)->isHidden());
    }

    void dragging()
    {
        qwCameraItem::setDragRunner(countDrag);
        qwCameraItem item(nullptr, "camA", 0, true);
        item.resize(240, 86);
        g_drags = 0;

        QMouseEvent rightMove(QEvent::MouseMove, QPointF(10, 10), Qt::NoButton, Qt::RightButton, Qt::NoModifier);
        QApplication::sendEvent(&item, &rightMove);
        QCOMPARE(g_drags, 0);

        item.setDragEnabled(false);
        QMouseEvent leftMove(QEvent::MouseMove, QPointF(12, 12), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&item, &leftMove);
        QCOMPARE(g_drags, 0);

        item.setDragEnabled(true);
        QApplication::sendEvent(&item, &leftMove);
        QCOMPARE(g_drags, 1);
        QCOMPARE(g_dragData, QByteArray("0x117101"));
        qwCameraItem::setDragRunner(nullptr);

        std::unique_ptr<QMimeData> data(qwCameraItem::createDragData());
        QVERIFY(data->hasFormat("application/x-qabstractitemmodeldatalist"));
        QCOMPARE(data->data("application/x-qabstractitemmodeldatalist"), QByteArray("0x117101"));
    }

    void hiddenOptionLine()
    {
        qwCameraItem item(nullptr, "camA", 0, false);
        QVERIFY(item.infoLabel()->parentWidget()->isHidden());
    }

    void presetRenaming()
    {
        qwPresetItem item(nullptr, 5, "A", "set");
        item.resize(300, 30);
        item.show();
        QVERIFY(QTest::qWaitForWindowExposed(&item));
        QSignalSpy renames(&item, &qwPresetItem::sigNameChange);
        QSignalSpy clicks(&item, &qwPresetItem::sigClicked);

        // An empty name restores the former one.
        QTest::mouseDClick(&item, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        QVERIFY(item.isEditing());
        QVERIFY(item.nameLabel()->isHidden());
        item.nameEdit()->clear();
        item.onEditfinished();
        QCOMPARE(renames.count(), 0);
        QCOMPARE(item.nameEdit()->text(), QStringLiteral("A"));
        QVERIFY(!item.isEditing());
        QVERIFY(!item.nameLabel()->isHidden());

        // The same name emits nothing.
        QTest::mouseDClick(&item, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        item.onEditfinished();
        QCOMPARE(renames.count(), 0);

        // "A" to "B" once, though hiding the editor finishes editing again.
        QTest::mouseDClick(&item, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        item.nameEdit()->setText("B");
        item.onEditfinished();
        QCOMPARE(renames.count(), 1);
        QCOMPARE(renames.at(0), (QVariantList{5, QStringLiteral("B")}));
        QCOMPARE(item.nameLabel()->text(), QStringLiteral("B"));

        // A cancelled rename closes the editor, keeps the name and emits nothing.
        QTest::mouseDClick(&item, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        item.nameEdit()->setText("C");
        item.cancelRename();
        QVERIFY(item.nameEdit()->isHidden());
        QVERIFY(!item.isEditing());
        QCOMPARE(item.nameEdit()->text(), QStringLiteral("B"));
        QCOMPARE(item.nameLabel()->text(), QStringLiteral("B"));
        QCOMPARE(renames.count(), 1);

        QTest::mouseClick(&item, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        QVERIFY(clicks.count() >= 1);
        QCOMPARE(clicks.last().at(0).toInt(), 5);
    }
};

QTEST_MAIN(RowsTest)
#include "tst_rows.moc"
