#include "app/core/generalthread.h"

GeneralThread::GeneralThread() : QThread(nullptr) {}

GeneralThread::~GeneralThread()
{
    // Stopping is the owner's job; deleting a running thread would pull the
    // list and the context away from under the function.
    Q_ASSERT_X(!isRunning(), "GeneralThread", "destroyed while running: stop and wait for it first");
    qDeleteAll(m_list);
    m_list.clear();
}

bool GeneralThread::setFunction(GeneralThreadFunc func)
{
    if (!func)
        return false;
    m_func = func;
    return true;
}

bool GeneralThread::setInterval(int interval)
{
    if (interval < 1)
        return false;
    m_interval = interval;
    return true;
}

bool GeneralThread::setContext(void *context, void *user)
{
    if (context)
        m_context = context;
    if (!user)
        return false;
    m_user = user;
    return true;
}

void GeneralThread::run()
{
    if (m_func)
        m_func(m_context, m_interval, &m_list, m_user);
}
