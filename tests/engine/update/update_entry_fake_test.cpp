// The update entry against the scripted library: the log header, the null
// board, the path chosen by driver features, and that nothing escapes.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <romwright/options.hpp>
#include <romwright/romwright.h>

#include "tests/engine/callback_recorder.hpp"
#include "tests/support/fake_zenapi.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

using testsupport::CallbackRecorder;
using Line = CallbackRecorder::Line;

// Adler-32 written out here so the engine's checksum is checked against
// something other than the library it uses.
struct Adler {
    uint32_t a = 1, b = 0;
    void add(const std::vector<uint8_t> &bytes) {
        for (uint8_t byte : bytes) {
            a = (a + byte) % 65521;
            b = (b + a) % 65521;
        }
    }
    uint32_t value() const { return (b << 16) | a; }
};

std::vector<Line> header(const std::string &path, uint64_t size, uint32_t checksum) {
    const std::string dashes = "-------------------------------------\n";
    return {
        {ROMWRIGHT_LOG_INFO, dashes},
        {ROMWRIGHT_LOG_INFO, "Korvel Firmware Updater Version 3.5.3\n"},
        {ROMWRIGHT_LOG_INFO, dashes},
        {ROMWRIGHT_LOG_INFO, "Firmware file = " + path + "\n"},
        {ROMWRIGHT_LOG_INFO, fmt::format("File size = {}\n", size)},
        {ROMWRIGHT_LOG_INFO, fmt::format("File checksum = {:08x}\n", checksum)},
    };
}

std::vector<Line> first(const std::vector<Line> &lines, std::size_t count) {
    return {lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(std::min(count, lines.size()))};
}

class EntryFake : public ::testing::Test {
protected:
    void SetUp() override {
        fakezen::library().reset();
        board_ = &fakezen::library().add_board(1);
        image_ = testsupport::pseudo_random_bytes(3000, 5);
        testsupport::write_file(path_, image_);
    }

    void offer(std::initializer_list<int> features) {
        for (int feature : features) board_->features[feature / 8] |= static_cast<uint8_t>(1u << (feature % 8));
    }

    ROMWRIGHT_RC run(void *board, const romwright_options_record *options = nullptr, bool with_log = true) {
        return romwright_update_firmware(path_.c_str(), board, CallbackRecorder::on_operation,
                                         CallbackRecorder::on_progress,
                                         with_log ? CallbackRecorder::on_log : nullptr, options, &recorder_);
    }
    ROMWRIGHT_RC run() { return run(board_); }

    uint32_t calls(const char *name) const { return fakezen::library().call_count(name); }

    testsupport::TempDir dir_{"entry"};
    std::string path_ = dir_.file("ZEN5190 image.rpd");
    std::vector<uint8_t> image_;
    fakezen::Board *board_ = nullptr;
    CallbackRecorder recorder_;
};

TEST_F(EntryFake, HeaderGivesVersionPathSizeAndChecksum) {
    offer({5});
    ASSERT_EQ(run(), ROMWRIGHT_RC_SUCCESS);
    Adler adler;
    adler.add(image_);
    EXPECT_EQ(first(recorder_.lines, 6), header(path_, image_.size(), adler.value()));
    EXPECT_EQ(recorder_.lines.back(), (Line{ROMWRIGHT_LOG_INFO, "Update succeeded.\n"}));
}

// An empty file is no firmware: the header names it and the refusal follows.
TEST_F(EntryFake, EmptyFileIsRefusedAfterTheFileLine) {
    testsupport::write_file(path_, {});
    offer({5});
    ASSERT_EQ(run(), ROMWRIGHT_RC_ERROR);
    auto expected = first(header(path_, 0, 1), 4);
    expected.push_back(Line{ROMWRIGHT_LOG_ERROR, "Error: Firmware file " + path_ + " is not a regular, non-empty file"});
    EXPECT_EQ(recorder_.lines, expected);
    EXPECT_EQ(calls("KorvelGetSupportedDriverFeatures"), 0u);
}

TEST_F(EntryFake, NullBoardAfterTheHeader) {
    EXPECT_EQ(run(nullptr), ROMWRIGHT_RC_ERROR);
    ASSERT_EQ(recorder_.lines.size(), 7u);
    EXPECT_EQ(recorder_.lines[6], (Line{ROMWRIGHT_LOG_ERROR, "Board is null"}));
    EXPECT_TRUE(fakezen::library().calls().empty());
}

// The stand-in library is linked into this test program; it is no
// simulator and does not claim to be, so the header is the six lines that
// tools reading these logs expect, and the driver's answer follows it.
TEST_F(EntryFake, HeaderOfAnotherLibraryIsSixLines) {
    offer({5});
    ASSERT_EQ(run(), ROMWRIGHT_RC_SUCCESS);
    ASSERT_GE(recorder_.lines.size(), 7u);
    Adler adler;
    adler.add(image_);
    EXPECT_EQ(first(recorder_.lines, 6), header(path_, image_.size(), adler.value()));
    EXPECT_EQ(recorder_.lines[6].text.rfind("Device library", 0), std::string::npos) << recorder_.lines[6].text;
}

