// The flash controller in the FPGA of a sector-mode board and the parallel
// NOR flash behind it, reached through the board's registers.
// (Interface stub; the model is built in sector_controller.cpp.)
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <toml++/toml.h>

#include "zenapi/sim/nor_flash.hpp"

namespace zenapi_sim {

// Timing and injected faults of one board's controller, from the board's
// table of the machine description.
struct SectorControllerConfig;

// Reads the controller settings of one board table (null: defaults).
// Throws ConfigError naming file, line and key.
SectorControllerConfig parse_sector_controller_config(const toml::table *board, const std::string &file);

class SectorController {
public:
    // Monotonic time in microseconds; busy times are measured against it.
    using TimeSource = std::function<uint64_t()>;

    SectorController(NorFlash &flash, const SectorControllerConfig &config, TimeSource now = {});
    ~SectorController();

    // True for the register offsets the controller decodes (1, 33, 34, 35, 36, 40).
    static bool decodes(uint32_t offset);

    uint32_t read_register(uint32_t offset);
    void write_register(uint32_t offset, uint32_t value);

    // Bit 3 of the board's flash enable register (0x80000000).
    void set_flash_enable(bool enabled);
};

} // namespace zenapi_sim
