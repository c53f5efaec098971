// Image checks on an engine whose identification members are set by hand:
// the compatibility table, the signature, the ZEN5170 variant and the image
// header's place and length. Last, the ZEN5120's choice between the primary
// and the secondary image by board revision, which asks the board: against a
// scripted board that answers the revision query.
#include "engine/image/image_check.hpp"
#include "engine/update/romwright_engine.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "tests/engine/callback_recorder.hpp"
#include "tests/support/fake_zenapi.hpp"

namespace {

using romwright::Compatibility;

using Logged = testsupport::CallbackRecorder;

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
    CRomwright engine{Logged::on_log, &log};

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

// "word2_00A3": the test's name and its printed parameter.
std::string variant_name(const VariantCase &c) { return fmt::format("word2_{:04X}", c.word2); }
void PrintTo(const VariantCase &c, std::ostream *out) { *out << variant_name(c); }

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
        VariantCase{0x00A3, "Error: FPGA image is made for board 5170-A3, not for this board 5170-03 \n"}),
    [](const ::testing::TestParamInfo<VariantCase> &info) { return variant_name(info.param); });

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

// "sector_mode_262149_bytes": the test's name and its printed parameter.
std::string short_name(const ShortCase &c) {
    return fmt::format("{}_mode_{}_bytes", c.sector_mode ? "sector" : "page", c.size);
}
void PrintTo(const ShortCase &c, std::ostream *out) { *out << short_name(c); }

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
                           "(262150 bytes needed)"}),
    [](const ::testing::TestParamInfo<ShortCase> &info) { return short_name(info.param); });

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
                                      romwright::LogSink(Logged::on_log, &log));
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
    EXPECT_THAT(check.log.all_texts(), ::testing::ElementsAre("Using secondary FPGA image from POF file.\n"));
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

// ---------------------------------------------------------------------------
// The same unit on the scripted stand-in.

using ::testing::ElementsAre;
using testsupport::CallbackRecorder;
using Line = CallbackRecorder::Line;

constexpr uint16_t kNew = 0x90;  // word 2 of an image for revision 1.3 or later
constexpr uint16_t kOld = 0x10;

const char *const kPrimaryNeedsNew =
    "Primary FPGA image requires an ZEN5120 v1.3 or later, but the board is version 1.2 or earlier\n";
const char *const kPrimaryNeedsOld =
    "Primary FPGA image requires an ZEN5120 v1.2 or earlier, but the board is version 1.3 or later\n";
const char *const kSecondaryNeedsNew =
    "Secondary FPGA image requires an ZEN5120 v1.3 or later, but the board is version 1.2 or earlier\n";
const char *const kSecondaryNeedsOld =
    "Secondary FPGA image requires an ZEN5120 v1.2 or earlier, but the board is version 1.3 or later\n";

std::vector<uint8_t> header(uint16_t id, uint16_t signature, uint16_t word2, std::size_t size = 0x40) {
    std::vector<uint8_t> image(size, 0xFF);
    const uint16_t words[3] = {id, signature, word2};
    for (std::size_t i = 0; i < 3 && 2 * i + 1 < size; ++i) {
        image[2 * i] = static_cast<uint8_t>(words[i] & 0xFF);
        image[2 * i + 1] = static_cast<uint8_t>(words[i] >> 8);
    }
    return image;
}

class Zen5120 : public ::testing::Test {
protected:
    // First member, so that every call of a case, its members' construction
    // and destruction included, goes to the scripted stand-in.
    fakezen::ScriptedLibrary scripted_;

    void SetUp() override {
        fakezen::library().reset();
        board = &fakezen::library().add_board(1);
        board->kind = 13;
        engine.OpenBoard(board);  // a page-mode kind: no more than the scratch read
        engine.identity().kind = 13;
        engine.identity().id = 0x5120;
    }

    void revision(uint8_t major, uint8_t minor) {
        board->revision_major = major;
        board->revision_minor = minor;
    }

    std::string check() {
        try {
            engine.CheckImage();
        } catch (const std::runtime_error &error) {
            return error.what();
        }
        return "";
    }

    fakezen::Board *board = nullptr;
    CallbackRecorder log;
    CRomwright engine{CallbackRecorder::on_log, &log};
};

struct RevisionCase {
    const char *name;
    uint8_t major, minor;
    uint16_t primary_word2;
    bool has_secondary;
    uint16_t secondary_word2;
    std::string result;
    int32_t image_index;
    std::vector<Line> log;
};

void PrintTo(const RevisionCase &c, std::ostream *out) { *out << c.name; }

class RevisionChoice : public Zen5120, public ::testing::WithParamInterface<RevisionCase> {};

TEST_P(RevisionChoice, PicksTheImageThatFitsTheBoard) {
    const RevisionCase &c = GetParam();
    revision(c.major, c.minor);
    engine.images()[0].data = header(0x5120, 0x5731, c.primary_word2);
    if (c.has_secondary) engine.images()[1].data = header(0x5120, 0x5731, c.secondary_word2);
    EXPECT_EQ(check(), c.result);
    EXPECT_EQ(engine.image_index(), c.image_index);
    EXPECT_EQ(log.lines, c.log);
    EXPECT_EQ(fakezen::library().call_count("KorvelGetBoardRevision"), 1u);
}

