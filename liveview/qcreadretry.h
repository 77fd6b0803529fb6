#pragma once

#include "app/core/readstatus.h"

#include <QObject>

#include <functional>

class qcDatabase;

// A read of the local database that the live page needs before it can do
// its work (the options, the schedules, the device list). While the read
// fails, the operator is told once (`tell`), nothing is read in between, and
// it is read again every kRetryMs until it works; what depends on it keeps
// the last good values meanwhile. Only the read an operator action asks for
// (`run`) waits for a file another program holds; the reads tried again on
// their own give up at once, so that a lock held for long never keeps the
// window again and again.
class qcReadRetry : public QObject
{
    Q_OBJECT
public:
    static constexpr int kRetryMs = 5000;

    using Read = std::function<ReadStatus()>;
    using Tell = std::function<void(ReadStatus)>;
    qcReadRetry(qcDatabase *db, Read read, Tell tell, QObject *parent = nullptr);

    // Reads now; false, with a read again in kRetryMs, when it failed.
    bool run();
    // Reads again as the timer does: without waiting for a held file.
    bool retry();

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    qcDatabase *m_db;
    Read m_read;
    Tell m_tell;
    int m_timer = -1;
    bool m_told = false; // this run of failures was told
};
