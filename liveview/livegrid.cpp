#include "liveview/livegrid.h"

namespace livegrid {

bool isSupportedCount(int count)
{
    return splitCode(count) >= 0;
}

int splitCode(int count)
{
    for (int i = 0; i < kSplitChoices; ++i) {
        if (kSplitCounts[i] == count)
            return kFirstSplitCode + i;
    }
    return -1;
}

int countOfSplitCode(int code)
{
    const int i = code - kFirstSplitCode;
    return i >= 0 && i < kSplitChoices ? kSplitCounts[i] : 0;
}

int gridSide(int count)
{
    if (!isSupportedCount(count))
        return 0;
    if (count == 6)
        return 3;
    int side = 1;
    while (side * side < count)
        ++side;
    return side;
}

QRect cell(int count, int k)
{
    if (!isSupportedCount(count) || k < 0 || k >= count)
        return QRect();
    if (count == 6) {
        if (k == 0)
            return QRect(0, 0, 2, 2);
        // The five small views run down the right column, then along the bottom row.
        return k <= 2 ? QRect(2, k - 1, 1, 1) : QRect(k - 3, 2, 1, 1);
    }
    const int side = gridSide(count);
    return QRect(k % side, k / side, 1, 1);
}

int pageCount(int count)
{
    return isSupportedCount(count) ? kMaxViews / count : 0;
}

int nextPageFirst(int count, int selected)
{
    if (!isSupportedCount(count) || selected < 0)
        return -1;
    const int page = selected / count;
    return (page + 2) * count <= kMaxViews ? (page + 1) * count : -1;
}

int previousPageFirst(int count, int selected)
{
    if (!isSupportedCount(count) || selected < 0)
        return -1;
    const int page = selected / count;
    return page >= 1 ? (page - 1) * count : -1;
}

bool wantsMainStream(int count, int page, int maximizedView, int view)
{
    if (maximizedView >= 0)
        return view == maximizedView;
    switch (count) {
    case 1:
        return view == page;
    case 4:
        return view >= 4 * page && view < 4 * page + 4;
    case 6:
        return view == 6 * page;
    default:
        return false;
    }
}

} // namespace livegrid
