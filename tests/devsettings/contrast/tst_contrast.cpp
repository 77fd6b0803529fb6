// Text an operator must read stands out from what lies behind it by at
// least 4.5:1, measured on the widgets as they are painted under the main
// window's style sheet.

#include "devsetfixture.h"
#include "app/widgets/programfont.h"
#include "app/widgets/qwtipsdlgex.h"
#include "app/widgets/stylesheets.h"
#include "devsettings/qwdevsetimage.h"
#include "devsettings/qwdevsetimageex.h"
#include "devsettings/qwdevsetosd.h"
#include "devsettings/qwdevsetstorage.h"
#include "devsettings/qwdevsetusers.h"
#include "devsettings/qwdevsetwifi.h"
#include "tests/support/contrast.h"
#include "tests/support/readable.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QLabel>
#include <QScrollArea>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QTableView>

#include <type_traits>

using namespace devsetfixture;

namespace {

constexpr double kReadable = 4.5;

QString describe(const testsupport::PaintedText &t)
{
    return QStringLiteral("text #%1 on #%2: %3:1")
        .arg(t.text & 0xffffff, 6, 16, QLatin1Char('0'))
        .arg(t.background & 0xffffff, 6, 16, QLatin1Char('0'))
        .arg(t.contrast, 0, 'f', 2);
}

// The part of a check box that holds its text, as its window paints it.
testsupport::PaintedText checkBoxText(QCheckBox *box)
{
    QStyleOptionButton option;
    option.initFrom(box);
    option.text = box->text();
    const QRect text = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
    QWidget *top = box->window();
    return testsupport::paintedColours(top->grab().toImage(), QRect(box->mapTo(top, text.topLeft()), text.size()));
}

} // namespace

class ContrastTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Fixture> m_fx;
    std::unique_ptr<QWidget> m_owner;

    // Shown in an owner that carries the main window's style sheet, as the
    // settings window's owner does; a page logged in to the test device.
    template <class W>
    W *showUnderMainSheet()
    {
        m_owner = std::make_unique<QWidget>();
        m_owner->setStyleSheet(QString::fromLatin1(styles::kMainWindow));
        auto *w = new W(m_owner.get());
        if constexpr (!std::is_same_v<W, QComboBox>)
            m_fx->login(*w);
        m_owner->resize(900, 700);
        w->resize(m_owner->size());
        m_owner->show();
        [&] { QVERIFY(QTest::qWaitForWindowExposed(m_owner.get())); }();
        return w;
    }

    // The highlighted entry of an open drop-down list, one that is not the
    // list's current entry, reached by the arrow key or by the mouse.
    testsupport::PaintedText highlightedEntry(bool editable, bool byMouse)
    {
        auto *combo = showUnderMainSheet<QComboBox>();
        combo->setEditable(editable);
        combo->addItems({QStringLiteral("First entry"), QStringLiteral("Second entry"), QStringLiteral("Third")});
        combo->resize(200, 24);
        return testsupport::highlightedListEntry(combo, byMouse);
    }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        // Measured in the font the program draws in: its thin strokes reach
        // the full text colour in fewer pixels than the platform's font.
        QVERIFY(programfont::apply());
    }
    void init()
    {
        m_fx = std::make_unique<Fixture>();
        QVERIFY(m_fx->isValid());
    }
    void cleanup()
    {
        m_owner.reset();
        m_fx.reset();
    }

    void ratio_data()
    {
        QTest::addColumn<QRgb>("a");
        QTest::addColumn<QRgb>("b");
        QTest::addColumn<double>("expected");
        QTest::newRow("black on white") << qRgb(0, 0, 0) << qRgb(255, 255, 255) << 21.0;
        QTest::newRow("white on black") << qRgb(255, 255, 255) << qRgb(0, 0, 0) << 21.0;
        QTest::newRow("one colour") << qRgb(0x3d, 0x3d, 0x3d) << qRgb(0x3d, 0x3d, 0x3d) << 1.0;
        // The lightest grey that still passes on white, and the one past it.
        QTest::newRow("#767676 on white") << qRgb(0x76, 0x76, 0x76) << qRgb(255, 255, 255) << 4.54;
        QTest::newRow("#777777 on white") << qRgb(0x77, 0x77, 0x77) << qRgb(255, 255, 255) << 4.48;
        // Green weighs most, as it does for the eye.
        QTest::newRow("pure green on black") << qRgb(0, 255, 0) << qRgb(0, 0, 0) << 15.30;
        // Below the gamma curve's knee the channel is linear.
        QTest::newRow("#0a0a0a on black") << qRgb(10, 10, 10) << qRgb(0, 0, 0) << 1.06;
    }
    void ratio()
    {
        QFETCH(QRgb, a);
        QFETCH(QRgb, b);
        QFETCH(double, expected);
        const double r = testsupport::contrastRatio(a, b);
        QVERIFY2(qAbs(r - expected) < 0.005, qPrintable(QString::number(r, 'f', 4)));
    }

    void readable_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("drop-down list: entry highlighted by key") << "list";
        QTest::newRow("drop-down list: entry highlighted by mouse") << "mouse list";
        QTest::newRow("editable drop-down list: entry highlighted by key") << "editable list";
        QTest::newRow("editable drop-down list: entry highlighted by mouse") << "editable mouse list";
        QTest::newRow("Wi-Fi: Connected") << "connected";
        QTest::newRow("Wi-Fi: Disconnected") << "disconnected";
        QTest::newRow("on-screen display: Show text") << "checkBox_System";
        QTest::newRow("on-screen display: Show date and time") << "checkBox_Datetime";
        QTest::newRow("on-screen display: Text") << "checkBox_Custom";
        QTest::newRow("on-screen display: Show picture") << "checkBox_Picture";
        QTest::newRow("device users: selected row") << "users";
        QTest::newRow("storage: disk status") << "label_DiskStatus";
        QTest::newRow("storage: formatted") << "label_DiskFormatted";
        QTest::newRow("failure tip: read failed") << "tip:Could not read the device's settings";
        QTest::newRow("failure tip: permission denied") << "tip:Permission denied";
    }
    void readable()
    {
        QFETCH(QString, what);
        testsupport::PaintedText t;
        if (what.endsWith(QLatin1String("list"))) {
            t = highlightedEntry(what.startsWith(QLatin1String("editable")), what.contains(QLatin1String("mouse")));
            // The highlight the main window's sheet asks for, not a frame
            // around an unchanged entry.
            QVERIFY2(testsupport::contrastRatio(t.background, qRgb(0x1b, 0xaa, 0xfb)) < 1.1, qPrintable(describe(t)));
        } else if (what == QLatin1String("users")) {
            auto *page = showUnderMainSheet<qwDevsetUsers>();
            page->OnInitParameters(124);
            auto *table = child<QTableView>(page, "tableView_Users");
            QTRY_VERIFY(table->model()->rowCount() > 1);
            const QModelIndex name = table->model()->index(1, 1);
            table->setCurrentIndex(name);
            QVERIFY(table->selectionModel()->isRowSelected(1, QModelIndex()));
            QApplication::processEvents();
            t = testsupport::paintedColours(table->viewport()->grab().toImage(), table->visualRect(name));
        } else if (what.startsWith(QLatin1String("label_Disk"))) {
            auto *page = showUnderMainSheet<qwDevsetStorage>();
            page->OnInitParameters(122);
            auto *value = child<QLabel>(page, qPrintable(what));
            QTRY_VERIFY(!value->text().isEmpty());
            t = testsupport::paintedText(value);
        } else if (what.startsWith(QLatin1String("tip:"))) {
            auto *tip = showKeyedTip(nullptr, qwTipsdlgEx::Failure, QStringLiteral("readfailed"), what.mid(4));
            QPointer<qwTipsdlgEx> guard(tip);
            QVERIFY(QTest::qWaitForWindowExposed(tip));
            QLabel *label = nullptr;
            for (QLabel *l : tip->findChildren<QLabel *>())
                label = l->text() == what.mid(4) ? l : label;
            QVERIFY(label);
            t = testsupport::paintedText(label);
            delete guard.data();
        } else if (what.endsWith(QLatin1String("connected"))) {
            const bool linked = what == QLatin1String("connected");
            m_fx->device().setSubject("netstat&adapter=1", linked ? "<response><link>1</link></response>"
                                                                  : "<response><link>0</link></response>");
            auto *page = showUnderMainSheet<qwDevsetWifi>();
            page->OnInitParameters(116);
            auto *link = child<QLabel>(page, "label_Link");
            QTRY_COMPARE(link->text(), linked ? QStringLiteral("Connected") : QStringLiteral("Disconnected"));
            t = testsupport::paintedText(link);
        } else {
            auto *page = showUnderMainSheet<qwDevsetOsd>();
            auto *box = child<QCheckBox>(page, qPrintable(what));
            QVERIFY(box);
            t = checkBoxText(box);
        }
        QVERIFY2(t.contrast >= kReadable, qPrintable(describe(t)));
        qInfo().noquote() << describe(t);
    }

    // Every text of the extended image page, on each of its tabs, with
    // every section of the image tab open and its hidden groups shown.
    void imageExTextsReadable_data()
    {
        QTest::addColumn<int>("tab");
        QTest::newRow("image") << 0;
        QTest::newRow("schedule") << 1;
        QTest::newRow("day and night") << 2;
    }
    void imageExTextsReadable()
    {
        QFETCH(int, tab);
        auto *page = showUnderMainSheet<qwDevsetImageEx>();
        auto *tabs = page->findChild<QTabWidget *>();
        QVERIFY(tabs);
        tabs->setCurrentIndex(tab);
        for (QWidget *section : page->findChildren<QWidget *>(QRegularExpression("^widget_(img|exp)")))
            section->show();
        for (auto *list : page->findChildren<QComboBox *>()) {
            if (list->objectName() == QLatin1String("comboBox_imgprofile") ||
                list->objectName() == QLatin1String("comboBox_whitebalance") ||
                list->objectName() == QLatin1String("comboBox_imgconf") ||
                list->objectName() == QLatin1String("comboBox_daynightmod"))
                list->setCurrentIndex(list->count() - 1);
        }
        QApplication::processEvents();
        QStringList unreadable;
        int measured = 0;
        testsupport::PaintedText lowest;
        lowest.contrast = 21;
        for (QLabel *label : tabs->currentWidget()->findChildren<QLabel *>()) {
            if (!label->isVisible() || label->text().trimmed().isEmpty())
                continue;
            ++measured;
            if (auto *scroll = qobject_cast<QScrollArea *>(tabs->currentWidget())) {
                scroll->ensureWidgetVisible(label);
                QApplication::processEvents();
            }
            const testsupport::PaintedText t = testsupport::paintedText(label);
            if (t.contrast < kReadable)
                unreadable << QStringLiteral("\"%1\" %2").arg(label->text(), describe(t));
            if (t.contrast < lowest.contrast)
                lowest = t;
        }
        qInfo().noquote() << "lowest:" << describe(lowest);
        QVERIFY(measured > 1);
        QVERIFY2(unreadable.isEmpty(), qPrintable(unreadable.join(QLatin1String("; "))));
    }

    // After a failed read the image page's controls are off; its sliders
    // must say so as its lists do.
    void disabledSlidersLookDisabled()
    {
        m_fx->device().addFault("get:videoimage", Fault::status(500, "<html><body>error</body></html>"));
        auto *page = showUnderMainSheet<qwDevsetImage>();
        page->OnInitParameters(119);
        QVERIFY(m_fx->waitAnswered("GET", "videoimage", 1));
        auto *off = child<QSlider>(page, "slider_saturation");
        QTRY_VERIFY(!off->isEnabled());
        // The failure's note and the emptied numbers take their places first.
        QApplication::processEvents();
        // Its twin, on, where the page's own ground lies behind it.
        auto *on = new QSlider(Qt::Horizontal, page);
        on->setRange(off->minimum(), off->maximum());
        on->setValue(off->value());
        on->resize(off->size());
        on->show();
        QApplication::processEvents();
        const QImage offShot = off->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QImage onShot = on->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(offShot.size(), onShot.size());
        // Along the groove's middle line: the filled part, the handle and
        // the rest all change.
        int changed = 0;
        double most = 1;
        const int y = offShot.height() / 2;
        for (int x = 0; x < offShot.width(); ++x) {
            const double c = testsupport::contrastRatio(offShot.pixel(x, y), onShot.pixel(x, y));
            most = qMax(most, c);
            changed += c > 1.2;
        }
        QVERIFY2(changed > offShot.width() / 2, qPrintable(QString::number(changed)));
        QVERIFY2(most >= 1.5, qPrintable(QString::number(most)));
    }
};

QTEST_MAIN(ContrastTest)
#include "tst_contrast.moc"
