#include "app/widgets/basewindow.h"
#include "app/widgets/statusbutton.h"

#include <QLabel>
#include <QSignalSpy>
#include <QtTest>

namespace {

class Window : public BaseWindow
{
public:
    Window(int flags, int w, int h) : BaseWindow(nullptr, flags, w, h) { resize(w, h); }
    bool beforeClose() override
    {
        ++asked;
        return answer;
    }
    bool answer = true;
    int asked = 0;
};

void sendMove(QWidget *w, const QPoint &local, const QPoint &global, Qt::MouseButtons buttons)
{
    QMouseEvent ev(QEvent::MouseMove, local, global, Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &ev);
}

void sendPress(QWidget *w, const QPoint &local, const QPoint &global)
{
    QMouseEvent ev(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &ev);
}

void showAndWait(QWidget &w)
{
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
}

} // namespace

class TestBaseWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    void geometry_data()
    {
        QTest::addColumn<int>("width");
        QTest::newRow("500") << 500;
        QTest::newRow("1200") << 1200;
    }

    void geometry()
    {
        QFETCH(int, width);
        const int h = 400;
        Window w(3, width, h);
        auto *middle = new QWidget(&w);
        auto *right = new QWidget(&w);
        QVERIFY(w.setTitleMiddleWidget(middle));
        QVERIFY(w.setTitleRightWidget(right));
        QVERIFY(w.setCustomButtons(":/images/srcimages/unlock.png", "a", ":/images/srcimages/lock.png", "b"));
        showAndWait(w);

        QCOMPARE(w.closeButton()->geometry(), QRect(width - 45, 2, 43, 25));
        QCOMPARE(w.restoreButton()->geometry(), QRect(width - 88, 2, 43, 25));
        QCOMPARE(w.customButton(BaseWindow::CustomFirst)->geometry(), QRect(width - 174, 2, 43, 25));
        QCOMPARE(w.titleLabel()->geometry(), QRect(6, 5, 186, 27));
        QCOMPARE(w.iconLabel()->size(), QSize(0, 0));
        QCOMPARE(middle->geometry(), QRect(242, 0, 585, 39));
        QCOMPARE(right->geometry(), QRect(width - 368, 0, 189, 39));
        QCOMPARE(w.getClientRect(), QRect(QPoint(2, 38), QPoint(width - 4, h - 2)));

        w.setTitleIcon(":/images/srcimages/cms.png");
        w.resize(width, h + 10);
        QTRY_COMPARE(w.titleLabel()->geometry().x(), 39);
        QCOMPARE(w.iconLabel()->geometry(), QRect(6, 3, 39, 35));

        w.setTitleText("Title", BaseWindow::TitleCentered);
        w.resize(width, h);
        QTRY_COMPARE(w.titleLabel()->x(), (width - 188) / 2);
        QCOMPARE(w.titleLabel()->text(), QStringLiteral("Title"));
        // An unknown mode keeps the centred title.
        w.setTitleText("Other", 5);
        QCOMPARE(w.titleMode(), int(BaseWindow::TitleCentered));
    }

    void flagsOneLocksMaximise()
    {
        Window w(1, 400, 300);
        showAndWait(w);
        QVERIFY(w.minButton()->isVisible());
        QVERIFY(w.maxButton()->isVisible());
        QCOMPARE(w.maxButton()->status(), 3);
        QVERIFY(w.maxButton()->isLocked());
        QSignalSpy max(&w, &BaseWindow::sigMaxWindow);
        QTest::mouseClick(w.maxButton(), Qt::LeftButton);
        QTest::mouseDClick(&w, Qt::LeftButton, {}, QPoint(100, 10));
        QCOMPARE(max.count(), 0);
        QVERIFY(!w.isMaximizedByTitle());
        QVERIFY(!w.restoreButton()->isVisible());
    }

    void flagsThreeMaximiseAndRestore()
    {
        Window w(3, 400, 300);
        showAndWait(w);
        QSignalSpy max(&w, &BaseWindow::sigMaxWindow);
        QSignalSpy res(&w, &BaseWindow::sigResWindow);
        QTest::mouseClick(w.maxButton(), Qt::LeftButton);
        QCOMPARE(max.count(), 1);
        QVERIFY(w.isMaximizedByTitle());
        QVERIFY(w.restoreButton()->isVisible());
        QVERIFY(!w.maxButton()->isVisible());
        QCOMPARE(w.restoreButton()->status(), 1);

        // Dragging while maximised does not move the window.
        const QPoint before = w.pos();
        sendPress(&w, QPoint(100, 10), w.mapToGlobal(QPoint(100, 10)));
        sendMove(&w, QPoint(150, 60), w.mapToGlobal(QPoint(150, 60)), Qt::LeftButton);
        QCOMPARE(w.pos(), before);
        QTest::mouseRelease(&w, Qt::LeftButton, {}, QPoint(150, 60));

        res.clear();
        QTest::mouseDClick(&w, Qt::LeftButton, {}, QPoint(100, 10));
        QVERIFY(!w.isMaximizedByTitle());
        QVERIFY(res.count() >= 1);
        QVERIFY(w.maxButton()->isVisible());
        QTest::mouseDClick(&w, Qt::LeftButton, {}, QPoint(100, 10));
        QVERIFY(w.isMaximizedByTitle());
        QCOMPARE(max.count(), 2);
        // Double-click outside the title bar does nothing.
        QTest::mouseDClick(&w, Qt::LeftButton, {}, QPoint(100, 100));
        QVERIFY(w.isMaximizedByTitle());
    }

    // Flags 0: only the close button, and a title bar that moves the window.
    void dragMovesTheWindow()
    {
        Window w(0, 400, 300);
        w.move(100, 100);
        showAndWait(w);
        QVERIFY(w.closeButton()->isVisible());
        QVERIFY(!w.maxButton()->isVisible() && !w.minButton()->isVisible());
        const QPoint start = w.pos();
        sendPress(&w, QPoint(50, 10), start + QPoint(50, 10));
        sendMove(&w, QPoint(50, 10), start + QPoint(80, 50), Qt::LeftButton);
        QCOMPARE(w.pos(), start + QPoint(30, 40));
    }

    void zeroSizesGiveTheMinimum()
    {
        Window w(0, 0, 0);
        QVERIFY(w.getClientRect().isEmpty());
        w.resize(100, 100);
        showAndWait(w);
        QTRY_COMPARE(w.size(), QSize(320, 190));
        QCOMPARE(w.getClientRect(), QRect(QPoint(2, 38), QPoint(316, 188)));
    }

    void gripResize()
    {
        Window w(4, 400, 300);
        w.resize(420, 320);
        w.move(50, 50);
        showAndWait(w);
        const QPoint origin = w.frameGeometry().topLeft();
        const QPoint corner(w.width() - 3, w.height() - 3);

        sendMove(&w, corner, origin + corner, Qt::NoButton);
        QCOMPARE(w.cursor().shape(), Qt::SizeFDiagCursor);
        sendPress(&w, corner, origin + corner);

        // Inward below the minimum on both axes: unchanged.
        sendMove(&w, QPoint(300, 200), origin + QPoint(300, 200), Qt::LeftButton);
        QCOMPARE(w.size(), QSize(420, 320));
        // Below on one axis pins it to the minimum.
        sendMove(&w, QPoint(300, 500), origin + QPoint(300, 500), Qt::LeftButton);
        QCOMPARE(w.size(), QSize(400, 503));
        sendMove(&w, QPoint(600, 100), origin + QPoint(600, 100), Qt::LeftButton);
        QCOMPARE(w.size(), QSize(603, 300));
        sendMove(&w, QPoint(600, 500), origin + QPoint(600, 500), Qt::LeftButton);
        QCOMPARE(w.size(), QSize(603, 503));
    }

    void noDiagonalCursorWithoutGrip()
    {
        Window w(3, 400, 300);
        showAndWait(w);
        const QPoint corner(397, 297);
        sendMove(&w, corner, w.mapToGlobal(corner), Qt::NoButton);
        QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
        sendPress(&w, corner, w.mapToGlobal(corner));
        sendMove(&w, QPoint(600, 600), w.mapToGlobal(QPoint(600, 600)), Qt::LeftButton);
        QCOMPARE(w.size(), QSize(400, 300));
    }

    void closeRefusedByBeforeClose()
    {
        Window w(0, 300, 200);
        showAndWait(w);
        w.answer = false;
        QSignalSpy closing(&w, &BaseWindow::sigCloseWindw);
        QTest::mouseClick(w.closeButton(), Qt::LeftButton);
        QVERIFY(w.isVisible());
        QCOMPARE(closing.count(), 1);
        QCOMPARE(w.asked, 1);

        // A plain close (window manager, Alt+F4) is asked too.
        QVERIFY(!w.close());
        QVERIFY(w.isVisible());
        QCOMPARE(w.asked, 2);

        // Approved, the button closes the window and asks only once.
        w.answer = true;
        const int before = closing.count();
        QTest::mouseClick(w.closeButton(), Qt::LeftButton);
        QVERIFY(!w.isVisible());
        QCOMPARE(w.asked, 3);
        QCOMPARE(closing.count(), before + 2);
    }

    void customPair()
    {
        Window w(3, 600, 300);
        QVERIFY(!w.setTitleMiddleWidget(nullptr));
        QVERIFY(!w.setTitleRightWidget(nullptr));
        QVERIFY(w.setCustomButtons(":/images/srcimages/unlock.png", "a", ":/images/srcimages/lock.png", "b"));
        // A second pair is refused; the first stays.
        QVERIFY(!w.setCustomButtons(":/images/srcimages/lock.png", "c", ":/images/srcimages/lock.png", "d"));
        QCOMPARE(w.customButton(BaseWindow::CustomFirst)->toolTip(), QStringLiteral("a"));
        showAndWait(w);
        QSignalSpy first(&w, &BaseWindow::sigCustomBtnclick);
        QSignalSpy second(&w, &BaseWindow::sigCustom1Btnclick);
        QTest::mouseClick(w.customButton(BaseWindow::CustomFirst), Qt::LeftButton);
        QCOMPARE(first.count(), 1);
        QVERIFY(w.customButton(BaseWindow::CustomSecond)->isVisible());
        QVERIFY(!w.customButton(BaseWindow::CustomFirst)->isVisible());
        w.showCustomButton(BaseWindow::CustomFirst);
        QVERIFY(w.customButton(BaseWindow::CustomFirst)->isVisible());
        w.showCustomButton(7);
        QVERIFY(w.customButton(BaseWindow::CustomFirst)->isVisible());
        QTest::mouseClick(w.customButton(BaseWindow::CustomFirst), Qt::LeftButton);
        QTest::mouseClick(w.customButton(BaseWindow::CustomSecond), Qt::LeftButton);
        QCOMPARE(second.count(), 1);
        QVERIFY(w.customButton(BaseWindow::CustomFirst)->isVisible());
    }
};

QTEST_MAIN(TestBaseWindow)
#include "tst_basewindow.moc"
