// One loaded firmware image: a picture of the flash from address 0, and
// where its 128-byte option-bits block lies.
#pragma once

#include <cstdint>
#include <vector>

// The option-bits block is the same size in a POF and in a raw image.
inline constexpr uint32_t kOptionBitsSize = 128;

struct ImageSlot {
    std::vector<uint8_t> data;
    uint32_t option_bits_start = 0;
    uint32_t option_bits_end = 0;
};
