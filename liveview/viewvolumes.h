#pragma once

#include "liveview/livegrid.h"

// The sound volume each view keeps (0 is silent) and the audible volume the
// speaker button brings it back to. That is the volume the view had when a
// change of it began: a drag of the slider (pressed … released), one key
// press or click on the slider, the speaker switched off. The values a drag
// passes through do not count, so that dragging down to 0 and switching on
// again does not come back at 1, silent under "sound on".
class qcViewVolumes
{
public:
    // What the speaker button gives a view that was never audible.
    static constexpr int kFirstAudible = 50;

    // 0 for an index outside the views.
    int volume(int view) const;
    // The slider's handle taken and let go: the changes in between are one.
    void beginDrag(int view);
    void endDrag();
    // The slider, the speaker switched off and a closed view. Outside a drag
    // of that view, an audible volume it had before is remembered.
    void set(int view, int volume);
    // The speaker switched on: the stored volume, or when that is 0 the
    // remembered one (kFirstAudible for a view that never had one), which is
    // stored. 0 for an index outside the views.
    int switchOn(int view);
    // Two views changed places; their sound goes with them.
    void swap(int a, int b);

private:
    static bool valid(int view) { return view >= 0 && view < livegrid::kMaxViews; }
    void remember(int view);

    int m_volume[livegrid::kMaxViews] = {};
    int m_audible[livegrid::kMaxViews] = {};
    int m_dragged = -1;
};
