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
