// Text an operator must read stands out from what lies behind it by at
// least 4.5:1, measured on the widgets as they are painted under the main
// window's style sheet.

#include "devsetfixture.h"
#include "app/widgets/stylesheets.h"
#include "devsettings/qwdevsetosd.h"
#include "devsettings/qwdevsetwifi.h"
#include "tests/support/contrast.h"
#include "tests/support/readable.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionButton>

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
    // list's current entry.
    testsupport::PaintedText highlightedEntry(bool editable)
    {
        auto *combo = showUnderMainSheet<QComboBox>();
        combo->setEditable(editable);
        combo->addItems({QStringLiteral("First entry"), QStringLiteral("Second entry"), QStringLiteral("Third")});
        combo->resize(200, 24);
        combo->showPopup();
        QAbstractItemView *view = combo->view();
        [&] { QTRY_VERIFY(view->isVisible()); }();
        const QModelIndex second = combo->model()->index(1, 0);
        view->setCurrentIndex(second);
        view->selectionModel()->select(second, QItemSelectionModel::ClearAndSelect);
        QApplication::processEvents();
        return testsupport::paintedColours(view->viewport()->grab().toImage(), view->visualRect(second));
    }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }
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
        QTest::newRow("drop-down list: highlighted entry") << "list";
        QTest::newRow("editable drop-down list: highlighted entry") << "editable list";
        QTest::newRow("Wi-Fi: Connected") << "connected";
        QTest::newRow("Wi-Fi: Disconnected") << "disconnected";
        QTest::newRow("on-screen display: Show text") << "checkBox_System";
        QTest::newRow("on-screen display: Show date and time") << "checkBox_Datetime";
        QTest::newRow("on-screen display: Text") << "checkBox_Custom";
        QTest::newRow("on-screen display: Show picture") << "checkBox_Picture";
    }
    void readable()
    {
        QFETCH(QString, what);
        testsupport::PaintedText t;
        if (what.endsWith(QLatin1String("list"))) {
            t = highlightedEntry(what.startsWith(QLatin1String("editable")));
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
};

QTEST_MAIN(ContrastTest)
#include "tst_contrast.moc"
