void Worker::halt()
{
    if (isRunning())
        terminate();
}
