// Boards that the engine programs itself, updated through romwright-cli as a
// user runs it: firmware files from romwright-mkimage, a simulated machine
// whose flash starts with a known pattern, and afterwards the flash files,
// the log file and the exit status.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "tests/support/bytes.hpp"
#include "tests/support/process.hpp"
#include "tests/support/sim_machine.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr uint64_t kFlashSize = 0x800000;
constexpr uint32_t kImageSize = 0x100000;

std::vector<uint8_t> flash_pattern(uint8_t salt) {
    return testsupport::pattern_bytes(kFlashSize, 13, 11, salt);
}

struct Board {
    std::string name;
    uint32_t kind;
    const char *model;
    std::string revision;
    uint32_t sector_size;  // erase unit of the board's programming mode
};

const Board kZen5120{"lab-5120", 13, "ZEN5120", "1.3", 0x20000};
const Board kZen5110{"lab-5110", 11, "ZEN5110", "2.0", 0x20000};
const Board kZen5160{"lab-5160", 25, "ZEN5160", "1.5", 0x40000};
const Board kZen5170{"lab-5170", 29, "ZEN5170", "1.1", 0x40000};

std::string board_toml(const Board &board) {
    return fmt::format(R"(
[[system.board]]
name = "{}"
kind = {}
revision = "{}"
cpld = "9.14"
ksopc_signature = 0x0E080000
serial = 1234567
register0 = 0x00001203
features = []
)",
                       board.name, board.kind, board.revision);
}

class RegisterPath : public ::testing::Test {
protected:
    // One system holding these boards, each flash pre-filled with its own pattern.
    void machine(const std::vector<Board> &boards) {
        std::string toml = "[[system]]\n";
        for (const Board &board : boards) toml += board_toml(board);
        machine_ = std::make_unique<testsupport::SimMachine>(toml);
        for (std::size_t i = 0; i < boards.size(); ++i)
            machine_->preset_flash(boards[i].name, kFlashSize, 0, flash_pattern(static_cast<uint8_t>(0x3C + i)));
    }

    // Writes a firmware file with romwright-mkimage and returns its path.
    std::string make_file(const std::string &name, const std::string &model, const std::vector<std::string> &extra) {
        const std::string path = work_.file(name);
        std::vector<std::string> args = {"--board", model, "--out", path, "--size", std::to_string(kImageSize)};
        args.insert(args.end(), extra.begin(), extra.end());
        const auto made = testsupport::run_process(testsupport::bin_path("romwright-mkimage"), args);
        EXPECT_EQ(made.exit_code, 0) << made.err;
        return path;
    }

    // The picture of the flash a file carries: the raw file made with the same arguments.
    std::vector<uint8_t> image_of(const std::string &model, const std::vector<std::string> &extra) {
        return testsupport::read_file(make_file("image-" + model + ".rpd", model, extra));
    }

    testsupport::ProcessResult update(const std::vector<std::string> &args) {
        testsupport::ProcessOptions options = machine_->process_options();
        options.working_directory = work_.path();
        std::vector<std::string> all = {"update"};
        all.insert(all.end(), args.begin(), args.end());
        return testsupport::run_process(testsupport::bin_path("romwright-cli"), all, options);
    }

    std::string log() const { return testsupport::read_text(work_.file("romwright-cli.log")); }

    std::unique_ptr<testsupport::SimMachine> machine_;
    testsupport::TempDir work_{"register-path"};
};

// The sectors that page_0 (from 0x20000 to where the option bits begin at
// size - 0x2000) and the option bits reach hold the image; all else keeps
// the old pattern. The maker's default layout is that one.
std::vector<uint8_t> expected_flash(const std::vector<uint8_t> &image, uint32_t sector_size, uint8_t salt) {
    std::vector<uint8_t> flash = flash_pattern(salt);
    const uint32_t first = 0x20000 / sector_size;
    const uint32_t last = (kImageSize - 1) / sector_size;
    std::copy(image.begin() + first * sector_size, image.begin() + (last + 1) * sector_size,
              flash.begin() + first * sector_size);
    return flash;
}

using testsupport::first_difference;

struct FileCase {
    const char *name;
    Board board;
    const char *extension;
    std::vector<std::string> maker_args;
};

void PrintTo(const FileCase &c, std::ostream *out) { *out << c.name; }

class UpdatesThroughTheConsole : public RegisterPath, public ::testing::WithParamInterface<FileCase> {};

