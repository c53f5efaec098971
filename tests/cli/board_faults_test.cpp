// Two board faults run through romwright-cli as a user runs it, on the small
// boards of the update rig: a board whose kind answers differ between the two
// queries of identification, and a sector-mode board whose last register
// access (switching the flash output off after a verified update) fails. The
// log must name the call that failed, and nothing that did not happen.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
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

} // namespace
