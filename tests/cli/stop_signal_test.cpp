// Signals while romwright-cli updates boards: Ctrl+C (SIGINT), a closed
// terminal (SIGHUP) and SIGTERM let the board being written finish and stop
// the run before the next board; a closed output pipe (SIGPIPE) ends nothing.
#include <signal.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/cli/cli_fixture.hpp"
#include "tests/support/bytes.hpp"

namespace {

using clitest::contains;
using ::testing::EndsWith;
using ::testing::HasSubstr;

constexpr uint64_t kFlashSize = 0x100000;
constexpr uint32_t kImageSize = 0x80000;  // sectors 1 to 3 of 128 KiB are erased and written
constexpr uint32_t kFirstWritten = 0x20000;

const char *const kNotice = "romwright-cli: stop requested; a board being written is finished first\n";

// A page-mode ZEN5110 whose erase keeps the caller 150 ms a sector, so a
// signal sent when erasing starts lands well inside the board's update.
std::string slow_page_board(const std::string &name) {
    return clitest::board_toml(name, 11, "[]",
                               "revision = \"2.0\"\nflash_size = 0x100000\n"
                               "[system.board.timing]\npage_erase_ms = 150\n");
}

std::vector<uint8_t> pattern(uint8_t salt) {
    return testsupport::pattern_bytes(kFlashSize, 13, 11, salt);
}

std::size_t count(const std::string &text, const std::string &part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

class StopSignal : public clitest::Cli {
protected:
    // Boards named b1, b2, ..., each flash holding its own pattern.
    void slow_boards(int n) {
        std::string toml = "[[system]]\n";
        for (int i = 1; i <= n; ++i) toml += slow_page_board("b" + std::to_string(i));
        machine(toml);
        for (int i = 1; i <= n; ++i)
            machine_->preset_flash("b" + std::to_string(i), kFlashSize, 0, pattern(static_cast<uint8_t>(i)));
        path_ = make_image("fw-ZEN5110.rpd", "ZEN5110", kImageSize);
    }

    testsupport::ProcessResult update(testsupport::ProcessOptions options) {
        options.working_directory = work_.path();
        return testsupport::run_process(testsupport::bin_path("romwright-cli"), {"update", path_}, options);
    }

    // Sends the signal when the first progress bar, erasing board 0, shows.
    testsupport::ProcessResult update_signalled_while_erasing(int signal_number) {
        testsupport::ProcessOptions options = machine_->process_options();
        options.send_signal = signal_number;
        options.send_when = [](const std::string &out) { return contains(out, "Erasing board 0"); };
        return update(options);
    }

    // The board holds the image on the sectors the update writes, and its
    // old pattern everywhere else: written and verified whole.
    bool updated(int board) const {
        std::vector<uint8_t> expected = pattern(static_cast<uint8_t>(board));
        const std::vector<uint8_t> image = testsupport::read_file(path_);
        std::copy(image.begin() + kFirstWritten, image.begin() + kImageSize, expected.begin() + kFirstWritten);
        return flash("b" + std::to_string(board)) == expected;
    }
    bool untouched(int board) const {
        return flash("b" + std::to_string(board)) == pattern(static_cast<uint8_t>(board));
    }

    std::string path_;
};

struct SignalCase {
    int number;
    const char *name;
};

void PrintTo(const SignalCase &c, std::ostream *out) { *out << c.name; }

class StopBetweenBoards : public StopSignal, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(StopBetweenBoards, FinishesTheBoardBeingWrittenAndStopsBeforeTheNext) {
    slow_boards(2);
    const auto result = update_signalled_while_erasing(GetParam().number);

    ASSERT_TRUE(result.signal_sent);
    EXPECT_EQ(result.signal, 0) << "the signal ended the program";
    EXPECT_EQ(result.exit_code, 1);
    const std::string stopped =
        std::string("Stopped by ") + GetParam().name + " before board 2 of 2; the boards before it were updated.";
    EXPECT_THAT(result.out, EndsWith("\nError: " + stopped + "\n"));
    EXPECT_EQ(result.err, kNotice);
    // The first board's update ran to its end; the second never started.
    const std::string text = log();
    EXPECT_THAT(text, EndsWith("Update succeeded.\n" + stopped + "\n"));
    EXPECT_EQ(count(text, "Korvel Firmware Updater Version"), 1u);
    EXPECT_TRUE(updated(1));
    EXPECT_TRUE(untouched(2));
}

INSTANTIATE_TEST_SUITE_P(Signals, StopBetweenBoards,
                         ::testing::Values(SignalCase{SIGTERM, "SIGTERM"}, SignalCase{SIGINT, "SIGINT"},
                                           SignalCase{SIGHUP, "SIGHUP"}),
                         [](const ::testing::TestParamInfo<SignalCase> &info) { return std::string(info.param.name); });

// A stop that comes during the last board leaves nothing undone: the run
// ends as it would have without it.
TEST_F(StopSignal, DuringTheLastBoardTheRunEndsAsUsual) {
    slow_boards(1);
    const auto result = update_signalled_while_erasing(SIGTERM);
    ASSERT_TRUE(result.signal_sent);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_THAT(result.out, EndsWith("Update of 1 board successful\n"));
    EXPECT_THAT(log(), EndsWith("Update succeeded.\n"));
    EXPECT_TRUE(updated(1));
}

// `romwright-cli update ... | head -c 100`: the reader goes early, the
// update does not.
TEST_F(StopSignal, AClosedOutputPipeEndsNothing) {
    slow_boards(2);
    testsupport::ProcessOptions options = machine_->process_options();
    options.close_stdout_after = 100;
    const auto result = update(options);
    EXPECT_EQ(result.signal, 0) << "killed by signal " << result.signal;
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out.size(), 100u);
    EXPECT_EQ(count(log(), "Update succeeded.\n"), 2u);
    EXPECT_TRUE(updated(1));
    EXPECT_TRUE(updated(2));
}

} // namespace
