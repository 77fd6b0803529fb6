#include "media/codecids.h"

namespace media::codecids {

namespace {

struct VideoPair
{
    int stable;
    AVCodecID av;
};

constexpr VideoPair kVideo[] = {
    {kVideoH264, AV_CODEC_ID_H264},
    {kVideoHevc, AV_CODEC_ID_HEVC},
    {kVideoMpeg4, AV_CODEC_ID_MPEG4},
    {kVideoMjpeg, AV_CODEC_ID_MJPEG},
};

struct AudioEntry
{
    int number;
    int legacyId; // libavcodec 57
    AVCodecID av; // decoder of the audio output
};

constexpr AudioEntry kAudio[] = {
    {kAudioMulaw, 0x10006, AV_CODEC_ID_PCM_MULAW}, {kAudioAlaw, 0x10007, AV_CODEC_ID_PCM_ALAW},
    {kAudioAac, 0x15002, AV_CODEC_ID_AAC},         {kAudioMp2, 0x15000, AV_CODEC_ID_MP2},
    {kAudioPcm, 0x10005, AV_CODEC_ID_NONE},        {kAudioG726, 0x1100B, AV_CODEC_ID_ADPCM_G726},
};

} // namespace

AVCodecID videoToAv(int stable)
{
    for (const VideoPair &p : kVideo)
        if (p.stable == stable)
            return p.av;
    return AV_CODEC_ID_NONE;
}

int videoFromAv(AVCodecID id)
{
    if (id == AV_CODEC_ID_NONE)
        return 0;
    for (const VideoPair &p : kVideo)
        if (p.av == id)
            return p.stable;
    return 0;
}

AVCodecID audioToAv(int number)
{
    for (const AudioEntry &e : kAudio)
        if (e.number == number)
            return e.av;
    return AV_CODEC_ID_NONE;
}

int audioFromLegacyId(int legacyId)
{
    for (const AudioEntry &e : kAudio)
        if (e.legacyId == legacyId)
            return e.number;
    return -1;
}

int legacyIdFromAudio(int number)
{
    for (const AudioEntry &e : kAudio)
        if (e.number == number)
            return e.legacyId;
    return 0;
}

} // namespace media::codecids
