// The driver-assisted paths, on two doubles of the device library. On the
// simulated machine: what reaches the board's flash, and what the callbacks
// see. On the scripted stand-in, where a test can dictate every answer of the
// firmware-upgrade service and every result of the flash-sector service, and
// time is simulated: the failures and their texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include <zenapi/Zenapi.h>
#include <zenapi/zenapi_sim.h>

#include "engine/core/clock.hpp"
#include "engine/flash/driver_paths.hpp"
#include "tests/engine/callback_recorder.hpp"
#include "tests/support/fake_zenapi.hpp"
#include "tests/support/sim_machine.hpp"
#include "tests/support/simulated_clock.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

using testsupport::CallbackRecorder;

constexpr uint32_t kFlashSize = 0x100000;

std::string sector_board(const std::string &extra = "") {
    return "[[system]]\n[[system.board]]\nname = \"s1\"\nkind = 36\nfeatures = [2]\nflash_size = 0x100000\n"
           "sector_size = 0x10000\n" + extra;
}

std::string fault(const std::string &body) { return "[[system.board.fault]]\n" + body + "\n"; }

class FlashService : public ::testing::Test {
protected:
    void start(const std::string &toml, std::size_t file_size) {
        machine_ = std::make_unique<testsupport::SimMachine>(toml);
        machine_->activate();
        image_ = testsupport::pseudo_random_bytes(file_size, 21);
        testsupport::write_file(path_, image_);
    }

    std::string run() {
        try {
            romwright::UpdateThroughFlashService(path_, KorvelGetBoardBySystemID(1, 1), CallbackRecorder::on_operation,
                                                 CallbackRecorder::on_progress, CallbackRecorder::on_log, &recorder_,
                                                 clock_);
        } catch (const std::exception &error) {
            return error.what();
        }
        return "";
    }

    uint64_t calls(const char *name) const { return ZenSimCallCount(1, 1, name); }
    std::vector<uint8_t> flash() const {
        std::vector<uint8_t> bytes(kFlashSize);
        EXPECT_EQ(ZenSimReadFlash(1, 1, 0, bytes.data(), bytes.size()), 0);
        return bytes;
    }

    std::unique_ptr<testsupport::SimMachine> machine_;
    testsupport::TempDir dir_{"flash-service"};
    std::string path_ = dir_.file("fw-ZEN5191.rpd");
    std::vector<uint8_t> image_;
    CallbackRecorder recorder_;
    testsupport::SimulatedClock clock_;
};

TEST_F(FlashService, OneByteOverASectorTakesTwoSectors) {
    start(sector_board(), 0x10001);
    ASSERT_EQ(run(), "");
    EXPECT_EQ(calls("KorvelFlashSectorWrite"), 2u);
    EXPECT_EQ(calls("KorvelFlashSectorRead"), 3u);  // the last sector once before writing, then both
    EXPECT_EQ(calls("KorvelFlashClose"), 1u);
    EXPECT_EQ(recorder_.progress, (std::vector<float>{0.5f, 1.0f, 0.5f, 1.0f}));
    EXPECT_EQ(recorder_.operations,
              (std::vector<ROMWRIGHT_OPERATION>{ROMWRIGHT_OPERATION_WRITING, ROMWRIGHT_OPERATION_VERIFYING}));
    EXPECT_EQ(recorder_.order, "oppoppl");
    EXPECT_EQ(recorder_.lines, (std::vector<CallbackRecorder::Line>{{ROMWRIGHT_LOG_INFO, "Board update time = 0s\n"}}));

    const std::vector<uint8_t> now = flash();
    EXPECT_TRUE(std::equal(image_.begin(), image_.end(), now.begin()));
    EXPECT_TRUE(std::all_of(now.begin() + 0x10001, now.begin() + 0x20000, [](uint8_t b) { return b == 0x00; }));
    EXPECT_TRUE(std::all_of(now.begin() + 0x20000, now.end(), [](uint8_t b) { return b == 0xFF; }));
}

