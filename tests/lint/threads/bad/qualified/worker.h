struct Worker : QThread
{
    void halt() { QThread::terminate(); }
};
