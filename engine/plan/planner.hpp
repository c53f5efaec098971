// Update planning: which flash sectors to erase and which 32-byte pages to
// program, from the image, its page layout and the page options alone. Pure:
// no device, no log; the runs it finds are returned for the caller to log.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/image/raw_image.hpp"

namespace romwright {

inline constexpr uint32_t kPageModeSectorSize = 0x20000;
inline constexpr uint32_t kSectorModeSectorSize = 0x40000;
inline constexpr uint32_t kPageSize = 32;

struct PlanInput {
    const std::vector<uint8_t> &data;  // the current image slot's bytes
    uint32_t option_bits_start = 0;
    uint32_t option_bits_end = 0;
    bool sector_mode = false;
    PageLayout layout;
    bool write_page0 = false;
    bool write_page1 = false;
    bool write_option_bits = false;
};

// A run of consecutive selected units: count, first byte address, byte
// address just past the last unit.
struct PlanRun {
    uint32_t units = 0;
    uint32_t begin = 0;
    uint32_t end = 0;
};

struct SectorPlan {
    std::vector<bool> erase_map;
    int32_t erase_count = 0;
    std::vector<PlanRun> runs;
};

struct PagePlan {
    std::vector<bool> write_map;
    int32_t write_count = 0;
    std::vector<PlanRun> runs;
};

// What an update does to the flash: the sectors it erases and, in page mode,
// the pages it programs, with their counts. The flash steps walk these maps
// and nothing else; every attempt of an update reuses them.
struct UpdatePlan {
    std::vector<bool> erase_map;  // one bit per sector of the image
    int32_t erase_count = 0;
    std::vector<bool> write_map;  // one bit per 32-byte page; empty in sector mode
    int32_t write_count = 0;
};

// The sector an image of length bytes ends inside, when the plan erases it:
// that erase also erases what the board holds past the image's end, so a
// read must show first that nothing lies there. None when the image ends on a
// sector boundary or the plan leaves that sector alone.
std::optional<uint32_t> trailing_sector(const UpdatePlan &plan, uint64_t length, uint32_t sector_size);

// One bit per sector the image reaches, its trailing partial sector
// included. Throws romwright::error (an image) "Error: Invalid sector
// count." below one whole sector.
SectorPlan plan_sectors(const PlanInput &input);
// Page mode only. One bit per page the image reaches; a last partial page
// counts as padded with 0xFF. Throws romwright::error (an image) "Error:
// Invalid page count" below 4096 whole pages.
PagePlan plan_pages(const PlanInput &input);

} // namespace romwright