constexpr char kNoFit[] = "Error: Incorrect FPGA image for this ZEN5120 version.";

INSTANTIATE_TEST_SUITE_P(
    Boards, RevisionChoice,
    ::testing::Values(
        RevisionCase{"new_board_new_primary", 1, 3, kNew, false, 0, "", 0, {}},
        RevisionCase{"newer_major", 2, 0, kNew, false, 0, "", 0, {}},
        RevisionCase{"old_board_old_primary", 1, 2, kOld, false, 0, "", 0, {}},
        RevisionCase{"old_board_takes_secondary", 1, 2, kNew, true, kOld, "", 1,
                     {{ROMWRIGHT_LOG_INFO, "Using secondary FPGA image from POF file.\n"}}},
        RevisionCase{"new_board_takes_secondary", 1, 3, kOld, true, kNew, "", 1,
                     {{ROMWRIGHT_LOG_INFO, "Using secondary FPGA image from POF file.\n"}}},
        // Minor 15 counts as 0: revision 0.15 is an old board.
        RevisionCase{"minor_15_is_old", 0, 15, kNew, false, 0, kNoFit, 0,
                     {{ROMWRIGHT_LOG_ERROR, kPrimaryNeedsNew}}},
        RevisionCase{"revision_1_15_is_old", 1, 15, kNew, false, 0, kNoFit, 0,
                     {{ROMWRIGHT_LOG_ERROR, kPrimaryNeedsNew}}},
        RevisionCase{"new_board_without_secondary", 1, 3, kOld, false, 0, kNoFit, 0,
                     {{ROMWRIGHT_LOG_ERROR, kPrimaryNeedsOld}}},
        RevisionCase{"old_board_neither_fits", 1, 2, kNew, true, kNew, kNoFit, 0,
                     {{ROMWRIGHT_LOG_ERROR, std::string(kPrimaryNeedsNew) + kSecondaryNeedsNew}}},
        RevisionCase{"new_board_neither_fits", 1, 4, 0x0090 + 1, true, 0x0000, kNoFit, 0,
                     {{ROMWRIGHT_LOG_ERROR, std::string(kPrimaryNeedsOld) + kSecondaryNeedsOld}}}),
    [](const ::testing::TestParamInfo<RevisionCase> &info) { return std::string(info.param.name); });

TEST_F(Zen5120, SecondarySignatureMustBe5731EvenWithDebug) {
    revision(1, 2);
    engine.options().debug = true;
    engine.images()[0].data = header(0x5120, 0x5731, kNew);
    engine.images()[1].data = header(0x5120, 0x1C0B, kOld);
    EXPECT_EQ(check(), "Error: Invalid secondary FPGA image signature");
    EXPECT_EQ(engine.image_index(), 0);
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(Zen5120, SecondaryMustBeForThisBoardWithoutTheTable) {
    revision(1, 2);
    engine.images()[0].data = header(0x5120, 0x5731, kNew);
    engine.images()[1].data = header(0x5121, 0x5731, kOld);  // a row the primary would pass
    EXPECT_EQ(check(), "Error: Secondary FPGA image not this board");
    engine.images()[1].data = header(0x0000, 0x5731, kOld);
    EXPECT_EQ(check(), "");
    EXPECT_EQ(engine.image_index(), 1);
}

TEST_F(Zen5120, SecondaryTooShortForItsHeaderIsRefused) {
    revision(1, 2);
    engine.images()[0].data = header(0x5120, 0x5731, kNew);
    engine.images()[1].data = header(0x5120, 0x5731, kOld, 5);
    EXPECT_EQ(check(), "Error: Secondary FPGA image of 5 bytes is too short for its header at 0x00000000 (6 bytes "
                       "needed)");
}

TEST_F(Zen5120, PrimaryFromACompatibleImageStillChoosesByRevision) {
    revision(1, 2);
    engine.images()[0].data = header(0x5121, 0x5731, kNew);
    engine.images()[1].data = header(0x5120, 0x5731, kOld);
    EXPECT_EQ(check(), "");
    EXPECT_EQ(engine.image_index(), 1);
}

TEST_F(Zen5120, FailedRevisionQueryIsRefused) {
    fakezen::library().fail_call("KorvelGetBoardRevision", 513);
    engine.images()[0].data = header(0x5120, 0x5731, kNew);
    EXPECT_EQ(check(), "Error: reading board revision failed");
}

TEST_F(Zen5120, OtherKindsNeverAskForTheRevision) {
    engine.identity().kind = 21;
    engine.identity().id = 0x5121;
    engine.images()[0].data = header(0x5121, 0x5731, kOld);
    EXPECT_EQ(check(), "");
    EXPECT_EQ(fakezen::library().call_count("KorvelGetBoardRevision"), 0u);
}

} // namespace
