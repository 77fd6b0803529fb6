#include "app/widgets/qwtipsdlgex.h"
#include "app/widgets/stylesheets.h"
#include "devsettings/qwdevicesettings.h"
#include "liveview/livetext.h"
#include "liveview/qwadddevice.h"
#include "tests/support/popups.h"
#include "tests/support/typing.h"
#include "liveview/qwalarmeventmanane.h"
#include "liveview/qwcstmvideoview.h"
#include "liveview/qwdeviceform.h"
#include "liveview/qwfacedetection.h"
#include "liveview/qwmodifydevice.h"
#include "liveview/qwvideoshowtoolbar.h"
#include "platform/widgets/qipaddressedit.h"
#include "tests/support/livepage.h"
#include "viewdrop.h"

#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

namespace {

// Counts the presses and releases that reach a widget.
class MouseCounter : public QWidget
{
public:
    int presses = 0;
    int releases = 0;
    QPoint lastPos;

protected:
    void mousePressEvent(QMouseEvent *e) override
    {
        ++presses;
        lastPos = e->pos();
    }
    void mouseReleaseEvent(QMouseEvent *e) override
    {
        ++releases;
        lastPos = e->pos();
    }
};

using livedevices::dropOn;
using testsupport::popupKeys;

void fillForm(qwDeviceForm *form, const QString &name, const QString &ip, const QString &port)
{
    form->nameEdit()->setText(name);
    form->addressEdit()->setText(ip);
    form->portEdit()->setText(port);
}

// The dialogs of the live page, opened over a main window that carries the
// program's style sheet, as the page opens them.
BaseWindow *openDialog(const QString &kind, QWidget *main)
{
    BaseWindow *dialog = nullptr;
    if (kind == "add")
        dialog = new qwAddDevice(main, QString(), 0);
    else if (kind == "modify")
        dialog = new qwModifyDevice(main, "Modify");
    else if (kind == "settings")
        dialog = new qwDeviceSettings(main);
    else
        dialog = new qwAlarmEventManane(main);
    dialog->show();
    QCoreApplication::sendPostedEvents();
    return dialog;
}

void sendMouse(QWidget *w, QEvent::Type type, const QPoint &global)
{
    QMouseEvent e(type, w->mapFromGlobal(global), global, Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

} // namespace

class WidgetsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    void videoViewDropAndMouse()
    {
        MouseCounter parent;
        parent.resize(400, 300);
        qwCstmVideoview view(&parent, 7, 1);
        view.setGeometry(100, 50, 100, 100);
        QSignalSpy drops(&view, &qwCstmVideoview::sigDropPlay);
        QSignalSpy clicks(&view, &qwCstmVideoview::sigClick);
        QSignalSpy dbclicks(&view, &qwCstmVideoview::sigDBClick);

        QVERIFY(!dropOn(&view, "text/plain"));
        QCOMPARE(drops.count(), 0);
        QVERIFY(dropOn(&view, "application/x-qabstractitemmodeldatalist"));
        QCOMPARE(drops.count(), 1);
        QCOMPARE(drops.at(0).at(0).toInt(), 7);

        QTest::mousePress(&view, Qt::LeftButton, Qt::NoModifier, QPoint(10, 20));
        QCOMPARE(parent.presses, 1);
        QCOMPARE(parent.lastPos, QPoint(110, 70));
        QVERIFY(view.isDragging());
        QCOMPARE(clicks.count(), 0);
        QTest::mouseRelease(&view, Qt::LeftButton, Qt::NoModifier, QPoint(10, 20));
        QCOMPARE(parent.releases, 1);
        QVERIFY(!view.isDragging());
        QCOMPARE(clicks.count(), 1);
        QCOMPARE(clicks.at(0).at(0).toInt(), 7);

        view.setIndex(9);
        QTest::mouseDClick(&view, Qt::LeftButton);
        QCOMPARE(dbclicks.last().at(0).toInt(), 9);
        view.updateCursor();
        QCOMPARE(clicks.last().at(0).toInt(), 9);
    }

    void toolbar()
    {
        QWidget parent;
        qwVideoshowToolbar bar(&parent, 3);
        QSignalSpy spy(&bar, &qwVideoshowToolbar::sigToolbarButtonClick);
        bar.setButtonState(1, true);
        QVERIFY(bar.isZoomActive());
        bar.button(1)->click();
        QCOMPARE(spy.last(), (QVariantList{3, 1, 1})); // switching off
        bar.setIndex(5);
        bar.button(8)->click();
        QCOMPARE(spy.last(), (QVariantList{5, 8, 0}));
        bar.setButtonState(4, true);
        QVERIFY(bar.isRecordActive() && !bar.isZoomActive());
        bar.setButtonState(16, true);
        QVERIFY(!bar.button(16)->isHidden() && bar.button(8)->isHidden());
        bar.setButtonState(8, true);
        QVERIFY(bar.button(16)->isHidden() && !bar.button(8)->isHidden());
        bar.setButtonState(0x1f, false);
        QVERIFY(!bar.isRecordActive() && !bar.isZoomActive());

        bar.resize(135, 21);
        bar.showRecording(true);
        QVERIFY(bar.recordingLabel()->isHidden());
        bar.resize(136, 21);
        bar.showRecording(true);
        QVERIFY(!bar.recordingLabel()->isHidden());
        bar.showRecording(false);
        QVERIFY(bar.recordingLabel()->isHidden());
    }

    void dialogs_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char *kind : {"add", "modify", "settings", "alarms"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }

    // Each dialog is a window of its own, opens over the middle of the main
    // window, moves as a window when its title bar is dragged, and has room
    // for its buttons' texts.
    void dialogs()
    {
        QFETCH(QString, kind);
        testsupport::LivePageFixture fixture;
        QWidget main;
        main.setStyleSheet(QString::fromLatin1(styles::kMainWindow));
        main.setGeometry(60, 40, 1100, 760);
        main.show();
        BaseWindow *dialog = openDialog(kind, &main);
        QVERIFY(dialog->isWindow());
        const QPoint offset = dialog->frameGeometry().center() - main.frameGeometry().center();
        QVERIFY2(offset.manhattanLength() <= 2, qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));

        const QPoint from = dialog->mapToGlobal(QPoint(120, 12));
        const QPoint start = dialog->pos();
        sendMouse(dialog, QEvent::MouseButtonPress, from);
        sendMouse(dialog, QEvent::MouseMove, from + QPoint(70, -30));
        sendMouse(dialog, QEvent::MouseButtonRelease, from + QPoint(70, -30));
        QVERIFY(dialog->isWindow());
        QCOMPARE(dialog->pos(), start + QPoint(70, -30));

        // No layout squeezes a button below its text and some room beside it.
        const QStringList squeezed = testsupport::squeezedButtons(dialog);
        QVERIFY2(squeezed.isEmpty(), qPrintable(squeezed.join(", ")));
    }

