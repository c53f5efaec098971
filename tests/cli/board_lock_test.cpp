// One writer per board: two programs that want one board at once, two that
// want two boards, and a holder killed with SIGKILL (TerminateProcess on
// Windows).
#include <chrono>
#include <future>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/cli/cli_fixture.hpp"
#include "tests/support/bytes.hpp"

namespace {

using clitest::contains;
using ::testing::HasSubstr;

constexpr uint32_t kImageSize = 0x100000;

// Page-mode ZEN5110s whose erase keeps the caller 300 ms a sector, so an
// update lasts a few seconds.
std::string slow_board(const std::string &name) {
    return clitest::board_toml(name, 11, "[]",
                               "revision = \"2.0\"\nflash_size = 0x200000\n[system.board.timing]\npage_erase_ms = 300\n");
}

class BoardLock : public clitest::Cli {
protected:
    void SetUp() override {
        machine("[[system]]\n" + slow_board("b1") + slow_board("b2"));
        first_ = make_image("first-ZEN5110.rpd", "ZEN5110", kImageSize, {"--seed", "1"});
        second_ = make_image("second-ZEN5110.rpd", "ZEN5110", kImageSize, {"--seed", "2"});
    }

    testsupport::ProcessResult program(const std::string &name, const std::vector<std::string> &args,
                                       int kill_after_ms = 0) {
        testsupport::ProcessOptions options = machine_->process_options();
        options.working_directory = work_.path();
        options.kill_after_ms = kill_after_ms;
        return testsupport::run_process(testsupport::bin_path(name), args, options);
    }

    // Starts an update of board bid in the background and returns once it
    // has begun erasing, that is once it holds the board.
    std::future<testsupport::ProcessResult> holder(const std::string &name, const std::string &bid,
                                                    const std::string &file) {
        const std::string log = work_.file(name + ".log");
        auto running = std::async(std::launch::async, [this, name, bid, file] {
            return program(name, {"update", "--system=1", "--board=" + bid, "--quiet", file});
        });
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < until &&
               (!testsupport::file_exists(log) || !contains(testsupport::read_text(log), "Erasing")))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return running;
    }

    bool holds(const std::string &board, const std::string &file) const {
        const std::vector<uint8_t> image = testsupport::read_file(file);
        const std::vector<uint8_t> now = flash(board);
        return std::equal(image.begin() + 0x20000, image.end(), now.begin() + 0x20000);
    }

    std::string first_, second_;
};

TEST_F(BoardLock, ASecondUpdateOfTheBoardIsRefusedAtOnceNamingTheHolder) {
    auto first = holder("romwright-cli", "1", first_);
    const auto started = std::chrono::steady_clock::now();
    const auto second = program("romwright", {"update", "--system=1", "--board=1", "--quiet", second_});
    const auto took = std::chrono::steady_clock::now() - started;

    EXPECT_EQ(second.exit_code, 1) << second.out << second.err;
    EXPECT_LT(took, std::chrono::seconds(1));
    // std::regex: GoogleTest's own regular expressions on Windows have no brackets.
    EXPECT_TRUE(std::regex_search(second.err, std::regex(R"(Board 1/1 is being written by another program \(romwright-cli, )"
                                                         R"(process \d+, since 20[\d-]+T[\d:]+Z\); nothing was changed)")))
        << second.err;
    const auto done = first.get();
    EXPECT_EQ(done.exit_code, 0) << done.out;
    EXPECT_TRUE(holds("b1", first_)) << "the board does not hold the first image";
}

TEST_F(BoardLock, TwoBoardsAreUpdatedAtOnceByTwoPrograms) {
    auto first = holder("romwright-cli", "1", first_);
    const auto second = program("romwright", {"update", "--system=1", "--board=2", "--quiet", second_});
    EXPECT_EQ(second.exit_code, 0) << second.err;
    EXPECT_EQ(first.get().exit_code, 0);
    EXPECT_TRUE(holds("b1", first_));
    EXPECT_TRUE(holds("b2", second_));
}

// The operating system lets go of a killed holder's lock: nothing stale blocks.
TEST_F(BoardLock, AKilledHolderLeavesTheBoardFree) {
    const auto killed = program("romwright-cli", {"update", "--system=1", "--board=1", "--quiet", first_}, 800);
    ASSERT_EQ(killed.signal, 9) << "the update ended before the kill";
    const auto rerun = program("romwright-cli", {"update", "--system=1", "--board=1", "--quiet", first_});
    EXPECT_EQ(rerun.exit_code, 0) << rerun.out;
    EXPECT_TRUE(holds("b1", first_));
}

// A board being written is not read half-written: verify and read turn away.
TEST_F(BoardLock, VerifyAndReadOfABoardBeingWrittenAreRefused) {
    auto first = holder("romwright-cli", "1", first_);
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"verify", first_, "--system=1", "--board=1"},
          std::vector<std::string>{"read", "--system=1", "--board=1", work_.file("b1.bin")}}) {
        const auto refused = program("romwright", args);
        EXPECT_EQ(refused.exit_code, 1) << args[0];
        EXPECT_THAT(refused.err, HasSubstr("is being written by another program (romwright-cli")) << args[0];
    }
    EXPECT_FALSE(testsupport::file_exists(work_.file("b1.bin")));
    EXPECT_EQ(first.get().exit_code, 0);
}

} // namespace