TEST_F(EntryFake, MissingFileWithLogCallbackStopsAtTheHeader) {
    path_ = dir_.file("absent-ZEN5190.rpd");
    offer({5});
    EXPECT_EQ(run(), ROMWRIGHT_RC_ERROR);
    ASSERT_EQ(recorder_.lines.size(), 5u);
    EXPECT_EQ(recorder_.lines[3], (Line{ROMWRIGHT_LOG_INFO, "Firmware file = " + path_ + "\n"}));
    EXPECT_EQ(recorder_.lines[4], (Line{ROMWRIGHT_LOG_ERROR, "Could not open file"}));
    EXPECT_EQ(calls("KorvelGetSupportedDriverFeatures"), 0u);
}

TEST_F(EntryFake, WithoutLogCallbackTheFileIsFirstMetByThePath) {
    path_ = dir_.file("absent-ZEN5190.rpd");
    offer({5});
    EXPECT_EQ(run(board_, nullptr, false), ROMWRIGHT_RC_ERROR);
    EXPECT_TRUE(recorder_.lines.empty());
    EXPECT_EQ(calls("KorvelGetSupportedDriverFeatures"), 1u);
    EXPECT_EQ(calls("KorvelFirmwareUpgradeStart"), 0u);
}

TEST_F(EntryFake, WithoutLogCallbackASuccessIsSilent) {
    offer({5});
    EXPECT_EQ(run(board_, nullptr, false), ROMWRIGHT_RC_SUCCESS);
    EXPECT_TRUE(recorder_.lines.empty());
    EXPECT_EQ(board_->flash_bytes().size(), 0x800000u);
    EXPECT_TRUE(std::equal(image_.begin(), image_.end(), board_->flash_bytes().begin()));
}

TEST_F(EntryFake, BothServicesTakeTheFirmwareUpgrade) {
    offer({2, 5});
    EXPECT_EQ(run(), ROMWRIGHT_RC_SUCCESS);
    EXPECT_EQ(calls("KorvelFirmwareUpgradeStart"), 1u);
    EXPECT_EQ(calls("KorvelFlashOpen"), 0u);
    EXPECT_EQ(calls("KorvelSetParameter"), 0u);
}

TEST_F(EntryFake, FlashSectorServiceAlone) {
    offer({2});
    EXPECT_EQ(run(), ROMWRIGHT_RC_SUCCESS);
    EXPECT_EQ(calls("KorvelFirmwareUpgradeStart"), 0u);
    EXPECT_EQ(calls("KorvelFlashOpen"), 1u);
    EXPECT_EQ(calls("KorvelFlashClose"), 1u);
    EXPECT_EQ(recorder_.lines.back(), (Line{ROMWRIGHT_LOG_INFO, "Update succeeded.\n"}));
}

TEST_F(EntryFake, OtherFeaturesLeaveTheRegisterPath) {
    offer({0, 1, 3, 4, 6, 7, 8, 511});
    run();
    EXPECT_EQ(calls("KorvelFirmwareUpgradeStart"), 0u);
    EXPECT_EQ(calls("KorvelFlashOpen"), 0u);
    ASSERT_EQ(calls("KorvelSetParameter"), 1u);
    for (const auto &call : fakezen::library().calls()) {
        if (call.name != "KorvelSetParameter") continue;
        EXPECT_EQ(call.board, board_);
        EXPECT_EQ(call.args, (std::vector<uint64_t>{0, 0x10000090, 0}));
    }
}

TEST_F(EntryFake, RefusedApiLoggingSwitchIsOnlyAWarning) {
    fakezen::library().fail_call("KorvelSetParameter", fakezen::kFailed);
    run();
    const auto warning = std::find(recorder_.lines.begin(), recorder_.lines.end(),
                                   Line{ROMWRIGHT_LOG_WARNING, "Disabling API logging failed"});
    ASSERT_NE(warning, recorder_.lines.end());
    // The update went on: the register path had its say after the warning.
    EXPECT_NE(warning + 1, recorder_.lines.end());
}

TEST_F(EntryFake, FeatureQueryFailureIsTheBindingsText) {
    fakezen::library().fail_call("KorvelGetSupportedDriverFeatures", fakezen::kInvalidHandle);
    EXPECT_EQ(run(), ROMWRIGHT_RC_ERROR);
    EXPECT_EQ(recorder_.lines.back(),
              (Line{ROMWRIGHT_LOG_ERROR, "KorvelGetSupportedDriverFeatures failed with error Invalid handle"}));
}

