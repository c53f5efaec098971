// Which boards an image may be programmed into: the image header and the
// board compatibility table.
#pragma once

#include <cstdint>
#include <vector>

namespace romwright {

// Three little-endian 16-bit words at the start of an image.
struct ImageHeader {
    uint16_t board_id = 0;   // 0: any board
    uint16_t signature = 0;  // 0x5731 or 0x1C0B
    uint16_t word2 = 0;      // ZEN5170: variant in the low byte; ZEN5120: 0x90 = revision 1.3 or later
};

enum class Compatibility { always, debug_only, refused };

// How an image made for image_id may run on a board with board_id (ids differ).
Compatibility compatibility(uint16_t image_id, uint16_t board_id);

} // namespace romwright
