#include "app/widgets/qwcustomdelegate.h"
#include "app/widgets/qwusermgrdelegate.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QtTest>

namespace {

QImage paintCell(QStyledItemDelegate &d, const QModelIndex &index, const QRect &rect)
{
    QImage img(rect.size() + QSize(rect.x(), rect.y()), QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    QStyleOptionViewItem opt;
    opt.rect = rect;
    opt.state = QStyle::State_Enabled;
    d.paint(&p, opt, index);
    p.end();
    return img;
}

bool same(const QImage &a, const QImage &b, QPoint offset)
{
    const QImage bb = b.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < bb.height(); ++y)
        for (int x = 0; x < bb.width(); ++x) {
            const QRgb p = a.pixel(offset + QPoint(x, y));
            const QRgb q = bb.pixel(x, y);
            if (qAbs(qAlpha(p) - qAlpha(q)) > 2 || (qAlpha(q) > 40 && qAbs(qBlue(p) - qBlue(q)) > 4))
                return false;
        }
    return true;
}

} // namespace

class TestDelegates : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    void signalLevels()
    {
        QStandardItemModel model(3, 6);
        model.setData(model.index(0, 4), 3, Qt::UserRole);
        qwCustomDelegate d;
        const QImage strip(":/images/srcimages/devsettings/signal.png");
        QCOMPARE(strip.size(), QSize(360, 48));
        const QImage level3 =
            strip.copy(180, 0, 60, 48).scaled(24, 22, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QImage level0 = strip.copy(0, 0, 60, 48).scaled(24, 22, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QVERIFY(level3 != level0);

        const QRect cell(10, 5, 80, 30);
        const QImage row0 = paintCell(d, model.index(0, 4), cell);
        QVERIFY(same(row0, level3, QPoint(14, 5)));
        QVERIFY(!same(row0, level0, QPoint(14, 5)));

        // No user-role value draws level 0.
        QVERIFY(same(paintCell(d, model.index(1, 4), cell), level0, QPoint(14, 5)));

        // Other columns get no picture.
        const QImage other = paintCell(d, model.index(0, 3), cell);
        QImage blank(other.size(), other.format());
        blank.fill(Qt::transparent);
        QCOMPARE(other, blank);
    }

    void signalEditor()
    {
        QStandardItemModel model(1, 6);
        model.setData(model.index(0, 4), 5, Qt::EditRole);
        qwCustomDelegate d;
        QWidget parent;
        QWidget *editor = d.createEditor(&parent, QStyleOptionViewItem(), model.index(0, 4));
        auto *label = qobject_cast<QLabel *>(editor);
        QVERIFY(label);
        QCOMPARE(label->pixmap(Qt::ReturnByValue).size(), QSize(60, 48));
        d.setEditorData(editor, model.index(0, 4));
        const QImage strip(":/images/srcimages/devsettings/signal.png");
        const QImage shown = label->pixmap(Qt::ReturnByValue).toImage().convertToFormat(QImage::Format_ARGB32);
        QVERIFY(same(shown, strip.copy(300, 0, 60, 48), QPoint()));
        QVERIFY(!same(shown, strip.copy(0, 0, 60, 48), QPoint()));
    }

    void userButtons()
    {
        QStandardItemModel model(4, 6);
        QTableView view;
        view.setModel(&model);
        qwUsermgrDelegate d(&view);
        QSignalSpy clicked(&d, &qwUsermgrDelegate::sigToolbuttonClicked);
        QStyleOptionViewItem opt;
        opt.rect = QRect(400, 80, 100, 40); // button from (440, 90) to (461, 111)
        QCOMPARE(qwUsermgrDelegate::buttonRect(opt.rect), QRect(QPoint(440, 90), QPoint(461, 111)));

        auto send = [&](QEvent::Type type, QPoint pos, int column) {
            QMouseEvent ev(type, pos, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            return d.editorEvent(&ev, &model, opt, model.index(2, column));
        };

        const QImage plain = paintCell(d, model.index(2, 4), opt.rect);
        QVERIFY(send(QEvent::MouseButtonRelease, QPoint(450, 100), 4));
        QVERIFY(send(QEvent::MouseButtonRelease, QPoint(461, 111), 5));
        QCOMPARE(clicked.count(), 2);
        QCOMPARE(clicked.at(0), (QList<QVariant>{2, 0}));
        QCOMPARE(clicked.at(1), (QList<QVariant>{2, 1}));

        QVERIFY(!send(QEvent::MouseButtonRelease, QPoint(405, 85), 4));
        QVERIFY(!send(QEvent::MouseButtonRelease, QPoint(462, 100), 4));
        QVERIFY(!send(QEvent::MouseButtonRelease, QPoint(450, 100), 3));
        QCOMPARE(clicked.count(), 2);

        QVERIFY(send(QEvent::MouseButtonPress, QPoint(450, 100), 4));
        QCOMPARE(d.pressState(), 1);
        QCOMPARE(view.currentIndex(), model.index(2, 4));

        // Hover: pointing hand and the hover look.
        QVERIFY(send(QEvent::MouseMove, QPoint(450, 100), 4));
        QCOMPARE(d.pressState(), 0);
        QVERIFY(QApplication::overrideCursor());
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::PointingHandCursor);
        const QImage hovered = paintCell(d, model.index(2, 4), opt.rect);
        QVERIFY(hovered != plain);

        // Leaving the button restores the cursor.
        QVERIFY(!send(QEvent::MouseMove, QPoint(405, 85), 4));
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(paintCell(d, model.index(2, 4), opt.rect), plain);
    }
};

QTEST_MAIN(TestDelegates)
#include "tst_delegates.moc"
