#include "liveview/viewvolumes.h"

#include <utility>

int qcViewVolumes::volume(int view) const
{
    return valid(view) ? m_volume[view] : 0;
}

void qcViewVolumes::set(int view, int volume)
{
    if (!valid(view))
        return;
    m_volume[view] = volume;
    if (volume > 0)
        m_audible[view] = volume;
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
}
