// Image checks on an engine whose identification members are set by hand:
// the compatibility table, the signature, the ZEN5170 variant and the image
// header's place and length. (The ZEN5120 revision choice asks the board and
// lives in image_check_fake_test.cpp.)
#include "engine/image_check.hpp"
#include "engine/romwright_engine.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using romwright::Compatibility;

struct Logged {
    std::vector<std::string> lines;
};

void record(ROMWRIGHT_LOG_LEVEL, const char *text, void *user_data) {
    static_cast<Logged *>(user_data)->lines.emplace_back(text);
}

std::vector<uint8_t> image_with_header(std::size_t size, std::size_t at, uint16_t id, uint16_t signature,
                                       uint16_t word2) {
    std::vector<uint8_t> image(size, 0xFF);
    const uint16_t words[3] = {id, signature, word2};
    for (std::size_t i = 0; i < 3; ++i) {
        image[at + 2 * i] = static_cast<uint8_t>(words[i] & 0xFF);
        image[at + 2 * i + 1] = static_cast<uint8_t>(words[i] >> 8);
    }
    return image;
}

// An identified page-mode board of no particular kind (so neither the ZEN5170
// nor the ZEN5120 rule applies) unless a test says otherwise.
struct Checker {
    Logged log;
    CRomwright engine{record, &log};

    Checker(uint16_t board_id, bool debug = false) {
        engine.identity().id = board_id;
        engine.options().debug = debug;
    }

    // "" when the image is accepted, else the refusal's text.
    std::string check(uint16_t image_id, uint16_t signature = 0x5731, uint16_t word2 = 0) {
        const std::size_t at = engine.identity().sector_mode ? 0x40000 : 0;
        engine.images()[0].data = image_with_header(at + 0x100, at, image_id, signature, word2);
        return check_loaded();
    }

    std::string check_loaded() {
        try {
            engine.CheckImage();
        } catch (const std::runtime_error &error) {
            return error.what();
        }
        return "";
    }
};

std::string refusal(uint16_t image_id, uint16_t board_id) {
    char text[96];
    std::snprintf(text, sizeof text, "Error: FPGA image is made for board %04X, not for this board %04X \n", image_id,
                  board_id);
    return text;
}

struct Row {
    uint16_t image_id;
    uint16_t board_id;
    Compatibility when;
};

void PrintTo(const Row &c, std::ostream *out) { *out << "image " << std::hex << c.image_id << " on " << c.board_id; }

// The whole table, one row per (image, board) pair.
const Row kRows[] = {
    {0x5131, 0x5130, Compatibility::always},     {0x5132, 0x5130, Compatibility::always},
    {0x5133, 0x5130, Compatibility::always},     {0x5141, 0x5140, Compatibility::always},
    {0x5111, 0x5110, Compatibility::always},     {0x5121, 0x5120, Compatibility::always},
    {0x5123, 0x5120, Compatibility::always},     {0x5172, 0x5160, Compatibility::always},
    {0x5160, 0x5172, Compatibility::always},     {0x5130, 0x5131, Compatibility::debug_only},
    {0x5130, 0x5132, Compatibility::debug_only}, {0x5130, 0x5133, Compatibility::debug_only},
    {0x5140, 0x5141, Compatibility::debug_only}, {0x5110, 0x5111, Compatibility::debug_only},
    {0x5120, 0x5121, Compatibility::debug_only}, {0x5151, 0x5150, Compatibility::debug_only},
    {0x5170, 0x5171, Compatibility::debug_only}, {0x5171, 0x5170, Compatibility::debug_only},
    {0x5181, 0x5180, Compatibility::debug_only}, {0x5180, 0x5181, Compatibility::debug_only},
    {0x5107, 0x5106, Compatibility::debug_only}, {0x5107, 0x5108, Compatibility::debug_only},
    {0x5106, 0x5107, Compatibility::debug_only}, {0x5106, 0x5108, Compatibility::debug_only},
    {0x5108, 0x5106, Compatibility::debug_only}, {0x5108, 0x5107, Compatibility::debug_only},
    // Pairs no row names.
    {0x5131, 0x5132, Compatibility::refused},    {0x5150, 0x5151, Compatibility::refused},
    {0x5142, 0x5160, Compatibility::refused},    {0x5160, 0x5142, Compatibility::refused},
    {0x5152, 0x5151, Compatibility::refused},    {0x5151, 0x5152, Compatibility::refused},
    {0x5121, 0x5123, Compatibility::refused},    {0x5120, 0x5123, Compatibility::refused},
    {0x5172, 0x5170, Compatibility::refused},    {0x5170, 0x5160, Compatibility::refused},
    {0x5110, 0x5104, Compatibility::refused},    {0xFFFF, 0x5110, Compatibility::refused},
};

class CompatibilityRow : public ::testing::TestWithParam<Row> {};

