// The systems and boards of this machine and what each says about itself,
// asked through read-only device-library calls only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace romwright {

using Version = std::pair<uint32_t, uint32_t>;  // major, minor

struct BoardFacts {
    uint32_t system_id = 0;
    uint32_t board_id = 0;
    bool present = false;  // false: the library gave no handle for these IDs
    uint32_t kind = 0;
    std::string model;     // "ZEN5160", or "unknown" for a kind the board table lacks
    std::optional<uint32_t> serial;
    std::optional<Version> fpga;      // from the KSoPC signature
    std::optional<Version> cpld;
    std::optional<Version> revision;  // a minor of 15 (unset) shows as 0, as the update logs it
    std::string update_path;  // the name of the path an update takes (programming_path.hpp), or
                              // "unknown" when the driver's features cannot be read
    std::optional<uint64_t> flash_size;  // never reported by a board; known only by reading
};

// Facts of one board handle (system and board IDs as given).
BoardFacts board_facts(void *board, uint32_t system_id, uint32_t board_id);

// Every board of every system, in order. Throws romwright::error (a device
// call) for counts no machine has.
std::vector<BoardFacts> list_boards();

} // namespace romwright
