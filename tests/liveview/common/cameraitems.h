// What the device rows show, read back for assertions.
#pragma once

#include "liveview/qwcameraitem.h"

namespace cameraitems {

// The row's option buttons that are enabled, as the bit mask the page sets.
inline int enabledMask(qwCameraItem *item)
{
    int mask = 0;
    for (int bit : {1, 2, 4, 8, 0x10})
        if (item->isOptionEnabled(bit))
            mask |= bit;
    return mask;
}

} // namespace cameraitems
