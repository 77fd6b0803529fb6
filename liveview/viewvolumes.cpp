#include "liveview/viewvolumes.h"

#include <utility>

int qcViewVolumes::volume(int view) const
{
    return valid(view) ? m_volume[view] : 0;
}

void qcViewVolumes::remember(int view)
{
    if (m_volume[view] > 0)
        m_audible[view] = m_volume[view];
}

void qcViewVolumes::endChange()
{
    m_changing = -1;
    m_dragging = false;
    m_direction = 0;
}

void qcViewVolumes::beginDrag(int view)
{
    endChange();
    if (!valid(view))
        return;
    remember(view);
    m_changing = view;
    m_dragging = true;
}

void qcViewVolumes::endDrag()
{
    endChange();
}

void qcViewVolumes::endSteps()
{
    if (!m_dragging)
        endChange();
}

void qcViewVolumes::set(int view, int volume)
{
    if (!valid(view) || volume == m_volume[view])
        return;
    const int direction = volume > m_volume[view] ? 1 : -1;
    const bool ongoing = view == m_changing && (m_dragging || direction == m_direction);
    if (!ongoing) {
        endChange();
        remember(view);
        m_changing = view;
        m_direction = direction;
    }
    m_volume[view] = volume;
}

void qcViewVolumes::switchOff(int view)
{
    if (!valid(view))
        return;
    if (view == m_changing)
        endChange();
    remember(view);
    m_volume[view] = 0;
}

int qcViewVolumes::switchOn(int view)
{
    if (!valid(view))
        return 0;
    if (view == m_changing)
        endChange();
    if (m_volume[view] <= 0)
        m_volume[view] = m_audible[view] > 0 ? m_audible[view] : kFirstAudible;
    m_audible[view] = m_volume[view];
    return m_volume[view];
}

void qcViewVolumes::swap(int a, int b)
{
    if (!valid(a) || !valid(b))
        return;
    std::swap(m_volume[a], m_volume[b]);
    std::swap(m_audible[a], m_audible[b]);
    if (m_changing == a || m_changing == b)
        m_changing = m_changing == a ? b : a;
}
