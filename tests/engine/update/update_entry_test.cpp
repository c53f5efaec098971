// The update entry against the simulated machine: each programming path the
// driver's features choose, ending in "Update succeeded.".
#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <romwright/options.hpp>
#include <romwright/romwright.h>
#include <zenapi/Zenapi.h>
#include <zenapi/zenapi_sim.h>

#include "tests/engine/callback_recorder.hpp"
#include "tests/support/bytes.hpp"
#include "tests/support/process.hpp"
#include "tests/support/sim_machine.hpp"
#include "tests/support/temp_dir.hpp"

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
    ASSERT_EQ(recorder_.lines.size(), 8u);
    EXPECT_EQ(recorder_.lines[1].text, "Korvel Firmware Updater Version 3.5.3\n");
    EXPECT_EQ(recorder_.lines[4].text, "File size = 10\n");
    // The simulator this test program loads names itself.
#if defined(_WIN32)
    const std::string simulator = testsupport::bin_path("Zenapi.dll");  // beside the test program
#else
    const std::string simulator = std::filesystem::canonical(ROMWRIGHT_LIB_DIR "/libZenapi.so").string();
#endif
    EXPECT_EQ(recorder_.lines[6].text, "Device library = " + simulator + " (simulated: Zenapi simulator 3.5.3)\n");
    EXPECT_EQ(recorder_.lines[7], (Line{ROMWRIGHT_LOG_ERROR, "Board is null"}));
}

// Each of the seven options of the record reaches the register path: which
// sectors an update rewrites, whether it reads back, how much it logs and how
// often it tries. A page-mode board whose flash starts with a known pattern;
// the file declares page_0 in sectors 1 to 3 and page_1 in sectors 4 and 5,
// and its option bits lie in sector 7.
constexpr uint32_t kPageSector = 0x20000;
constexpr uint32_t kPageFlashSize = 0x800000;

std::vector<uint8_t> flash_pattern() {
    return testsupport::pattern_bytes(kPageFlashSize, 13, 11, 0x5A);
}

struct OptionCase {
    const char *name;
    bool without_record;                                 // pass no record at all
    std::function<void(romwright::options &)> change;    // else: the defaults with this change
    std::string fault;                                   // extra board description
    std::set<uint32_t> rewritten;                        // sectors that end up different
    bool verified;
    bool debug_lines;
    std::size_t attempts;
};

void PrintTo(const OptionCase &c, std::ostream *out) { *out << c.name; }

class EntryOptions : public ::testing::TestWithParam<OptionCase> {
protected:
    void start(const std::string &fault) {
        machine_ = std::make_unique<testsupport::SimMachine>(
            "[[system]]\n" +
            board("p1", 13, "[]",
                  "revision = \"1.3\"\ncpld = \"3.1\"\nksopc_signature = 0x04050000\nserial = 512001\n" + fault +
                      "[system.board.timing]\npage_erase_ms = 0\n"));
        machine_->preset_flash("p1", kPageFlashSize, 0, flash_pattern());
        machine_->activate();
        path_ = dir_.file("fw-ZEN5120.rpd");
        const auto made = testsupport::run_process(
            testsupport::bin_path("romwright-mkimage"),
            {"--board", "ZEN5120", "--word2", "90", "--size", "0x100000", "--page0", "0x20000:0x80000", "--page1",
             "0x80000:0xC0000", "--out", path_});
        ASSERT_EQ(made.exit_code, 0) << made.err;
    }

    std::set<uint32_t> rewritten_sectors() const {
        const std::vector<uint8_t> before = flash_pattern();
        const std::vector<uint8_t> after = machine_->flash("p1");
        EXPECT_EQ(after.size(), before.size());
        std::set<uint32_t> sectors;
        for (std::size_t at = 0; at < std::min(after.size(), before.size()); at += kPageSector)
            if (!std::equal(before.begin() + at, before.begin() + at + kPageSector, after.begin() + at))
                sectors.insert(static_cast<uint32_t>(at / kPageSector));
        return sectors;
    }

    std::unique_ptr<testsupport::SimMachine> machine_;
    testsupport::TempDir dir_{"entry-options"};
    std::string path_;
    CallbackRecorder recorder_;
};

TEST_P(EntryOptions, ReachTheRegisterPath) {
    const OptionCase &c = GetParam();
    start(c.fault);
    romwright::options options;
    if (c.change) c.change(options);
    const ROMWRIGHT_RC rc = romwright_update_firmware(
        path_.c_str(), KorvelGetBoardBySystemID(1, 1), CallbackRecorder::on_operation, CallbackRecorder::on_progress,
        CallbackRecorder::on_log, c.without_record ? nullptr : options.record(), &recorder_);

    std::string log;
    for (const Line &line : recorder_.lines) log += line.text;
    EXPECT_EQ(rc, c.attempts == 1 ? ROMWRIGHT_RC_SUCCESS : ROMWRIGHT_RC_ERROR) << log;
    EXPECT_EQ(rewritten_sectors(), c.rewritten);
    const bool verified = std::count(recorder_.operations.begin(), recorder_.operations.end(),
                                     ROMWRIGHT_OPERATION_VERIFYING) > 0;
    EXPECT_EQ(verified, c.verified);
    EXPECT_EQ(log.find(" pages in ") != std::string::npos, c.debug_lines) << log;
    std::size_t attempts = 0;
    for (const Line &line : recorder_.lines) attempts += line.text.rfind("Erasing ", 0) == 0;
    EXPECT_EQ(attempts, c.attempts) << log;
}

const std::string kBadPage = "[[system.board.fault]]\ntype = \"page_program_error\"\naddress = 0x40010\ntimes = 100\n";

INSTANTIATE_TEST_SUITE_P(
    Options, EntryOptions,
    ::testing::Values(
        OptionCase{"no_record_means_page0_and_option_bits_verified", true, nullptr, "", {1, 2, 3, 7}, true, false, 1},
        OptionCase{"default_record", false, nullptr, "", {1, 2, 3, 7}, true, false, 1},
        OptionCase{"bool_1_is_page1",
                   false,
                   [](romwright::options &o) {
                       o.set_bool(0, false);
                       o.set_bool(1, true);
                   },
                   "",
                   {4, 5, 7},
                   true,
                   false,
                   1},
        OptionCase{"bool_2_is_page0",
                   false,
                   [](romwright::options &o) {
                       o.set_bool(0, false);
                       o.set_bool(2, true);
                   },
                   "",
                   {1, 2, 3, 7},
                   true,
                   false,
                   1},
        OptionCase{"no_option_bits", false, [](romwright::options &o) { o.set_bool(3, false); }, "", {1, 2, 3},
                   true, false, 1},
        OptionCase{"no_page_and_no_option_bits", false,
                   [](romwright::options &o) {
                       o.set_bool(0, false);
                       o.set_bool(3, false);
                   },
                   "", {}, true, false, 1},
        OptionCase{"no_verify", false, [](romwright::options &o) { o.set_bool(4, false); }, "", {1, 2, 3, 7}, false,
                   false, 1},
        OptionCase{"debug", false, [](romwright::options &o) { o.set_bool(5, true); }, "", {1, 2, 3, 7}, true, true, 1},
        OptionCase{"max_retries", false, [](romwright::options &o) { o.set_int(0, 2); }, kBadPage, {1, 2, 3, 7},
                   true, false, 3}),
    [](const ::testing::TestParamInfo<OptionCase> &info) { return std::string(info.param.name); });

} // namespace
