// The machine description: library versions, systems, boards and their
// injected faults, as read from TOML (the file named by ZENAPI_SIM_CONFIG or
// the built-in default machine). Parsing checks every value and rejects
// unknown keys, so a typo in a description never passes silently.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <toml++/toml.h>

#include "zenapi/sim/board_kinds.hpp"
#include "zenapi/sim/calls.hpp"

namespace zenapi_sim {

struct Version3 {
    uint8_t major = 0, minor = 0, revision = 0;
};

struct Version2 {
    uint8_t major = 0, minor = 0;
};

// A device-library call answers `code` (and does nothing else), on its n-th
// call on the board or, with nth 0, on every call. A library-wide fault
// ([[library.fault]]) counts the calls of the whole library instead.
struct CallFault {
    Call call;
    uint32_t code;
    uint32_t nth;                     // 1-based; 0: every call
    std::optional<uint32_t> status;   // flash status reported by a faulted flash-service call
};

// A flash-sector service write or read of one sector fails.
struct SectorStatusFault {
    uint32_t sector;
    uint32_t status;
    uint32_t code;
};

struct CapabilityFault {
    uint32_t capability;
    uint32_t code;
};

// A page-mode erase of `sector` leaves the 16-bit word at byte `address` at
// `value`, for the first `times` erases of that sector.
struct EraseResidueFault {
    uint32_t sector;
    uint64_t address;
    uint16_t value;
    uint32_t times;
};

// Page-mode programming of the page holding byte `address` leaves one bit of
// that byte at 1 for the first `times` attempts on the page.
struct ProgramErrorFault {
    uint64_t address;
    uint32_t times;
};

struct BoardFaults {
    std::vector<CallFault> calls;
    std::vector<SectorStatusFault> flash_write_status;
    std::vector<SectorStatusFault> flash_read_status;
    std::vector<uint64_t> readback_addresses;
    bool zero_sector_size = false;
    std::vector<CapabilityFault> capabilities;
    std::vector<EraseResidueFault> page_erase_residues;
    std::vector<ProgramErrorFault> page_program_errors;
};

struct UpgradeConfig {
    uint32_t polls = 20;
    uint32_t end_status = 2;
    uint32_t end_percent = 100;
};

struct TimingConfig {
    uint32_t page_erase_ms = 0;
};

struct BoardConfig {
    uint32_t system_id = 0;   // from 1
    uint32_t board_id = 0;    // from 1
    std::string name;
    const BoardKind *kind = nullptr;
    Version2 revision{1, 0};
    Version2 cpld{9, 14};
    uint32_t ksopc_signature = 0x0E080000;
    std::optional<uint32_t> serial;   // empty: the query fails
    uint32_t register0 = 0;
    uint8_t features = 0;             // bit i: driver feature i (0..5)
    uint64_t flash_size = 0x800000;
    uint32_t sector_size = 0x10000;
    UpgradeConfig upgrade;
    TimingConfig timing;
    BoardFaults faults;
    // The board's table inside MachineConfig::document, for the sector-mode
    // controller's own keys.
    const toml::table *table = nullptr;
    int line = 0;   // of the board's table, for messages about the board
};

struct MachineConfig {
    std::string file;   // as named in messages
    Version3 library_version{7, 4, 0};
    Version3 driver_version{7, 4, 0};
    // Faults of the calls that take no board (the version queries).
    std::vector<CallFault> library_faults;
    std::vector<std::vector<BoardConfig>> systems;
    // The parsed text; it keeps the line numbers the board tables refer to.
    std::shared_ptr<const toml::table> document;
};

// Parses a machine description; `file` names it in error messages.
// Throws ConfigError "<file>:<line>: <key>: <problem>".
MachineConfig parse_machine_config(std::string_view text, const std::string &file);

// Reads and parses the file.
MachineConfig load_machine_config_file(const std::string &path);

// The built-in default machine, and the name it goes by in messages.
std::string_view default_machine_toml();
extern const char *const kDefaultMachineName;

} // namespace zenapi_sim
