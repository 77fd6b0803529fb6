#include "app/widgets/statusbutton.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

const char kStrip[] = ":/images/srcimages/buttonclose.png";

QImage render(QWidget &w)
{
    QImage img(w.size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    w.render(&img, QPoint(), QRegion(), QWidget::RenderFlags());
    return img.convertToFormat(QImage::Format_ARGB32);
}

// True when img at offset shows picture (premultiplication may round by one).
bool showsPicture(const QImage &img, const QImage &picture, QPoint offset = QPoint())
{
    const QImage pic = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < pic.height(); ++y) {
        for (int x = 0; x < pic.width(); ++x) {
            const QPoint p = offset + QPoint(x, y);
            if (!img.rect().contains(p))
                continue;
            const QRgb a = img.pixel(p);
            const QRgb b = pic.pixel(x, y);
            if (qAbs(qAlpha(a) - qAlpha(b)) > 2)
                return false;
            if (qAlpha(b) > 16 &&
                (qAbs(qRed(a) - qRed(b)) > 3 || qAbs(qGreen(a) - qGreen(b)) > 3 || qAbs(qBlue(a) - qBlue(b)) > 3))
                return false;
        }
    }
    return true;
}

bool isBlank(const QImage &img)
{
    QImage blank(img.size(), img.format());
    blank.fill(Qt::transparent);
    return img == blank;
}

} // namespace

