// Shared by the kernel sources: the standard's constant tables and the
// per-family fillers that initDspFunctionTable calls in slot order.
#pragma once

#include "hevc/dsp/h265d_dsp.h"

#include <array>

namespace h265d::dsp {

// 32-point inverse transform matrix, [frequency][sample]; the N-point
// transforms use rows k * 32 / N and the first N samples.
using TransformMatrix = std::array<std::array<int8_t, 32>, 32>;
extern const TransformMatrix kTransformMatrix;
// 4x4 inverse DST, [frequency][sample].
extern const int8_t kDstMatrix[4][4];

// Interpolation taps: luma per quarter position 0..3 (8 taps, positions
// -3..+4), chroma per eighth position 0..7 (4 taps, positions -1..+2).
extern const int8_t kLumaTaps[4][8];
extern const int8_t kChromaTaps[8][4];

// intraPredAngle of modes 0..34 (0 for the non-angular modes) and invAngle
// of modes 11..25 (0 elsewhere).
extern const int8_t kIntraPredAngle[35];
extern const int16_t kIntraInvAngle[35];

// levelScale by qP % 6.
extern const uint8_t kLevelScale[6];

inline uint8_t clipPixel(int v)
{
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

inline int16_t saturate16(int64_t v)
{
    return static_cast<int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
}

// The portable row copy (slots 128, 129), also the vector copies' fall-back.
void copyRows(const uint8_t *src, uint8_t *dst, int width, int rows, int stride);

void fillDeblockKernels(H265D_DSP_TABLE *table);   // slots 119..127
void fillSaoKernels(H265D_DSP_TABLE *table);       // slots 0, 1
void fillTransformKernels(H265D_DSP_TABLE *table); // slots 2..15
void fillIntraKernels(H265D_DSP_TABLE *table);     // slots 16..54
void fillInterKernels(H265D_DSP_TABLE *table);     // slots 55..118
void fillCopyKernels(H265D_DSP_TABLE *table);      // slots 128, 129
void fillPadKernels(H265D_DSP_TABLE *table);       // slot 130

// Vector families; each writes its slots unconditionally (the caller checks
// the feature word). Absent on processors that are not x86.
void installTransformSse41(H265D_DSP_TABLE *table);                 // slots 6..15
void installIntraSse41(H265D_DSP_TABLE *table);                     // slots 16..23, 27..50
void installInterSse41(H265D_DSP_TABLE *table);                     // slots 55..118
void installDeblockSimd(H265D_DSP_TABLE *table, uint32_t cpuFlags); // slots 119, 120, 123, 124
void installSaoSimd(H265D_DSP_TABLE *table, uint32_t cpuFlags);     // slots 0, 1
void installCopySimd(H265D_DSP_TABLE *table, uint32_t cpuFlags);    // slots 128, 129
void installPadSimd(H265D_DSP_TABLE *table, uint32_t cpuFlags);     // slot 130

} // namespace h265d::dsp
