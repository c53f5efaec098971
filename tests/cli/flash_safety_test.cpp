// Updates through romwright-cli that must not lose or leave out a byte: an
// image that ends inside an erase sector, and a transient register failure on
// a sector-mode board. The flash files are compared byte for byte afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tests/cli/cli_fixture.hpp"
#include "tests/support/bytes.hpp"

namespace {

using clitest::contains;

constexpr uint64_t kFlashSize = 0x800000;

std::vector<uint8_t> old_contents() {
    return testsupport::pattern_bytes(kFlashSize, 29, 13, 0x6D);
}

using testsupport::first_difference;

std::size_t count_of(const std::string &text, const std::string &part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

struct Board {
    const char *name;
    int kind;
    const char *model;
    uint32_t sector_size;
};

const Board kZen5110{"lab-5110", 11, "ZEN5110", 0x20000};
const Board kZen5160{"lab-5160", 25, "ZEN5160", 0x40000};

class FlashSafety : public clitest::Cli {
protected:
    void one_board(const Board &board, const std::string &extra = "") {
        machine("[[system]]\n" + clitest::board_toml(board.name, board.kind, "[]", extra));
    }

    // The firmware file, made by the image maker from these arguments.
    std::string firmware(const Board &board, uint32_t size, const std::vector<std::string> &maker_args) {
        return make_image(std::string("fw-") + board.model + ".rpd", board.model, size, maker_args);
    }

    testsupport::ProcessResult update(const std::string &file) { return run({"update", "--quiet", file}); }
};

// ------------------------------------------------- image ending inside a sector

struct TailCase {
    const char *name;
    Board board;
    uint32_t size;
    uint32_t option_bits;
    std::vector<uint32_t> sectors;  // the sectors the layout selects; the last is the partial one
    bool data_up_to_the_end;        // the file's last bytes hold data, inside its last page
};

void PrintTo(const TailCase &c, std::ostream *out) { *out << c.name; }

class ImageEndingInsideASector : public FlashSafety, public ::testing::WithParamInterface<TailCase> {};

// The flash held an older image of the same length: old data and old option
// bits, erased past the image's end. Afterwards the new image is on every
// selected sector, its partial last sector included, the rest of that sector
// is erased and every other byte is as it was.
TEST_P(ImageEndingInsideASector, WritesAndVerifiesTheLastPartialSector) {
    const TailCase &c = GetParam();
    const Board &board = c.board;
    one_board(board);
    const std::string file =
        firmware(board, c.size, {"--option-bits", std::to_string(c.option_bits), "--seed", "5"});
    std::vector<uint8_t> image = testsupport::read_file(file);
    ASSERT_EQ(image.size(), c.size);
    if (c.data_up_to_the_end) {
        for (uint32_t at = c.size / 32 * 32; at < c.size; ++at) image[at] = static_cast<uint8_t>(at);
        testsupport::write_file(file, image);
    }

    const uint32_t tail = c.sectors.back();
    const uint32_t tail_end = (tail + 1) * board.sector_size;
    std::vector<uint8_t> before = old_contents();
    std::copy(image.begin() + c.option_bits, image.begin() + c.option_bits + 128, before.begin() + c.option_bits);
    before[c.option_bits + 2] ^= 0x04;  // an older page_0 end
    std::fill(before.begin() + c.size, before.begin() + tail_end, 0xFF);
    machine_->preset_flash(board.name, kFlashSize, 0, before);

    const auto result = update(file);
    ASSERT_EQ(result.exit_code, 0) << result.out << log();
    EXPECT_TRUE(contains(log(), "Update succeeded.\n"));
    EXPECT_TRUE(contains(log(), fmt::format("Erasing {} of {} sectors.\n", c.sectors.size(), tail + 1))) << log();

    std::vector<uint8_t> expected = before;
    for (uint32_t sector : c.sectors) {
        const uint32_t begin = sector * board.sector_size;
        const uint32_t end = std::min(begin + board.sector_size, c.size);
        std::copy(image.begin() + begin, image.begin() + end, expected.begin() + begin);
    }
    const std::vector<uint8_t> after = flash(board.name);
    EXPECT_EQ(first_difference(after, expected), kFlashSize);
    EXPECT_TRUE(std::equal(image.begin() + c.option_bits, image.begin() + c.option_bits + 128,
                           after.begin() + c.option_bits));
    EXPECT_TRUE(std::all_of(after.begin() + c.size, after.begin() + tail_end, [](uint8_t b) { return b == 0xFF; }));
}

std::vector<uint32_t> sectors(uint32_t first, uint32_t last, std::vector<uint32_t> more = {}) {
    std::vector<uint32_t> all;
    for (uint32_t s = first; s <= last; ++s) all.push_back(s);
    all.insert(all.end(), more.begin(), more.end());
    return all;
}

INSTANTIATE_TEST_SUITE_P(
    Images, ImageEndingInsideASector,
    ::testing::Values(TailCase{"page_mode_F0000", kZen5110, 0xF0000, 0xEE000, sectors(1, 7), false},
                      TailCase{"sector_mode_3E0000", kZen5160, 0x3E0000, 0x3DE000, sectors(0, 11, {15}), false},
                      TailCase{"raw_cut_FE080", kZen5110, 0xFE080, 0xFE000, sectors(1, 7), false},
                      TailCase{"raw_ending_inside_a_page", kZen5110, 0xFE0B2, 0xFE032, sectors(1, 7), true}),
    [](const ::testing::TestParamInfo<TailCase> &info) { return std::string(info.param.name); });

struct HeldDataCase {
    const char *name;
    Board board;
    uint32_t size;
    uint32_t data_at;  // a byte of old data past the image's end, in its last sector
    const char *message;
};

void PrintTo(const HeldDataCase &c, std::ostream *out) { *out << c.name; }

class DataPastTheImagesEnd : public FlashSafety, public ::testing::WithParamInterface<HeldDataCase> {};

TEST_P(DataPastTheImagesEnd, IsNeverErased) {
    const HeldDataCase &c = GetParam();
    one_board(c.board);
    const std::string file = firmware(c.board, c.size, {});
    std::vector<uint8_t> before = old_contents();
    const uint32_t tail_end = (c.size / c.board.sector_size + 1) * c.board.sector_size;
    std::fill(before.begin() + c.size, before.begin() + tail_end, 0xFF);
    before[c.data_at] = 0x00;
    machine_->preset_flash(c.board.name, kFlashSize, 0, before);

    const auto result = update(file);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_TRUE(contains(result.out, "Error: Firmware updater error. Code 1\n")) << result.out;
    EXPECT_TRUE(contains(log(), c.message)) << log();
    EXPECT_FALSE(contains(log(), "Erasing")) << log();
    EXPECT_EQ(first_difference(flash(c.board.name), before), kFlashSize);
}

INSTANTIATE_TEST_SUITE_P(
    Images, DataPastTheImagesEnd,
    ::testing::Values(HeldDataCase{"page_mode", kZen5110, 0xF0000, 0xF0010,
                                   "Error: Sector 7 holds data at 0x000F0010 beyond the end of the image (0xF0000 "
                                   "bytes); erasing it would lose that data. Nothing was erased.\n"},
                      HeldDataCase{"sector_mode", kZen5160, 0x3E0000, 0x3FFFFC,
                                   "Error: Sector 15 holds data at 0x003FFFFC beyond the end of the image (0x3E0000 "
                                   "bytes); erasing it would lose that data. Nothing was erased.\n"}),
    [](const ::testing::TestParamInfo<HeldDataCase> &info) { return std::string(info.param.name); });

struct SmallFlashCase {
    const char *name;
    Board board;
    uint32_t flash_size;
    uint32_t image_size;
    const char *message_start;
    const char *reason;
};

void PrintTo(const SmallFlashCase &c, std::ostream *out) { *out << c.name; }

class ImageLargerThanTheFlash : public FlashSafety, public ::testing::WithParamInterface<SmallFlashCase> {};

// The sector the image ends in lies beyond the board's flash: the read before
// the first erase finds out, and nothing is erased.
TEST_P(ImageLargerThanTheFlash, IsRefusedBeforeAnyErase) {
    const SmallFlashCase &c = GetParam();
    one_board(c.board, fmt::format("flash_size = 0x{:X}\n", c.flash_size));
    std::vector<uint8_t> before = old_contents();
    before.resize(c.flash_size);
    machine_->preset_flash(c.board.name, c.flash_size, 0, before);

    const auto result = update(firmware(c.board, c.image_size, {}));
    EXPECT_EQ(result.exit_code, 1);
    const std::string text = log();
    EXPECT_TRUE(contains(text, c.message_start)) << text;
    EXPECT_TRUE(contains(text, c.reason)) << text;
    EXPECT_TRUE(contains(text, "The image may be larger than the board's flash. Nothing was erased.\n")) << text;
    EXPECT_FALSE(contains(text, "Erasing")) << text;
    EXPECT_EQ(first_difference(flash(c.board.name), before), c.flash_size);
}

INSTANTIATE_TEST_SUITE_P(
    Boards, ImageLargerThanTheFlash,
    ::testing::Values(SmallFlashCase{"page_mode", kZen5110, 0xC0000, 0xF0000,
                                     "Error: Sector 7 (0x000E0000 to 0x000FFFFF), in which the image of 0xF0000 "
                                     "bytes ends, could not be read: ",
                                     "the page read at 0x000F0000 failed with "},
                      SmallFlashCase{"sector_mode", kZen5160, 0x3C0000, 0x3E0000,
                                     "Error: Sector 15 (0x003C0000 to 0x003FFFFF), in which the image of 0x3E0000 "
                                     "bytes ends, could not be read: ",
                                     "0 of 262144 bytes came back."}),
    [](const ::testing::TestParamInfo<SmallFlashCase> &info) { return std::string(info.param.name); });

// ------------------------------------------------- transient register failure

// One register read fails in the middle of the erase check's burst read (the
// 40th read of the update, with a controller that answers at once), leaving
// the read burst running. The retry starts from a reset controller, so the
// update succeeds on its second attempt instead of waiting out the command
// time-out on every one.
TEST_F(FlashSafety, SectorModeSurvivesOneFailedRegisterRead) {
    one_board(kZen5160,
              "[[system.board.fault]]\ntype = \"call\"\ncall = \"KorvelReadRegister\"\ncode = 513\nnth = 40\n");
    const std::vector<uint8_t> before = old_contents();
    machine_->preset_flash(kZen5160.name, kFlashSize, 0, before);
    const std::string file = firmware(kZen5160, 0x100000, {});

    const auto result = update(file);
    ASSERT_EQ(result.exit_code, 0) << result.out << log();
    const std::string text = log();
    EXPECT_TRUE(contains(text, "Error in CFlashPC28F::BurstReadRegister: ")) << text;
    EXPECT_TRUE(contains(text, "Flash controller reset for retry 1 of 15.\n")) << text;
    EXPECT_EQ(count_of(text, "Erasing 4 of 4 sectors.\n"), 2u) << text;
    EXPECT_FALSE(contains(text, "Wait timed out.")) << text;
    EXPECT_TRUE(contains(text, "Update succeeded.\n"));

    const std::vector<uint8_t> image = testsupport::read_file(file);
    std::vector<uint8_t> expected = before;
    std::copy(image.begin(), image.end(), expected.begin());
    EXPECT_EQ(first_difference(flash(kZen5160.name), expected), kFlashSize);
}

} // namespace
