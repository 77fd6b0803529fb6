#pragma once

#include "app/core/readstatus.h"

#include <QObject>

#include <functional>

// A read of the local database that the live page needs before it can do
// its work (the options, the schedules, the device list). While the read
// fails, the operator is told once (`tell`), nothing is read in between, and
// it is read again every kRetryMs until it works; what depends on it keeps
// the last good values meanwhile.
class qcReadRetry : public QObject
{
    Q_OBJECT
public:
    static constexpr int kRetryMs = 5000;

    using Read = std::function<ReadStatus()>;
    using Tell = std::function<void(ReadStatus)>;
    qcReadRetry(Read read, Tell tell, QObject *parent = nullptr);

    // Reads now; false, with a read again in kRetryMs, when it failed.
    bool run();

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    Read m_read;
    Tell m_tell;
    int m_timer = -1;
    bool m_told = false; // this run of failures was told
};
