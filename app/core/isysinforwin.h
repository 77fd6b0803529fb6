#pragma once

#include "platform/stoptoken.h"

#include <QThread>

#include <functional>

// Measures the load of the whole machine and reports it about every 1.5 s
// as a whole percentage: two readings 500 ms apart, then a 1000 ms pause.
class ISysinforWin : public QThread
{
    Q_OBJECT
public:
    // Reads idle, kernel (idle included) and user times; false when it cannot.
    using TimesReader = std::function<bool(quint64 &idle, quint64 &kernel, quint64 &user)>;

    struct Times
    {
        quint64 idle = 0;
        quint64 kernel = 0;
        quint64 user = 0;
    };

    explicit ISysinforWin(TimesReader reader = {});
    // Stops the thread and waits for it; it ends within a moment.
    ~ISysinforWin() override;

    // Asks the thread to end and wakes it from its waits; does not wait.
    void stop();

    // Busy share of the time between two readings in percent, rounded up,
    // 0..100; 0 when no processor time passed between them.
    static int loadBetween(const Times &first, const Times &second);

signals:
    void sigCpuRate(int nRate);

protected:
    void run() override;

private:
    TimesReader m_reader;
    platform::StopToken m_stop;
};
