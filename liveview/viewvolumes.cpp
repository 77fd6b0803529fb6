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

void qcViewVolumes::beginDrag(int view)
{
    m_dragged = valid(view) ? view : -1;
    if (m_dragged >= 0)
        remember(view);
}

void qcViewVolumes::endDrag()
{
    m_dragged = -1;
}

void qcViewVolumes::set(int view, int volume)
{
    if (!valid(view))
        return;
    if (view != m_dragged)
        remember(view);
    m_volume[view] = volume;
}

int qcViewVolumes::switchOn(int view)
{
    if (!valid(view))
        return 0;
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
    if (m_dragged == a || m_dragged == b)
        m_dragged = m_dragged == a ? b : a;
}
