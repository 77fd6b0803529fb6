#pragma once

#include "media/framehandover.h"

#include <QtGlobal>

#include <memory>

// Where a device's next recording goes on, so that no picture falls between
// two files of one recording:
//   - after a file cut where the date changed or the stream's time jumped,
//     whatever starts next goes on after the cut (with the frames the cut
//     handed over);
//   - after a scheduled file that holds its length, only the schedule's next
//     file goes on after it, and only while the schedule still runs: the
//     tick that starts that file comes a while after the file ended, and a
//     file started afresh would begin at the newest key frame, past pictures
//     the last file never held.
// Either file starts with the pictures since the key frame before it (lead
// in), as any file that goes on does. A recording started afresh takes the
// newest key frame and its pre-record instead.
class RecordResume
{
public:
    // A file was cut: the next recording goes on after `sequence`.
    void cut(qint64 sequence, std::unique_ptr<FrameHandOver> handOver);
    // A file of `kind` holds its length, its last frame `sequence`.
    void filled(int kind, qint64 sequence);
    // The schedule started no file for the device: its run has ended, and a
    // later one starts afresh.
    void scheduleLapsed();
    // Where a recording of `kind` goes on after (-1: none, start afresh).
    qint64 sequenceFor(int kind) const;
    // The recording of `kind` started with sequenceFor(kind): whether its
    // file goes on from another (lead in), and the frames handed over to it.
    // Both are taken once; the point is gone afterwards.
    bool goesOn(int kind) const { return sequenceFor(kind) >= 0; }
    std::unique_ptr<FrameHandOver> take();
    // A stopped recording hands nothing over.
    void dropHandOver() { m_handOver.reset(); }
    qint64 sequence() const { return m_sequence; }

private:
    qint64 m_sequence = -1;
    bool m_scheduled = false; // the point is a scheduled file's end
    std::unique_ptr<FrameHandOver> m_handOver;
};
