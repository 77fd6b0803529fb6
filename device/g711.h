#pragma once

#include <cstdint>

// G.711 µ-law encoding of one signed 16-bit sample.
uint8_t linearToMuLaw(int16_t sample);
