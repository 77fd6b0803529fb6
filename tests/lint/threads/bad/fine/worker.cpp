// Cooperative stop; std::terminate stays allowed for fatal states.
void Worker::halt()
{
    m_stop.requestStop();
    wait();
    if (broken)
        std::terminate();
    bool terminated = false;
    onTerminateRequested(terminated);
}