// An empty file is no firmware: refused before the service is opened.
TEST_F(FlashService, EmptyFileIsRefusedBeforeTheServiceIsOpened) {
    start(sector_board(), 0);
    EXPECT_EQ(run(), "Update Flash image failed");
    EXPECT_EQ(recorder_.texts(ROMWRIGHT_LOG_ERROR),
              std::vector<std::string>{"Error: Firmware file " + path_ + " is not a regular, non-empty file\n"});
    EXPECT_EQ(calls("KorvelFlashOpen"), 0u);
    EXPECT_EQ(calls("KorvelFlashSectorWrite"), 0u);
    EXPECT_TRUE(recorder_.progress.empty());
    const std::vector<uint8_t> now = flash();
    EXPECT_TRUE(std::all_of(now.begin(), now.end(), [](uint8_t b) { return b == 0xFF; }));
}

// The last sector the file needs is read before the first write; a flash
// without it is refused untouched, and the service closed.
TEST_F(FlashService, FileLargerThanTheFlashIsRefusedBeforeWriting) {
    start(sector_board(), kFlashSize + 0x10001);
    EXPECT_EQ(run(), "Update Flash image failed");
    EXPECT_EQ(recorder_.texts(ROMWRIGHT_LOG_ERROR),
              std::vector<std::string>{"Error: Firmware file of 1114113 bytes is larger than the board's flash: sector "
                                       "17 (65536 bytes from 0x00110000) does not exist (Read sector failed, Flash "
                                       "invalid parameter)\n"});
    EXPECT_EQ(calls("KorvelFlashSectorRead"), 1u);
    EXPECT_EQ(calls("KorvelFlashSectorWrite"), 0u);
    EXPECT_EQ(calls("KorvelFlashClose"), 1u);
    EXPECT_TRUE(recorder_.operations.empty());
    const std::vector<uint8_t> now = flash();
    EXPECT_TRUE(std::all_of(now.begin(), now.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST_F(FlashService, FileAsLargeAsTheFlashIsWritten) {
    start(sector_board(), kFlashSize);
    ASSERT_EQ(run(), "");
    EXPECT_EQ(calls("KorvelFlashSectorWrite"), 16u);
    EXPECT_EQ(flash(), image_);
}

TEST_F(FlashService, VerifyStopsAtTheFirstBadSector) {
    start(sector_board(fault("type = \"readback\"\naddress = 0x10010")), 0x30000);
    EXPECT_EQ(run(), "Update Flash image failed");
    EXPECT_EQ(recorder_.texts(ROMWRIGHT_LOG_ERROR), std::vector<std::string>{"Verify image failed\n"});
    EXPECT_EQ(calls("KorvelFlashSectorRead"), 3u);  // the last sector before writing, then sectors 0 and 1
    EXPECT_EQ(calls("KorvelFlashClose"), 1u);
    EXPECT_EQ(recorder_.progress, (std::vector<float>{1.0f / 3, 2.0f / 3, 1.0f, 1.0f / 3}));
}

TEST_F(FlashService, WriteStatusNamesTheFlashStatus) {
    start(sector_board(fault("type = \"flash_write_status\"\nsector = 1\nstatus = 4")), 0x30000);
    EXPECT_EQ(run(), "Update Flash image failed");
    EXPECT_EQ(recorder_.texts(ROMWRIGHT_LOG_ERROR), std::vector<std::string>{"Write sector failed, Flash program failed\n"});
    EXPECT_EQ(calls("KorvelFlashSectorWrite"), 2u);
    EXPECT_EQ(calls("KorvelFlashSectorRead"), 1u);  // only the last sector, before writing
    EXPECT_EQ(calls("KorvelFlashClose"), 1u);
}

TEST_F(FlashService, ReadStatusNamesTheFlashStatus) {
    start(sector_board(fault("type = \"flash_read_status\"\nsector = 0\nstatus = 2")), 0x30000);
    EXPECT_EQ(run(), "Update Flash image failed");
    EXPECT_EQ(recorder_.texts(ROMWRIGHT_LOG_ERROR), std::vector<std::string>{"Read sector failed, Flash busy tmout\n"});
    EXPECT_EQ(calls("KorvelFlashClose"), 1u);
}

TEST_F(FlashService, ZeroSectorSizeIsRefused) {
    start(sector_board(fault("type = \"zero_sector_size\"")), 0x30000);
    EXPECT_EQ(run(), "Update Flash image failed");
    EXPECT_EQ(recorder_.texts(ROMWRIGHT_LOG_ERROR), std::vector<std::string>{"Flash service reported a sector size of 0\n"});
    EXPECT_EQ(calls("KorvelFlashSectorWrite"), 0u);
    EXPECT_EQ(calls("KorvelFlashClose"), 1u);
}

TEST_F(FlashService, FailedOpenIsReportedAndNotClosed) {
    start(sector_board(fault("type = \"call\"\ncall = \"KorvelFlashOpen\"\ncode = 513")), 0x30000);
    EXPECT_EQ(run(), "Update Flash image failed");
    const auto errors = recorder_.texts(ROMWRIGHT_LOG_ERROR);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("Unable to open Flash, Flash ", 0), 0u) << errors[0];
    EXPECT_EQ(calls("KorvelFlashClose"), 0u);
}

TEST_F(FlashService, MissingFileNamesThePath) {
    start(sector_board(), 0);
    path_ = dir_.file("absent-ZEN5191.rpd");
    EXPECT_EQ(run(), "Update Flash image failed");
    EXPECT_EQ(recorder_.texts(ROMWRIGHT_LOG_ERROR), std::vector<std::string>{"Could not open file " + path_ + "\n"});
    EXPECT_EQ(calls("KorvelFlashOpen"), 0u);
}

TEST(FlashStatusName, EveryStatusAndBeyond) {
    const char *const names[] = {"Flash idle",           "Flash busy",           "Flash busy tmout",
                                 "Flash erase failed",   "Flash program failed", "Flash protect failed",
                                 "Flash invalid parameter", "Flash unsupported"};
    for (uint32_t status = 0; status < 8; ++status) EXPECT_STREQ(romwright::FlashStatusName(status), names[status]);
    EXPECT_STREQ(romwright::FlashStatusName(8), "?");
    EXPECT_STREQ(romwright::FlashStatusName(0xFFFFFFFF), "?");
}

class Upgrade : public ::testing::Test {
protected:
    void start(int polls, int end_status, int end_percent) {
        machine_ = std::make_unique<testsupport::SimMachine>(
            "[[system]]\n[[system.board]]\nname = \"u1\"\nkind = 35\nfeatures = [5]\n[system.board.upgrade]\npolls = " +
            std::to_string(polls) + "\nend_status = " + std::to_string(end_status) +
            "\nend_percent = " + std::to_string(end_percent) + "\n");
        machine_->activate();
        image_ = testsupport::pseudo_random_bytes(0x24680, 4);
        testsupport::write_file(path_, image_);
    }
    std::string run() {
        try {
            romwright::UpgradeThroughDriver(path_, KorvelGetBoardBySystemID(1, 1), CallbackRecorder::on_operation,
                                            CallbackRecorder::on_progress, CallbackRecorder::on_log, &recorder_, clock_);
        } catch (const std::exception &error) {
            return error.what();
        }
        return "";
    }

    std::unique_ptr<testsupport::SimMachine> machine_;
    testsupport::TempDir dir_{"upgrade"};
    std::string path_ = dir_.file("fw-ZEN5190.rpd");
    std::vector<uint8_t> image_;
    CallbackRecorder recorder_;
    testsupport::SimulatedClock clock_;
};

TEST_F(Upgrade, FollowsTheServiceToTheEnd) {
    start(6, 2, 100);
    ASSERT_EQ(run(), "");
    EXPECT_EQ(recorder_.operations, std::vector<ROMWRIGHT_OPERATION>{ROMWRIGHT_OPERATION_WRITING});
    ASSERT_EQ(recorder_.progress.size(), 7u);
    EXPECT_TRUE(std::is_sorted(recorder_.progress.begin(), recorder_.progress.end()));
    EXPECT_EQ(recorder_.progress.back(), 1.0f);
    EXPECT_EQ(clock_.sleeps(), 6u);
    EXPECT_EQ(recorder_.lines, (std::vector<CallbackRecorder::Line>{{ROMWRIGHT_LOG_INFO, "Board update time = 0s\n"}}));
    std::vector<uint8_t> now(image_.size());
    ASSERT_EQ(ZenSimReadFlash(1, 1, 0, now.data(), now.size()), 0);
    EXPECT_EQ(now, image_);
}

TEST_F(Upgrade, StatusThreeAtAPercentFails) {
    start(3, 3, 40);
    EXPECT_EQ(run(), "Upgrade firmware failed");
    EXPECT_EQ(recorder_.progress.back(), 0.4f);
    EXPECT_EQ(recorder_.texts(ROMWRIGHT_LOG_ERROR),
              (std::vector<std::string>{"Firmware upgrade failed\n", "Upgrade firmware failed\n"}));
}

TEST_F(Upgrade, StatusZeroFails) {
    start(0, 0, 0);
    EXPECT_EQ(run(), "Upgrade firmware failed");
    EXPECT_EQ(recorder_.progress, std::vector<float>{0.0f});
    EXPECT_TRUE(recorder_.has_line(ROMWRIGHT_LOG_ERROR, "Firmware upgrade failed\n"));
}

// ---------------------------------------------------------------------------
// The same unit on the scripted stand-in.

using testsupport::CallbackRecorder;

constexpr uint32_t kInProgress = 1;
constexpr uint32_t kSucceeded = 2;
constexpr uint32_t kAborted = 3;

class UpgradeFake : public ::testing::Test {
protected:
    // First member, so that every call of a case, its members' construction
    // and destruction included, goes to the scripted stand-in.
    fakezen::ScriptedLibrary scripted_;

    void SetUp() override {
        fakezen::library().reset();
        board_ = &fakezen::library().add_board(1);
        board_->features[0] = 1u << 5;
        image_ = testsupport::pseudo_random_bytes(5000, 3);
        testsupport::write_file(path_, image_);
    }

    void script(uint32_t status, uint32_t percent, std::size_t times = 1) {
        for (std::size_t i = 0; i < times; ++i) board_->upgrade_script.emplace_back(status, percent);
    }

    // Runs the path; returns the text it raised, or "" when it returned.
    std::string run() {
        try {
            romwright::UpgradeThroughDriver(path_, board_, CallbackRecorder::on_operation,
                                            CallbackRecorder::on_progress, CallbackRecorder::on_log, &recorder_,
                                            clock_);
        } catch (const std::exception &error) {
            return error.what();
        }
        return "";
    }

    testsupport::TempDir dir_{"upgrade"};
    std::string path_ = dir_.file("ZEN5190.rpd");
    std::vector<uint8_t> image_;
    fakezen::Board *board_ = nullptr;
    CallbackRecorder recorder_;
    testsupport::SimulatedClock clock_;
};

TEST_F(UpgradeFake, ProgressOnEveryPollUntilSuccess) {
    script(kInProgress, 10);
    script(kInProgress, 40);
    script(kInProgress, 70);
    // then the fake answers (2, 100)
    EXPECT_EQ(run(), "");
    EXPECT_EQ(recorder_.operations, std::vector<ROMWRIGHT_OPERATION>{ROMWRIGHT_OPERATION_WRITING});
    EXPECT_EQ(recorder_.progress, (std::vector<float>{0.1f, 0.4f, 0.7f, 1.0f}));
    EXPECT_EQ(recorder_.order, "oppppl");
    EXPECT_EQ(clock_.sleeps(), 3u);  // one 1 ms pause after each busy answer
    EXPECT_EQ(clock_.slept_ms(), 3u);
    ASSERT_EQ(recorder_.lines.size(), 1u);
    EXPECT_EQ(recorder_.lines[0].level, ROMWRIGHT_LOG_INFO);
    EXPECT_EQ(recorder_.lines[0].text, "Board update time = 0s\n");
    EXPECT_EQ(board_->upgrade_image, image_);
}

TEST_F(UpgradeFake, ElapsedTimeIsReportedInWholeSeconds) {
    script(kInProgress, 50, 2500);
    EXPECT_EQ(run(), "");
    EXPECT_TRUE(recorder_.has_line(ROMWRIGHT_LOG_INFO, "Board update time = 2s\n"));
}

TEST_F(UpgradeFake, FinalStatusThreeFailsWithTwoLines) {
    script(kInProgress, 20);
    script(kAborted, 35);
    EXPECT_EQ(run(), "Upgrade firmware failed");
    EXPECT_EQ(recorder_.lines, (std::vector<CallbackRecorder::Line>{{ROMWRIGHT_LOG_ERROR, "Firmware upgrade failed\n"},
                                                                     {ROMWRIGHT_LOG_ERROR, "Upgrade firmware failed\n"}}));
    EXPECT_EQ(recorder_.progress, (std::vector<float>{0.2f, 0.35f}));
}

TEST_F(UpgradeFake, FinalStatusZeroFailsToo) {
    script(0, 0);
    EXPECT_EQ(run(), "Upgrade firmware failed");
    EXPECT_TRUE(recorder_.has_line(ROMWRIGHT_LOG_ERROR, "Firmware upgrade failed\n"));
}

TEST_F(UpgradeFake, StatusOutsideItsRangeIsInvalidData) {
    script(7, 10);
    EXPECT_EQ(run(), "Upgrade firmware failed");
    EXPECT_EQ(recorder_.texts(ROMWRIGHT_LOG_ERROR),
              std::vector<std::string>{"[from_c] Error: invalid firwmare upgrade status 7 failed with error Invalid data\n"});
}

TEST_F(UpgradeFake, StartFailureIsLoggedWithTheCallName) {
    fakezen::library().fail_call("KorvelFirmwareUpgradeStart", fakezen::kInvalidHandle);
    EXPECT_EQ(run(), "Upgrade firmware failed");
    EXPECT_EQ(recorder_.texts(ROMWRIGHT_LOG_ERROR),
              std::vector<std::string>{"KorvelFirmwareUpgradeStart failed with error Invalid handle\n"});
    EXPECT_TRUE(recorder_.operations.empty());
    EXPECT_EQ(fakezen::library().call_count("KorvelFirmwareUpgradeExecAndGetStatus"), 0u);
}

TEST_F(UpgradeFake, UnknownReturnCodeOfAStatusQueryIsInvalidData) {
    fakezen::library().fail_call("KorvelFirmwareUpgradeExecAndGetStatus", 700, 2);
    script(kInProgress, 5, 3);
    EXPECT_EQ(run(), "Upgrade firmware failed");
    EXPECT_EQ(recorder_.texts(ROMWRIGHT_LOG_ERROR),
              std::vector<std::string>{
                  "[from_c] Error: invalid return code 700 (unknown code) failed with error Invalid data\n"});
}

TEST_F(UpgradeFake, PercentAboveHundredShowsAsWhole) {
    script(kInProgress, 250);
    EXPECT_EQ(run(), "");
    EXPECT_EQ(recorder_.progress.front(), 1.0f);
}

TEST_F(UpgradeFake, UnreadableFileIsAnErrorNotAnEmptyImage) {
    path_ = dir_.file("missing-ZEN5190.rpd");
    EXPECT_EQ(run(), "Upgrade firmware failed");
    EXPECT_EQ(recorder_.texts(ROMWRIGHT_LOG_ERROR), std::vector<std::string>{"Could not open file " + path_ + "\n"});
    EXPECT_EQ(fakezen::library().call_count("KorvelFirmwareUpgradeStart"), 0u);
}

TEST_F(UpgradeFake, StuckDriverTimesOutAfterTenMinutesWithoutChange) {
    fakezen::library().recording = false;
    script(kInProgress, 50, 700'000);
    EXPECT_EQ(run(), "Upgrade firmware failed");
    EXPECT_EQ(recorder_.texts(ROMWRIGHT_LOG_ERROR),
              std::vector<std::string>{
                  "Firmware upgrade stalled: KorvelFirmwareUpgradeExecAndGetStatus reported 50% for 600 s\n"});
    // Gave up at the limit, not before and not long after.
    EXPECT_GE(clock_.slept_ms(), 600'000u);
    EXPECT_LE(clock_.slept_ms(), 600'010u);
    EXPECT_LT(board_->upgrade_script.size(), 100'010u);
}

TEST_F(UpgradeFake, SlowButMovingDriverIsFollowedToTheEnd) {
    fakezen::library().recording = false;
    script(kInProgress, 10, 500'000);
    script(kInProgress, 11, 500'000);
    script(kSucceeded, 100);
    EXPECT_EQ(run(), "");
    EXPECT_EQ(clock_.slept_ms(), 1'000'000u);
    EXPECT_TRUE(recorder_.has_line(ROMWRIGHT_LOG_INFO, "Board update time = 1000s\n"));
}

TEST_F(UpgradeFake, WorksWithoutLogCallback) {
    script(kAborted, 0);
    EXPECT_THROW(romwright::UpgradeThroughDriver(path_, board_, nullptr, nullptr, nullptr, nullptr, clock_),
                 std::runtime_error);
}

class FlashServiceFake : public ::testing::Test {
protected:
    // First member, so that every call of a case, its members' construction
    // and destruction included, goes to the scripted stand-in.
    fakezen::ScriptedLibrary scripted_;

    void SetUp() override {
        fakezen::library().reset();
        board_ = &fakezen::library().add_board(1);
        board_->features[0] = 1u << 2;
        board_->service_sector_size = 0x1000;
        image_ = testsupport::pseudo_random_bytes(0x2800, 9);
        testsupport::write_file(path_, image_);
    }

    std::string run() {
        try {
            romwright::UpdateThroughFlashService(path_, board_, CallbackRecorder::on_operation,
                                                 CallbackRecorder::on_progress, CallbackRecorder::on_log, &recorder_,
                                                 clock_);
        } catch (const std::exception &error) {
            return error.what();
        }
        return "";
    }

    testsupport::TempDir dir_{"flash-service"};
    std::string path_ = dir_.file("ZEN5191.rpd");
    std::vector<uint8_t> image_;
    fakezen::Board *board_ = nullptr;
    CallbackRecorder recorder_;
    testsupport::SimulatedClock clock_;
};

TEST_F(FlashServiceFake, ZeroSectorSizeIsRefusedAndTheServiceClosed) {
    board_->service_sector_size = 0;
    EXPECT_EQ(run(), "Update Flash image failed");
    EXPECT_EQ(recorder_.texts(ROMWRIGHT_LOG_ERROR),
              std::vector<std::string>{"Flash service reported a sector size of 0\n"});
    EXPECT_EQ(fakezen::library().call_count("KorvelFlashSectorWrite"), 0u);
    EXPECT_EQ(fakezen::library().call_count("KorvelFlashClose"), 1u);
    EXPECT_FALSE(board_->service_open);
}

TEST_F(FlashServiceFake, SectorSizesNoFlashHasAreRefusedBeforeAnyBufferIsSized) {
    board_->service_sector_size = 0xFFFFFFFF;
    EXPECT_EQ(run(), "Update Flash image failed");
    EXPECT_EQ(recorder_.texts(ROMWRIGHT_LOG_ERROR),
              std::vector<std::string>{"Flash service reported a sector size of 4294967295 bytes\n"});
    EXPECT_EQ(fakezen::library().call_count("KorvelFlashSectorWrite"), 0u);
    EXPECT_FALSE(board_->service_open);
}

TEST_F(FlashServiceFake, FailedWriteClosesTheService) {
    fakezen::library().fail_call("KorvelFlashSectorWrite", fakezen::kFailed, 2);
    EXPECT_EQ(run(), "Update Flash image failed");
    EXPECT_EQ(fakezen::library().call_count("KorvelFlashClose"), 1u);
    EXPECT_FALSE(board_->service_open);
    EXPECT_EQ(fakezen::library().call_count("KorvelFlashSectorRead"), 1u);  // only the size check before writing
}

TEST_F(FlashServiceFake, RefusedCloseAfterAFailureDoesNotHideIt) {
    // The first read checks the flash's size; the second is the first of the verify.
    fakezen::library().fail_call("KorvelFlashSectorRead", fakezen::kFailed, 2);
    fakezen::library().fail_call("KorvelFlashClose", fakezen::kInvalidHandle);
    EXPECT_EQ(run(), "Update Flash image failed");
    const std::string close_text = std::string("Unable to close flash, ") + KorvelErrorToText(fakezen::kInvalidHandle) + "\n";
    ASSERT_EQ(recorder_.lines.size(), 2u);
    EXPECT_EQ(recorder_.lines[0].level, ROMWRIGHT_LOG_ERROR);
    EXPECT_EQ(recorder_.lines[0].text.rfind("Read sector failed, ", 0), 0u) << recorder_.lines[0].text;
    EXPECT_EQ(recorder_.lines[1], (CallbackRecorder::Line{ROMWRIGHT_LOG_WARNING, close_text}));
}

TEST_F(FlashServiceFake, RefusedCloseAfterSuccessFailsTheUpdate) {
    fakezen::library().fail_call("KorvelFlashClose", fakezen::kInvalidHandle);
    EXPECT_EQ(run(), "Update Flash image failed");
    const std::string close_text = std::string("Unable to close flash, ") + KorvelErrorToText(fakezen::kInvalidHandle) + "\n";
    EXPECT_EQ(recorder_.texts(ROMWRIGHT_LOG_ERROR), std::vector<std::string>{close_text});
    EXPECT_EQ(fakezen::library().call_count("KorvelFlashClose"), 1u);  // not tried twice
}

TEST_F(FlashServiceFake, FailedOpenDoesNotClose) {
    fakezen::library().fail_call("KorvelFlashOpen", fakezen::kFailed);
    EXPECT_EQ(run(), "Update Flash image failed");
    EXPECT_EQ(recorder_.texts(ROMWRIGHT_LOG_ERROR), std::vector<std::string>{"Unable to open Flash, Flash idle\n"});
    EXPECT_EQ(fakezen::library().call_count("KorvelFlashClose"), 0u);
}

TEST_F(FlashServiceFake, WritesEverySectorOnceInOrder) {
    EXPECT_EQ(run(), "");
    std::vector<uint64_t> sectors;
    for (const auto &call : fakezen::library().calls())
        if (call.name == "KorvelFlashSectorWrite") sectors.push_back(call.args.at(0));
    EXPECT_EQ(sectors, (std::vector<uint64_t>{0, 1, 2}));
    EXPECT_EQ(recorder_.progress, (std::vector<float>{1.0f / 3, 2.0f / 3, 1.0f, 1.0f / 3, 2.0f / 3, 1.0f}));
    EXPECT_EQ(recorder_.operations,
              (std::vector<ROMWRIGHT_OPERATION>{ROMWRIGHT_OPERATION_WRITING, ROMWRIGHT_OPERATION_VERIFYING}));
}

} // namespace