TEST_P(CompatibilityRow, DecidesTheImageOnTheBoard) {
    const Row &row = GetParam();
    EXPECT_EQ(romwright::compatibility(row.image_id, row.board_id), row.when);

    Checker plain(row.board_id);
    EXPECT_EQ(plain.check(row.image_id),
              row.when == Compatibility::always ? "" : refusal(row.image_id, row.board_id));
    Checker debug(row.board_id, true);
    EXPECT_EQ(debug.check(row.image_id), row.when == Compatibility::refused ? refusal(row.image_id, row.board_id) : "");
    EXPECT_TRUE(plain.log.lines.empty());
}

INSTANTIATE_TEST_SUITE_P(Table, CompatibilityRow, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row> &info) {
                             char name[32];
                             std::snprintf(name, sizeof name, "image_%04X_on_%04X", info.param.image_id,
                                           info.param.board_id);
                             return std::string(name);
                         });

const uint16_t kKnownBoardIds[] = {0x5110, 0x5104, 0x5120, 0x5130, 0x5131, 0x5140, 0x5141, 0x5132, 0x5133, 0x5111,
                                   0x5121, 0x5150, 0x5152, 0x5151, 0x5160, 0x5170, 0x5142, 0x5180, 0x5171, 0x5181};

TEST(CheckImage, ImageForAnyBoardOrForThisBoardPassesEverywhere) {
    for (uint16_t board_id : kKnownBoardIds) {
        Checker checker(board_id);
        EXPECT_EQ(checker.check(0), "") << std::hex << board_id;
        EXPECT_EQ(checker.check(board_id), "") << std::hex << board_id;
        EXPECT_EQ(romwright::compatibility(board_id, board_id), Compatibility::always);
    }
}

TEST(CheckImage, SignatureMustBeOneOfTwoWithoutDebug) {
    Checker checker(0x5110);
    EXPECT_EQ(checker.check(0x5110, 0x5731), "");
    EXPECT_EQ(checker.check(0x5110, 0x1C0B), "");
    EXPECT_EQ(checker.check(0x5110, 0x1234), "Error: Invalid FPGA image signature. 1234 instead of 5731 or 1C0B\n");
    EXPECT_EQ(checker.check(0x5110, 0x0000), "Error: Invalid FPGA image signature. 0000 instead of 5731 or 1C0B\n");
}

TEST(CheckImage, DebugSkipsTheSignature) {
    Checker checker(0x5110, true);
    EXPECT_EQ(checker.check(0x5110, 0x1234), "");
    EXPECT_EQ(checker.check(0x5111, 0xFFFF), "");  // a debug-only row too
    EXPECT_EQ(checker.check(0x5142, 0x1234), refusal(0x5142, 0x5110));
}

TEST(CheckImage, SignatureIsCheckedBeforeTheBoard) {
    Checker checker(0x5110);
    EXPECT_EQ(checker.check(0x5142, 0x1234), "Error: Invalid FPGA image signature. 1234 instead of 5731 or 1C0B\n");
}

TEST(CheckImage, AlwaysStartsFromThePrimaryImage) {
    Checker checker(0x5110);
    checker.engine.set_image_index(1);
    EXPECT_EQ(checker.check(0x5110), "");
    EXPECT_EQ(checker.engine.image_index(), 0);
}

struct VariantCase {
    uint16_t word2;
    const char *result;
};

void PrintTo(const VariantCase &c, std::ostream *out) { *out << "word2 " << std::hex << c.word2; }

class Zen5170Variant : public ::testing::TestWithParam<VariantCase> {};