TEST_F(EntryFake, FailedUpgradeEndsWithThreeErrorLines) {
    offer({5});
    board_->upgrade_script.emplace_back(3, 40);
    EXPECT_EQ(run(), ROMWRIGHT_RC_ERROR);
    EXPECT_EQ(recorder_.texts(ROMWRIGHT_LOG_ERROR),
              (std::vector<std::string>{"Firmware upgrade failed\n", "Upgrade firmware failed\n", "Upgrade firmware failed"}));
    EXPECT_FALSE(recorder_.has_line(ROMWRIGHT_LOG_INFO, "Update succeeded.\n"));
}

TEST_F(EntryFake, MissingOptionsBehaveLikeTheDefaults) {
    offer({5});
    romwright::options defaults;
    EXPECT_EQ(run(board_, nullptr), ROMWRIGHT_RC_SUCCESS);
    CallbackRecorder with_defaults;
    fakezen::library().reset();
    board_ = &fakezen::library().add_board(1);
    offer({5});
    EXPECT_EQ(romwright_update_firmware(path_.c_str(), board_, CallbackRecorder::on_operation,
                                        CallbackRecorder::on_progress, CallbackRecorder::on_log, defaults.record(),
                                        &with_defaults),
              ROMWRIGHT_RC_SUCCESS);
    // Same lines, the elapsed time apart (a second may tick over between the runs).
    const auto without_time = [](std::vector<Line> lines) {
        lines.erase(std::remove_if(lines.begin(), lines.end(),
                                   [](const Line &line) { return line.text.rfind("Board update time", 0) == 0; }),
                    lines.end());
        return lines;
    };
    EXPECT_EQ(without_time(with_defaults.lines), without_time(recorder_.lines));
    EXPECT_EQ(with_defaults.progress, recorder_.progress);
}

// A callback that throws must not take the entry down with it.
struct Thrower {
    static void operation(ROMWRIGHT_OPERATION, void *) { throw std::runtime_error("operation callback broke"); }
    static void progress(float, void *) { throw 42; }
    static void log(ROMWRIGHT_LOG_LEVEL, const char *, void *) { throw std::runtime_error("log callback broke"); }
};

TEST_F(EntryFake, ThrowingOperationCallbackIsAnError) {
    offer({5});
    EXPECT_EQ(romwright_update_firmware(path_.c_str(), board_, Thrower::operation, CallbackRecorder::on_progress,
                                        CallbackRecorder::on_log, nullptr, &recorder_),
              ROMWRIGHT_RC_ERROR);
    EXPECT_EQ(recorder_.lines.back(), (Line{ROMWRIGHT_LOG_ERROR, "Upgrade firmware failed"}));
    EXPECT_TRUE(recorder_.has_line(ROMWRIGHT_LOG_ERROR, "operation callback broke\n"));
}

TEST_F(EntryFake, NonStandardThrowIsAnUnknownError) {
    offer({2});
    EXPECT_EQ(romwright_update_firmware(path_.c_str(), board_, CallbackRecorder::on_operation, Thrower::progress,
                                        CallbackRecorder::on_log, nullptr, &recorder_),
              ROMWRIGHT_RC_ERROR);
    EXPECT_EQ(recorder_.lines.back(), (Line{ROMWRIGHT_LOG_ERROR, "Unknown error"}));
    EXPECT_EQ(calls("KorvelFlashClose"), 1u);
    EXPECT_FALSE(board_->service_open);
}

TEST_F(EntryFake, ThrowingLogCallbackIsContained) {
    offer({5});
    EXPECT_EQ(romwright_update_firmware(path_.c_str(), board_, nullptr, nullptr, Thrower::log, nullptr, nullptr),
              ROMWRIGHT_RC_ERROR);
}

TEST_F(EntryFake, NullPathIsAnUnopenableFile) {
    EXPECT_EQ(romwright_update_firmware(nullptr, board_, nullptr, nullptr, CallbackRecorder::on_log, nullptr,
                                        &recorder_),
              ROMWRIGHT_RC_ERROR);
    EXPECT_EQ(recorder_.lines.back(), (Line{ROMWRIGHT_LOG_ERROR, "Could not open file"}));
}

// A file past 2 GiB: the true size, and the checksum over every byte (the
// file is sparse, so it costs no disk).
TEST_F(EntryFake, FileOfMoreThanTwoGibibytesShowsItsTrueSizeAndChecksum) {
    const uint64_t zeros = 0x80000000ull + 0x1234;
    const std::vector<uint8_t> tail = testsupport::pseudo_random_bytes(77, 11);
    const int fd = ::open(path_.c_str(), O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(zeros)), static_cast<ssize_t>(tail.size()));
    ::close(fd);

    Adler adler;
    adler.b = static_cast<uint32_t>(zeros % 65521);  // zero bytes only add a (1) to b each
    adler.add(tail);
    EXPECT_EQ(run(nullptr), ROMWRIGHT_RC_ERROR);
    EXPECT_EQ(first(recorder_.lines, 6), header(path_, zeros + tail.size(), adler.value()));
}

} // namespace
