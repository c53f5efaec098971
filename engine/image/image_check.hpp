// Which boards an image may be programmed into: the image header, the board
// compatibility table, and the check that picks the image slot to program.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "engine/core/board_identity.hpp"
#include "engine/image/image_slot.hpp"
#include "engine/core/log_sink.hpp"

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

// Reads the board revision as (major, minor), minor 15 already taken as 0;
// throws when the board cannot tell. Asked only for a model with a revision
// rule in the board table (ZEN5120).
using RevisionReader = std::function<std::pair<int32_t, int32_t>()>;

// Decides whether the loaded images may go into the board as identification
// found it (sector mode places the primary image's header at 0x40000) and
// which slot to program: 0 for the primary image, 1 for the secondary. The
// board's kind picks its rules from the board table; board ids are compared
// through the table's accepted images. Throws romwright::error (an image)
// with the refusal; the ZEN5120 diagnostics go to log at level 3 before the
// refusal. Reads nothing outside the images' data.
int32_t check_image(const ImageSlot (&images)[2], const BoardIdentity &board, bool debug,
                    const RevisionReader &read_revision, const LogSink &log);

} // namespace romwright
