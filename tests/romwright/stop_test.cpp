// Signals while romwright updates: a stop that comes before a board is
// touched (during the backup's read) ends the run there, and one that comes
// during the last board is acknowledged once that board is finished.
#include <signal.h>

#include <gtest/gtest.h>

#include "tests/romwright/tool_fixture.hpp"
#include "tests/support/bytes.hpp"

namespace tooltest {
namespace {

constexpr uint64_t kFlashSize = 0x100000;

class StopDuringUpdate : public Tool {
protected:
    // One page-mode ZEN5110 of 1 MiB whose erase keeps the caller 100 ms a
    // sector, its calls traced, its flash holding a pattern.
    void SetUp() override {
        machine_ = std::make_unique<testsupport::SimMachine>(
            "[[system]]\n[[system.board]]\nname = \"dut\"\nkind = 11\nflash_size = 0x100000\n"
            "[system.board.timing]\npage_erase_ms = 100\n");
        machine_->with_trace();
        machine_->preset_flash("dut", kFlashSize, 0, before_);
        file_ = make_image("fw-ZEN5110.rpd", "ZEN5110", {"--size", "0x80000"});
    }

    testsupport::ProcessResult update_signalled(const std::vector<std::string> &extra,
                                                std::function<bool(const std::string &)> when) {
        testsupport::ProcessOptions options = machine_->process_options();
        options.working_directory = work_.path();
        options.send_signal = SIGINT;
        options.send_when = std::move(when);
        std::vector<std::string> args = {"update", "--system=1", "--board=1"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(file_);
        return testsupport::run_process(testsupport::bin_path("romwright"), args, options);
    }

    std::vector<uint8_t> before_ = testsupport::pattern_bytes(kFlashSize, 5, 7, 0x66);
    std::string file_;
};

TEST_F(StopDuringUpdate, DuringTheBackupEndsTheRunBeforeAnythingIsErased) {
    const std::string trace = machine_->trace_path();
    const auto result = update_signalled({"--backup=" + path("before.bin")}, [trace](const std::string &) {
        return testsupport::read_text(trace).find("ZEN5110FlashSectorPageRead") != std::string::npos;
    });
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exit_code, 1) << result.out << result.err;
    EXPECT_NE(result.err.find("Stopped by SIGINT before board 1 of 1; no board was touched."), std::string::npos)
        << result.err;
    EXPECT_TRUE(flash("dut") == before_) << "the board was written after the stop";
    EXPECT_NE(testsupport::read_text(path("romwright.log")).find("Stopped by SIGINT before board 1 of 1"),
              std::string::npos);
    // The update history has the attempt, stopped, with the stop's words.
    const std::string history = run({"history", "--json"}).out;
    EXPECT_EQ(json_value(history, "[(r['result'], r['board']) for r in d['records']]"), "[[\"stopped\", 1]]")
        << history;
    EXPECT_EQ(json_value(history, "d['records'][0]['error']"),
              "\"Stopped by SIGINT before board 1 of 1; no board was touched.\"");
}

TEST_F(StopDuringUpdate, DuringTheLastBoardIsAcknowledgedOnceTheBoardIsFinished) {
    const auto result = update_signalled({}, [](const std::string &out) { return out.find("board 0 of 1") != std::string::npos; });
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
    const std::string ack = "SIGINT came during board 1 of 1, the last; it was finished";
    EXPECT_NE(result.err.find(ack), std::string::npos) << result.err;
    const std::string log = testsupport::read_text(path("romwright.log"));
    EXPECT_NE(log.find("Update succeeded.\n" + ack), std::string::npos) << log;
    EXPECT_FALSE(flash("dut") == before_);
}

} // namespace
} // namespace tooltest
