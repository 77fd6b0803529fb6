#include "app/core/database.h"
#include "liveview/livegrid.h"
#include "liveview/qwcstmvideoview.h"
#include "liveview/qwliveview.h"
#include "liveview/qwselectmultmode.h"
#include "tests/support/heldlock.h"
#include "tests/support/livepage.h"
#include "tests/support/popups.h"
#include "tests/support/systemlog.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QtTest>

namespace {

QList<int> range(int first, int count)
{
    QList<int> r;
    for (int i = 0; i < count; ++i)
        r << first + i;
    return r;
}

int codeFor(int count)
{
    return livegrid::splitCode(count);
}

QRect cellOf(qwLiveView &page, QWidget *w)
{
    auto *grid = static_cast<QGridLayout *>(page.videoArea()->layout());
    const int i = grid->indexOf(w);
    if (i < 0)
        return QRect();
    int r, c, rs, cs;
    grid->getItemPosition(i, &r, &c, &rs, &cs);
    return QRect(c, r, cs, rs);
}

void mouse(QWidget *w, QEvent::Type type)
{
    QMouseEvent e(type, QPointF(5, 5), Qt::LeftButton, type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

} // namespace

class GridTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<testsupport::LivePageFixture> m_fixture;
    std::unique_ptr<qwLiveView> m_page;

    qwLiveView &page() { return *m_page; }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    void init()
    {
        m_fixture = std::make_unique<testsupport::LivePageFixture>();
        QVERIFY(m_fixture->isValid());
        m_page = std::make_unique<qwLiveView>();
        m_page->resize(1080, 666);
        m_page->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_page.get()));
    }

    void cleanup()
    {
        m_page.reset();
        m_fixture.reset();
    }

    // The page places every view where the grid arithmetic says.
    void cells()
    {
        for (int count : livegrid::kSplitCounts) {
            page().onBtnPlayviewChange(codeFor(count));
            QCOMPARE(page().shownViews(), range(0, count));
            for (int k = 0; k < count; ++k)
                QCOMPARE(cellOf(page(), page().view(k)), livegrid::cell(count, k));
        }
        page().onBtnPlayviewChange(codeFor(1));
        QVERIFY(page().isSingleView());
        QVERIFY(!page().layoutViews(5, true, 0));
        QVERIFY(!page().isSingleView());
    }

    // A view that holds a bar and a picture keeps the size of its cell; its
    // empty neighbours keep theirs.
    void cellsShareTheArea()
    {
        page().onBtnPlayviewChange(codeFor(9));
        QVERIFY(page().prepareViewSurface(0));
        QVERIFY(page().prepareViewSurface(4));
        page().onBtnPlayviewChange(codeFor(4));
        auto same = [](QWidget *a, QWidget *b) {
            return qAbs(a->width() - b->width()) <= 2 && qAbs(a->height() - b->height()) <= 2;
        };
        const QSize area = page().videoArea()->size();
        QTRY_VERIFY2(page().view(1)->width() * 2 >= area.width() - 8 && same(page().view(0), page().view(1)),
                     qPrintable(QStringLiteral("%1 of %2").arg(page().view(1)->width()).arg(area.width())));
        QVERIFY(same(page().view(3), page().view(1)));
        page().onBtnPlayviewChange(codeFor(6));
        QTRY_VERIFY(same(page().view(1), page().view(4)) &&
                    qAbs(page().view(0)->width() - 2 * page().view(1)->width()) <= 8);
        page().onBtnPlayviewChange(codeFor(9));
        QTRY_VERIFY(same(page().view(4), page().view(8)) && page().view(4)->width() * 3 >= area.width() - 12);
        // Enlarged after the 9-grid, the view fills the area.
        page().onPlayviewDBClick(4);
        QTRY_VERIFY(page().view(4)->width() >= area.width() - 8 && page().view(4)->height() >= area.height() - 8);
        page().onPlayviewDBClick(4);
        QTRY_VERIFY(same(page().view(4), page().view(0)) && page().view(4)->width() * 3 <= area.width());
    }

    // The same count again keeps grid and page and only selects view 0.
    void sameSplitAgain()
    {
        page().onBtnPlayviewChange(codeFor(9));
        page().onBtnNextPageClick();
        page().onPlayviewClick(11);
        page().onBtnPlayviewChange(codeFor(9));
        QCOMPARE(page().page(), 1);
        QCOMPARE(page().shownViews(), range(9, 9));
        QCOMPARE(page().selectedView(), 0);
        QCOMPARE(g_database->getViewCount(), 9);
    }

    // A grid the database refuses to keep is shown all the same, and the
    // refusal is told over the page and logged with the database's reason.
    void refusedViewCountIsTold()
    {
        page().onBtnPlayviewChange(codeFor(4));
        testsupport::popupKeys(m_page.get());
        auto holder = std::make_unique<testsupport::HeldLock>();
        QVERIFY(holder->hold(m_fixture->databaseFile()));
        page().onBtnPlayviewChange(codeFor(1));
        holder.reset();
        QVERIFY(page().isSingleView());
        QCOMPARE(testsupport::popupKeys(m_page.get()), QStringList{"tip_databaseerr"});
        QCOMPARE(m_fixture->query("select viewcount from systeminfo"), QString("4"));
        m_fixture->flushLog();
        QCOMPARE(testsupport::abnormalEvents(m_fixture->logFile()),
                 QStringList{"modify system options||Split view: the database refused the change: database is locked"});
    }

    void fullScreen()
    {
        QWidget *area = page().videoArea();
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(area, &escape);
        QVERIFY(!page().isFullScreen());
        QVERIFY(!area->isWindow());

        page().onBtnFullscreenClick();
        QVERIFY(page().isFullScreen());
        QApplication::sendEvent(area, &escape);
        QVERIFY(!page().isFullScreen());
        QCOMPARE(area->parentWidget()->objectName(), QStringLiteral("widget_Multivideo"));

        page().onBtnFullscreenClick();
        page().onBtnFullscreenClick();
        QVERIFY(!page().isFullScreen());
        QVERIFY(!area->isWindow());
    }

    void cursorAndSwap()
    {
        QWidget *area = page().videoArea();
        QCursor::setPos(area->mapToGlobal(QPoint(-20, -20)));
        QCOMPARE(page().viewIndexAtCursor(), -1);
        QCursor::setPos(page().view(2)->mapToGlobal(QPoint(10, 10)));
        QCOMPARE(page().viewIndexAtCursor(), 2);

        qwCstmVideoview *zero = page().view(0);
        qwCstmVideoview *two = page().view(2);
        // Press and release over the same view swap nothing.
        QCursor::setPos(zero->mapToGlobal(QPoint(10, 10)));
        mouse(zero, QEvent::MouseButtonPress);
        mouse(zero, QEvent::MouseButtonRelease);
        QCOMPARE(page().view(0), zero);

        // A release outside the area ends the drag without a swap.
        mouse(zero, QEvent::MouseButtonPress);
        QCursor::setPos(area->mapToGlobal(QPoint(-20, -20)));
        mouse(zero, QEvent::MouseButtonRelease);
        QCOMPARE(page().view(0), zero);
        QCursor::setPos(two->mapToGlobal(QPoint(10, 10)));
        mouse(area, QEvent::MouseButtonRelease);
        QCOMPARE(page().view(0), zero);

        // Press on view 0, release over view 2: they change places.
        QCursor::setPos(zero->mapToGlobal(QPoint(10, 10)));
        mouse(zero, QEvent::MouseButtonPress);
        QCursor::setPos(two->mapToGlobal(QPoint(10, 10)));
        mouse(zero, QEvent::MouseButtonRelease);
        QCOMPARE(page().view(0), two);
        QCOMPARE(page().view(2), zero);
        QCOMPARE(two->index(), 0);
        QCOMPARE(zero->index(), 2);
        QCOMPARE(cellOf(page(), two), QRect(0, 0, 1, 1));
        QCOMPARE(cellOf(page(), zero), QRect(0, 1, 1, 1));

        // With one view filling the grid nothing swaps.
        page().onPlayviewDBClick(0);
        QCursor::setPos(page().view(0)->mapToGlobal(QPoint(10, 10)));
        mouse(page().view(1), QEvent::MouseButtonPress);
        mouse(page().view(1), QEvent::MouseButtonRelease);
        QCOMPARE(page().view(0), two);
    }

    // The page shown and the selection stay in agreement, whatever moved the
    // selection: the example of a selection that ran onto a hidden page.
    void pageFollowsLayout()
    {
        page().onBtnPlayviewChange(codeFor(16));
        page().onBtnPlayviewChange(codeFor(4));
        // Opening devices one after another moves the selection view by view.
        for (int v = 1; v <= 5; ++v)
            page().view(v)->updateCursor();
        QCOMPARE(page().selectedView(), 5);
        QCOMPARE(page().shownViews(), range(0, 4));
        page().onBtnNextPageClick();
        QCOMPARE(page().shownViews(), range(8, 4));
        QCOMPARE(page().page(), 2);
        QCOMPARE(page().selectedView(), 8);
        // Views of another page are never swapped.
        qwCstmVideoview *eight = page().view(8);
        qwCstmVideoview *one = page().view(1);
        page().swapViews(1, 8);
        page().swapViews(8, 1);
        page().swapViews(8, 12);
        QCOMPARE(page().view(8), eight);
        QCOMPARE(page().view(1), one);
        QCOMPARE(page().shownViews(), range(8, 4));
        page().swapViews(8, 9);
        QCOMPARE(page().view(9), eight);
        QCOMPARE(page().shownViews(), range(8, 4));
    }

    void pauseWithoutViews()
    {
        page().pauseAllViews();
        page().resumeAllViews();
        page().chooseViewStreams();
        QVERIFY(page().viewRecords().isEmpty());
        page().closeView(0);
        page().closeView(-1);
        QVERIFY(!page().viewToolbar(0));
    }
};

QTEST_MAIN(GridTest)
#include "tst_grid.moc"
