// Update planning. A sector is erased only when a range whose option is on
// covers it; a page is a candidate unless a range whose option is off covers
// it, and is programmed only when it holds data. Page mode never programs the
// first 128 KB of the flash nor the pages of a range whose option is off, so
// it refuses a plan that would erase either. An image that ends inside a
// sector (or a page) plans that last partial unit like any other: what lies
// past the image's end is taken as erased (0xFF).
#include "engine/plan/planner.hpp"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <stdexcept>

#include <fmt/format.h>

#include <romwright/error.hpp>

namespace romwright {
namespace {

constexpr uint32_t kFirstProgrammablePage = kPageModeSectorSize / kPageSize;  // 4096

// One of the three ranges of the layout, as units of a given size.
struct UnitRange {
    const char *name;
    uint32_t start;
    uint32_t end;
    bool present;
    bool option_on;
    int64_t first;  // first unit covered
    int64_t last;   // last unit covered; below first when the range covers none

    bool covers(int64_t unit) const { return present && first <= unit && unit <= last; }
};

UnitRange make_range(const char *name, uint32_t start, uint32_t end, bool present, bool option_on, uint32_t unit) {
    UnitRange range{name, start, end, present, option_on, start / unit, -1};
    // An empty range covers no unit. Taking (end - 1) at end 0 would wrap to
    // the top of the address space and cover every unit from the start.
    if (end > start) range.last = (end - 1) / unit;
    return range;
}

struct Ranges {
    UnitRange items[3];
};

Ranges ranges_of(const PlanInput &input, uint32_t unit) {
    const PageLayout &l = input.layout;
    return Ranges{{
        make_range("page_0", l.page0_start, l.page0_end, true, input.write_page0, unit),
        make_range("page_1", l.page1_start, l.page1_end, l.page1_present, input.write_page1, unit),
        make_range("option bits", input.option_bits_start, input.option_bits_end, true, input.write_option_bits,
                   unit),
    }};
}

uint32_t image_length(const std::vector<uint8_t> &data) {
    if (data.size() > std::numeric_limits<uint32_t>::max())
        throw romwright::error(error_kind::image,
                               fmt::format("Error: Image of {} bytes does not fit a 32-bit flash", data.size()));
    return static_cast<uint32_t>(data.size());
}

uint32_t sector_size(const PlanInput &input) {
    return input.sector_mode ? kSectorModeSectorSize : kPageModeSectorSize;
}

// Units of `unit` bytes that hold any byte of an image of `length` bytes.
// The address just past the last one must still be a 32-bit address.
uint32_t units_reached(uint32_t length, uint32_t unit) {
    const uint64_t units = length / unit + (length % unit != 0 ? 1 : 0);
    if (units * unit > std::numeric_limits<uint32_t>::max())
        throw romwright::error(error_kind::image,
                               fmt::format("Error: Image of {} bytes does not fit a 32-bit flash", length));
    return static_cast<uint32_t>(units);
}

std::vector<PlanRun> runs_of(const std::vector<bool> &map, uint32_t unit) {
    std::vector<PlanRun> runs;
    std::size_t i = 0;
    while (i < map.size()) {
        if (!map[i]) {
            ++i;
            continue;
        }
        const std::size_t first = i;
        while (i < map.size() && map[i]) ++i;
        runs.push_back(PlanRun{static_cast<uint32_t>(i - first), static_cast<uint32_t>(first * unit),
                               static_cast<uint32_t>(i * unit)});
    }
    return runs;
}

// A page that the image ends inside is blank when the bytes it has are.
bool page_is_blank(const std::vector<uint8_t> &data, uint32_t page) {
    const auto first = data.begin() + static_cast<std::ptrdiff_t>(std::size_t{page} * kPageSize);
    const auto last = data.end() - first > std::ptrdiff_t{kPageSize} ? first + kPageSize : data.end();
    return std::all_of(first, last, [](uint8_t byte) { return byte == 0xFF; });
}

// Page mode writes nothing below 0x20000, so erasing sector 0 there would
// wipe what it holds and leave it blank.
void refuse_page_mode_sector0(const Ranges &ranges) {
    for (const UnitRange &range : ranges.items) {
        if (range.option_on && range.covers(0))
            throw romwright::error(
                error_kind::image,
                fmt::format(
                    "Error: {} range 0x{:08X} to 0x{:08X} reaches into the first 128 KB, which this board never "
                    "programs; erasing sector 0 would destroy its contents",
                    range.name, range.start, range.end));
    }
}

// Page mode programs no page of a range whose option is off, so erasing a
// sector that holds part of such a range would leave that part blank.
void refuse_erasing_unwritten_ranges(const Ranges &ranges, const std::vector<bool> &erase_map) {
    for (const UnitRange &range : ranges.items) {
        if (range.option_on || !range.present || range.last < range.first) continue;
        for (int64_t sector = range.first; sector <= range.last && sector < static_cast<int64_t>(erase_map.size());
             ++sector) {
            if (!erase_map[static_cast<std::size_t>(sector)]) continue;
            throw romwright::error(
                error_kind::image,
                fmt::format(
                    "Error: Erasing sector {} would destroy the part of the {} range 0x{:08X} to 0x{:08X} that lies "
                    "in it, as that range is not being written",
                    sector, range.name, range.start, range.end));
        }
    }
}

} // namespace

SectorPlan plan_sectors(const PlanInput &input) {
    const uint32_t size = sector_size(input);
    const uint32_t length = image_length(input.data);
    if (length / size < 1) throw romwright::error(error_kind::image, "Error: Invalid sector count.");
    const uint32_t sectors = units_reached(length, size);

    const Ranges ranges = ranges_of(input, size);
    if (!input.sector_mode) refuse_page_mode_sector0(ranges);

    SectorPlan plan;
    plan.erase_map.assign(sectors, false);
    for (uint32_t i = 0; i < sectors; ++i) {
        const bool selected = std::any_of(std::begin(ranges.items), std::end(ranges.items),
                                          [i](const UnitRange &r) { return r.option_on && r.covers(i); });
        if (!selected) continue;
        plan.erase_map[i] = true;
        ++plan.erase_count;
    }
    if (!input.sector_mode) refuse_erasing_unwritten_ranges(ranges, plan.erase_map);
    plan.runs = runs_of(plan.erase_map, size);
    return plan;
}

PagePlan plan_pages(const PlanInput &input) {
    const uint32_t length = image_length(input.data);
    if (length / kPageSize < kFirstProgrammablePage)
        throw romwright::error(error_kind::image, "Error: Invalid page count");
    const uint32_t pages = units_reached(length, kPageSize);

    const Ranges ranges = ranges_of(input, kPageSize);
    PagePlan plan;
    plan.write_map.assign(pages, false);
    for (uint32_t p = kFirstProgrammablePage; p < pages; ++p) {
        const bool excluded = std::any_of(std::begin(ranges.items), std::end(ranges.items),
                                          [p](const UnitRange &r) { return !r.option_on && r.covers(p); });
        if (excluded || page_is_blank(input.data, p)) continue;
        plan.write_map[p] = true;
        ++plan.write_count;
    }
    plan.runs = runs_of(plan.write_map, kPageSize);
    return plan;
}

std::optional<uint32_t> trailing_sector(const UpdatePlan &plan, uint64_t length, uint32_t sector_size) {
    if (length % sector_size == 0) return std::nullopt;
    const uint64_t sector = length / sector_size;
    if (sector >= plan.erase_map.size() || !plan.erase_map[sector]) return std::nullopt;
    return static_cast<uint32_t>(sector);
}

} // namespace romwright
