#include "liveview/livegrid.h"
#include "liveview/viewvolumes.h"

#include <QtTest>

using namespace livegrid;

class LiveGridTest : public QObject
{
    Q_OBJECT

    static QList<QRect> square(int side)
    {
        QList<QRect> cells;
        for (int k = 0; k < side * side; ++k)
            cells << QRect(k % side, k / side, 1, 1);
        return cells;
    }

private slots:
    // Per grid size: its popup code, its cells as (column, row, columns,
    // rows) in view order, and how many pages of it fit into 64 views.
    void grids_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("code");
        QTest::addColumn<QList<QRect>>("cells");
        QTest::addColumn<int>("pages");
        QTest::newRow("1") << 1 << 54 << square(1) << 64;
        QTest::newRow("4") << 4 << 55 << square(2) << 16;
        QTest::newRow("6") << 6 << 56 << QList<QRect>{QRect(0, 0, 2, 2), QRect(2, 0, 1, 1), QRect(2, 1, 1, 1),
                                                      QRect(0, 2, 1, 1), QRect(1, 2, 1, 1), QRect(2, 2, 1, 1)}
                           << 10;
        QTest::newRow("9") << 9 << 57 << square(3) << 7;
        QTest::newRow("16") << 16 << 58 << square(4) << 4;
        QTest::newRow("36") << 36 << 59 << square(6) << 1;
        QTest::newRow("64") << 64 << 60 << square(8) << 1;
        QTest::newRow("5") << 5 << -1 << QList<QRect>() << 0;
        QTest::newRow("0") << 0 << -1 << QList<QRect>() << 0;
    }

    void grids()
    {
        QFETCH(int, count);
        QFETCH(int, code);
        QFETCH(QList<QRect>, cells);
        QFETCH(int, pages);
        QCOMPARE(splitCode(count), code);
        QCOMPARE(isSupportedCount(count), code >= 0);
        if (code >= 0)
            QCOMPARE(countOfSplitCode(code), count);
        for (int k = 0; k < cells.size(); ++k)
            QCOMPARE(cell(count, k), cells[k]);
        QVERIFY(cell(count, -1).isNull() && cell(count, qMax(count, 0)).isNull());
        QCOMPARE(pageCount(count), pages);
        // From the first or the last view of a page to its neighbours; the
        // last page has no next, the first no previous.
        for (int p = 0; p < pages; ++p) {
            for (int selected : {p * count, p * count + count - 1}) {
                QCOMPARE(nextPageFirst(count, selected), p + 1 < pages ? (p + 1) * count : -1);
                QCOMPARE(previousPageFirst(count, selected), p > 0 ? (p - 1) * count : -1);
            }
        }
        if (pages == 0)
            QVERIFY(nextPageFirst(count, 0) == -1 && previousPageFirst(count, 10) == -1);
        for (int other : {53, 61})
            QCOMPARE(countOfSplitCode(other), 0);
    }

    void mainStream_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("maximized");
        QTest::addColumn<QList<int>>("mainViews");
        QTest::newRow("1 view, page 5") << 1 << 5 << -1 << QList<int>{5};
        QTest::newRow("4 views, page 1") << 4 << 1 << -1 << QList<int>{4, 5, 6, 7};
        QTest::newRow("6 views, page 2") << 6 << 2 << -1 << QList<int>{12};
        QTest::newRow("9 views") << 9 << 0 << -1 << QList<int>{};
        QTest::newRow("enlarged in 9") << 9 << 0 << 5 << QList<int>{5};
    }

    void mainStream()
    {
        QFETCH(int, count);
        QFETCH(int, page);
        QFETCH(int, maximized);
        QFETCH(QList<int>, mainViews);
        for (int v = 0; v < kMaxViews; ++v)
            QCOMPARE(wantsMainStream(count, page, maximized, v), mainViews.contains(v));
    }

    // The speaker button's volume follows each view, through a swap too;
    // indexes outside the views are silent and change nothing.
    void viewVolumes()
    {
        qcViewVolumes v;
        QCOMPARE(v.switchOn(3), qcViewVolumes::kFirstAudible);
        v.set(3, 20);
        QCOMPARE(v.switchOn(3), 20);
        v.set(3, 0);
        v.set(4, 80);
        v.swap(3, 4);
        QCOMPARE(v.volume(3), 80);
        QCOMPARE(v.volume(4), 0);
        QCOMPARE(v.switchOn(4), 20);
        for (int outside : {-1, kMaxViews}) {
            v.set(outside, 60);
            QCOMPARE(v.volume(outside), 0);
            QCOMPARE(v.switchOn(outside), 0);
        }
    }

    // The volume the speaker button brings a silent view back to. Steps: a
    // value of the slider (a key, the wheel or a click), kPress / kRelease
    // for the slider's handle, whose moves in between are one change, kLeave
    // for the slider left and kOff for the speaker switched off.
    void volumeToReturnTo_data()
    {
        QTest::addColumn<QList<int>>("steps");
        QTest::addColumn<int>("back");
        QList<int> down{30, kPress};
        for (int v = 29; v >= 0; --v)
            down << v;
        QTest::newRow("dragged from 30 to 0") << (down << kRelease) << 30;
        QTest::newRow("dragged up, then off") << QList<int>{30, kPress, 45, 60, kRelease, kOff} << 60;
        QTest::newRow("off, then dragged up and back") << QList<int>{40, kOff, kPress, 10, 20, 0, kRelease} << 40;
        QTest::newRow("keys down to 0") << QList<int>{30, 20, 10, 0} << 30;
        QList<int> wheel{30};
        for (int v = 27; v >= 0; v -= 3)
            wheel << v;
        QTest::newRow("wheel down to 0 without leaving the slider") << wheel << 30;
        QTest::newRow("keys up, then down to 0") << QList<int>{20, 40, 30, 0} << 40;
        QTest::newRow("one step down, slider left, then down to 0") << QList<int>{30, 25, kLeave, 20, 0} << 25;
        QTest::newRow("one step down, then off at once") << QList<int>{30, 25, kOff} << 25;
        QTest::newRow("dragged down, then keys to 0") << QList<int>{40, kPress, 35, 30, kRelease, 20, 0} << 30;
        QTest::newRow("keys down, then dragged to 0") << QList<int>{40, 30, kPress, 10, 0, kRelease} << 30;
    }
    void volumeToReturnTo()
    {
        QFETCH(QList<int>, steps);
        QFETCH(int, back);
        qcViewVolumes v;
        for (int step : steps) {
            if (step == kPress)
                v.beginDrag(2);
            else if (step == kRelease)
                v.endDrag();
            else if (step == kLeave)
                v.endSteps();
            else if (step == kOff)
                v.switchOff(2);
            else
                v.set(2, step);
        }
        QCOMPARE(v.volume(2), 0);
        QCOMPARE(v.switchOn(2), back);
    }

private:
    static constexpr int kPress = -1;
    static constexpr int kRelease = -2;
    static constexpr int kLeave = -3;
    static constexpr int kOff = -4;
};

QTEST_APPLESS_MAIN(LiveGridTest)
#include "tst_livegrid.moc"
