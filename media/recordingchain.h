#pragma once

#include <QString>

// One manual or alarm recording of a device, which the recorder may cut into
// several files: where the computer's date changes and where the stream's
// time jumps. The operator's click or the alarm asked for one recording of a
// length, so after such a cut the next file goes on where the last one ended,
// in the folder of the day it is made on, with what is left of the length,
// until the operator stops it, the length is used up, or a file ends for any
// other reason (the stream dropped, the disk is full). Scheduled recordings
// need none of this: the schedule starts the next file itself.
class RecordingChain
{
public:
    struct Params
    {
        QString top;
        int kind = 0;
        int stream = 0;
        int lengthSec = 0;
        int preSec = 0;
        int postSec = 0;
        bool report = false;
    };

    // Whether recordings of this kind go on after a cut.
    static bool chains(int kind);

    // A recording starts with its first file.
    void begin(const Params &params);
    // The recording ends: stopped, or nothing more can be recorded.
    void end();
    bool active() const { return m_active; }
    const Params &params() const { return m_params; }
    // The length the files so far took (ms).
    qint64 recordedMs() const { return m_recordedMs; }

    // A file of the recording ended, named `file` (empty when nothing was
    // recorded); `cut` when the recorder cut it where the next one is to
    // continue. True when a next file is owed; otherwise the recording has
    // ended.
    bool fileEnded(bool cut, qint64 recordedMs, const QString &file);
    // The last file the recording made; empty before the first.
    QString lastFile() const { return m_lastFile; }
    bool owesNextFile() const { return m_active && m_owed; }
    // The owed file runs.
    void nextFileStarted() { m_owed = false; }

private:
    Params m_params;
    bool m_active = false;
    bool m_owed = false;
    qint64 m_recordedMs = 0;
    QString m_lastFile;
};
