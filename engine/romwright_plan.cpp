// CRomwright's planning steps: the pure planner on the engine's members, and
// the runs it found in the debug log.
#include "engine/planner.hpp"
#include "engine/romwright_engine.hpp"

#include <stdexcept>

#include <romwright/error.hpp>

namespace {

const ImageSlot &current_slot(const CRomwright &engine) {
    if (engine.image_index != 0 && engine.image_index != 1)
        throw romwright::error(romwright::error_kind::internal, "Error: Invalid image index");
    return engine.images[engine.image_index];
}

romwright::PlanInput plan_input(const CRomwright &engine) {
    const ImageSlot &slot = current_slot(engine);
    romwright::PageLayout layout;
    layout.page0_start = engine.page0_start;
    layout.page0_end = engine.page0_end;
    layout.page1_start = engine.page1_start;
    layout.page1_end = engine.page1_end;
    layout.page1_present = engine.page1_present;
    return romwright::PlanInput{slot.data,        slot.option_bits_start, slot.option_bits_end,
                                engine.sector_mode, layout,               engine.write_page0,
                                engine.write_page1, engine.write_option_bits};
}

} // namespace

void CRomwright::PlanSectors() {
    romwright::SectorPlan plan = romwright::plan_sectors(plan_input(*this));
    erase_map = std::move(plan.erase_map);
    erase_count = plan.erase_count;
    if (!debug) return;
    for (const romwright::PlanRun &run : plan.runs)
        log().info("Found {} sectors to erase from 0x{:08X} to 0x{:08X}\n", run.units, run.begin, run.end);
}

void CRomwright::PlanPages() {
    romwright::PagePlan plan = romwright::plan_pages(plan_input(*this));
    write_map = std::move(plan.write_map);
    write_count = plan.write_count;
    if (!debug) return;
    for (const romwright::PlanRun &run : plan.runs)
        log().info("Found {} modified pages from {} to {}\n", run.units, run.begin, run.end);
}
