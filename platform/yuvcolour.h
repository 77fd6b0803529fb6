#pragma once

#include <array>
#include <cmath>

// How the cameras' pictures turn into RGB, for every renderer of the
// program (the software conversion of the Direct3D layer and the preview's
// shader): ITU-R BT.601 in the limited range, luma 16 (black) to 235 (white)
// and chroma 16 to 240 around 128. Treating the samples as full range shows
// washed-out, shifted colours (pure red as about 209, 30, 5).
namespace platform::yuv {

constexpr double kKr = 0.299;
constexpr double kKb = 0.114;
constexpr double kKg = 1.0 - kKr - kKb;

constexpr int kLumaBlack = 16;
constexpr int kLumaWhite = 235;
constexpr int kChromaZero = 128;
constexpr int kChromaSpan = 224; // 16 to 240

// RGB (0 to 1) from 8-bit samples scaled to 0 to 1:
//   R = luma * (Y - lumaOffset) + crToR * (Cr - chromaOffset)
//   G = luma * (Y - lumaOffset) - cbToG * (Cb - chromaOffset) - crToG * (Cr - chromaOffset)
//   B = luma * (Y - lumaOffset) + cbToB * (Cb - chromaOffset)
constexpr double kLumaOffset = kLumaBlack / 255.0;
constexpr double kChromaOffset = kChromaZero / 255.0;
constexpr double kLumaGain = 255.0 / (kLumaWhite - kLumaBlack);
constexpr double kChromaGain = 255.0 / kChromaSpan;
constexpr double kCrToR = 2.0 * (1.0 - kKr) * kChromaGain;
constexpr double kCbToB = 2.0 * (1.0 - kKb) * kChromaGain;
constexpr double kCbToG = 2.0 * (1.0 - kKb) * kKb / kKg * kChromaGain;
constexpr double kCrToG = 2.0 * (1.0 - kKr) * kKr / kKg * kChromaGain;

// The same chroma factors in swscale's table form (crv, cbu, cgu, cgv in
// 16.16 fixed point), for sws_setColorspaceDetails with a limited source range.
inline std::array<int, 4> swscaleTable()
{
    const auto fixed = [](double v) { return int(std::lround(v * 65536.0)); };
    return {fixed(kCrToR), fixed(kCbToB), fixed(kCbToG), fixed(kCrToG)};
}

} // namespace platform::yuv
