// Power loss in the middle of an update: romwright-cli is killed with
// SIGKILL (nothing runs after it, as when the computer loses power) at
// seeded random moments of a page-mode and of a sector-mode update, then run
// again, as a user does when the computer is back. Each rerun must complete
// with the image in the flash; the killed run's log must hold whole lines
// only, and the simulator's flash file must keep its size.
//
// The moments are drawn from the length of a clean update measured first, so
// they fall anywhere from the program's start to its end. Ten per board;
// ROMWRIGHT_POWER_LOSS_RUNS=<n> asks for another number
// (scripts/power-loss.sh runs 50). The figure of each board goes to
// build/test-artifacts/power-loss-<board>.txt.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "tests/cli/update_rig.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

// The integrity check of a history database and its records' results, oldest
// first, read by Python's own SQLite: "ok started succeeded".
std::string history_records(const std::string &file) {
    const auto read = testsupport::run_process(
        "/usr/bin/python3",
        {"-c",
         "import sqlite3,sys\n"
         "c = sqlite3.connect(sys.argv[1])\n"
         "print(c.execute('PRAGMA integrity_check').fetchone()[0], "
         "*[r for (r,) in c.execute('SELECT result FROM attempts ORDER BY id')])",
         file});
    std::string out = read.exit_code == 0 ? read.out : read.err;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

using rig::BoardSetup;

constexpr int kDefaultKills = 10;
constexpr uint32_t kSeed = 20240607;

int kills_per_board() {
    const char *text = std::getenv("ROMWRIGHT_POWER_LOSS_RUNS");
    const int kills = text ? std::atoi(text) : kDefaultKills;
    return kills > 0 ? kills : kDefaultKills;
}

bool whole_lines(const std::string &log) { return log.empty() || log.back() == '\n'; }

// What the flash held when the power went: the old contents, the image, or
// something in between (an erase or a write cut short).
enum class Cut { before_any_change, half_done, after_the_update };

Cut cut_of(const std::vector<uint8_t> &flash, const std::vector<uint8_t> &old, const std::vector<uint8_t> &updated) {
    if (flash == old) return Cut::before_any_change;
    if (flash == updated) return Cut::after_the_update;
    return Cut::half_done;
}

class PowerLoss : public ::testing::TestWithParam<BoardSetup> {};

TEST_P(PowerLoss, EveryRerunRestoresTheImage) {
    const BoardSetup &board = GetParam();
    const rig::Firmware firmware(board);
    const std::vector<uint8_t> old = rig::old_flash(board);
    const std::vector<uint8_t> updated = rig::updated_flash(board, firmware.bytes());

    const rig::RunFolder measuring(board);
    const rig::TimedResult clean =
        rig::timed([&] { return measuring.update(measuring.machine("machine.toml"), firmware.path()); });
    ASSERT_EQ(clean.result.exit_code, 0) << clean.result.out << measuring.log();
    ASSERT_EQ(rig::first_difference(measuring.flash(), updated), updated.size());
    const uint32_t span_ms = std::max<uint32_t>(1, static_cast<uint32_t>(clean.seconds * 1000));

    std::mt19937 random(kSeed);
    const int kills = kills_per_board();
    int before = 0, half = 0, after = 0, finished_first = 0, torn_logs = 0;
    for (int i = 0; i < kills; ++i) {
        const int moment_ms = 1 + static_cast<int>(random() % span_ms);
        const rig::RunFolder folder(board);
        const std::string machine = folder.machine("machine.toml");
        testsupport::ProcessOptions options;
        options.kill_after_ms = moment_ms;
        const testsupport::ProcessResult cut = folder.update(machine, firmware.path(), options);
        const std::string where = fmt::format("{}: power lost {} ms into the update", board.name, moment_ms);
        if (cut.signal != SIGKILL) {
            ++finished_first;
            EXPECT_EQ(cut.exit_code, 0) << where << " (it ended before that): " << cut.out << cut.err;
        }
        const std::string log = folder.log();
        if (!whole_lines(log)) ++torn_logs;
        EXPECT_TRUE(whole_lines(log)) << where << ": the log ends inside a line:\n" << rig::tail(log, 3);
        EXPECT_EQ(folder.flash_file_size(), board.flash_size) << where;
        switch (cut_of(folder.flash(), old, updated)) {
        case Cut::before_any_change: ++before; break;
        case Cut::half_done: ++half; break;
        case Cut::after_the_update: ++after; break;
        }

        const testsupport::ProcessResult rerun = folder.update(machine, firmware.path());
        EXPECT_EQ(rerun.exit_code, 0) << where << "; the rerun:\n" << rerun.out << rerun.err << rig::tail(folder.log());
        EXPECT_NE(rerun.out.find("Update of 1 board successful\n"), std::string::npos) << where;
        EXPECT_EQ(rig::first_difference(folder.flash(), updated), updated.size()) << where << "; after the rerun";
        EXPECT_EQ(folder.flash_file_size(), board.flash_size) << where << "; after the rerun";
        // The update history, whatever the kill cut: a whole database whose
        // last record is the rerun's; the cut run's, if it got to write one,
        // started or (when it finished first) succeeded.
        const std::string records = history_records(folder.history());
        EXPECT_TRUE(records == "ok succeeded" || records == "ok started succeeded" ||
                    records == "ok succeeded succeeded")
            << where << "; the history: " << records;
    }

    const std::string figure = fmt::format(
        "power loss, {} ({}): {} kills drawn in 1..{} ms (clean update {:.2f} s, seed {}): flash untouched {}, "
        "half-erased or half-written {}, already updated {} ({} of them finished before the kill); "
        "{} logs ended inside a line\n",
        board.name, board.model, kills, span_ms, clean.seconds, kSeed, before, half, after, finished_first, torn_logs);
    testsupport::write_text(rig::artifacts_dir() + "/power-loss-" + board.name + ".txt", figure);
    std::cout << figure;
}

// Several sectors, so that the moments spread over erases, writes and reads
// (one page-mode sector in the sanitizer build, where a page-mode update of
// 1 MiB takes seconds).
INSTANTIATE_TEST_SUITE_P(Boards, PowerLoss,
                         ::testing::Values(rig::page_mode_board(rig::kSanitized ? 0x40000 : 0x100000),
                                           rig::sector_mode_board(0x80000)),
                         [](const ::testing::TestParamInfo<BoardSetup> &info) { return info.param.name; });

} // namespace
