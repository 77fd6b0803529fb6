#pragma once

#include <QDate>

// The day a recording is filed under: the computer's date when its file was
// made, unless its first frame was stamped in the old day's last seconds and
// read in the new day's first (a pre-record reaching back over midnight, or a
// file going on from one that filled just before it): that file belongs to
// the old day. When that date changes, the frames the stream client stamped
// before the change still belong to it (the last ones of the old day arrive
// after the date has turned, or after the clock was set) and the file ends
// before the first frame stamped on the new date. Stamps are milliseconds of
// the day on the computer's clock, as the stream client gives them.
class RecordingDay
{
public:
    // The computer's date now becomes the recording's.
    void start();
    QDate date() const { return m_date; }
    // The recording's first frame is stamped `stamp`: its day, the date()
    // from now on.
    QDate firstFrame(qint64 stamp);
    // Whether a frame stamped `stamp` still belongs to the recording's day.
    bool holds(qint64 stamp);
    // A video frame stamped `stamp` went into the file.
    void written(qint64 stamp);
    // Whether the computer's date has turned since start(), or its clock has
    // left the day's last seconds (it was set back).
    bool leftTheDay();

private:
    void readClock();

    QDate m_date;
    QDate m_now;
    int m_nowMs = 0;
    // The date is read again only when the time of day moved on a second or
    // went back: a full read takes a process-wide lock.
    int m_lastDateRead = -1;
    // Whether the stamps followed the clock until the date changed; only
    // then do they tell when a frame was stamped.
    bool m_stampsFollowClock = false;
};
