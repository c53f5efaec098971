// The update entry against the simulated machine: each programming path the
// driver's features choose, ending in "Update succeeded.".
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/romwright.h"
#include "tests/engine/callback_recorder.hpp"
#include "tests/support/process.hpp"
#include "tests/support/sim_machine.hpp"
#include "tests/support/temp_dir.hpp"
#include "zenapi/Zenapi.h"
#include "zenapi/zenapi_sim.h"

namespace {

using testsupport::CallbackRecorder;
using Line = CallbackRecorder::Line;

std::string board(const std::string &name, int kind, const std::string &features, const std::string &extra = "") {
    return "[[system.board]]\nname = \"" + name + "\"\nkind = " + std::to_string(kind) + "\nfeatures = " + features +
           "\n" + extra + "\n";
}

class Entry : public ::testing::Test {
protected:
    void SetUp() override {
        machine_ = std::make_unique<testsupport::SimMachine>(
            "[[system]]\n" + board("both", 35, "[2, 5]", "sector_size = 0x10000\n[system.board.upgrade]\npolls = 2\n") +
            board("sectors", 36, "[2]", "sector_size = 0x10000\n") +
            board("pages", 13, "[]",
                  "revision = \"1.3\"\ncpld = \"3.1\"\nksopc_signature = 0x04050000\nserial = 512001\n"
                  "[system.board.timing]\npage_erase_ms = 0\n"));
        machine_->with_trace();
        machine_->activate();
    }

    ROMWRIGHT_RC run(uint32_t board_id, const std::string &path) {
        return romwright_update_firmware(path.c_str(), KorvelGetBoardBySystemID(1, board_id),
                                         CallbackRecorder::on_operation, CallbackRecorder::on_progress,
                                         CallbackRecorder::on_log, nullptr, &recorder_);
    }

    std::string opaque_file(std::size_t size) {
        const std::string path = dir_.file("fw.rpd");
        testsupport::write_file(path, testsupport::pseudo_random_bytes(size, 17));
        return path;
    }

    std::unique_ptr<testsupport::SimMachine> machine_;
    testsupport::TempDir dir_{"entry"};
    CallbackRecorder recorder_;
};

TEST_F(Entry, BothServicesTakeTheFirmwareUpgrade) {
    ASSERT_EQ(run(1, opaque_file(0x20000)), ROMWRIGHT_RC_SUCCESS);
    EXPECT_EQ(ZenSimCallCount(1, 1, "KorvelFirmwareUpgradeStart"), 1u);
    EXPECT_EQ(ZenSimCallCount(1, 1, "KorvelFlashOpen"), 0u);
    EXPECT_EQ(ZenSimCallCount(1, 1, "KorvelSetParameter"), 0u);
    EXPECT_EQ(recorder_.lines.back(), (Line{ROMWRIGHT_LOG_INFO, "Update succeeded.\n"}));
}

TEST_F(Entry, FlashSectorServiceAlone) {
    ASSERT_EQ(run(2, opaque_file(0x20000)), ROMWRIGHT_RC_SUCCESS);
    EXPECT_EQ(ZenSimCallCount(1, 2, "KorvelFlashOpen"), 1u);
    EXPECT_EQ(ZenSimCallCount(1, 2, "KorvelFlashSectorWrite"), 2u);
    EXPECT_EQ(ZenSimCallCount(1, 2, "KorvelFirmwareUpgradeStart"), 0u);
    EXPECT_EQ(recorder_.lines.back(), (Line{ROMWRIGHT_LOG_INFO, "Update succeeded.\n"}));
}

TEST_F(Entry, NoServiceTakesTheRegisterPathWithTheLibraryLogOff) {
    const std::string path = dir_.file("fw-ZEN5120.rpd");
    const auto made = testsupport::run_process(testsupport::bin_path("romwright-mkimage"),
                                               {"--board", "ZEN5120", "--word2", "90", "--out", path});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    const ROMWRIGHT_RC rc = run(3, path);
    EXPECT_EQ(ZenSimCallCount(1, 3, "KorvelSetParameter"), 1u);
    EXPECT_EQ(ZenSimCallCount(1, 3, "KorvelFlashOpen"), 0u);
    EXPECT_EQ(ZenSimCallCount(1, 3, "KorvelFirmwareUpgradeStart"), 0u);
    // The library's own call logging went off before anything else was asked of the board.
    const auto trace = testsupport::read_lines(machine_->trace_path());
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.back().rfind("KorvelSetParameter(board=pages", 0), 0u) << trace.back();
    ASSERT_EQ(rc, ROMWRIGHT_RC_SUCCESS) << (recorder_.lines.empty() ? "" : recorder_.lines.back().text);
    EXPECT_EQ(recorder_.lines.back(), (Line{ROMWRIGHT_LOG_INFO, "Update succeeded.\n"}));
}

TEST_F(Entry, NullBoardAfterTheHeader) {
    const std::string path = opaque_file(10);
    EXPECT_EQ(romwright_update_firmware(path.c_str(), nullptr, CallbackRecorder::on_operation,
                                        CallbackRecorder::on_progress, CallbackRecorder::on_log, nullptr, &recorder_),
              ROMWRIGHT_RC_ERROR);
    ASSERT_EQ(recorder_.lines.size(), 7u);
    EXPECT_EQ(recorder_.lines[1].text, "Korvel Firmware Updater Version 3.5.3\n");
    EXPECT_EQ(recorder_.lines[4].text, "File size = 10\n");
    EXPECT_EQ(recorder_.lines[6], (Line{ROMWRIGHT_LOG_ERROR, "Board is null"}));
}

} // namespace
