#include "device/g711.h"

uint8_t linearToMuLaw(int16_t sample)
{
    static const int kSegmentEnd[8] = {255, 511, 1023, 2047, 4095, 8191, 16383, 32767};
    int magnitude;
    uint8_t mask;
    if (sample < 0) {
        magnitude = 132 - sample;
        mask = 0x7F;
    } else {
        magnitude = sample + 132;
        mask = 0xFF;
    }
    int segment = 0;
    while (segment < 8 && magnitude > kSegmentEnd[segment])
        ++segment;
    if (segment >= 8)
        return uint8_t(0x7F ^ mask);
    return uint8_t(((segment << 4) | ((magnitude >> (segment + 3)) & 0x0F)) ^ mask);
}
