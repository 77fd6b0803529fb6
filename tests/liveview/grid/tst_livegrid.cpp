#include "liveview/livegrid.h"

#include <QtTest>

using namespace livegrid;

class LiveGridTest : public QObject
{
    Q_OBJECT

private slots:
    void splitCodes_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("code");
        const int counts[] = {1, 4, 6, 9, 16, 36, 64};
        for (int i = 0; i < 7; ++i)
            QTest::addRow("%d", counts[i]) << counts[i] << 54 + i;
        QTest::newRow("0") << 0 << -1;
        QTest::newRow("5") << 5 << -1;
        QTest::newRow("25") << 25 << -1;
        QTest::newRow("65") << 65 << -1;
    }

    void splitCodes()
    {
        QFETCH(int, count);
        QFETCH(int, code);
        QCOMPARE(splitCode(count), code);
        QCOMPARE(isSupportedCount(count), code >= 0);
        if (code >= 0)
            QCOMPARE(countOfSplitCode(code), count);
    }

    void codesOutsideThePopup()
    {
        for (int code : {-1, 0, 53, 61, 255})
            QCOMPARE(countOfSplitCode(code), 0);
    }

    // Cells as (column, row, columns, rows), listed per view of the page.
    void cells_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("side");
        QTest::addColumn<QList<QRect>>("expected");
        auto square = [](int side) {
            QList<QRect> r;
            for (int k = 0; k < side * side; ++k)
                r << QRect(k % side, k / side, 1, 1);
            return r;
        };
        QTest::newRow("1") << 1 << 1 << square(1);
        QTest::newRow("4") << 4 << 2 << square(2);
        QTest::newRow("6") << 6 << 3 << QList<QRect>{QRect(0, 0, 2, 2), QRect(2, 0, 1, 1), QRect(2, 1, 1, 1),
                                                     QRect(0, 2, 1, 1), QRect(1, 2, 1, 1), QRect(2, 2, 1, 1)};
        QTest::newRow("9") << 9 << 3 << square(3);
        QTest::newRow("16") << 16 << 4 << square(4);
        QTest::newRow("36") << 36 << 6 << square(6);
        QTest::newRow("64") << 64 << 8 << square(8);
        QTest::newRow("5") << 5 << 0 << QList<QRect>();
    }

    void cells()
    {
        QFETCH(int, count);
        QFETCH(int, side);
        QFETCH(QList<QRect>, expected);
        QCOMPARE(gridSide(count), side);
        for (int k = 0; k < expected.size(); ++k)
            QCOMPARE(cell(count, k), expected[k]);
        QVERIFY(cell(count, -1).isNull());
        QVERIFY(cell(count, qMax(count, 0)).isNull());
    }

    void paging_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("pages");
        QTest::newRow("1") << 1 << 64;
        QTest::newRow("4") << 4 << 16;
        QTest::newRow("6") << 6 << 10;
        QTest::newRow("9") << 9 << 7;
        QTest::newRow("16") << 16 << 4;
        QTest::newRow("36") << 36 << 1;
        QTest::newRow("64") << 64 << 1;
    }

    // Walking forward from any view of a page reaches the next page's first
    // view; the last page has no next, the first no previous.
    void paging()
    {
        QFETCH(int, count);
        QFETCH(int, pages);
        QCOMPARE(pageCount(count), pages);
        for (int p = 0; p < pages; ++p) {
            for (int selected : {p * count, p * count + count - 1}) {
                QCOMPARE(nextPageFirst(count, selected), p + 1 < pages ? (p + 1) * count : -1);
                QCOMPARE(previousPageFirst(count, selected), p > 0 ? (p - 1) * count : -1);
            }
        }
    }

    void pagingWithoutAGrid()
    {
        QCOMPARE(nextPageFirst(0, 0), -1);
        QCOMPARE(previousPageFirst(5, 10), -1);
        QCOMPARE(nextPageFirst(4, -1), -1);
        QCOMPARE(pageCount(7), 0);
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
        QTest::newRow("64 views") << 64 << 0 << -1 << QList<int>{};
        QTest::newRow("enlarged in 9") << 9 << 0 << 5 << QList<int>{5};
        QTest::newRow("enlarged in 4") << 4 << 0 << 2 << QList<int>{2};
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
};

QTEST_APPLESS_MAIN(LiveGridTest)
#include "tst_livegrid.moc"
