void stopWorker(QThread &worker)
{
    worker.terminate();
}
