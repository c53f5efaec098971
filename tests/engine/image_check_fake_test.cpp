// The ZEN5120's choice between the primary and the secondary image by board
// revision, against a scripted board that answers the revision query.
#include "engine/romwright_engine.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/engine/callback_recorder.hpp"
#include "tests/support/fake_zenapi.hpp"

namespace {

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
