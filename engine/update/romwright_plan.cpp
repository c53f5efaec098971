// CRomwright's planning steps: the pure planner on the current image, the
// page selection and the layout, and the runs it found in the debug log.
#include "engine/plan/planner.hpp"
#include "engine/update/romwright_engine.hpp"

romwright::PlanInput CRomwright::PlanningInput() const {
    const ImageSlot &slot = CurrentImage();
    return romwright::PlanInput{
        slot.data, slot.option_bits_start, slot.option_bits_end,   identity_.sector_mode,
        layout_,   selection_.write_page0, selection_.write_page1, selection_.write_option_bits};
}

void CRomwright::PlanSectors() {
    romwright::SectorPlan sectors = romwright::plan_sectors(PlanningInput());
    plan_.erase_map = std::move(sectors.erase_map);
    plan_.erase_count = sectors.erase_count;
    if (!options_.debug) return;
    for (const romwright::PlanRun &run : sectors.runs)
        log().info("Found {} sectors to erase from 0x{:08X} to 0x{:08X}\n", run.units, run.begin, run.end);
}

void CRomwright::PlanPages() {
    romwright::PagePlan pages = romwright::plan_pages(PlanningInput());
    plan_.write_map = std::move(pages.write_map);
    plan_.write_count = pages.write_count;
    if (!options_.debug) return;
    for (const romwright::PlanRun &run : pages.runs)
        log().info("Found {} modified pages from {} to {}\n", run.units, run.begin, run.end);
}
