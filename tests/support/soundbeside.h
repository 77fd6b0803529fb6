#pragma once

// A stream's sound beside its pictures, as either stream road hands them on:
// each sound frame is judged against the picture handed on just before it,
// the shorter way round midnight. Header only; the suites link device.

#include "device/framehead.h"
#include "device/streamclock.h"
#include "tests/support/driftingcamera.h"

#include <QtTest>

#include <cmath>
#include <cstring>

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

// A camera sending pictures and 25 sound frames a second whose clock steps,
// is set back or jitters, and the frames as a stream road hands them on:
// by address in the order they were made, as they are made; by P2P the
// pictures only when the video worker wakes (every 100 ms), the sound when
// the sound worker does (every 10 ms), so several sound frames come after
// one picture, some made before it.
struct SoundCamera
{
    int fps = 25;
    double rate = 1.0;        // the camera's clock against the computer's
    int setBack = 0;          // set back by this at a picture
    int setBackEvery = 0;     // every so many seconds
    int jitter = 0;           // each stamp off by up to this either way
    int step = 0;             // the clock stepped by this, 20 s in,
    bool stepOnSound = false; // shown first on a sound frame, not a picture
    int hostile = 0;          // stamps off at random by up to 3 s (1), or by 1 s steps (2)
    int seconds = 40;
    qint64 tolerance = 100; // the furthest sound may lie from its place

    struct Sent
    {
        bool picture;
        qint64 stamp; // the camera's
        double made;  // on the computer's clock, from the start
        qint64 at;    // handed on, from the start
    };
    QVector<Sent> send(bool p2p) const
    {
        QVector<Sent> out;
        const double spacing = 1000.0 / fps;
        for (int i = 0; i * spacing < seconds * 1000; ++i)
            out.append({true, 0, i * spacing, 0});
        for (int i = 0; i * 40 + 10 < seconds * 1000; ++i)
            out.append({false, 0, i * 40.0 + 10, 0});
        std::stable_sort(out.begin(), out.end(), [](const Sent &a, const Sent &b) { return a.made < b.made; });
        quint32 x = 2463534242u;
        auto random = [&x](int range) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            return int(x % quint32(2 * range + 1)) - range;
        };
        qint64 walk = 0;
        for (Sent &f : out) {
            f.stamp = 20000000 + std::llround(f.made * rate);
            // Set back at a picture: the sound after it with it.
            if (setBackEvery)
                f.stamp -= qint64(setBack) * qint64(std::floor(f.made / spacing) * spacing / (setBackEvery * 1000.0));
            if (step && f.made >= 20000 + (stepOnSound ? 5 : 0))
                f.stamp += step;
            if (jitter)
                f.stamp += random(jitter);
            if (hostile == 1)
                f.stamp += random(3000);
            if (hostile == 2)
                f.stamp += walk += 1000 * random(1);
            f.at = p2p ? qint64(std::ceil((f.made + 1) / (f.picture ? 100 : 10)) * (f.picture ? 100 : 10))
                       : qint64(std::ceil(f.made));
        }
        std::stable_sort(out.begin(), out.end(), [](const Sent &a, const Sent &b) { return a.at < b.at; });
        return out;
    }
};

// Each sound frame against its place: the stamp of the picture handed on
// before it, and as far after it as the camera's clock ran between them
// (its rate, not its steps or its jitter). Frames are known by the index
// the sender gave them, the order send() handed them on in.
struct SoundPlace
{
    SoundPlace(const QVector<SoundCamera::Sent> &sent, const SoundCamera &camera)
        : sent(sent), tolerance(camera.tolerance), rate(camera.rate)
    {}
    const QVector<SoundCamera::Sent> &sent;
    qint64 tolerance;
    double rate;
    qint64 picture = -1;
    double pictureMade = 0;
    qint64 sound = -1;
    int sounds = 0;
    qint64 worst = 0;
    QString faults;

    void take(int kind, qint64 ts, int index)
    {
        if (kind == KindVideo) {
            picture = ts;
            pictureMade = sent.at(index).made;
        }
        // The first second settles.
        if (kind != KindAudio || picture < 0 || sent.at(index).made < 1000)
            return;
        ++sounds;
        const qint64 off = StreamClock::lead(ts, picture + std::llround((sent.at(index).made - pictureMade) * rate));
        worst = qMax(worst, qAbs(off));
        if (faults.isEmpty() && (qAbs(off) > tolerance || (sound >= 0 && StreamClock::lead(ts, sound) < 0)))
            faults = QString("sound %1 at %2: %3 ms off its place, after %4").arg(sounds).arg(ts).arg(off).arg(sound);
        sound = ts;
    }
};

// The index a sender puts in a frame's bytes, and reads back.
inline QByteArray indexBytes(int index)
{
    return QByteArray(reinterpret_cast<const char *>(&index), sizeof index);
}
inline int indexOf(const QByteArray &bytes)
{
    int index = -1;
    if (bytes.size() == int(sizeof index))
        memcpy(&index, bytes.constData(), sizeof index);
    return index;
}

// Steps of the camera's clock shown first on a picture or on a sound frame,
// set-backs of a fast camera at low frame rates, jitter and hostile stamps.
inline void addSoundStepRows()
{
    QTest::addColumn<SoundCamera>("camera");
    // Steps within what a camera's clock is believed to step by, and jumps
    // past it.
    for (int fps : {1, 5, 25}) {
        for (int step : {300, -300, 1000, -1000, 2000, -2000, 60000, -60000}) {
            for (bool onSound : {false, true}) {
                SoundCamera c;
                c.fps = fps;
                c.step = step;
                c.stepOnSound = onSound;
                QTest::newRow(qPrintable(QString("%1 fps, stepped %2 s, shown on %3")
                                             .arg(fps)
                                             .arg(step / 1000.0)
                                             .arg(onSound ? "sound" : "a picture")))
                    << c;
            }
        }
    }
    for (int fps : {1, 2, 5}) {
        SoundCamera c;
        c.fps = fps;
        c.seconds = 120;
        c.rate = 1.01;
        c.setBack = 300;
        c.setBackEvery = 30;
        QTest::newRow(qPrintable(QString("%1 fps, 1 % fast, set back 0.3 s every 30 s").arg(fps))) << c;
        c.rate = 1.1;
        c.setBack = 1000;
        c.setBackEvery = 10;
        QTest::newRow(qPrintable(QString("%1 fps, 10 % fast, set back 1 s every 10 s").arg(fps))) << c;
    }
    // A fast camera whose clock steps back on a sound frame: its sound must
    // not run on with the camera's rate past the picture a step holds.
    for (int step : {-300, -1000}) {
        SoundCamera c;
        c.fps = 1;
        c.rate = 1.1;
        c.step = step;
        c.stepOnSound = true;
        QTest::newRow(qPrintable(QString("1 fps, 10 % fast, stepped %1 s, shown on sound").arg(step / 1000.0))) << c;
    }
    SoundCamera jittery;
    jittery.jitter = 100;
    jittery.seconds = 120;
    QTest::newRow("25 fps, jitter 100 ms") << jittery;
    SoundCamera hostile;
    hostile.fps = 5;
    hostile.hostile = 1;
    hostile.seconds = 120;
    hostile.tolerance = 1000;
    QTest::newRow("5 fps, hostile: random 3 s") << hostile;
    hostile.hostile = 2;
    QTest::newRow("5 fps, hostile: 1 s steps") << hostile;
}

} // namespace testsupport

Q_DECLARE_METATYPE(testsupport::SoundCamera)
