#pragma once

extern "C" {
#include <libavcodec/codec_id.h>
}

// The program's codec numbers are stable: video codecs carry the ids of the
// libavcodec 57 series and audio codecs the small numbers 0..5, in stream
// descriptions, signals and record files alike. FFmpeg renumbered its ids
// since (H.264 is 27 in libavcodec 59), so a stable number must never reach
// FFmpeg as it is. Every call into FFmpeg goes through these functions, and
// an unknown number maps to "none", never to a guess.
namespace media::codecids {

// Stable video numbers.
constexpr int kVideoMjpeg = 8;
constexpr int kVideoMpeg4 = 13;
constexpr int kVideoH264 = 28;
constexpr int kVideoHevc = 174;

// Audio numbers of the stream descriptions and the audio output.
constexpr int kAudioMulaw = 0;
constexpr int kAudioAlaw = 1;
constexpr int kAudioAac = 2;
constexpr int kAudioMp2 = 3;
constexpr int kAudioPcm = 4;
constexpr int kAudioG726 = 5;

// Stable video number -> FFmpeg id; AV_CODEC_ID_NONE when unknown.
AVCodecID videoToAv(int stable);
// FFmpeg id -> stable video number; 0 when it has none.
int videoFromAv(AVCodecID id);

// Audio number -> FFmpeg decoder id; AV_CODEC_ID_NONE for 4 (played raw,
// without a decoder) and for unknown numbers.
AVCodecID audioToAv(int number);

// The libavcodec 57 audio ids (kept in record files) <-> audio numbers.
// Unknown values give -1 and 0.
int audioFromLegacyId(int legacyId);
int legacyIdFromAudio(int number);

} // namespace media::codecids
