#pragma once

// The values of the recording and capture settings that their readers act
// on: the stream service takes its configuration only when every number is
// inside these ranges, the live page clamps what it hands over to them, and
// the local settings page offers nothing outside them. The database setters
// are wider (or do not check at all), so a value that fits a setter may
// still be one no reader uses.
namespace settingranges {

struct Range
{
    int min;
    int max;

    constexpr bool contains(int value) const { return value >= min && value <= max; }
    constexpr int clamp(int value) const { return value < min ? min : (value > max ? max : value); }
};

// Seconds a scheduled or alarm record file runs before the next one starts.
inline constexpr Range kRecordDuration{60, 600};
// Seconds kept before an alarm and recorded after it.
inline constexpr Range kPrevRecord{0, 3};
inline constexpr Range kPostRecord{0, 3};
// The stream recorded: 0 main, 1 sub.
inline constexpr Range kRecordStream{0, 1};
// Free disk space in GiB the disk guard keeps under the record folder. The
// guard never keeps less than the minimum, whatever it is told, so a smaller
// reserve would be a setting that does nothing.
inline constexpr Range kReservedSize{5, 50};
// Days recordings are kept.
inline constexpr Range kKeepDays{0, 365};
// Pictures a capture takes, and seconds between two of them.
inline constexpr Range kCaptureCount{1, 10};
inline constexpr Range kCaptureInterval{1, 30};
// The picture file kind: 0 JPEG, anything else BMP.
inline constexpr Range kSnapshotFormat{0, 1};
inline constexpr int kSnapshotJpeg = 0;
// Picture quality levels 1 to 6 and the JPEG quality each one stands for.
inline constexpr Range kSnapshotQuality{1, 6};
inline constexpr int kJpegQualityOfLevel[] = {20, 40, 60, 75, 90, 99};
static_assert(sizeof(kJpegQualityOfLevel) / sizeof(kJpegQualityOfLevel[0]) ==
              kSnapshotQuality.max - kSnapshotQuality.min + 1);

} // namespace settingranges