    void addDialogBadInput_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("tip");
        const auto row = [](const char *name, const char *ip, const char *port, const char *tip) {
            QTest::newRow(name) << QString(ip) << QString(port) << QString(tip);
        };
        row("no address", "", "80", "tip_ipincomplete");
        row("no port", "127.0.0.2", "", "tip_needport");
        row("port 0", "127.0.0.2", "0", "tip_portrange");
        row("port 65536", "127.0.0.2", "65536", "tip_portrange");
        row("port not a number", "127.0.0.2", "8o", "tip_portrange");
    }

    void addDialogBadInput()
    {
        QFETCH(QString, ip);
        QFETCH(QString, port);
        QFETCH(QString, tip);
        QWidget parent;
        qwAddDevice dialog(&parent, QStringLiteral("Add"), 0);
        QSignalSpy spy(&dialog, &qwAddDevice::sigOptionResult);
        fillForm(dialog.form(), "x", ip, port);
        dialog.addButton()->click();
        QCOMPARE(popupKeys(&dialog), QStringList{tip});
        QCOMPARE(spy.count(), 0);
    }

    void ipAddressEdit()
    {
        QIPAddressEdit edit;
        edit.show();
        QApplication::setActiveWindow(&edit);
        QVERIFY(QTest::qWaitForWindowActive(&edit));
        QSignalSpy changes(&edit, &QIPAddressEdit::textChanged);
        edit.field(0)->setFocus();
        QTest::keyClicks(edit.field(0), "256");
        QCOMPARE(edit.field(0)->text(), QStringLiteral("25"));
        QCOMPARE(edit.text(), QString());
        edit.field(0)->clear();
        QTest::keyClicks(edit.field(0), "192");
        // A full octet moves on; a dot moves on after a short one.
        QCOMPARE(QApplication::focusWidget(), edit.field(1));
        QTest::keyClicks(edit.field(1), "16.");
        QCOMPARE(QApplication::focusWidget(), edit.field(2));
        QTest::keyClicks(edit.field(2), "1.");
        QCOMPARE(QApplication::focusWidget(), edit.field(3));
        QTest::keyClicks(edit.field(3), "7");
        QCOMPARE(edit.text(), QStringLiteral("192.16.1.7"));
        QVERIFY(changes.count() > 0);
        QCOMPARE(changes.last().at(0).toString(), QStringLiteral("192.16.1.7"));

        edit.setText("10.0.0.254");
        QCOMPARE(edit.text(), QStringLiteral("10.0.0.254"));
        edit.setText("10.0.0.256");
        QCOMPARE(edit.text(), QString());
        edit.setText("1.2.3");
        QCOMPARE(edit.text(), QString());

        // The settings dialogs read the fields as they stand, a partial address too.
        QSignalSpy values(&edit, &QIPAddressEdit::IPValueChanged);
        edit.SetValue("192.168.1.2");
        QCOMPARE(values.last().at(0).toString(), QStringLiteral("192.168.1.2"));
        edit.field(3)->clear();
        QCOMPARE(edit.GetValue(), QStringLiteral("192.168.1."));
        QCOMPARE(edit.text(), QString());
        edit.SetValue("");
        QCOMPARE(edit.GetValue(), QString());
    }

    // A box holds what it shows, however the digits came in: digits of
    // another script are held as the ASCII digits they stand for, and the
    // address is read as the boxes show it.
    void ipAddressEditDigits_data()
    {
        QTest::addColumn<QString>("road");
        QTest::addColumn<QString>("octets"); // the four boxes' texts, '|' between
        QTest::addColumn<QString>("shown");  // the boxes afterwards, '.' between
        QTest::addColumn<QString>("address");
        const QString fullwidth = QString::fromUtf8("１２７|０|０|９");
        const QString arabicIndic = QString::fromUtf8("١٠|٠|٠|٢٥٥");
        for (const char *road : {"typed", "pasted", "box set", "editor set"}) {
            QTest::addRow("%s, fullwidth", road) << road << fullwidth << "127.0.0.9"
                                                 << "127.0.0.9";
            QTest::addRow("%s, Arabic-Indic", road) << road << arabicIndic << "10.0.0.255"
                                                    << "10.0.0.255";
        }
        // From the first box on, with the dot typed in the same width.
        QTest::newRow("typed across, fullwidth") << "typed across" << fullwidth << "127.0.0.9"
                                                 << "127.0.0.9";
        QTest::newRow("typed, fullwidth over 255") << "typed" << QString::fromUtf8("２５６|０|０|９") << "25.0.0.9"
                                                   << "25.0.0.9";
        QTest::newRow("pasted, fullwidth over 255") << "pasted" << QString::fromUtf8("２５６|０|０|９") << ".0.0.9"
                                                    << "";
        QTest::newRow("editor set, sign") << "editor set"
                                          << "+1|0|0|9"
                                          << ""
                                          << "";
        // Set past the validator: shown as set, and no address.
        QTest::newRow("box set, letters") << "box set"
                                          << "1a|0|0|9"
                                          << "1a.0.0.9"
                                          << "";
    }
    void ipAddressEditDigits()
    {
        QFETCH(QString, road);
        QFETCH(QString, octets);
        QFETCH(QString, shown);
        QFETCH(QString, address);
        QIPAddressEdit edit;
        const QStringList parts = octets.split('|');
        if (road == "editor set") {
            edit.setText(parts.join('.'));
        } else if (road == "typed across") {
            edit.show();
            QApplication::setActiveWindow(&edit);
            QVERIFY(QTest::qWaitForWindowActive(&edit));
            edit.field(0)->setFocus();
            for (const QChar c : parts.join(QChar(0xFF0E)))
                testsupport::typeText(QApplication::focusWidget(), c);
        }
        for (int i = 0; road != "editor set" && road != "typed across" && i < 4; ++i) {
            QLineEdit *box = edit.field(i);
            if (road == "typed") {
                testsupport::typeText(box, parts[i]);
            } else if (road == "pasted") {
                QApplication::clipboard()->setText(parts[i]);
                box->paste();
            } else {
                box->setText(parts[i]);
            }
        }
        QCOMPARE(edit.GetValue(), shown);
        QCOMPARE(edit.text(), address);
    }

    void faceWindow()
    {
        QPointer<qwFaceDetection> face = new qwFaceDetection(nullptr);
        QCOMPARE(face->windowTitle(), QStringLiteral("Face detection"));
        face->show();
        face->close();
        QTRY_VERIFY(face.isNull());
    }
};

QTEST_MAIN(WidgetsTest)
#include "tst_widgets.moc"
