#pragma once

#include <cstdint>

// Which clock a live stream's pictures keep to, stated once for every part
// that reads their stamps (the recorder, the disk guard, the lists):
//
//   A stream's time never goes back and never runs ahead of the computer's.
//
// The camera's clock tells how far apart its pictures are; the computer's
// clock tells where they lie. A camera's clock drifts (20 to 100 ppm on real
// ones, far more on cheap ones), jitters from picture to picture and is
// corrected now and then, and none of that may carry a recording off the
// computer's clock:
//   - each picture follows the one before by the camera's spacing;
//   - a picture the camera stamped before the one before is given the time
//     just after it, and the mapping stays as it was (jitter and small steps
//     back cost nothing and add no lead);
//   - a lead over the computer's clock is taken back gradually, a share of
//     each picture's spacing, once it passes kSettledLeadMs; it never passes
//     kMaxLeadMs (the mapping is held there);
//   - a lag behind it of more than kMaxLagMs, a camera whose clock runs
//     slow, is taken up the same way;
//   - its sound keeps to the stamps its pictures were given, as far after
//     the picture it came with as the camera put it and the local clock saw
//     time pass (within kSoundSlackMs of that), and never goes back either;
//     a step of the camera's clock the sound shows first (by the same rule
//     as below) is no time that passed: the sound goes on from the sound
//     before by its own spacing. One clock for both: a picture is not put
//     more than kSoundSlackMs before the sound already given (a set-back
//     the pictures would take in between two pictures far apart, or a
//     picture jittered back); it goes on from that sound instead, the
//     mapping with it as far as kSettledLeadMs allows, the picture alone
//     past that (as far as kMaxLeadMs);
//   - only a real jump re-bases: the camera's clock stepping by more than
//     kCameraStepMs either way (the stream client's own rule), or the
//     computer's clock and the stream lying more than kJumpMs apart. Only the
//     computer's clock set back by more than that takes a stream's time back.
// So a stamp lies at most kMaxLeadMs after the computer's clock when it was
// given: a file dated later than that after the clock was dated by a clock
// that has gone back since.
class StreamClock
{
public:
    static constexpr int64_t kDayMs = 86400000;
    static constexpr int64_t kJumpMs = 5000;
    static constexpr int64_t kCameraStepMs = 1000;
    static constexpr int64_t kMaxLeadMs = 1000;
    static constexpr int64_t kSettledLeadMs = 250;
    static constexpr int64_t kMaxLagMs = 2000;
    // A lead or lag is taken up by at most this share of a picture's spacing
    // (1/8: 12.5 %, more than any camera's drift; playback keeps its pace).
    static constexpr int64_t kTakeUpShare = 8;
    // Sound keeps to the stamps its pictures were given: the camera's
    // distance from its picture is believed up to this (and as far as time
    // is seen to have passed since), not its jitter or its clock's steps.
    static constexpr int64_t kSoundSlackMs = 100;

    // How far the time of day `stamp` lies after `now`, the shorter way round
    // midnight (negative: before it). `stamp` may lie past the day's end.
    static int64_t lead(int64_t stamp, int64_t now);

    struct Kept
    {
        int64_t mappingShift; // how far the camera-to-computer mapping moves
        int64_t stamp;        // the picture's stamp
    };
    // The picture the mapping puts at `mapped` (`step` after `previous`, the
    // stamp of the picture before, as the camera spaced them), kept to the
    // clock that reads `now`. The returned stamp may lie past the day's end,
    // as `mapped` may.
    static Kept keep(int64_t mapped, int64_t previous, int64_t now);
};

// One stream's pictures on the local clock by the rule above: the camera's
// stamp of each picture in, the stamp to give it out. Its sound keeps to the
// stamps the pictures were given (sound()), so that a picture held just after
// the one before holds its sound with it. Used by every road a device's
// stream comes by.
class PictureClock
{
public:
    struct Picture
    {
        int64_t stamp = 0; // milliseconds of the local day
        // The camera's clock stepped by more than StreamClock::kJumpMs: the
        // camera may have started its stream anew.
        bool cameraJumped = false;
    };
    // Picture stamped `t` by the camera, the local clock reading `now`
    // (milliseconds of the day).
    Picture take(int64_t t, int64_t now);
    bool started() const { return m_started; }

    struct Sound
    {
        // Past the day's end for sound ahead of a picture that has not passed
        // midnight yet, before 0 for sound behind the picture that began the
        // day.
        int64_t stamp = 0;
        int64_t mapping = 0; // the camera-to-local mapping it was given by
    };
    // Sound stamped `t` by the camera, the local clock reading `now`, once a
    // picture was taken: as far from the last picture's stamp as the camera
    // put it, but no nearer than the local clock saw time pass since and at
    // most StreamClock::kSoundSlackMs further (or as far as evenly spaced
    // sound that came in a burst reaches), and never before the sound
    // before. Sound that shows the camera's clock stepped (more than the
    // slack back from the frame before it, or on further than the local
    // clock went by more than StreamClock::kCameraStepMs) follows the sound
    // before by its own spacing, and the sound after it keeps to it.
    Sound sound(int64_t t, int64_t now);
    // Where `sound` lies now that the mapping may have moved: sound held for
    // the pictures to pass midnight goes with them into the new day, or to a
    // clock set anew.
    int64_t follow(const Sound &sound) const;

private:
    bool m_started = false;
    int64_t m_offset = 0; // local time of day less camera time
    int64_t m_lastT = 0;
    int64_t m_lastNow = 0;
    int64_t m_lastStamp = 0;
    // The camera's last ordinary step from one picture to the next.
    int64_t m_spacing = 0;
    // The last sound: its camera time and its stamp as given (past the
    // day's end or before 0 as that may be).
    bool m_soundGiven = false;
    bool m_soundSincePicture = false;
    int64_t m_soundT = 0;
    int64_t m_soundNow = 0;
    int64_t m_soundStamp = 0;
    // The camera's last ordinary step from one sound frame to the next.
    int64_t m_soundSpacing = 0;
    // How far the sound since the picture lies off the camera's distance
    // from it: a step of the camera's clock that the sound showed first.
    int64_t m_soundShift = 0;
};
