#pragma once

// Whether a label's painted text can be read: the contrast of its text
// pixels against its background (as WCAG measures it), and whether the text
// lies whole inside the part of the label that can be seen. Header only;
// the suites link Qt Widgets.

#include "tests/support/contrast.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QMap>
#include <QRegion>
#include <QTest>
#include <QWidget>

namespace testsupport {

struct PaintedText
{
    QRgb background = 0; // the colour most of the label's pixels have
    QRgb text = 0;       // the pixel that stands out most from it
    double contrast = 1;
    // From the area's left edge to the first pixel of the text (one that
    // stands out from the background at 1.5:1 or more), -1 without text.
    int textLeft = -1;
    // No text painted, text wider than the label, a label not seen whole,
    // or one that a sibling covers.
    bool clipped = true;
};

// Within an area of a picture: the colour most of its pixels have, and
// the pixel that stands out most from it.
inline PaintedText paintedColours(const QImage &picture, const QRect &area)
{
    PaintedText out;
    const QImage shot = picture.convertToFormat(QImage::Format_RGB32);
    const QRect inside = area & shot.rect();
    QMap<QRgb, int> counts;
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            ++counts[shot.pixel(x, y) & 0xffffff];
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            out.background = it.key();
        }
    }
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QRgb p = shot.pixel(x, y) & 0xffffff;
            const double c = contrastRatio(p, out.background);
            if (c > out.contrast) {
                out.contrast = c;
                out.text = p;
            }
            if (c >= 1.5 && (out.textLeft < 0 || x - inside.left() < out.textLeft))
                out.textLeft = x - inside.left();
        }
    }
    return out;
}

// The label as its window paints it (the parents' backgrounds included).
inline PaintedText paintedText(QLabel *label)
{
    PaintedText out;
    QWidget *top = label->window();
    const QRect seen = label->visibleRegion().boundingRect();
    if (seen.isEmpty())
        return out;
    out = paintedColours(top->grab().toImage(), QRect(label->mapTo(top, seen.topLeft()), seen.size()));
    bool covered = false;
    if (QWidget *parent = label->parentWidget()) {
        for (QWidget *sibling : parent->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            covered |= sibling != label && sibling->isVisible() && sibling->geometry().intersects(label->geometry());
    }
    const int needed = label->fontMetrics().horizontalAdvance(label->text());
    out.clipped = out.contrast < 1.5 || seen != label->rect() || covered || needed > label->contentsRect().width();
    return out;
}

// Opens a shown drop-down list on its first entry; its view once shown,
// else null.
inline QAbstractItemView *openedOnFirstEntry(QComboBox *combo)
{
    combo->setCurrentIndex(0);
    combo->showPopup();
    QAbstractItemView *view = combo->view();
    return QTest::qWaitFor([&] { return view->isVisible(); }) ? view : nullptr;
}

// The second entry of a shown drop-down list opened on its first, not
// highlighted, as the list draws it.
inline PaintedText plainListEntry(QComboBox *combo)
{
    QAbstractItemView *view = openedOnFirstEntry(combo);
    if (!view)
        return {};
    const QModelIndex second = combo->model()->index(1, 0);
    const PaintedText entry = paintedColours(view->viewport()->grab().toImage(), view->visualRect(second));
    combo->hidePopup();
    return entry;
}

// Opens a shown drop-down list and moves to its second entry, by the arrow
// key or by the mouse as an operator does; that entry as the list draws it.
inline PaintedText highlightedListEntry(QComboBox *combo, bool byMouse)
{
    QAbstractItemView *view = openedOnFirstEntry(combo);
    if (!view)
        return {};
    const QModelIndex second = combo->model()->index(1, 0);
    if (byMouse) {
        // Two steps: the list takes the first move as where the mouse was.
        QTest::mouseMove(view->viewport(), view->visualRect(second).center() - QPoint(0, 1));
        QTest::mouseMove(view->viewport(), view->visualRect(second).center());
    } else {
        QTest::keyClick(view, Qt::Key_Down);
    }
    const bool moved = QTest::qWaitFor([&] { return view->currentIndex() == second; });
    const PaintedText entry = paintedColours(view->viewport()->grab().toImage(), view->visualRect(second));
    combo->hidePopup();
    return moved ? entry : PaintedText{};
}

} // namespace testsupport
