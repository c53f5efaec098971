#include "engine/plan/update_plan.hpp"

#include <utility>

namespace romwright {

PlanInput plan_input(const ImageSlot &slot, bool sector_mode, const PageSelection &selection,
                     const PageLayout &layout) {
    return PlanInput{slot.data,          slot.option_bits_start, slot.option_bits_end,  sector_mode,
                     layout,             selection.write_page0,  selection.write_page1, selection.write_option_bits};
}

void select_pages(const ImageSlot &slot, const PageSelection &options, bool debug, const LogSink &log,
                  PageSelection &selection, PageLayout &layout) {
    selection = options;
    read_page_layout(slot, selection, layout, debug, log);
}

SectorPlan plan_sectors_logged(const PlanInput &input, bool debug, const LogSink &log) {
    SectorPlan sectors = plan_sectors(input);
    if (debug)
        for (const PlanRun &run : sectors.runs)
            log.info("Found {} sectors to erase from 0x{:08X} to 0x{:08X}\n", run.units, run.begin, run.end);
    return sectors;
}

PagePlan plan_pages_logged(const PlanInput &input, bool debug, const LogSink &log) {
    PagePlan pages = plan_pages(input);
    if (debug)
        for (const PlanRun &run : pages.runs)
            log.info("Found {} modified pages from {} to {}\n", run.units, run.begin, run.end);
    return pages;
}

void plan_update(const ImageSlot &slot, bool sector_mode, const PageSelection &options, bool debug,
                 const LogSink &log, PlannedUpdate &planned) {
    planned = PlannedUpdate{};
    select_pages(slot, options, debug, log, planned.selection, planned.layout);
    const PlanInput input = plan_input(slot, sector_mode, planned.selection, planned.layout);
    SectorPlan sectors = plan_sectors_logged(input, debug, log);
    planned.plan.erase_map = std::move(sectors.erase_map);
    planned.plan.erase_count = sectors.erase_count;
    planned.erase_runs = std::move(sectors.runs);
    if (!sector_mode) {
        PagePlan pages = plan_pages_logged(input, debug, log);
        planned.plan.write_map = std::move(pages.write_map);
        planned.plan.write_count = pages.write_count;
        planned.write_runs = std::move(pages.runs);
    }
    const uint32_t sector_size = sector_mode ? kSectorModeSectorSize : kPageModeSectorSize;
    planned.trailing_sector = trailing_sector(planned.plan, slot.data.size(), sector_size);
}

} // namespace romwright
