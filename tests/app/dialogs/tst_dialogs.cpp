#include "app/widgets/nofocusrectstyle.h"
#include "app/widgets/qclabelex.h"
#include "app/widgets/qwtipsdlg.h"
#include "app/widgets/qwtipsdlgex.h"
#include "app/widgets/qwwaittingdlg.h"
#include "app/widgets/qwweekeditor.h"
#include "app/widgets/statusbutton.h"
#include "tests/support/popups.h"
#include "tests/support/shown.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QStyleOptionFocusRect>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A tip whose work area does not start at (0, 0), as with a panel at the
// top or left or on a second screen; it records where it was moved.
class PlacedTip : public qwTipsdlgEx
{
public:
    PlacedTip(int kind, QList<QPoint> *positions) : qwTipsdlgEx(nullptr, kind), m_positions(positions) {}

protected:
    QRect availableArea() const override { return QRect(100, 50, 800, 600); }
    void moveEvent(QMoveEvent *event) override
    {
        m_positions->append(event->pos());
        qwTipsdlgEx::moveEvent(event);
    }

private:
    QList<QPoint> *m_positions;
};

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT
    // Outlives the tips even when a check fails.
    QList<QPoint> positions;

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    void failureTipSlidesInAndOutAndDeletesItself()
    {
        QElapsedTimer clock;
        clock.start();
        positions.clear();
        QPointer<PlacedTip> tip = new PlacedTip(qwTipsdlgEx::Failure, &positions);
        tip->setTipText("Could not save");
        QCOMPARE(tip->messageLabel()->styleSheet(), QStringLiteral("QLabel{color:#ff7c7c;}"));
        QCOMPARE(tip->size(), QSize(256, 156));
        tip->show();
        const QPoint shown(100 + 800 - 256, 50 + 600 - 156);
        const QPoint hidden(100 + 800 - 256, 50 + 600);
        QVERIFY(positions.contains(hidden));
        QTRY_COMPARE_WITH_TIMEOUT(tip->pos(), shown, 2000);
        QCOMPARE(tip->messageLabel()->geometry(), QRect(18, 50, 210, 90));

        // Still in place shortly before five seconds, gone after the slide-out.
        QTest::qWait(int(4600 - clock.elapsed()));
        QVERIFY(!tip.isNull());
        QCOMPARE(tip->pos(), shown);
        QTRY_VERIFY_WITH_TIMEOUT(tip.isNull(), 4000);
        QVERIFY2(clock.elapsed() >= 5000 + qwTipsdlgEx::kSlideMs - 40, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(positions.last(), hidden);
    }

    void closeButtonSlidesOutToo()
    {
        positions.clear();
        QPointer<PlacedTip> tip = new PlacedTip(qwTipsdlgEx::Success, &positions);
        QCOMPARE(tip->messageLabel()->styleSheet(), QStringLiteral("QLabel{color:#00bfff;}"));
        tip->show();
        QTRY_COMPARE_WITH_TIMEOUT(tip->pos(), QPoint(644, 494), 2000);
        QTest::mouseClick(tip->closeButton(), Qt::LeftButton);
        QVERIFY(!tip.isNull()); // sliding first
        QTRY_VERIFY_WITH_TIMEOUT(tip.isNull(), 3000);
        QCOMPARE(positions.last(), QPoint(644, 650));
    }

    void pathTipRevealsItsFile()
    {
        QStringList revealed;
        qwTipsdlgEx::setRevealFunction([&revealed](const QString &path) {
            revealed << path;
            return true;
        });
        const QString path = QStringLiteral("/tmp/my clips/a'b;$(rm -rf x)/Bild ä.jpg");
        for (int kind : {1, 2, 3}) {
            auto *tip = new qwTipsdlgEx(nullptr, kind);
            tip->setTipText(path);
            QTest::mouseClick(tip->messageLabel(), Qt::LeftButton);
            delete tip;
        }
        qwTipsdlgEx::setRevealFunction(nullptr);
        QCOMPARE(revealed, QStringList{path});
    }

    // A path has no spaces to wrap at: it is broken anywhere, or its middle
    // gives way to an ellipsis, within the tip's 210 x 90 label.
    void pathWithinItsLabel_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("whole");
        const QString folder = QStringLiteral("/home/operator/ARDO/RecordFile/20261207/192.168.1.108/");
        QTest::newRow("short") << QStringLiteral("/tmp/a.mp4") << true;
        QTest::newRow("broken") << QStringLiteral("/tmp/RecordFile/20261207/REC_MANUAL_105933.mp4") << true;
        QTest::newRow("deep") << folder.repeated(5) + "REC_MANUAL_20261207_105933.mp4" << false;
        QTest::newRow("wide characters") << QStringLiteral("/srv/録画/カメラ一/").repeated(8) + "映像.mp4" << false;
    }
    void pathWithinItsLabel()
    {
        QFETCH(QString, path);
        QFETCH(bool, whole);
        qwTipsdlgEx tip(nullptr, qwTipsdlgEx::FilePath);
        tip.setTipText(path);
        tip.show();
        QCOMPARE(tip.messageLabel()->size(), QSize(210, 90));
        const QString why = testsupport::unreadablePath(&tip);
        QVERIFY2(why.isEmpty(), qPrintable(why));
        QCOMPARE(tip.messageLabel()->text().remove(QLatin1Char('\n')) == path, whole);
    }

    // Texts an operator typed or a device sent, shown by the tips, the
    // message dialog with its title and the week editor's kept day, read
    // as written: no markup renders and no picture is loaded.
    void textsShownAsWritten_data() { testsupport::addMarkupRows(); }
    void textsShownAsWritten()
    {
        QFETCH(QString, text);
        QTemporaryDir dir;
        QVERIFY(testsupport::savePicture(dir.filePath("big.png")));
        text.replace("%1", dir.filePath("big.png"));

        qwTipsDlg message(nullptr, text, 1);
        message.setTipText(text);
        auto *label = message.findChild<QLabel *>("label_Tips");
        QCOMPARE(testsupport::shownText(label), text);
        QVERIFY(label->sizeHint().height() < testsupport::kPictureSide);
        QCOMPARE(testsupport::shownText(message.titleLabel()), text);
        qwTipsdlgEx failure(nullptr, qwTipsdlgEx::Failure);
        failure.setTipText(text);
        QCOMPARE(testsupport::shownText(failure.messageLabel()), text);
        qwTipsdlgEx path(nullptr, qwTipsdlgEx::FilePath);
        path.setTipText("/tmp/" + text);
        QCOMPARE(testsupport::shownToolTip(path.messageLabel()->toolTip()), "/tmp/" + text);
        qwWeekEditor week({"1", "2", "3", "4", "5", "6", "7"}, qwWeekEditor::Options());
        week.setKept(0, text);
        auto *kept = week.findChild<QLabel *>("label_Kept");
        QCOMPARE(testsupport::shownText(kept), text);
        QCOMPARE(testsupport::shownToolTip(kept->toolTip()), text);
    }

    // Tips shown together stand one above the other; a place that comes
    // free is taken by the next tip.
    void tipsShownTogetherStack()
    {
        positions.clear();
        QList<QPointer<PlacedTip>> tips;
        for (int i = 0; i < 2; ++i) {
            tips << new PlacedTip(qwTipsdlgEx::FilePath, &positions);
            tips.last()->setTipText(QStringLiteral("/tmp/clip%1.mp4").arg(i));
            tips.last()->show();
        }
        QTRY_VERIFY_WITH_TIMEOUT(testsupport::tipsApart({tips[0], tips[1]}), 3000);
        QCOMPARE(tips[0]->pos(), QPoint(644, 494));
        QCOMPARE(tips[1]->pos(), QPoint(644, 338));
        tips[0]->close();
        QTRY_VERIFY_WITH_TIMEOUT(tips[0].isNull(), 3000);
        tips << new PlacedTip(qwTipsdlgEx::Success, &positions);
        tips.last()->show();
        QTRY_VERIFY_WITH_TIMEOUT(testsupport::tipsApart({tips[1], tips[2]}), 3000);
        QCOMPARE(tips[2]->pos(), QPoint(644, 494));
        delete tips[1];
        delete tips[2];
    }

    void messageDialogResults()
    {
        {
            QPointer<qwTipsDlg> dlg = new qwTipsDlg(nullptr, "Warning", 1);
            QSignalSpy result(dlg.data(), &qwTipsDlg::sigTipsresult);
            dlg->setTipText("Delete?");
            dlg->show();
            auto *close = dlg->findChild<QPushButton *>("pushButton_Close");
            QVERIFY(close && close->isVisible());
            QVERIFY(!dlg->findChild<QPushButton *>("pushButton_OK")->isVisible());
            QCOMPARE(dlg->findChild<QLabel *>("label_Tips")->text(), QStringLiteral("Delete?"));
            QCOMPARE(dlg->windowModality(), Qt::WindowModal);
            QTest::mouseClick(close, Qt::LeftButton);
            QTRY_VERIFY(dlg.isNull());
            QCOMPARE(result.count(), 0);
        }
        {
            QPointer<qwTipsDlg> dlg = new qwTipsDlg(nullptr, "Warning", 1);
            QSignalSpy result(dlg.data(), &qwTipsDlg::sigTipsresult);
            dlg->show();
            QTest::mouseClick(dlg->closeButton(), Qt::LeftButton);
            QTRY_VERIFY(dlg.isNull());
            QCOMPARE(result.count(), 0);
        }
        for (const char *name : {"pushButton_OK", "pushButton_Cancel"}) {
            QPointer<qwTipsDlg> dlg = new qwTipsDlg(nullptr, "Question", 2);
            QSignalSpy result(dlg.data(), &qwTipsDlg::sigTipsresult);
            dlg->show();
            QVERIFY(!dlg->findChild<QPushButton *>("pushButton_Close")->isVisible());
            auto *button = dlg->findChild<QPushButton *>(name);
            QVERIFY(button->isVisible());
            QTest::mouseClick(button, Qt::LeftButton);
            QTRY_VERIFY(dlg.isNull());
            QCOMPARE(result.count(), 1);
            QCOMPARE(result.at(0).at(0).toInt(), QByteArray(name) == "pushButton_OK" ? 1 : 2);
        }
    }

    // A message asked for over a window comes up over the dialog that is
    // open on it, never behind it where it would block the dialog unseen.
    void messageOverOpenDialog_data()
    {
        QTest::addColumn<QString>("open");
        QTest::addColumn<QString>("owner");
        QTest::newRow("nothing open") << "none"
                                      << "page";
        QTest::newRow("modal dialog") << "modal"
                                      << "dialog";
        QTest::newRow("dialog of the page in front") << "active dialog"
                                                     << "dialog";
        QTest::newRow("another window in front") << "other window"
                                                 << "page";
        // The device settings are a window of their own made as a child of
        // the page; what is open over them is theirs, not the page's.
        QTest::newRow("settings window in front") << "settings"
                                                  << "page";
        QTest::newRow("dialog of the settings window in front") << "settings dialog"
                                                                << "page";
    }
    void messageOverOpenDialog()
    {
        QFETCH(QString, open);
        QFETCH(QString, owner);
        QWidget window;
        auto *page = new QWidget(&window);
        window.resize(800, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QWidget other;
        auto *settings = new QWidget(page, Qt::Window);
        auto *dialog = new QWidget(open == "settings dialog" ? settings : page, Qt::Dialog);
        dialog->resize(300, 200);
        if (open == "modal")
            dialog->setWindowModality(Qt::WindowModal);
        QWidget *front = open == "other window" ? &other : open == "none" ? &window : dialog;
        if (open == "settings")
            front = settings;
        if (open != "none")
            front->show();
        front->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), front);

        QPointer<qwTipsDlg> message = new qwTipsDlg(page, "Reminder", 1);
        message->show();
        QVERIFY(QTest::qWaitForWindowExposed(message.data()));
        QCOMPARE(message->parentWidget(), owner == "page" ? page : dialog);
        if (owner == "dialog") {
            // Stacked over the dialog, and the one window that takes input.
            QCOMPARE(message->parentWidget()->window(), dialog);
            QCOMPARE(QApplication::activeModalWidget(), message.data());
        }
        delete message;
    }

    // A late message never takes another window's modal dialog as owner, to
    // close with it unseen. Dialog dN opens over the N-th of "over". S is
    // made as the device settings are, a window of its own under page a.
    void ownerForStaysInItsWindow_data()
    {
        QTest::addColumn<QStringList>("over");
        QTest::addColumn<QString>("requested");
        QTest::addColumn<QString>("owner");
        QTest::newRow("modal over the other") << QStringList{"B"} << "a" << QString("a");
        QTest::newRow("nested, then the other") << QStringList{"A", "d1", "B"} << "a" << QString("d2");
        QTest::newRow("modal over its own") << QStringList{"B"} << "b" << QString("d1");
        QTest::newRow("nested") << QStringList{"A", "d1"} << "a" << QString("d2");
        QTest::newRow("modal over the settings") << QStringList{"S"} << "a" << QString("a");
        QTest::newRow("modal over the settings, asked there") << QStringList{"S"} << "s" << QString("d1");
        QTest::newRow("nested over the settings") << QStringList{"S", "d1"} << "a" << QString("a");
        QTest::newRow("nested over the settings, asked there") << QStringList{"S", "d1"} << "s" << QString("d2");
        QTest::newRow("own modal, then the settings'") << QStringList{"A", "S"} << "a" << QString("d1");
        QTest::newRow("settings' modal, then its own") << QStringList{"S", "A"} << "a" << QString("d2");
    }
    void ownerForStaysInItsWindow()
    {
        QFETCH(QStringList, over);
        QFETCH(QString, requested);
        QFETCH(QString, owner);
        QWidget a;
        QWidget b;
        QHash<QString, QWidget *> named{{"A", &a}, {"B", &b}, {"a", new QWidget(&a)}, {"b", new QWidget(&b)}};
        auto *settings = new QWidget(named.value("a"), Qt::Window);
        named.insert("S", settings);
        named.insert("s", new QWidget(settings));
        a.show();
        b.show();
        settings->show();
        for (int i = 0; i < over.size(); ++i) {
            auto *dialog = new QDialog(named.value(over.at(i)));
            dialog->open();
            named.insert(QString("d%1").arg(i + 1), dialog);
        }
        QCOMPARE(qwTipsDlg::ownerFor(named.value(requested)), named.value(owner));
    }

    void waitingDialogClosesItself()
    {
        QElapsedTimer clock;
        clock.start();
        QPointer<qwWaittingDlg> dlg = new qwWaittingDlg(nullptr);
        dlg->show();
        QTRY_VERIFY_WITH_TIMEOUT(dlg.isNull(), 3000);
        QVERIFY(clock.elapsed() >= 290);
    }

    void noFocusRectangle()
    {
        QStyle *fusion = QStyleFactory::create("Fusion");
        QVERIFY(fusion);
        QStyleOptionFocusRect opt;
        opt.rect = QRect(2, 2, 28, 28);
        opt.palette = QPalette(Qt::black);
        opt.state = QStyle::State_HasFocus | QStyle::State_KeyboardFocusChange;

        auto paint = [&](const QStyle *style, QStyle::PrimitiveElement element) {
            QImage img(32, 32, QImage::Format_ARGB32);
            img.fill(Qt::white);
            QPainter p(&img);
            style->drawPrimitive(element, &opt, &p, nullptr);
            p.end();
            return img;
        };
        QImage blank(32, 32, QImage::Format_ARGB32);
        blank.fill(Qt::white);
        // The wrapped style does draw one, so a blank picture means it was suppressed.
        QVERIFY(paint(fusion, QStyle::PE_FrameFocusRect) != blank);

        NoFocusRectstyle style(QStyleFactory::create("Fusion"));
        QCOMPARE(paint(&style, QStyle::PE_FrameFocusRect), blank);
        QVERIFY(paint(&style, QStyle::PE_FrameFocusRect) != paint(fusion, QStyle::PE_FrameFocusRect));
        QCOMPARE(paint(&style, QStyle::PE_FrameGroupBox), paint(fusion, QStyle::PE_FrameGroupBox));
        delete fusion;
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
