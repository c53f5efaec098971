// What identification found out about a board. The image check needs only
// its identity (kind, board id, variant, mode); the log shows the rest.
// Everything that follows in an update reads it.
#pragma once

#include <cstdint>
#include <string>

namespace romwright {

struct BoardIdentity {
    uint32_t kind = 0;         // the device library's board kind
    uint16_t id = 0;           // the model number in hex digits, as image headers name boards
    uint32_t variant = 0;      // from the board, where the model has a variant rule; else 0
    bool sector_mode = false;  // programmed through the flash controller, 256 KB sectors
};

struct Identification : BoardIdentity {
    std::string model;             // the model designation, "ZEN5170"
    uint32_t ksopc_signature = 0;  // bits 23..16 the FPGA firmware's major version, 27..24 its minor
};

} // namespace romwright
