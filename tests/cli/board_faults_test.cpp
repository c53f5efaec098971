// Two board faults run through romwright-cli as a user runs it, on the small
// boards of the update rig: a board whose kind answers differ between the two
// queries of identification, and a sector-mode board whose last register
// access (switching the flash output off after a verified update) fails. The
// log must name the call that failed, and nothing that did not happen.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <ostream>
#include <string>

#include <fmt/format.h>

#include "tests/cli/update_rig.hpp"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr uint32_t kFailure = 513;

std::string call_fault(const std::string &call, uint64_t nth) {
    return fmt::format("[[system.board.fault]]\ntype = \"call\"\ncall = \"{}\"\ncode = {}\nnth = {}\n", call,
                       kFailure, nth);
}

// How often the board's calls were made, from the simulator's call-count file.
uint64_t calls_made(const std::string &counts_file, const std::string &call, const std::string &board) {
    std::ifstream in(counts_file);
    const std::string wanted = fmt::format("{}(board={}) ", call, board);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(wanted, 0) == 0) return std::stoull(line.substr(wanted.size()));
    return 0;
}

struct KindCase {
    const char *name;
    rig::BoardSetup board;
    uint32_t kind;
};

void PrintTo(const KindCase &c, std::ostream *out) { *out << c.name; }

class KindThatChanges : public ::testing::TestWithParam<KindCase> {};

// The console's file-name check asks for the kind first, OpenBoard second and
// GetFPGAType third. A garbage answer at the second call made OpenBoard open
// the board the wrong way; the update must stop there, before the retries,
// and say which call answered what.
TEST_P(KindThatChanges, IsRefusedBeforeAnythingIsErased) {
    const KindCase &c = GetParam();
    const rig::Firmware firmware(c.board);
    const rig::RunFolder run(c.board);
    const auto result = run.update(run.machine("kind.toml", call_fault("KorvelGetBoardKind", 2)), firmware.path());
    EXPECT_EQ(result.exit_code, 1) << result.out << result.err;
    const std::string log = run.log();
    EXPECT_THAT(log, HasSubstr(fmt::format("Error: The board's kind changed between two queries: KorvelGetBoardKind "
                                           "answered {} in CRomwright::OpenBoard, then {} in CRomwright::GetFPGAType",
                                           kFailure, c.kind)))
        << rig::tail(log);
    EXPECT_THAT(log, Not(HasSubstr("Erasing")));
    EXPECT_THAT(log, Not(HasSubstr("Max retries reached.")));
    EXPECT_EQ(rig::first_difference(run.flash(), rig::old_flash(c.board)), c.board.flash_size);
}

INSTANTIATE_TEST_SUITE_P(Boards, KindThatChanges,
                         ::testing::Values(KindCase{"page_mode", rig::page_mode_board(), 11},
                                           KindCase{"sector_mode", rig::sector_mode_board(), 25}),
                         [](const ::testing::TestParamInfo<KindCase> &info) { return std::string(info.param.name); });

// The update is verified when the flash output is switched off; a failure of
// that last write is the update's failure, reported once. The driver knows it
// let go of the board, so nothing detaches it a second time (which the library
// would refuse for the handle and the log would report as a second failure).
TEST(SwitchingTheFlashOutputOff, FailsTheUpdateOnceWithoutASecondDetach) {
    const rig::BoardSetup board = rig::sector_mode_board();
    const rig::Firmware firmware(board);
    const rig::RunFolder clean(board);
    const std::string counts = clean.file("counts.txt");
    ASSERT_EQ(clean.update(clean.machine("clean.toml"), firmware.path(), {}, {{"ZENAPI_SIM_CALL_COUNTS", counts}})
                  .exit_code,
              0)
        << clean.log();
    const uint64_t writes = calls_made(counts, "KorvelWriteRegister", board.name);
    ASSERT_GT(writes, 0u);

    const rig::RunFolder run(board);
    const auto result = run.update(run.machine("last.toml", call_fault("KorvelWriteRegister", writes)), firmware.path());
    EXPECT_EQ(result.exit_code, 1) << result.out << result.err;
    const std::string log = run.log();
    EXPECT_THAT(log, HasSubstr("Error in CFlashPC28F::FlashOutputEnable: ")) << rig::tail(log);
    EXPECT_THAT(log, Not(HasSubstr("Detaching the flash driver failed"))) << rig::tail(log);
    EXPECT_THAT(log, Not(HasSubstr("handle"))) << rig::tail(log);
    // The image was written and verified before the output was switched off.
    EXPECT_EQ(rig::first_difference(run.flash(), rig::updated_flash(board, firmware.bytes())), board.flash_size);
}

} // namespace
