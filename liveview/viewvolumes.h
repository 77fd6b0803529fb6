#pragma once

#include "liveview/livegrid.h"

// The sound volume each view keeps (0 is silent) and the audible volume the
// speaker button brings it back to. That is the volume the view had when a
// change of it began. One change is a drag of the slider (pressed …
// released), or a run of steps in one direction by the wheel, the keys or
// clicks on the groove, which ends when the steps turn back, the slider is
// left or the speaker button is used. The values a change passes through do
// not count, so that turning down to 0 and switching on again does not come
// back at the last step above 0, nearly silent under "sound on".
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
    // The slider left (pointer or focus gone): its next step begins a change.
    void endSteps();
    // A value of the slider: a step of the change under way, or the first
    // one of a new change, which remembers an audible volume the view had.
    void set(int view, int volume);
    // The speaker switched off and a closed view: silent, the audible volume
    // the view had remembered.
    void switchOff(int view);
    // The speaker switched on: the stored volume, or when that is 0 the
    // remembered one (kFirstAudible for a view that never had one), which is
    // stored. 0 for an index outside the views.
    int switchOn(int view);
    // Two views changed places; their sound goes with them.
    void swap(int a, int b);

private:
    static bool valid(int view) { return view >= 0 && view < livegrid::kMaxViews; }
    void remember(int view);
    void endChange();

    int m_volume[livegrid::kMaxViews] = {};
    int m_audible[livegrid::kMaxViews] = {};
    // The view whose change is under way, -1 for none; whether it is a drag,
    // and otherwise which way its steps go (+1 up, -1 down).
    int m_changing = -1;
    bool m_dragging = false;
    int m_direction = 0;
};
