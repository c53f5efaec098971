// The planner on arbitrary images, layouts and page options, in page mode and
// sector mode, with the layout either given outright or first read from the
// image's option bits as an update does. A plan is refused, or its maps and
// counts agree, its runs are the maps' runs, and page mode leaves the first
// 128 KB alone and programs only pages that hold data.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "engine/image/image_slot.hpp"
#include "engine/plan/planner.hpp"
#include "engine/image/raw_image.hpp"
#include "fuzz/fuzz_cases.hpp"
#include "fuzz/fuzz_support.hpp"

namespace {

constexpr uint32_t kFirstProgrammablePage = romwright::kPageModeSectorSize / romwright::kPageSize;

void expect_runs(const std::vector<bool> &map, const std::vector<romwright::PlanRun> &runs, uint32_t unit) {
    std::vector<bool> rebuilt(map.size(), false);
    uint32_t previous_end = 0;
    for (const romwright::PlanRun &run : runs) {
        fuzzing::expect(run.units > 0 && run.end - run.begin == uint64_t(run.units) * unit, "a run spans its units");
        fuzzing::expect(run.begin % unit == 0 && run.begin >= previous_end, "runs are in order, apart");
        fuzzing::expect(run.end / unit <= map.size(), "a run lies inside the map");
        for (uint32_t u = run.begin / unit; u < run.end / unit; ++u) rebuilt[u] = true;
        previous_end = run.end + 1;  // two runs never touch
    }
    fuzzing::expect(rebuilt == map, "the runs are exactly the selected units");
}

void expect_sector_plan(const romwright::SectorPlan &plan, const romwright::PlanInput &input) {
    const uint32_t size = input.sector_mode ? romwright::kSectorModeSectorSize : romwright::kPageModeSectorSize;
    fuzzing::expect(plan.erase_map.size() == (input.data.size() + size - 1) / size,
                    "one bit per sector the image reaches, a last partial one included");
    fuzzing::expect(plan.erase_count == std::count(plan.erase_map.begin(), plan.erase_map.end(), true),
                    "the erase count counts the map");
    if (!input.sector_mode) fuzzing::expect(!plan.erase_map[0], "page mode never erases the first 128 KB");
    expect_runs(plan.erase_map, plan.runs, size);
}

void expect_page_plan(const romwright::PagePlan &plan, const romwright::SectorPlan &sectors,
                      const romwright::PlanInput &input) {
    fuzzing::expect(plan.write_map.size() == (input.data.size() + romwright::kPageSize - 1) / romwright::kPageSize,
                    "one bit per page the image reaches, a last partial one included");
    fuzzing::expect(plan.write_count == std::count(plan.write_map.begin(), plan.write_map.end(), true),
                    "the write count counts the map");
    const std::size_t pages_in_sectors = sectors.erase_map.size() * (romwright::kPageModeSectorSize / romwright::kPageSize);
    for (std::size_t p = 0; p < plan.write_map.size(); ++p) {
        if (!plan.write_map[p]) continue;
        fuzzing::expect(p >= kFirstProgrammablePage && p < pages_in_sectors,
                        "pages are programmed only past 128 KB and inside the sectors the image reaches");
        // A last partial page holds data only in the part the image has.
        const std::size_t begin = p * romwright::kPageSize;
        const std::size_t end = std::min(begin + romwright::kPageSize, input.data.size());
        fuzzing::expect(!std::all_of(input.data.begin() + static_cast<std::ptrdiff_t>(begin),
                                     input.data.begin() + static_cast<std::ptrdiff_t>(end),
                                     [](uint8_t b) { return b == 0xFF; }),
                        "a programmed page holds data");
    }
    expect_runs(plan.write_map, plan.runs, romwright::kPageSize);
}

struct Plan {
    romwright::PageLayout layout;
    romwright::PageSelection selection;
};

// The layout and options as given, or as the option bits and the automatic
// selection make them; throws when the option bits are refused.
Plan plan_of(const fuzzing::PlanCase &c, const ImageSlot &slot) {
    Plan plan;
    plan.layout = {c.page0_start, c.page0_end, c.page1_start, c.page1_end, c.page1_present};
    plan.selection = {c.auto_select_pages, c.write_page0, c.write_page1, c.write_option_bits};
    if (c.through_layout) romwright::read_page_layout(slot, plan.selection, plan.layout, false, romwright::LogSink());
    return plan;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    static ImageSlot slot;
    const fuzzing::PlanCase c = fuzzing::decode_plan(data, size);
    const fuzzing::BlankImage image(slot.data, c.length, c.patches);
    slot.option_bits_start = c.option_bits_start;
    slot.option_bits_end = c.option_bits_end;
    try {
        const Plan plan = plan_of(c, slot);
        const romwright::PlanInput input{slot.data,          slot.option_bits_start,     slot.option_bits_end,
                                         c.sector_mode,      plan.layout,                plan.selection.write_page0,
                                         plan.selection.write_page1, plan.selection.write_option_bits};
        const romwright::SectorPlan sectors = romwright::plan_sectors(input);
        expect_sector_plan(sectors, input);
        if (c.sector_mode) return 0;
        expect_page_plan(romwright::plan_pages(input), sectors, input);
    } catch (const std::runtime_error &) {
    }
    return 0;
}
