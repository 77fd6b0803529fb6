#pragma once

#include "liveview/livegrid.h"

// The sound volume each view keeps (0 is silent) and the last audible volume
// it had. The speaker button switches a view on at that audible volume, so
// that a view whose volume stands at 0 does not say "sound on" and stay
// silent.
class qcViewVolumes
{
public:
    // What the speaker button gives a view that was never audible.
    static constexpr int kFirstAudible = 50;

    // 0 for an index outside the views.
    int volume(int view) const;
    // The slider, the speaker switched off and a closed view; an audible
    // value is also remembered for switching on again.
    void set(int view, int volume);
    // The speaker switched on: the stored volume, or when that is 0 the last
    // audible one (kFirstAudible for a view that never had one), which is
    // stored. 0 for an index outside the views.
    int switchOn(int view);
    // Two views changed places; their sound goes with them.
    void swap(int a, int b);

private:
    static bool valid(int view) { return view >= 0 && view < livegrid::kMaxViews; }

    int m_volume[livegrid::kMaxViews] = {};
    int m_audible[livegrid::kMaxViews] = {};
};
