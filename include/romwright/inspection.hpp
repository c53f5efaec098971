// What a firmware file holds and what an update of a given model would do
// with it, worked out from the file alone: no device-library call is made, so
// this runs on any machine. The same readers, image check, page layout,
// planner and flash cost model as an update are used.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <romwright/programming_path.hpp>

namespace romwright {

struct InspectRequest {
    std::string path;
    std::optional<std::string> model;                    // "ZEN5160": judge the file for this model
    std::optional<std::pair<uint32_t, uint32_t>> revision;  // the board's revision (major, minor), where it matters
    std::optional<uint32_t> variant;                     // the board's variant, where it matters
    bool page0 = false;  // as the update's --page0 / --page1
    bool page1 = false;
};

struct InspectedPacket {
    uint64_t index = 0;
    uint16_t tag = 0;
    uint32_t size = 0;
};

struct InspectedPof {
    uint32_t packet_count = 0;
    std::string creator, device, comment;
    std::vector<InspectedPacket> unknown_packets;
    bool crc_read = false;
    uint16_t crc_stored = 0, crc_computed = 0;
};

struct InspectedRange {
    uint32_t begin = 0;  // first byte
    uint32_t end = 0;    // the byte past the last
};

struct InspectedSlot {
    int32_t index = 0;  // 0 primary, 1 secondary
    uint64_t size = 0;
    uint32_t header_offset = 0;
    bool header_present = false;
    uint16_t board_id = 0, signature = 0, word2 = 0;
    bool option_bits_found = false;
    InspectedRange option_bits;
    std::string option_bits_hex;  // the layout's eight bytes
    bool layout_read = false;
    std::string layout_error;     // why the page layout cannot be read
    InspectedRange page0;
    bool page1_present = false;
    InspectedRange page1;
};

struct PlannedRun {
    uint32_t units = 0;
    InspectedRange range;
};

struct InspectedPlan {
    ProgrammingPath mode = ProgrammingPath::page_mode;  // page mode or sector mode
    uint32_t sector_size = 0;
    int32_t sectors_to_erase = 0;
    std::vector<PlannedRun> erase_runs;
    int32_t pages_to_write = 0;  // page mode: 32-byte pages; sector mode: whole sectors, as erased
    std::vector<PlannedRun> write_runs;
    bool trailing_sector_checked = false;  // the image ends inside a sector the update reads first
    uint64_t library_calls = 0;
    uint64_t device_commands = 0;  // page mode: library calls; sector mode: controller commands
    uint64_t least_pause_ms = 0;
    std::string pause_note;
};

struct Inspection {
    std::string path;
    std::string format;  // "pof" or "raw"
    uint64_t size = 0;
    uint32_t adler32 = 0;
    std::optional<InspectedPof> pof;
    std::string load_error;  // the readers' refusal, empty when the file loads
    std::vector<InspectedSlot> slots;

    // With a model.
    std::optional<std::string> model;
    bool accepted = false;
    int32_t slot = -1;       // the slot the update would program
    std::string verdict;     // the refusal, as the update would log it
    std::optional<InspectedPlan> plan;
};

// Throws romwright::error (a file) when the file cannot be opened, and (a
// usage) for a model designation the board table does not have; every other
// refusal is the inspection's verdict.
Inspection inspect_firmware(const InspectRequest &request);

// The same for a file's bytes already in memory (a bundle's file); the
// request's path only names it.
Inspection inspect_firmware_bytes(const InspectRequest &request, const std::vector<uint8_t> &bytes);

} // namespace romwright
