#pragma once

// A stream's sound beside its pictures, as either stream road hands them on:
// each sound frame is judged against the picture handed on just before it,
// the shorter way round midnight. Header only; the suites link device.

#include "device/framehead.h"
#include "device/streamclock.h"
#include "tests/support/driftingcamera.h"

#include <QtTest>

namespace testsupport {

struct SoundBeside
{
    qint64 picture = -1;
    qint64 sound = -1;
    int sounds = 0;
    qint64 worst = 0; // the furthest a sound frame lay from its picture
    QString faults;   // the first sound frame far off its picture or back

    void take(int kind, qint64 ts)
    {
        if (kind == KindVideo)
            picture = ts;
        if (kind != KindAudio || picture < 0)
            return;
        ++sounds;
        const qint64 off = StreamClock::lead(ts, picture);
        worst = qMax(worst, qAbs(off));
        // Further than this, sound plays off its picture.
        if (faults.isEmpty() && (qAbs(off) > 100 || (sound >= 0 && StreamClock::lead(ts, sound) < 0)))
            faults = QString("sound %1 at %2: %3 ms off its picture, after %4").arg(sounds).arg(ts).arg(off).arg(sound);
        sound = ts;
    }
};

// Cameras that send a sound frame 20 ms after each picture (stampAfter(i,
// 20)) while their clock is corrected back by less than a second now and
// then, or jitters.
inline void addSoundCameraRows()
{
    QTest::addColumn<int>("pictures");
    QTest::addColumn<DriftingCamera>("camera");
    auto camera = [](double rate, int setBack, int every, int jitter) {
        DriftingCamera c;
        c.rate = rate;
        c.setBack = setBack;
        c.setBackEvery = every;
        c.jitter = jitter;
        return c;
    };
    QTest::newRow("1 % fast, set back 0.3 s every 30 s") << 7500 << camera(1.01, 300, 750, 0);
    QTest::newRow("10 % fast, set back 1 s every 10 s") << 3000 << camera(1.1, 1000, 250, 0);
    QTest::newRow("jitter 100 ms") << 1500 << camera(1.0, 0, 1, 100);
}

} // namespace testsupport
