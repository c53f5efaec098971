// CRomwright's planning: the plan of the current image, in one step (Plan)
// or one part at a time, all through the planning that inspect shares.
#include "engine/plan/update_plan.hpp"
#include "engine/update/romwright_engine.hpp"

romwright::PageSelection CRomwright::OptionsPageSelection() const {
    return romwright::PageSelection{options_.auto_select_pages, options_.write_page0, options_.write_page1,
                                    options_.write_option_bits};
}

romwright::PlanInput CRomwright::PlanningInput() const {
    return romwright::plan_input(CurrentImage(), identity_.sector_mode, planned_.selection, planned_.layout);
}

void CRomwright::Plan() {
    CheckImageIndex();
    romwright::plan_update(CurrentImage(), identity_.sector_mode, OptionsPageSelection(), options_.debug, log(),
                           planned_);
}

void CRomwright::PlanSectors() {
    romwright::SectorPlan sectors = romwright::plan_sectors_logged(PlanningInput(), options_.debug, log());
    planned_.plan.erase_map = std::move(sectors.erase_map);
    planned_.plan.erase_count = sectors.erase_count;
    planned_.erase_runs = std::move(sectors.runs);
}

void CRomwright::PlanPages() {
    romwright::PagePlan pages = romwright::plan_pages_logged(PlanningInput(), options_.debug, log());
    planned_.plan.write_map = std::move(pages.write_map);
    planned_.plan.write_count = pages.write_count;
    planned_.write_runs = std::move(pages.runs);
}