class TestStatusButton : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    void cellsOfAStrip_data()
    {
        QTest::addColumn<int>("cells");
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("expectedCell"); // -1: nothing drawn
        QTest::newRow("4 cells, normal") << 4 << 0 << 0;
        QTest::newRow("4 cells, disabled") << 4 << 3 << 3;
        QTest::newRow("3 cells, pressed") << 3 << 2 << 2;
        QTest::newRow("3 cells, disabled draws nothing") << 3 << 3 << -1;
        QTest::newRow("2 cells, pressed shows hover") << 2 << 2 << 1;
        QTest::newRow("2 cells, disabled shows hover") << 2 << 3 << 1;
    }

    void cellsOfAStrip()
    {
        QFETCH(int, cells);
        QFETCH(int, state);
        QFETCH(int, expectedCell);
        const QImage strip(kStrip);
        QCOMPARE(strip.size(), QSize(172, 25));
        const int cellWidth = 172 / cells; // 43 with four cells, 57 with three
        StatusButton b(nullptr, cells, kStrip, QString());
        b.resize(cellWidth, 25);
        b.setStatus(false, state);
        const QImage img = render(b);
        if (expectedCell < 0) {
            QVERIFY(isBlank(img));
            return;
        }
        QVERIFY(showsPicture(img, strip.copy(expectedCell * cellWidth, 0, cellWidth, 25)));
        // and not a neighbouring cell
        const int other = expectedCell == 0 ? 1 : 0;
        QVERIFY(!showsPicture(img, strip.copy(other * cellWidth, 0, cellWidth, 25)));
    }

    void centredByTruncatedHalves()
    {
        const QImage strip(kStrip);
        StatusButton b(nullptr, 4, kStrip, QString());
        b.resize(50, 30); // (50-43)/2 = 3, (30-25)/2 = 2
        const QImage img = render(b);
        QVERIFY(showsPicture(img, strip.copy(0, 0, 43, 25), QPoint(3, 2)));
        QVERIFY(!showsPicture(img, strip.copy(0, 0, 43, 25), QPoint(4, 2)));

        b.setDrawMode(1);
        const QImage stretched = render(b);
        QVERIFY(!showsPicture(stretched, strip.copy(0, 0, 43, 25), QPoint(3, 2)));
    }

    void separateImagesNeedNormalAndHover()
    {
        QImage red(10, 10, QImage::Format_ARGB32);
        red.fill(Qt::red);
        QImage blue(10, 10, QImage::Format_ARGB32);
        blue.fill(Qt::blue);
        StatusButton b(nullptr, QStringLiteral("tip"), red, blue, nullptr, nullptr, 7);
        b.resize(10, 10);
        QCOMPARE(b.cellCount(), 2);
        QCOMPARE(b.toolTip(), QStringLiteral("tip"));
        QVERIFY(showsPicture(render(b), red));
        b.setStatus(false, 2);
        QVERIFY(showsPicture(render(b), blue));

        StatusButton empty(nullptr, QString(), red, QImage(), nullptr, nullptr, 7);
        empty.resize(10, 10);
        QVERIFY(isBlank(render(empty)));
    }

    void lockedDisabledButtonIgnoresEvents()
    {
        StatusButton b(nullptr, 4, kStrip, QString());
        b.resize(43, 25);
        b.setStatus(true, 3);
        QSignalSpy down(&b, &StatusButton::sigLeftbuttonDown);
        QSignalSpy up(&b, &StatusButton::sigLeftbuttonUp);
        QSignalSpy clicked(&b, &QPushButton::clicked);
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(&b, &enter);
        QCOMPARE(b.status(), 3);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&b, &leave);
        QCOMPARE(b.status(), 3);
        QTest::mouseClick(&b, Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(b.status(), 3);
        QCOMPARE(down.count(), 0);
        QCOMPARE(up.count(), 0);
        QCOMPARE(clicked.count(), 1);

        // Locked but not disabled: enter and leave still do not move the state.
        b.setStatus(true, 0);
        QApplication::sendEvent(&b, &enter);
        QCOMPARE(b.status(), 0);
    }

    void stripButtonSignals()
    {
        StatusButton b(nullptr, 4, kStrip, QString());
        b.resize(43, 25);
        QSignalSpy click(&b, &StatusButton::sigClick);
        QSignalSpy down(&b, &StatusButton::sigLeftbuttonDown);
        QSignalSpy up(&b, &StatusButton::sigLeftbuttonUp);
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(&b, &enter);
        QCOMPARE(b.status(), 1);
        QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(b.status(), 2);
        QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(b.status(), 1);
        QCOMPARE(click.count(), 0);
        QCOMPARE(down.count(), 1);
        QCOMPARE(down.at(0).at(0).toInt(), -1);
        QCOMPARE(up.count(), 1);
        QCOMPARE(up.at(0).at(0).toInt(), -1);
    }

    void maskedButtonAndOtherButtons()
    {
        QImage img(8, 8, QImage::Format_ARGB32);
        img.fill(Qt::green);
        StatusButton b(nullptr, QString(), img, img, &img, &img, 5);
        b.resize(20, 20);
        QCOMPARE(b.cellCount(), 4);
        QSignalSpy click(&b, &StatusButton::sigClick);
        QSignalSpy down(&b, &StatusButton::sigLeftbuttonDown);
        QSignalSpy up(&b, &StatusButton::sigLeftbuttonUp);

        QTest::mousePress(&b, Qt::RightButton, {}, QPoint(5, 5));
        QTest::mouseRelease(&b, Qt::RightButton, {}, QPoint(5, 5));
        QCOMPARE(b.status(), 0);
        QCOMPARE(down.count() + up.count() + click.count(), 0);

        // A left release outside the button still reports and shows hover.
        QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(100, 100));
        QCOMPARE(b.status(), 1);
        QCOMPARE(click.count(), 1);
        QCOMPARE(click.at(0).at(0).toInt(), 5);
        QCOMPARE(up.count(), 1);
        QCOMPARE(up.at(0).at(0).toInt(), 5);
    }

    // The mask a strip button's owner sets is what the signals carry; a
    // negative one sends no sigClick.
    void maskSetLater_data()
    {
        QTest::addColumn<int>("mask");
        QTest::addColumn<int>("clicks");
        QTest::newRow("1, as the live page's bar") << 1 << 1;
        QTest::newRow("0") << 0 << 1;
        QTest::newRow("back to -1") << -1 << 0;
    }
    void maskSetLater()
    {
        QFETCH(int, mask);
        QFETCH(int, clicks);
        StatusButton b(nullptr, 4, kStrip, QString());
        b.resize(43, 25);
        b.setMask(7);
        b.setMask(mask);
        QSignalSpy click(&b, &StatusButton::sigClick);
        QSignalSpy down(&b, &StatusButton::sigLeftbuttonDown);
        QSignalSpy up(&b, &StatusButton::sigLeftbuttonUp);
        QTest::mouseClick(&b, Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(click.count(), clicks);
        if (clicks)
            QCOMPARE(click.at(0).at(0).toInt(), mask);
        QCOMPARE(down.at(0).at(0).toInt(), mask);
        QCOMPARE(up.at(0).at(0).toInt(), mask);
    }

    // Selected (as made) shows the picture alone; not selected, the style
    // sheet's background shows around it; the picture stays on top.
    void selectedLook()
    {
        const QImage strip(kStrip);
        StatusButton b(nullptr, 4, kStrip, QString());
        b.setStyleSheet(QStringLiteral("QPushButton{background:#ff0000;border:none;}"));
        b.resize(63, 45); // the picture at (10, 10)
        QVERIFY(b.isSelected());
        QCOMPARE(render(b).pixel(2, 2), qRgba(0, 0, 0, 0));
        b.setSelected(false);
        QCOMPARE(render(b).pixel(2, 2), qRgb(255, 0, 0));
        QPoint opaque;
        for (int i = 0; i < 43 * 25 && qAlpha(strip.pixel(opaque)) < 255; ++i)
            opaque = QPoint(i % 43, i / 43);
        QCOMPARE(render(b).pixel(opaque + QPoint(10, 10)), strip.pixel(opaque));
        b.setSelected(true);
        QCOMPARE(render(b).pixel(2, 2), qRgba(0, 0, 0, 0));
    }
};

QTEST_MAIN(TestStatusButton)
#include "tst_statusbutton.moc"