TEST_P(Zen5170Variant, LowByteOfWord2MustMatch) {
    Checker checker(0x5170);
    checker.engine.identity().kind = 29;
    checker.engine.identity().variant = 3;
    checker.engine.identity().sector_mode = true;
    EXPECT_EQ(checker.check(0x5170, 0x5731, GetParam().word2), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Words, Zen5170Variant,
    ::testing::Values(
        VariantCase{0x0003, ""}, VariantCase{0xFF03, ""},
        VariantCase{0x0002, "Error: FPGA image is made for board 5170-02, not for this board 5170-03 \n"},
        VariantCase{0x0300, "Error: FPGA image is made for board 5170-00, not for this board 5170-03 \n"},
        VariantCase{0x00A3, "Error: FPGA image is made for board 5170-A3, not for this board 5170-03 \n"}));

TEST(CheckImage, VariantDoesNotMatterOnOtherKinds) {
    Checker checker(0x5160);
    checker.engine.identity().kind = 25;
    checker.engine.identity().sector_mode = true;
    EXPECT_EQ(checker.check(0x5160, 0x5731, 0x0002), "");
}

TEST(CheckImage, SectorModeReadsTheHeaderAt256KB) {
    Checker checker(0x5160);
    checker.engine.identity().sector_mode = true;
    // A header for another board at 0, the right one at 0x40000.
    std::vector<uint8_t> image = image_with_header(0x80000, 0x40000, 0x5160, 0x5731, 0);
    image[0] = 0x42;
    image[1] = 0x51;
    checker.engine.images()[0].data = image;
    EXPECT_EQ(checker.check_loaded(), "");
    checker.engine.images()[0].data = image_with_header(0x80000, 0x40000, 0x5142, 0x5731, 0);
    EXPECT_EQ(checker.check_loaded(), refusal(0x5142, 0x5160));
}

struct ShortCase {
    bool sector_mode;
    std::size_t size;
    const char *result;
};

void PrintTo(const ShortCase &c, std::ostream *out) { *out << (c.sector_mode ? "sector mode, " : "page mode, ") << c.size << " bytes"; }

class ShortImage : public ::testing::TestWithParam<ShortCase> {};

// The header is never read from outside the image.
TEST_P(ShortImage, IsRefusedBeforeItsHeaderIsRead) {
    const ShortCase &c = GetParam();
    Checker checker(0x5160);
    checker.engine.identity().sector_mode = c.sector_mode;
    const std::size_t at = c.sector_mode ? 0x40000 : 0;
    std::vector<uint8_t> image = image_with_header(at + 6, at, 0x5160, 0x5731, 0);
    image.resize(c.size);
    checker.engine.images()[0].data = image;
    EXPECT_EQ(checker.check_loaded(), c.result);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ShortImage,
    ::testing::Values(
        ShortCase{false, 6, ""},
        ShortCase{false, 5,
                  "Error: Primary FPGA image of 5 bytes is too short for its header at 0x00000000 (6 bytes needed)"},
        ShortCase{false, 0,
                  "Error: Primary FPGA image of 0 bytes is too short for its header at 0x00000000 (6 bytes needed)"},
        ShortCase{true, 0x40006, ""},
        ShortCase{true, 0x40005, "Error: Primary FPGA image of 262149 bytes is too short for its header at 0x00040000 "
                                 "(262150 bytes needed)"},
        ShortCase{true, 6, "Error: Primary FPGA image of 6 bytes is too short for its header at 0x00040000 "
                           "(262150 bytes needed)"}));

// The check on its own, as a program without a board calls it: the images,
// an identity and a revision reader, nothing of an engine.
struct PureCheck {
    ImageSlot images[2];
    Logged log;
    int revision_reads = 0;
    std::pair<int32_t, int32_t> revision{1, 2};

    int32_t run(const romwright::BoardIdentity &board, bool debug = false) {
        return romwright::check_image(images, board, debug,
                                      [this] {
                                          ++revision_reads;
                                          return revision;
                                      },
                                      romwright::LogSink(record, &log));
    }

    std::string refusal(const romwright::BoardIdentity &board) {
        try {
            run(board);
        } catch (const std::runtime_error &error) {
            return error.what();
        }
        return "";
    }
};

TEST(PureCheckImage, Zen5120OfAnOldRevisionTakesTheSecondaryImage) {
    PureCheck check;
    check.images[0].data = image_with_header(0x100, 0, 0x5120, 0x5731, 0x90);
    check.images[1].data = image_with_header(0x100, 0, 0x5120, 0x5731, 0x10);
    EXPECT_EQ(check.run({13, 0x5120, 0, false}), 1);
    EXPECT_EQ(check.revision_reads, 1);
    EXPECT_THAT(check.log.lines, ::testing::ElementsAre("Using secondary FPGA image from POF file.\n"));
}

TEST(PureCheckImage, OtherKindsKeepThePrimaryWithoutAskingTheRevision) {
    PureCheck check;
    check.images[0].data = image_with_header(0x40100, 0x40000, 0x5170, 0x5731, 0x0003);
    check.images[1].data = image_with_header(0x100, 0, 0x5170, 0x5731, 0x0004);
    EXPECT_EQ(check.run({29, 0x5170, 3, true}), 0);
    EXPECT_EQ(check.run({33, 0x5171, 0, true}, true), 0);  // a debug-only row
    EXPECT_EQ(check.revision_reads, 0);
    EXPECT_TRUE(check.log.lines.empty());
}

TEST(PureCheckImage, RefusalsComeFromTheIdentityGiven) {
    PureCheck check;
    check.images[0].data = image_with_header(0x40100, 0x40000, 0x5170, 0x5731, 0x0003);
    EXPECT_EQ(check.refusal({29, 0x5170, 4, true}),
              "Error: FPGA image is made for board 5170-03, not for this board 5170-04 \n");
    // The same bytes as a page-mode image: its header at 0 is blank.
    EXPECT_EQ(check.refusal({29, 0x5170, 3, false}),
              "Error: Invalid FPGA image signature. FFFF instead of 5731 or 1C0B\n");
}

} // namespace
