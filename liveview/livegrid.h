#pragma once

#include <QRect>
#include <QtGlobal>

// The arithmetic of the live page's video grid, kept apart from the widgets
// so that it can be reasoned about (and tested) on its own: which grid sizes
// exist, how the split popup names them, where each view of a page sits,
// how pages follow each other and which views play a device's main stream.
namespace livegrid {

// Views exist with the indexes 0..kMaxViews-1.
constexpr int kMaxViews = 64;
// The grid sizes offered, in the order of the split popup.
constexpr int kSplitCounts[] = {1, 4, 6, 9, 16, 36, 64};
constexpr int kSplitChoices = int(sizeof(kSplitCounts) / sizeof(kSplitCounts[0]));
// The popup reports choice i as kFirstSplitCode + i.
constexpr int kFirstSplitCode = 54;
// The grid used when the stored view count is none of the above.
constexpr int kDefaultCount = 4;

bool isSupportedCount(int count);
// The popup's code for a grid size, -1 for a size it does not offer.
int splitCode(int count);
// The grid size a popup code stands for, 0 for any other number.
int countOfSplitCode(int code);

// Cells per row (and per column) of a page of `count` views: the six-view
// grid is 3 x 3 with its first view over four cells. 0 for other counts.
int gridSide(int count);
// The cell of the k-th view of a page, as QRect(column, row, columns, rows)
// of the grid layout; a null rectangle when k is not a view of the page.
QRect cell(int count, int k);

// Pages are derived from the selected view: the page of view v shows the
// views (v / count) * count onward. The last page must still fit below
// kMaxViews, so nine views page through 0..62 and never show view 63.
int pageCount(int count);
// First view of the page after (before) the one that holds `selected`, or
// -1 when there is none.
int nextPageFirst(int count, int selected);
int previousPageFirst(int count, int selected);

// Whether the stream adjustment gives `view` the device's main stream: an
// enlarged view alone gets it; otherwise the views of the one-view and
// four-view grids of page `page` and the large view of the six-view grid.
// Smaller cells play the sub stream.
bool wantsMainStream(int count, int page, int maximizedView, int view);

} // namespace livegrid
