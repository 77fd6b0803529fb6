#pragma once

#include <QtGlobal>
#include <cstdint>

// Picture size from the sequence parameter set inside a key frame.
// codec: 17 H.264, 18 H.265. Returns (width << 16) + height, or 0 when no SPS
// is found, it cannot be read or the size is out of range (1..65535).
// The frame is never changed.
uint32_t ParseSpsResolution(const uchar *frame, int length, int codec);

// Both readers take the SPS from its NAL unit header on. They read only as far
// as the coded picture size (no cropping, no conformance window).
bool ParseH264Sps(const uchar *sps, int length, int *width, int *height);
bool ParseH265Sps(const uchar *sps, int length, int *width, int *height);

constexpr int kCodecH264 = 17;
constexpr int kCodecH265 = 18;
