// The board kinds the simulated library knows: the kind number that
// KorvelGetBoardKind reports, the model designation printed on the board and
// how its configuration flash is reached.
#pragma once

#include <cstdint>

namespace zenapi_sim {

enum class FlashAccess {
    page,          // ZEN5110 page calls: 128 KB erase sectors, 32-byte pages
    sector,        // flash controller in the FPGA, reached through registers
    service_only,  // only through the driver's services (if the board has them)
};

struct BoardKind {
    uint32_t kind;
    const char *model;
    FlashAccess access;
};

constexpr uint32_t kFirstBoardKind = 1;
constexpr uint32_t kLastBoardKind = 57;

// The table row of a kind, or null when the number is not a board kind.
const BoardKind *find_board_kind(uint32_t kind);

} // namespace zenapi_sim
