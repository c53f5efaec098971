// What inspect predicts an update costs is what the update issues: for
// several plans in both register modes, the flash steps of an update run on a
// simulated board that answers at once (every block locked, as the flash
// powers up), and the library calls, controller commands and prescribed
// pauses they make are counted and held against the prediction.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <fmt/format.h>

#include <romwright/inspection.hpp>
#include <zenapi/Zenapi.h>
#include <zenapi/zenapi_sim.h>

#include "engine/update/romwright_engine.hpp"
#include "tests/engine/callback_recorder.hpp"
#include "tests/support/sim_machine.hpp"
#include "tests/support/simulated_clock.hpp"
#include "tests/support/temp_dir.hpp"
#include "tools/mkimage/image_maker.hpp"

namespace {

constexpr const char *kMachine = R"(
[[system]]
[[system.board]]
name = "page"
kind = 11
[[system.board]]
name = "sector"
kind = 25
[system.board.controller]
erase_ms = 0
program_ms = 0
read_burst_ms = 0
command_ms = 0
)";

constexpr const char *kFlashCalls[] = {"KorvelReadRegister",         "KorvelWriteRegister",
                                       "SetControlCommand",          "ZEN5110FlashSectorPageRead",
                                       "ZEN5110PageWriteToFlash",    "ZEN5110FlashSectorErase"};

uint64_t flash_calls(uint32_t board_id) {
    uint64_t total = 0;
    for (const char *name : kFlashCalls) total += ZenSimCallCount(1, board_id, name);
    return total;
}

struct CostCase {
    const char *name;
    const char *model;
    uint32_t board_id;
    uint32_t size;
    mkimage::PageRange page0;
};

void PrintTo(const CostCase &c, std::ostream *out) { *out << c.name; }

class PredictedCost : public ::testing::TestWithParam<CostCase> {};

TEST_P(PredictedCost, IsWhatTheUpdateIssues) {
    const CostCase &c = GetParam();
    testsupport::SimMachine machine(kMachine);
    machine.activate();
    testsupport::TempDir dir("cost");
    mkimage::ImageRecipe recipe = mkimage::default_recipe(c.model, c.size);
    recipe.page0 = c.page0;
    const std::string file = dir.file(fmt::format("fw-{}.rpd", c.model));
    mkimage::write_file(file, mkimage::make_image(recipe, mkimage::Format::rpd));

    romwright::InspectRequest request;
    request.path = file;
    request.model = c.model;
    const romwright::Inspection inspection = romwright::inspect_firmware(request);
    ASSERT_TRUE(inspection.accepted) << inspection.verdict;
    const romwright::InspectedPlan &predicted = *inspection.plan;

    testsupport::CallbackRecorder recorder;
    testsupport::SimulatedClock clock;
    void *board = KorvelGetBoardBySystemID(1, c.board_id);
    uint64_t calls_before = 0, slept_before = 0;
    std::size_t lines_before = 0;
    {
        CRomwright engine(testsupport::CallbackRecorder::on_log, &recorder, clock);
        engine.PlanUpdate(file, board);
        calls_before = flash_calls(c.board_id);
        slept_before = clock.slept_ms();
        lines_before = recorder.lines.size();
        engine.CheckTrailingSector();
        engine.EraseWriteVerifyWithRetries(nullptr, nullptr);
    }  // the driver lets go of the board: its output is switched off
    const auto commands = std::count_if(recorder.lines.begin() + static_cast<std::ptrdiff_t>(lines_before),
                                        recorder.lines.end(), [](const testsupport::CallbackRecorder::Line &line) {
                                            return line.text == testsupport::CallbackRecorder::kWaitLine;
                                        });
    EXPECT_EQ(predicted.library_calls, flash_calls(c.board_id) - calls_before);
    if (predicted.mode == romwright::ProgrammingPath::sector_mode) {
        EXPECT_EQ(predicted.device_commands, static_cast<uint64_t>(commands));
        EXPECT_EQ(predicted.least_pause_ms, clock.slept_ms() - slept_before);
    } else {
        EXPECT_EQ(predicted.device_commands, predicted.library_calls);
        EXPECT_EQ(commands, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Plans, PredictedCost,
    ::testing::Values(
        CostCase{"SectorModeWholeImage", "ZEN5160", 2, 0x400000, {0x20000, 0x300000}},
        CostCase{"SectorModePartOfTheImage", "ZEN5160", 2, 0x280000, {0x20000, 0x100000}},
        CostCase{"SectorModeEndingInsideASector", "ZEN5160", 2, 0x2F0000, {0x20000, 0x200000}},
        CostCase{"PageModeWholeImage", "ZEN5110", 1, 0x400000, {0x20000, 0x200000}},
        CostCase{"PageModeFewPages", "ZEN5110", 1, 0x200000, {0x20000, 0x60000}},
        CostCase{"PageModeEndingInsideASector", "ZEN5110", 1, 0x2F0000, {0x20000, 0x100000}}),
    [](const ::testing::TestParamInfo<CostCase> &info) { return std::string(info.param.name); });

} // namespace
