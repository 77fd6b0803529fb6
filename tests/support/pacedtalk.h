#pragma once

#include "device/g711.h"
#include "device/qcaudiocapture.h"
#include "tests/support/lumpinput.h"

#include <QVector>

#include <atomic>

namespace testsupport {

// The program's two loops on a clock of the test's own: the capture's pump
// every 20 ms (the GUI thread; it can stall) and the talk thread's pass
// every 10 ms, which sends every due block. Each block sent is noted with
// when it went. A talk thread of the program's own may read the clock while
// the test moves it on.
struct PacedTalk
{
    std::atomic<qint64> now{0};
    LumpInput *mic;
    qcAudioCapture capture;
    QByteArray sent;
    QVector<qint64> sentAt;
    explicit PacedTalk(int lumpMs)
        : mic(new LumpInput(lumpMs, [this] { return now.load(); })),
          capture(nullptr, std::unique_ptr<AudioInputBackend>(mic))
    {
        capture.setClock([this] { return now.load(); });
        capture.startCapture();
    }
    // The click: a talk begins, and what it sends is noted afresh.
    void begin()
    {
        capture.beginTalk();
        sent.clear();
        sentAt.clear();
    }
    // Runs until `end`; no pump in [stallFrom, stallTo).
    void run(qint64 end, qint64 stallFrom = 0, qint64 stallTo = 0)
    {
        unsigned char block[320];
        while (now < end) {
            now += 10;
            if (now % qcAudioCapture::kPumpMs == 0 && !(now >= stallFrom && now < stallTo))
                capture.pump();
            while (capture.readEncoded(block, 320, qcAudioCapture::Due) == 320) {
                sent.append(reinterpret_cast<const char *>(block), 320);
                sentAt.append(now);
            }
        }
    }
    // The stop: what is queued goes at once.
    void stop()
    {
        unsigned char block[320];
        while (capture.readEncoded(block, 320) == 320)
            sent.append(reinterpret_cast<const char *>(block), 320);
    }
    // The microphone's index of each block's first sample, or -1 for a block
    // that is not the microphone's; a block follows the one before it or
    // starts a later run (what was dropped in between).
    QVector<qint64> blockIndexes(qint64 from = 0) const
    {
        QVector<qint64> out;
        qint64 next = from;
        for (int b = 0; b + 320 <= sent.size(); b += 320) {
            const QByteArray blk = sent.mid(b, 320);
            bool follows = true;
            for (int i = 0; i < 320 && follows; ++i)
                follows = uint8_t(blk[i]) == linearToMuLaw(LumpInput::sample(next + i));
            const qint64 at = follows ? next : LumpInput::indexOf(blk, next, mic->made());
            out.append(at);
            next = at < 0 ? next : at + 320;
        }
        return out;
    }
};

} // namespace testsupport