TEST_P(UpdatesThroughTheConsole, LeavesTheImageOnThePlannedSectorsOnly) {
    const FileCase &c = GetParam();
    machine({c.board});
    const std::string file = make_file(std::string("fw-") + c.board.model + c.extension, c.board.model, c.maker_args);
    const auto result = update({file});

    EXPECT_EQ(result.exit_code, 0) << result.out << result.err << log();
    EXPECT_THAT(result.out, HasSubstr("Update of 1 board successful\n"));
    const std::string text = log();
    EXPECT_THAT(text, HasSubstr(fmt::format("Board type = {} {{{}}}\n", c.board.model,
                                            std::string(c.board.revision).replace(1, 1, ", "))));
#if defined(_WIN32)  // GoogleTest's own regular expressions there: \d, but no brackets
    EXPECT_THAT(text, ::testing::ContainsRegex("Board update time = \\d+s\n"));
#else
    EXPECT_THAT(text, ::testing::ContainsRegex("Board update time = [0-9]+s\n"));
#endif
    EXPECT_THAT(text, HasSubstr("Update succeeded.\n"));
    EXPECT_THAT(text, Not(HasSubstr("failed")));

    const std::vector<uint8_t> expected =
        expected_flash(image_of(c.board.model, c.maker_args), c.board.sector_size, 0x3C);
    const std::vector<uint8_t> flash = machine_->flash(c.board.name);
    EXPECT_EQ(first_difference(flash, expected), kFlashSize);
}

INSTANTIATE_TEST_SUITE_P(
    Files, UpdatesThroughTheConsole,
    ::testing::Values(FileCase{"page_mode_rpd", kZen5120, ".rpd", {"--word2", "90"}},
                      FileCase{"page_mode_pof", kZen5110, ".pof", {"--seed", "7"}},
                      FileCase{"sector_mode_rpd", kZen5160, ".rpd", {"--seed", "3"}},
                      FileCase{"sector_mode_pof", kZen5170, ".pof", {"--word2", "3"}}),
    [](const ::testing::TestParamInfo<FileCase> &info) { return std::string(info.param.name); });

// A refused image stops the console with the engine's code before anything
// is erased; the reason is in the log file.
TEST_F(RegisterPath, RefusedImageLeavesTheFlashAlone) {
    machine({kZen5160});
    const std::string file = make_file("fw-ZEN5160.pof", "ZEN5160", {"--board-id", "5142"});
    const auto result = update({file});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_THAT(result.out, HasSubstr("\nError: Firmware updater error. Code 1\n"));
    EXPECT_THAT(log(), HasSubstr("Error: FPGA image is made for board 5142, not for this board 5160 \n"));
    EXPECT_THAT(log(), Not(HasSubstr("Erasing")));
    EXPECT_EQ(first_difference(machine_->flash("lab-5160"), flash_pattern(0x3C)), kFlashSize);
}

// A failure at the second board leaves the first updated and the third untouched.
TEST_F(RegisterPath, StopsAtTheFirstBoardThatFails) {
    Board second = kZen5120;
    second.name = "lab-5120-old";
    second.revision = "1.2";  // the file's only image needs revision 1.3
    Board third = kZen5120;
    third.name = "lab-5120-b";
    machine({kZen5120, second, third});
    const std::vector<std::string> args = {"--word2", "90"};
    const auto result = update({make_file("fw-ZEN5120.rpd", "ZEN5120", args)});

    EXPECT_EQ(result.exit_code, 1);
    const std::string text = log();
    EXPECT_THAT(text, HasSubstr("Primary FPGA image requires an ZEN5120 v1.3 or later, but the board is version "
                                "1.2 or earlier\n"));
    EXPECT_THAT(text, HasSubstr("Error: Incorrect FPGA image for this ZEN5120 version."));
    const std::vector<uint8_t> image = image_of("ZEN5120", args);
    EXPECT_EQ(first_difference(machine_->flash("lab-5120"), expected_flash(image, 0x20000, 0x3C)), kFlashSize);
    EXPECT_EQ(first_difference(machine_->flash("lab-5120-old"), flash_pattern(0x3D)), kFlashSize);
    EXPECT_EQ(first_difference(machine_->flash("lab-5120-b"), flash_pattern(0x3E)), kFlashSize);
}

// --page1 turns automatic selection off and writes page_1 as well.
TEST_F(RegisterPath, ForcedPagesWriteBothPages) {
    machine({kZen5120});
    const std::vector<std::string> args = {"--word2", "90", "--page0", "0x20000:0x80000", "--page1",
                                           "0x80000:0xC0000"};
    const auto result = update({"--page0", "--page1", make_file("fw-ZEN5120.rpd", "ZEN5120", args)});
    ASSERT_EQ(result.exit_code, 0) << result.out << log();
    const std::vector<uint8_t> image = image_of("ZEN5120", args);
    std::vector<uint8_t> expected = flash_pattern(0x3C);
    // page_0 sectors 1 to 3, page_1 sectors 4 and 5, option bits sector 7;
    // sector 6 is in no range and keeps the pattern.
    for (uint32_t s : {1u, 2u, 3u, 4u, 5u, 7u})
        std::copy(image.begin() + s * 0x20000, image.begin() + (s + 1) * 0x20000, expected.begin() + s * 0x20000);
    EXPECT_EQ(first_difference(machine_->flash("lab-5120"), expected), kFlashSize);
}

} // namespace
