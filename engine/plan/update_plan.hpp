// What an update of a register-path board decides before it touches the
// flash, from the image slot the image check chose, the board's mode and the
// page options: the pages to write (the automatic selection applied) and the
// layout the option bits describe, the sectors to erase and pages to program,
// and the sector the image ends inside. The update and inspect both plan
// here. Pure: no device; with debug the runs found go to log.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/core/log_sink.hpp"
#include "engine/image/image_slot.hpp"
#include "engine/image/raw_image.hpp"
#include "engine/plan/planner.hpp"

namespace romwright {

struct PlannedUpdate {
    PageSelection selection;  // the options' page choice, the automatic selection applied
    PageLayout layout;
    UpdatePlan plan;
    std::vector<PlanRun> erase_runs;
    std::vector<PlanRun> write_runs;  // page mode; sector mode writes the erased sectors
    // The planned sector the image ends inside, read before anything is erased.
    std::optional<uint32_t> trailing_sector;
};

// Fills planned step by step. Throws romwright::error (an image) when the
// layout or the plan refuses the image; planned then keeps what the steps
// before the refusal found (the log shows as much). The debug lines are the
// update's own ("Found ... sectors to erase").
void plan_update(const ImageSlot &slot, bool sector_mode, const PageSelection &options, bool debug,
                 const LogSink &log, PlannedUpdate &planned);

// The layout step alone: selection from options, the automatic selection
// applied and the layout decoded into layout (both keep what was decoded even
// when the layout is refused, as the log shows).
void select_pages(const ImageSlot &slot, const PageSelection &options, bool debug, const LogSink &log,
                  PageSelection &selection, PageLayout &layout);

// The sector step and the page step alone, with their debug lines.
SectorPlan plan_sectors_logged(const PlanInput &input, bool debug, const LogSink &log);
PagePlan plan_pages_logged(const PlanInput &input, bool debug, const LogSink &log);

// The planner's input for slot under selection and layout.
PlanInput plan_input(const ImageSlot &slot, bool sector_mode, const PageSelection &selection,
                     const PageLayout &layout);

} // namespace romwright
