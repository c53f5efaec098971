// Whole board updates by the engine object against the simulated machine:
// files from the image maker, flash pre-filled with a pattern so that
// "unchanged" means something, faults injected through the machine
// description, and every callback recorded.
//
// Then the flash steps one at a time against the scripted device library: what
// each step reads and writes, the progress it reports, its log lines, its
// erase check and the dumps it shows when something differs. The plan and
// image a step walks are set by hand; page-mode steps run on the page-mode
// backend directly, sector-mode steps on the backend of an identified engine.
#include "engine/update/romwright_engine.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>

#include <zenapi/Zenapi.h>
#include <zenapi/zenapi_sim.h>

#include "engine/flash/page_flash.hpp"
#include "engine/flash/sector_flash.hpp"
#include "tests/engine/callback_recorder.hpp"
#include "tests/support/bytes.hpp"
#include "tests/support/fake_zenapi.hpp"
#include "tests/support/sim_machine.hpp"
#include "tests/support/simulated_clock.hpp"
#include "tests/support/temp_dir.hpp"
#include "tools/mkimage/image_maker.hpp"

namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

constexpr uint64_t kFlashSize = 0x800000;
constexpr uint32_t kImageSize = 0x100000;

using Recorder = testsupport::CallbackRecorder;

std::vector<uint8_t> flash_pattern() {
    return testsupport::pattern_bytes(kFlashSize, 7, 9, 0xA5);
}

struct BoardText {
    std::string name = "dut";
    uint32_t kind = 13;
    std::string revision = "1.3";
    std::string extra;  // more keys or tables of the board

    std::string toml() const {
        return fmt::format(R"(
[[system]]
[[system.board]]
name = "{}"
kind = {}
revision = "{}"
cpld = "9.14"
ksopc_signature = 0x0E080000
serial = 4242
register0 = 0x00001203
features = []
{}
)",
                           name, kind, revision, extra);
    }
};

// A ZEN5160 whose flash controller leaves `mask` wrong at byte `offset` of
// `sector` after an erase or program ("erase_bits" / "program_bits"), for the
// first `times` attempts (0: every attempt).
BoardText sector_board_with_bit_fault(const char *type, uint32_t sector, uint32_t offset, uint32_t mask,
                                      uint32_t times) {
    BoardText board;
    board.kind = 25;
    board.extra = fmt::format(
        "\n[system.board.controller]\n[[system.board.controller.fault]]\ntype = \"{}\"\nsector = {}\n"
        "offset = 0x{:X}\nmask = 0x{:02X}\n",
        type, sector, offset, mask);
    if (times) board.extra += fmt::format("times = {}\n", times);
    return board;
}

struct Outcome {
    std::string error;  // "" when the update succeeded
    Recorder recorder;
    std::size_t write_map_size = 0;  // the page plan the engine kept
    int32_t write_count = 0;
};

class Update : public ::testing::Test {
protected:
    void start(const BoardText &board) {
        board_name = board.name;
        machine = std::make_unique<testsupport::SimMachine>(board.toml());
        machine->preset_flash(board.name, kFlashSize, 0, flash_pattern());
        machine->activate();
        handle = KorvelGetBoardBySystemID(1, 1);
        ASSERT_NE(handle, nullptr);
    }

    // Writes the file the recipe describes and returns its path.
    std::string make_file(const mkimage::FileRecipe &recipe, const std::string &name) {
        const std::string path = files.file(name);
        mkimage::write_file(path, mkimage::make_file(recipe));
        return path;
    }

    static mkimage::FileRecipe recipe_for(const std::string &model, mkimage::Format format, uint16_t word2 = 0) {
        mkimage::FileRecipe recipe;
        recipe.format = format;
        recipe.device_name = model;
        recipe.primary = mkimage::default_recipe(model, kImageSize);
        recipe.primary.header.word2 = word2;
        return recipe;
    }

    struct Options {
        bool verify = true;
        int32_t max_retries = 15;
        bool debug = false;
        bool auto_select = true;
        bool page0 = false, page1 = false, option_bits = true;
    };

    Outcome run(const std::string &path, const Options &options) {
        Outcome outcome;
        CRomwright engine(Recorder::on_log, &outcome.recorder, clock);
        engine.SetOptions(options.auto_select, options.page0, options.page1, options.option_bits, options.verify,
                          options.max_retries, options.debug);
        try {
            engine.UpdateBoard(path, handle, Recorder::on_operation, Recorder::on_progress);
            EXPECT_FALSE(engine.controller_attached());
            EXPECT_EQ(engine.board(), nullptr);
        } catch (const std::exception &error) {
            outcome.error = error.what();
        }
        outcome.write_map_size = engine.plan().write_map.size();
        outcome.write_count = engine.plan().write_count;
        return outcome;
    }
    Outcome run(const std::string &path) { return run(path, Options{}); }

    std::vector<uint8_t> flash() const {
        std::vector<uint8_t> bytes(kFlashSize);
        EXPECT_EQ(ZenSimReadFlash(1, 1, 0, bytes.data(), bytes.size()), 0);
        return bytes;
    }

    uint64_t calls(const char *name) const { return ZenSimCallCount(1, 1, name); }

    // Bit 3 of the flash enable register: the flash output the driver switches on.
    bool flash_output_enabled() const {
        uint32_t value = 0;
        EXPECT_EQ(KorvelReadRegister(handle, 0x80000000u, &value, ZENAPI_REGISTER_ACCESS_CODE), ZENAPI_SUCCESS);
        return (value & 0x8u) != 0;
    }

    // The first byte of the image at or after `from` that is not 0xFF.
    static uint32_t first_data_byte(const std::vector<uint8_t> &image, uint32_t from) {
        for (uint32_t i = from; i < image.size(); ++i)
            if (image[i] != 0xFF) return i;
        throw std::logic_error("image holds no data");
    }

    testsupport::SimulatedClock clock;
    testsupport::TempDir files{"update-board"};
    std::unique_ptr<testsupport::SimMachine> machine;
    std::string board_name;
    void *handle = nullptr;
};

// The sectors a range [start, end) touches, for a given sector size.
void mark(std::vector<bool> &sectors, uint32_t start, uint32_t end, uint32_t size) {
    for (uint32_t s = start / size; s <= (end - 1) / size && s < sectors.size(); ++s) sectors[s] = true;
}

// What the flash must hold after updating with this image: the image on the
// sectors that page_0 and the option bits reach, the old pattern elsewhere.
// Page mode never writes the first 128 KB.
std::vector<uint8_t> expected_flash(const mkimage::ImageRecipe &recipe, const std::vector<uint8_t> &image,
                                    bool sector_mode) {
    const uint32_t size = sector_mode ? 0x40000 : 0x20000;
    std::vector<bool> sectors(image.size() / size, false);
    mark(sectors, recipe.page0.start, recipe.page0.end, size);
    mark(sectors, recipe.option_bits_offset, recipe.option_bits_offset + 128, size);
    std::vector<uint8_t> flash = flash_pattern();
    for (std::size_t s = 0; s < sectors.size(); ++s) {
        if (!sectors[s]) continue;
        std::copy(image.begin() + s * size, image.begin() + (s + 1) * size, flash.begin() + s * size);
    }
    return flash;
}

using testsupport::first_difference;

struct PathCase {
    const char *name;
    uint32_t kind;
    const char *model;
    mkimage::Format format;
    uint16_t word2;
    const char *revision;
};

void PrintTo(const PathCase &c, std::ostream *out) { *out << c.name; }

class WholeUpdate : public Update, public ::testing::WithParamInterface<PathCase> {};

TEST_P(WholeUpdate, LeavesTheImageOnExactlyThePlannedSectors) {
    const PathCase &c = GetParam();
    BoardText board;
    board.kind = c.kind;
    board.revision = c.revision;
    start(board);
    const mkimage::FileRecipe recipe = recipe_for(c.model, c.format, c.word2);
    const std::string path =
        make_file(recipe, std::string(c.model) + (c.format == mkimage::Format::pof ? ".pof" : ".rpd"));
    const bool sector_mode = c.kind == 25 || c.kind == 29;

    const Outcome outcome = run(path);
    ASSERT_EQ(outcome.error, "") << outcome.recorder.joined();
    const std::vector<uint8_t> image = mkimage::make_image(recipe.primary, c.format);
    const std::vector<uint8_t> expected = expected_flash(recipe.primary, image, sector_mode);
    const std::vector<uint8_t> now = flash();
    EXPECT_EQ(first_difference(now, expected), now.size());
    EXPECT_EQ(outcome.recorder.operations,
              (std::vector<ROMWRIGHT_OPERATION>{ROMWRIGHT_OPERATION_ERASING, ROMWRIGHT_OPERATION_WRITING,
                                                ROMWRIGHT_OPERATION_VERIFYING}));
    // The driver's pauses advance the simulated clock in sector mode.
#if defined(_WIN32)  // GoogleTest's own regular expressions there: \d, but no brackets
    EXPECT_THAT(outcome.recorder.lines.back().text, ::testing::MatchesRegex("Board update time = \\d+s\n"));
#else
    EXPECT_THAT(outcome.recorder.lines.back().text, ::testing::MatchesRegex("Board update time = [0-9]+s\n"));
#endif
    EXPECT_TRUE(outcome.recorder.engine_texts(ROMWRIGHT_LOG_ERROR).empty()) << outcome.recorder.joined();
    EXPECT_THAT(outcome.recorder.engine_texts(ROMWRIGHT_LOG_INFO),
                Contains(fmt::format("Board type = {} {{{}}}\n", c.model,
                                     std::string(c.revision).replace(1, 1, ", "))));
}

INSTANTIATE_TEST_SUITE_P(
    Boards, WholeUpdate,
    ::testing::Values(PathCase{"ZEN5120_rpd", 13, "ZEN5120", mkimage::Format::rpd, 0x90, "1.3"},
                      PathCase{"ZEN5120_pof", 13, "ZEN5120", mkimage::Format::pof, 0x90, "1.3"},
                      PathCase{"ZEN5110_pof", 11, "ZEN5110", mkimage::Format::pof, 0, "2.0"},
                      PathCase{"ZEN5160_rpd", 25, "ZEN5160", mkimage::Format::rpd, 0, "1.5"},
                      PathCase{"ZEN5170_pof", 29, "ZEN5170", mkimage::Format::pof, 3, "1.1"}),
    [](const ::testing::TestParamInfo<PathCase> &info) { return std::string(info.param.name); });

// Progress per step as a front end sees it, for k sectors and w pages.
TEST_F(Update, PageModeProgressFollowsEachStepsRule) {
    start(BoardText{});
    const mkimage::FileRecipe recipe = recipe_for("ZEN5120", mkimage::Format::rpd, 0x90);
    const Outcome outcome = run(make_file(recipe, "ZEN5120.rpd"));
    ASSERT_EQ(outcome.error, "");

    const std::vector<float> erasing = outcome.recorder.progress_during(ROMWRIGHT_OPERATION_ERASING);
    ASSERT_GE(erasing.size(), 2u);
    const std::size_t k = erasing.size() - 1;
    EXPECT_EQ(erasing[0], 0.0f);
    for (std::size_t i = 0; i < k; ++i) EXPECT_EQ(erasing[i + 1], static_cast<float>(i) / k);

    const std::vector<float> writing = outcome.recorder.progress_during(ROMWRIGHT_OPERATION_WRITING);
    const std::vector<float> verifying = outcome.recorder.progress_during(ROMWRIGHT_OPERATION_VERIFYING);
    const std::size_t w = writing.size();
    ASSERT_GT(w, 0u);
    ASSERT_EQ(verifying.size(), w);
    for (std::size_t i = 0; i < w; ++i) {
        EXPECT_EQ(writing[i], static_cast<float>(i) / w);
        EXPECT_EQ(verifying[i], static_cast<float>(i + 1) / w);
    }
    EXPECT_THAT(outcome.recorder.engine_texts(ROMWRIGHT_LOG_INFO),
                Contains(fmt::format("Erasing {} of {} sectors.\n", k, kImageSize / 0x20000)));
    EXPECT_THAT(outcome.recorder.engine_texts(ROMWRIGHT_LOG_INFO),
                Contains(fmt::format("Writing {} of {} pages.", w, kImageSize / 32)));
    EXPECT_THAT(outcome.recorder.engine_texts(ROMWRIGHT_LOG_INFO), Contains(fmt::format("Verifying {} pages\n", w)));
}

TEST_F(Update, SectorModeProgressFollowsEachStepsRule) {
    BoardText board;
    board.kind = 25;
    start(board);
    const Outcome outcome = run(make_file(recipe_for("ZEN5160", mkimage::Format::rpd), "ZEN5160.rpd"));
    ASSERT_EQ(outcome.error, "");
    const std::size_t k = kImageSize / 0x40000;  // page_0 from 0x20000 reaches sector 0
    std::vector<float> erasing{0.0f}, writing, verifying;
    for (std::size_t i = 0; i < k; ++i) {
        erasing.push_back(static_cast<float>(i) / k);
        writing.push_back(static_cast<float>(i + 1) / k);
        verifying.push_back(static_cast<float>(i) / k);
    }
    EXPECT_EQ(outcome.recorder.progress_during(ROMWRIGHT_OPERATION_ERASING), erasing);
    EXPECT_EQ(outcome.recorder.progress_during(ROMWRIGHT_OPERATION_WRITING), writing);
    EXPECT_EQ(outcome.recorder.progress_during(ROMWRIGHT_OPERATION_VERIFYING), verifying);
    EXPECT_THAT(outcome.recorder.engine_texts(ROMWRIGHT_LOG_INFO), Contains("Writing 4 of 4\n"));
    EXPECT_THAT(outcome.recorder.engine_texts(ROMWRIGHT_LOG_INFO), Contains("Verifying 4 sectors\n"));
    // Sector mode writes whole sectors: no page plan is made.
    EXPECT_EQ(outcome.write_map_size, 0u);
    EXPECT_EQ(outcome.write_count, 0);
}

// The file's first bytes decide how it is read, not its name: a POF file
// named ".rpd" is read as POF, and a raw image that happens to start with
// "POF" but no zero byte is read as raw.
TEST_F(Update, FormatIsToldByTheMagicNotTheName) {
    BoardText board;
    board.kind = 25;
    start(board);
    mkimage::FileRecipe recipe = recipe_for("ZEN5160", mkimage::Format::rpd);
    std::vector<uint8_t> image = mkimage::make_image(recipe.primary, mkimage::Format::rpd);
    image[0] = 'P';
    image[1] = 'O';
    image[2] = 'F';
    image[3] = ' ';
    const std::string raw = files.file("ZEN5160-raw.pof");
    testsupport::write_file(raw, image);
    const Outcome from_raw = run(raw);
    ASSERT_EQ(from_raw.error, "") << from_raw.recorder.joined();
    EXPECT_THAT(from_raw.recorder.engine_texts(ROMWRIGHT_LOG_INFO), Contains(fmt::format("Loading binary file {} bytes.\n",
                                                                                  image.size())));
    EXPECT_EQ(first_difference(flash(), expected_flash(recipe.primary, image, true)), kFlashSize);

    recipe.format = mkimage::Format::pof;
    const Outcome from_pof = run(make_file(recipe, "ZEN5160-pof.rpd"));
    ASSERT_EQ(from_pof.error, "") << from_pof.recorder.joined();
    EXPECT_EQ(from_pof.recorder.count_starting("Loading binary file"), 0u);
    const std::vector<uint8_t> pof_image = mkimage::make_image(recipe.primary, mkimage::Format::pof);
    EXPECT_EQ(first_difference(flash(), expected_flash(recipe.primary, pof_image, true)), kFlashSize);
}

TEST_F(Update, PageModeEraseResidueOnceIsErasedAgain) {
    BoardText board;
    board.extra = R"(
[[system.board.fault]]
type = "page_erase_residue"
sector = 2
address = 0x40C80
value = 0xFFFE
times = 1
)";
    start(board);
    const Outcome outcome = run(make_file(recipe_for("ZEN5120", mkimage::Format::rpd, 0x90), "ZEN5120.rpd"));
    ASSERT_EQ(outcome.error, "");
    EXPECT_EQ(outcome.recorder.engine_texts(ROMWRIGHT_LOG_ERROR),
              (std::vector<std::string>{"Error: Erase sector 2 byte address 0x00040C80 failed\n", "Read\n"}));
    EXPECT_EQ(outcome.recorder.count_starting("Erasing "), 1u);
    EXPECT_EQ(calls("ZEN5110FlashSectorErase"), kImageSize / 0x20000 - 1 + 1);
    EXPECT_EQ(outcome.recorder.lines.back().text, "Board update time = 0s\n");
}

// A page that reads back wrong once: the attempt fails in verification, the
// whole sequence runs again and succeeds.
TEST_F(Update, VerifyMismatchOnceThenSuccess) {
    const mkimage::FileRecipe recipe = recipe_for("ZEN5120", mkimage::Format::rpd, 0x90);
    const std::vector<uint8_t> image = mkimage::make_image(recipe.primary, mkimage::Format::rpd);
    const uint32_t address = first_data_byte(image, 0x30000);
    BoardText board;
    board.extra = fmt::format(R"(
[[system.board.fault]]
type = "page_program_error"
address = {}
times = 1
)",
                              address);
    start(board);
    const Outcome outcome = run(make_file(recipe, "ZEN5120.rpd"));
    ASSERT_EQ(outcome.error, "") << outcome.recorder.joined();

    const std::string page = fmt::format("0x{:08X}", address / 32 * 32);
    EXPECT_EQ(outcome.recorder.engine_texts(ROMWRIGHT_LOG_ERROR),
              (std::vector<std::string>{"Verify page at " + page + " failed", "Data verification failed.\n"}));
    EXPECT_EQ(outcome.recorder.count_starting("Erasing "), 2u);
    EXPECT_EQ(outcome.recorder.operations,
              (std::vector<ROMWRIGHT_OPERATION>{ROMWRIGHT_OPERATION_ERASING, ROMWRIGHT_OPERATION_WRITING,
                                                ROMWRIGHT_OPERATION_VERIFYING, ROMWRIGHT_OPERATION_ERASING,
                                                ROMWRIGHT_OPERATION_WRITING, ROMWRIGHT_OPERATION_VERIFYING}));
    // The mismatch lines come before the second attempt's erase.
    const std::string log = outcome.recorder.joined();
    EXPECT_LT(log.find("Verify page at"), log.rfind("Erasing "));
    EXPECT_LT(log.find("Wrote:\n"), log.find("Read:\n"));
    EXPECT_EQ(outcome.recorder.lines.back().text, "Board update time = 0s\n");
    EXPECT_EQ(first_difference(flash(), expected_flash(recipe.primary, image, false)), kFlashSize);
}

struct RetryCase {
    int32_t max_retries;
    std::size_t attempts;
};

void PrintTo(const RetryCase &c, std::ostream *out) { *out << "max_retries " << c.max_retries; }

class AlwaysFailing : public Update, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(AlwaysFailing, RunsMaxRetriesPlusOneAttempts) {
    const mkimage::FileRecipe recipe = recipe_for("ZEN5120", mkimage::Format::rpd, 0x90);
    const std::vector<uint8_t> image = mkimage::make_image(recipe.primary, mkimage::Format::rpd);
    BoardText board;
    board.extra = fmt::format(R"(
[[system.board.fault]]
type = "page_program_error"
address = {}
times = 1000
)",
                              first_data_byte(image, 0x20000));
    start(board);
    Options options;
    options.max_retries = GetParam().max_retries;
    const Outcome outcome = run(make_file(recipe, "ZEN5120.rpd"), options);
    EXPECT_EQ(outcome.error, "Max retries reached.");
    const std::size_t attempts = GetParam().attempts;
    EXPECT_EQ(outcome.recorder.count_starting("Erasing "), attempts);
    const auto errors = outcome.recorder.engine_texts(ROMWRIGHT_LOG_ERROR);
    EXPECT_EQ(static_cast<std::size_t>(std::count(errors.begin(), errors.end(), "Data verification failed.\n")),
              attempts);
    EXPECT_EQ(outcome.recorder.operations.size(), 3 * attempts);
    EXPECT_EQ(outcome.recorder.count_starting("Board update time"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Limits, AlwaysFailing,
                         ::testing::Values(RetryCase{2, 3}, RetryCase{0, 1}, RetryCase{-5, 1}),
                         [](const ::testing::TestParamInfo<RetryCase> &info) {
                             return info.param.max_retries < 0 ? std::string("negative")
                                                               : "max_" + std::to_string(info.param.max_retries);
                         });

TEST_F(Update, WithoutVerifyNothingIsReadBackAfterWriting) {
    start(BoardText{});
    Options options;
    options.verify = false;
    const Outcome outcome = run(make_file(recipe_for("ZEN5120", mkimage::Format::rpd, 0x90), "ZEN5120.rpd"), options);
    ASSERT_EQ(outcome.error, "");
    EXPECT_EQ(outcome.recorder.operations,
              (std::vector<ROMWRIGHT_OPERATION>{ROMWRIGHT_OPERATION_ERASING, ROMWRIGHT_OPERATION_WRITING}));
    const uint64_t sectors = kImageSize / 0x20000 - 1;
    // The scratch read of identification and the erase check, nothing more.
    EXPECT_EQ(calls("ZEN5110FlashSectorPageRead"), 1 + sectors * 4096 * 2);
    EXPECT_EQ(outcome.recorder.count_starting("Verifying"), 0u);
}

TEST_F(Update, SectorModeEraseThatLeavesABitIsErasedAgain) {
    start(sector_board_with_bit_fault("erase_bits", 2, 0x1235, 0x01, 1));
    const Outcome outcome = run(make_file(recipe_for("ZEN5160", mkimage::Format::rpd), "ZEN5160.rpd"));
    ASSERT_EQ(outcome.error, "") << outcome.recorder.joined();
    EXPECT_EQ(outcome.recorder.engine_texts(ROMWRIGHT_LOG_ERROR),
              std::vector<std::string>{"Error: erase sector 2 byte address 0x00081234 failed\n"});
    const std::string log = outcome.recorder.joined();
    EXPECT_THAT(log, HasSubstr("Read: \n 00081200 "));
    EXPECT_THAT(log, HasSubstr(" 00081230 FF FF FF FF FF FE FF FF "));
    EXPECT_EQ(outcome.recorder.count_starting("Erasing "), 1u);
}

TEST_F(Update, SectorModeVerifyMismatchOnceThenSuccess) {
    start(sector_board_with_bit_fault("program_bits", 2, 0x54, 0x10, 1));
    const mkimage::FileRecipe recipe = recipe_for("ZEN5160", mkimage::Format::rpd);
    const Outcome outcome = run(make_file(recipe, "ZEN5160.rpd"));
    ASSERT_EQ(outcome.error, "") << outcome.recorder.joined();
    EXPECT_EQ(outcome.recorder.engine_texts(ROMWRIGHT_LOG_ERROR),
              (std::vector<std::string>{"Error: Verify sector 2 byte address 0x00080054 failed.\n",
                                        "Verify sector failed.\n"}));
    const std::string log = outcome.recorder.joined();
    EXPECT_THAT(log, HasSubstr("Wrote:\n 00080040 "));
    EXPECT_THAT(log, HasSubstr("Read:\n 00080040 "));
    EXPECT_EQ(outcome.recorder.count_starting("Erasing "), 2u);
    const std::vector<uint8_t> image = mkimage::make_image(recipe.primary, mkimage::Format::rpd);
    EXPECT_EQ(first_difference(flash(), expected_flash(recipe.primary, image, true)), kFlashSize);
}

TEST_F(Update, SectorModeBoardThatAlwaysFailsVerification) {
    start(sector_board_with_bit_fault("program_bits", 1, 0x100, 0x80, 0));
    Options options;
    options.max_retries = 2;
    const Outcome outcome = run(make_file(recipe_for("ZEN5160", mkimage::Format::rpd), "ZEN5160.rpd"), options);
    EXPECT_EQ(outcome.error, "Max retries reached.");
    const auto errors = outcome.recorder.engine_texts(ROMWRIGHT_LOG_ERROR);
    EXPECT_EQ(std::count(errors.begin(), errors.end(), "Verify sector failed.\n"), 3);
    EXPECT_EQ(outcome.recorder.count_starting("Erasing "), 3u);
    // The engine is gone: it detached the driver, which switched the output off.
    EXPECT_FALSE(flash_output_enabled());
}

TEST_F(Update, SectorModeSuccessSwitchesTheFlashOutputOff) {
    BoardText board;
    board.kind = 25;
    start(board);
    const Outcome outcome = run(make_file(recipe_for("ZEN5160", mkimage::Format::rpd), "ZEN5160.rpd"));
    ASSERT_EQ(outcome.error, "");
    EXPECT_FALSE(flash_output_enabled());
}

// A failure that is not a standard exception is logged as unknown and
// retried like any other.
TEST_F(Update, ThrownValuesOtherThanExceptionsAreRetriedToo) {
    start(BoardText{});
    struct Thrower {
        Recorder recorder;
        int writes = 0;
    } thrower;
    const auto on_operation = [](ROMWRIGHT_OPERATION operation, void *self) {
        auto *t = static_cast<Thrower *>(self);
        Recorder::on_operation(operation, &t->recorder);
        if (operation == ROMWRIGHT_OPERATION_WRITING && ++t->writes == 1) throw 42;
        if (operation == ROMWRIGHT_OPERATION_WRITING && t->writes == 2) throw std::runtime_error("callback failed");
    };
    const auto on_log = [](ROMWRIGHT_LOG_LEVEL level, const char *text, void *self) {
        Recorder::on_log(level, text, &static_cast<Thrower *>(self)->recorder);
    };
    CRomwright engine(on_log, &thrower, clock);
    engine.UpdateBoard(make_file(recipe_for("ZEN5120", mkimage::Format::rpd, 0x90), "ZEN5120.rpd"), handle,
                       on_operation, nullptr);
    EXPECT_EQ(thrower.recorder.engine_texts(ROMWRIGHT_LOG_ERROR),
              (std::vector<std::string>{"Unknown error.", "callback failed\n"}));
    EXPECT_EQ(thrower.recorder.count_starting("Erasing "), 3u);
    EXPECT_EQ(thrower.recorder.lines.back().text, "Board update time = 0s\n");
}

TEST_F(Update, Zen5120OfRevision12ProgramsTheSecondaryImage) {
    BoardText board;
    board.revision = "1.2";
    start(board);
    mkimage::FileRecipe recipe = recipe_for("ZEN5120", mkimage::Format::pof, 0x90);
    recipe.secondary = mkimage::default_secondary(recipe.primary);
    ASSERT_EQ(recipe.secondary->header.word2, 0x10);
    const Outcome outcome = run(make_file(recipe, "ZEN5120.pof"));
    ASSERT_EQ(outcome.error, "") << outcome.recorder.joined();
    EXPECT_THAT(outcome.recorder.engine_texts(ROMWRIGHT_LOG_INFO), Contains("Using secondary FPGA image from POF file.\n"));
    const std::vector<uint8_t> secondary = mkimage::make_image(*recipe.secondary, mkimage::Format::pof);
    EXPECT_EQ(first_difference(flash(), expected_flash(*recipe.secondary, secondary, false)), kFlashSize);
}

TEST_F(Update, DebugAddsPlanningAndTimingLines) {
    start(BoardText{});
    Options options;
    options.debug = true;
    const Outcome outcome = run(make_file(recipe_for("ZEN5120", mkimage::Format::rpd, 0x90), "ZEN5120.rpd"), options);
    ASSERT_EQ(outcome.error, "");
    const auto info = outcome.recorder.engine_texts(ROMWRIGHT_LOG_INFO);
    EXPECT_THAT(info, Contains("Found 7 sectors to erase from 0x00020000 to 0x00100000\n"));
    EXPECT_THAT(info, Contains("Erased 7 sectors in 0 seconds.\n"));
    EXPECT_EQ(outcome.recorder.count_starting("Found 7 sectors"), 1u);
    EXPECT_GE(outcome.recorder.count_starting("Found "), 2u);  // and the runs of modified pages
    EXPECT_EQ(outcome.recorder.count_starting("Wrote "), 1u);
    EXPECT_EQ(outcome.recorder.count_starting("Verified "), 1u);
}

// Refusals come before anything on the flash is touched.
struct RefusalCase {
    const char *name;
    uint32_t kind;
    const char *model;
    std::function<void(mkimage::FileRecipe &)> change;
    std::string message;
};

void PrintTo(const RefusalCase &c, std::ostream *out) { *out << c.name; }

class RefusedBeforeErasing : public Update, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusedBeforeErasing, LeavesTheFlashAlone) {
    const RefusalCase &c = GetParam();
    BoardText board;
    board.kind = c.kind;
    start(board);
    mkimage::FileRecipe recipe = recipe_for(c.model, mkimage::Format::pof, c.kind == 13 ? 0x90 : 3);
    c.change(recipe);
    const Outcome outcome = run(make_file(recipe, std::string(c.model) + ".pof"));
    EXPECT_EQ(outcome.error, c.message);
    EXPECT_TRUE(outcome.recorder.operations.empty());
    EXPECT_EQ(calls("ZEN5110FlashSectorErase"), 0u);
    EXPECT_EQ(calls("ZEN5110PageWriteToFlash"), 0u);
    EXPECT_EQ(first_difference(flash(), flash_pattern()), kFlashSize);
}

INSTANTIATE_TEST_SUITE_P(
    Files, RefusedBeforeErasing,
    ::testing::Values(
        RefusalCase{"other_board", 13, "ZEN5120", [](mkimage::FileRecipe &s) { s.primary.header.board_id = 0x5142; },
                    "Error: FPGA image is made for board 5142, not for this board 5120 \n"},
        RefusalCase{"bad_signature", 13, "ZEN5120", [](mkimage::FileRecipe &s) { s.primary.header.signature = 0x1234; },
                    "Error: Invalid FPGA image signature. 1234 instead of 5731 or 1C0B\n"},
        RefusalCase{"wrong_variant", 29, "ZEN5170", [](mkimage::FileRecipe &s) { s.primary.header.word2 = 2; },
                    "Error: FPGA image is made for board 5170-02, not for this board 5170-03 \n"},
        RefusalCase{"page0_in_first_128KB", 13, "ZEN5120",
                    [](mkimage::FileRecipe &s) {
                        s.primary.page0 = {0x0, 0x80000};
                        s.primary.header_offset = 0;
                    },
                    "Error: page_0 range 0x00000000 to 0x00080000 reaches into the first 128 KB, which this board "
                    "never programs; erasing sector 0 would destroy its contents"},
        // Automatic selection leaves page_1 out, but page_0's last sector holds its start.
        RefusalCase{"page1_shares_a_sector_with_page0", 13, "ZEN5120",
                    [](mkimage::FileRecipe &s) {
                        s.primary.page0 = {0x20000, 0x7E000};
                        s.primary.page1 = mkimage::PageRange{0x7E000, 0xC0000};
                    },
                    "Error: Erasing sector 3 would destroy the part of the page_1 range 0x0007E000 to 0x000C0000 "
                    "that lies in it, as that range is not being written"}),
    [](const ::testing::TestParamInfo<RefusalCase> &info) { return std::string(info.param.name); });

TEST_F(Update, SectorModeImageTooShortForItsHeaderIsRefused) {
    BoardText board;
    board.kind = 25;
    start(board);
    mkimage::FileRecipe recipe = recipe_for("ZEN5160", mkimage::Format::pof);
    recipe.broken = mkimage::Broken::header_short;
    const Outcome outcome = run(make_file(recipe, "ZEN5160.pof"));
    EXPECT_THAT(outcome.error, HasSubstr("too short for its header at 0x00040000"));
    EXPECT_TRUE(outcome.recorder.operations.empty());
    EXPECT_EQ(first_difference(flash(), flash_pattern()), kFlashSize);
}

TEST_F(Update, MissingFileIsNamed) {
    start(BoardText{});
    const std::string path = files.file("absent-ZEN5120.rpd");
    const Outcome outcome = run(path);
    EXPECT_EQ(outcome.error, "Error: Could not open firmware file " + path);
    EXPECT_EQ(calls("KorvelGetBoardKind"), 0u);
}

// ---------------------------------------------------------------------------
// The same unit on the scripted stand-in.

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr uint32_t kPageSector = 0x20000;
constexpr uint32_t kBigSector = 0x40000;

using Recorder = testsupport::CallbackRecorder;

std::vector<float> fractions(std::initializer_list<std::pair<int, int>> values) {
    std::vector<float> out;
    for (const auto &v : values) out.push_back(static_cast<float>(v.first) / static_cast<float>(v.second));
    return out;
}

std::vector<uint8_t> patterned(std::size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed * 2654435761u + 7;
    for (auto &byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

std::vector<bool> map_of(std::size_t size, std::initializer_list<uint32_t> set) {
    std::vector<bool> map(size, false);
    for (uint32_t i : set) map[i] = true;
    return map;
}

std::string error_of(const std::function<void()> &step) {
    try {
        step();
    } catch (const std::runtime_error &error) {
        return error.what();
    }
    return "";
}

class Steps : public ::testing::Test {
protected:
    // First member, so that every call of a case, its members' construction
    // and destruction included, goes to the scripted stand-in.
    fakezen::ScriptedLibrary scripted_;

    void SetUp() override {
        fakezen::library().reset();
        board = &fakezen::library().add_board(1);
    }

    std::vector<std::string> calls_named(const std::string &name) const {
        std::vector<std::string> out;
        for (const auto &call : fakezen::library().calls())
            if (call.name == name) out.push_back(std::to_string(call.args.empty() ? 0 : call.args[0]));
        return out;
    }

    testsupport::SimulatedClock clock;
    Recorder recorder;
    fakezen::Board *board = nullptr;
};

// ------------------------------------------------------------ page mode

class PageSteps : public Steps {
protected:
    void SetUp() override {
        Steps::SetUp();
        board->kind = 11;
        board->flash_size = 4 * kPageSector;
        board->flash_bytes() = patterned(board->flash_size, 1);
        image = patterned(4 * kPageSector, 2);
        backend = std::make_unique<romwright::PageFlash>(board, driver, romwright::LogSink(Recorder::on_log, &recorder),
                                                         clock);
    }

    romwright::FlashWork work() const { return {image, plan, debug, max_retries}; }
    void erase(ROMWRIGHT_PROGRESS_CALLBACK progress) { backend->EraseSectors(work(), progress); }
    void write(ROMWRIGHT_PROGRESS_CALLBACK progress) { backend->WritePages(work(), progress); }
    void verify(ROMWRIGHT_PROGRESS_CALLBACK progress) { backend->VerifyPages(work(), progress); }

    std::vector<uint8_t> image;
    romwright::UpdatePlan plan;
    bool debug = false;
    int32_t max_retries = 15;
    CFlashPC28F driver{Recorder::on_log, &recorder, clock};  // never attached in page mode
    std::unique_ptr<romwright::PageFlash> backend;
};

TEST_F(PageSteps, EraseErasesThePlannedSectorsAndChecksEachReadsErased) {
    const std::vector<uint8_t> before = board->flash_bytes();
    plan.erase_map = map_of(4, {1, 2});
    plan.erase_count = 2;
    erase(Recorder::on_progress);

    EXPECT_EQ(calls_named("ZEN5110FlashSectorErase"), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(fakezen::library().call_count("ZEN5110FlashSectorPageRead"), 2u * 2 * 4096);
    EXPECT_EQ(recorder.progress, (std::vector<float>{0.0f, 0.0f, 0.5f}));
    EXPECT_THAT(recorder.lines, ElementsAre(Recorder::Line{ROMWRIGHT_LOG_INFO, "Erasing 2 of 4 sectors.\n"}));
    const std::vector<uint8_t> &after = board->flash_bytes();
    EXPECT_TRUE(std::equal(after.begin(), after.begin() + kPageSector, before.begin()));
    EXPECT_TRUE(std::all_of(after.begin() + kPageSector, after.begin() + 3 * kPageSector,
                            [](uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(std::equal(after.begin() + 3 * kPageSector, after.end(), before.begin() + 3 * kPageSector));
}

TEST_F(PageSteps, EraseWithNothingPlannedOnlyLogsAndReportsZero) {
    plan.erase_map = map_of(4, {});
    plan.erase_count = 0;
    debug = true;
    erase(Recorder::on_progress);
    EXPECT_EQ(recorder.progress, std::vector<float>{0.0f});
    EXPECT_THAT(recorder.lines, ElementsAre(Recorder::Line{ROMWRIGHT_LOG_INFO, "Erasing 0 of 4 sectors.\n"}));
    EXPECT_EQ(fakezen::library().call_count("ZEN5110FlashSectorErase"), 0u);
}

TEST_F(PageSteps, EraseWithDebugReportsItsTime) {
    plan.erase_map = map_of(4, {3});
    plan.erase_count = 1;
    debug = true;
    erase(nullptr);
    EXPECT_EQ(recorder.lines.back(), (Recorder::Line{ROMWRIGHT_LOG_INFO, "Erased 1 sectors in 0 seconds.\n"}));
}

// A word that stays 0xFFFE at page 100 of sector 1 on the first erase: the
// failure names that page, the sector is erased again and checked again
// from its first page.
TEST_F(PageSteps, SectorThatReadsUnerasedOnceIsErasedAgain) {
    std::vector<uint8_t> &flash = board->flash_bytes();
    std::fill(flash.begin(), flash.end(), 0xFF);
    flash[kPageSector + 100 * 32 + 6] = 0xFE;
    fakezen::library().fail_call("ZEN5110FlashSectorErase", 513, 1);  // the first erase does nothing
    plan.erase_map = map_of(4, {1});
    plan.erase_count = 1;
    erase(Recorder::on_progress);

    EXPECT_EQ(calls_named("ZEN5110FlashSectorErase"), (std::vector<std::string>{"1", "1"}));
    EXPECT_EQ(fakezen::library().call_count("ZEN5110FlashSectorPageRead"), 2u * (101 + 4096));
    ASSERT_GE(recorder.lines.size(), 3u);
    EXPECT_EQ(recorder.lines[1],
              (Recorder::Line{ROMWRIGHT_LOG_ERROR, "Error: Erase sector 1 byte address 0x00020C80 failed\n"}));
    EXPECT_EQ(recorder.lines[2], (Recorder::Line{ROMWRIGHT_LOG_ERROR, "Read\n"}));
    EXPECT_THAT(recorder.joined(), HasSubstr(" 00020C80 FF FF FF FF FF FF FE FF  FF FF FF FF FF FF FF FF  ........"
                                             "........\n 00020C90 "));
    EXPECT_EQ(recorder.progress, (std::vector<float>{0.0f, 0.0f}));
    EXPECT_TRUE(std::all_of(flash.begin() + kPageSector, flash.begin() + 2 * kPageSector,
                            [](uint8_t b) { return b == 0xFF; }));
}

TEST_F(PageSteps, WithNoRetriesTheFirstFailedCheckDepletesThem) {
    max_retries = 0;
    fakezen::library().fail_call("ZEN5110FlashSectorErase", 513, 1);
    plan.erase_map = map_of(4, {2});
    plan.erase_count = 1;
    EXPECT_EQ(error_of([&] { erase(nullptr); }), "Error: erase retries depleted.");
    EXPECT_EQ(fakezen::library().call_count("ZEN5110FlashSectorErase"), 1u);
}

TEST_F(PageSteps, ASectorThatNeverErasesIsTriedMaxRetriesPlusOneTimes) {
    max_retries = 3;
    fakezen::library().fail_call("ZEN5110FlashSectorErase", 513);
    plan.erase_map = map_of(4, {2});
    plan.erase_count = 1;
    EXPECT_EQ(error_of([&] { erase(nullptr); }), "Error: erase retries depleted.");
    EXPECT_EQ(fakezen::library().call_count("ZEN5110FlashSectorErase"), 4u);
}

// Each page read is bracketed by the flash enable and prepared by command 3.
TEST_F(PageSteps, PageReadIsBracketedByTheFlashEnable) {
    board->registers[0x80000000u] = 0x11;
    plan.write_map = map_of(0x20000 / 32 * 4, {4096});
    plan.write_count = 1;
    image = board->flash_bytes();
    fakezen::library().clear_log();
    verify(nullptr);
    std::vector<std::string> sequence;
    for (const auto &call : fakezen::library().calls()) sequence.push_back(call.name);
    EXPECT_THAT(sequence, ElementsAre("SetControlCommand", "ZEN5110FlashSectorPageRead", "ZEN5110FlashSectorPageRead"));
    EXPECT_EQ(calls_named("ZEN5110FlashSectorPageRead"), (std::vector<std::string>{"65536", "65544"}));
    EXPECT_EQ(board->control_commands, std::vector<uint32_t>{3});
    EXPECT_EQ(fakezen::library().writes_to(0x80000000u), (std::vector<uint32_t>{0x19, 0x11}));
}

TEST_F(PageSteps, WriteProgramsThePlannedPagesAtTheirWordAddresses) {
    std::fill(board->flash_bytes().begin(), board->flash_bytes().end(), 0xFF);
    plan.write_map = map_of(4 * 4096, {4096, 4097, 9000});
    plan.write_count = 3;
    debug = true;
    write(Recorder::on_progress);

    EXPECT_EQ(calls_named("ZEN5110PageWriteToFlash"), (std::vector<std::string>{"65536", "65552", "144000"}));
    EXPECT_EQ(recorder.progress, fractions({{0, 3}, {1, 3}, {2, 3}}));
    EXPECT_THAT(recorder.lines, ElementsAre(Recorder::Line{ROMWRIGHT_LOG_INFO, "Writing 3 of 16384 pages."},
                                            Recorder::Line{ROMWRIGHT_LOG_INFO, "Wrote 3 pages in 0 seconds.\n"}));
    const std::vector<uint8_t> &flash = board->flash_bytes();
    for (uint32_t page : {4096u, 4097u, 9000u})
        EXPECT_TRUE(std::equal(image.begin() + page * 32, image.begin() + page * 32 + 32, flash.begin() + page * 32));
    EXPECT_TRUE(std::all_of(flash.begin() + 4098 * 32, flash.begin() + 9000 * 32, [](uint8_t b) { return b == 0xFF; }));
    // Every write bracketed by enable on, enable off.
    EXPECT_EQ(fakezen::library().writes_to(0x80000000u), (std::vector<uint32_t>{8, 0, 8, 0, 8, 0}));
}

TEST_F(PageSteps, WriteWithNothingToWriteLogsAndSucceeds) {
    plan.write_map = map_of(4 * 4096, {});
    plan.write_count = 0;
    write(Recorder::on_progress);
    EXPECT_TRUE(recorder.progress.empty());
    EXPECT_THAT(recorder.lines, ElementsAre(Recorder::Line{ROMWRIGHT_LOG_INFO, "Writing 0 of 16384 pages."}));
    EXPECT_EQ(fakezen::library().call_count("ZEN5110PageWriteToFlash"), 0u);
}

TEST_F(PageSteps, WriteCountDisagreeingWithTheMapIsAFailure) {
    plan.write_map = map_of(4 * 4096, {5000});
    plan.write_count = 2;
    EXPECT_EQ(error_of([&] { write(nullptr); }), "Error: Not all pages were written");
}

TEST_F(PageSteps, VerifyReportsProgressAfterEachMatchingPage) {
    image = board->flash_bytes();
    plan.write_map = map_of(4 * 4096, {4096, 5000, 6000, 16383});
    plan.write_count = 4;
    debug = true;
    verify(Recorder::on_progress);
    EXPECT_EQ(recorder.progress, fractions({{1, 4}, {2, 4}, {3, 4}, {4, 4}}));
    EXPECT_THAT(recorder.lines, ElementsAre(Recorder::Line{ROMWRIGHT_LOG_INFO, "Verifying 4 pages\n"},
                                            Recorder::Line{ROMWRIGHT_LOG_INFO, "Verified 4 pages in 0 seconds.\n"}));
}

TEST_F(PageSteps, VerifyWithNothingWrittenReturnsSilently) {
    plan.write_map = map_of(4 * 4096, {});
    plan.write_count = 0;
    verify(Recorder::on_progress);
    EXPECT_TRUE(recorder.lines.empty());
    EXPECT_TRUE(recorder.progress.empty());
}

TEST_F(PageSteps, VerifyMismatchDumpsWhatWasWrittenAndWhatWasRead) {
    image = board->flash_bytes();
    image[5000 * 32 + 17] ^= 0x40;
    plan.write_map = map_of(4 * 4096, {4096, 5000, 6000});
    plan.write_count = 3;
    EXPECT_EQ(error_of([&] { verify(Recorder::on_progress); }), "Data verification failed.");
    EXPECT_EQ(recorder.progress, fractions({{1, 3}}));
    ASSERT_GE(recorder.lines.size(), 3u);
    EXPECT_EQ(recorder.lines[1], (Recorder::Line{ROMWRIGHT_LOG_ERROR, "Verify page at 0x00027100 failed"}));
    EXPECT_EQ(recorder.lines[2], (Recorder::Line{ROMWRIGHT_LOG_INFO, "Wrote:\n"}));
    const std::string log = recorder.joined();
    const auto wrote = log.find("Wrote:\n"), read = log.find("Read:\n");
    ASSERT_NE(read, std::string::npos);
    // Two lines of 16 bytes from the page's address in each dump.
    EXPECT_NE(log.find(" 00027100 ", wrote), std::string::npos);
    EXPECT_NE(log.find(" 00027110 ", wrote), std::string::npos);
    EXPECT_NE(log.find(" 00027100 ", read), std::string::npos);
    EXPECT_NE(log.find(" 00027110 ", read), std::string::npos);
    EXPECT_EQ(log.find(" 00027120 "), std::string::npos);
}

// The per-sector operations a program that backs up or restores a flash
// uses: a sector written from bytes reads back as them (its blank pages are
// not programmed), and a comparison finds a byte that differs.
TEST_F(PageSteps, ASectorWrittenWholeReadsBackAndMatches) {
    std::vector<uint8_t> bytes = patterned(kPageSector, 5);
    std::fill(bytes.begin() + 64, bytes.begin() + 128, 0xFF);  // pages 2 and 3 blank
    backend->EraseSector(2);
    backend->WriteSector(2, bytes.data());
    EXPECT_EQ(fakezen::library().call_count("ZEN5110PageWriteToFlash"), 4096u - 2);
    std::vector<uint8_t> read(kPageSector);
    EXPECT_EQ(backend->ReadSector(2, read.data()).bytes, kPageSector);
    EXPECT_EQ(read, bytes);
    EXPECT_TRUE(backend->SectorMatches(2, bytes.data()));
    board->flash_bytes()[2 * kPageSector + 1000] ^= 0x10;
    EXPECT_FALSE(backend->SectorMatches(2, bytes.data()));
    EXPECT_EQ(backend->sector_size(), kPageSector);
    EXPECT_EQ(backend->write_unit(), 32u);
}

// What a plan costs, worked out beforehand, is what its steps spend on a
// board that answers at once: every device-library call counted, no pauses.
TEST_F(PageSteps, TheCostOfAPlanIsWhatItsStepsSpend) {
    image = board->flash_bytes();
    plan.erase_map = map_of(4, {1, 2});
    plan.erase_count = 2;
    plan.write_map = map_of(4 * 4096, {4096, 5000, 9000});
    plan.write_count = 3;
    const romwright::FlashCost cost = romwright::PageFlash::Cost(work(), true);
    fakezen::library().clear_log();
    erase(nullptr);
    write(nullptr);
    verify(nullptr);
    EXPECT_EQ(fakezen::library().calls().size() + fakezen::library().register_log().size(), cost.library_calls);
    EXPECT_EQ(cost.controller_commands, 0u);
    EXPECT_EQ(cost.pause_ms, 0u);
    EXPECT_EQ(clock.slept_ms(), 0u);
    EXPECT_EQ(romwright::PageFlash::Cost(work(), false).library_calls, cost.library_calls - 3 * 7);
}

struct GuardCase {
    const char *name;
    bool sector_mode;
    bool attached;
    std::function<void(romwright::RegisterFlash &, const romwright::FlashWork &)> step;
    const char *message;
};

void PrintTo(const GuardCase &c, std::ostream *out) { *out << c.name; }

class ModeGuards : public Steps, public ::testing::WithParamInterface<GuardCase> {};

// A step that meets a driver state its mode does not expect stops at once:
// the page calls while the flash controller driver holds the board, the
// controller without it.
TEST_P(ModeGuards, RefuseAMismatchedDriverState) {
    const GuardCase &c = GetParam();
    board->controller.idle_status = fakezen::kStatusGood;
    CFlashPC28F driver(Recorder::on_log, &recorder, clock);
    if (c.attached) driver.Attach(board, false);
    const std::vector<uint8_t> image(2 * kBigSector, 0xFF);
    romwright::UpdatePlan plan;
    plan.erase_map = map_of(2, {1});
    plan.erase_count = 1;
    plan.write_map = map_of(2 * kBigSector / 32, {5000});
    plan.write_count = 1;
    const romwright::LogSink log(Recorder::on_log, &recorder);
    const romwright::platform::AlignedBlock buffer = romwright::platform::allocate_aligned(kBigSector);
    std::unique_ptr<romwright::RegisterFlash> flash;
    if (c.sector_mode)
        flash = std::make_unique<romwright::SectorFlash>(board, driver, buffer.get(), log, clock);
    else
        flash = std::make_unique<romwright::PageFlash>(board, driver, log, clock);
    EXPECT_EQ(error_of([&] { c.step(*flash, romwright::FlashWork{image, plan}); }), c.message);
}

using Backend = romwright::RegisterFlash;
using Work = romwright::FlashWork;

INSTANTIATE_TEST_SUITE_P(
    Steps, ModeGuards,
    ::testing::Values(
        GuardCase{"erase_page_with_driver", false, true, [](Backend &f, const Work &w) { f.EraseSectors(w, nullptr); },
                  "Error: Page read not supported"},
        GuardCase{"verify_page_with_driver", false, true, [](Backend &f, const Work &w) { f.Verify(w, nullptr); },
                  "Error: Page read not supported"},
        GuardCase{"write_page_with_driver", false, true, [](Backend &f, const Work &w) { f.Write(w, nullptr); },
                  "Error: Page write not supported"},
        GuardCase{"erase_sector_without_driver", true, false,
                  [](Backend &f, const Work &w) { f.EraseSectors(w, nullptr); }, "Error: Sector read not supported\n"},
        GuardCase{"verify_sector_without_driver", true, false, [](Backend &f, const Work &w) { f.Verify(w, nullptr); },
                  "Error: Sector read not supported\n"},
        GuardCase{"write_sector_without_driver", true, false, [](Backend &f, const Work &w) { f.Write(w, nullptr); },
                  "Error: Sector write not supported\n"}),
    [](const ::testing::TestParamInfo<GuardCase> &info) { return std::string(info.param.name); });

// ------------------------------------------------------------ sector mode

// A flash behind the fake controller: erase fills a sector with 0xFF, a burst
// program ANDs the queued words in, a burst read queues the sector's words.
class SectorSteps : public Steps {
protected:
    void SetUp() override {
        Steps::SetUp();
        board->kind = 30;
        board->capabilities[ZENAPI_CAP_KSOPC_SIGNATURE] = 0x0E080000;
        board->controller.idle_status = fakezen::kStatusGood;
        flash = patterned(4 * kBigSector, 3);
        board->controller.on_command = [this](uint32_t word) { on_command(word); };
        engine.IdentifyBoard(board);
        recorder.lines.clear();
        engine.images()[0].data = patterned(4 * kBigSector, 4);
    }

    // The sector-mode steps on the engine's backend, with its plan and image.
    void erase(ROMWRIGHT_PROGRESS_CALLBACK progress) { engine.backend().EraseSectors(engine.Work(), progress); }
    void write(ROMWRIGHT_PROGRESS_CALLBACK progress) { engine.backend().Write(engine.Work(), progress); }
    void verify(ROMWRIGHT_PROGRESS_CALLBACK progress) { engine.backend().Verify(engine.Work(), progress); }

    void on_command(uint32_t word) {
        const fakezen::CommandWord command = fakezen::decode_command(word);
        uint8_t *sector = flash.data() + static_cast<std::size_t>(command.start) * kBigSector;
        if (command.code == ERASE_BLOCK && erases_work) std::fill(sector, sector + kBigSector, 0xFF);
        if (command.code == BLOCK_UNLOCK) locked.erase(command.start);
        if (command.code == BLOCK_LOCK_STATUS && locked.count(command.start))
            board->controller.status_words.insert(board->controller.status_words.end(), 2, fakezen::status_word(1, 0, 1));
        if (command.code == PROGRAM_BURST) {
            const auto &written = board->controller.written;
            const std::size_t first = written.size() - kBigSector / 4;
            for (std::size_t i = 0; i < kBigSector / 4; ++i) {
                uint32_t word_now;
                std::memcpy(&word_now, sector + 4 * i, 4);
                word_now &= written[first + i];
                std::memcpy(sector + 4 * i, &word_now, 4);
            }
        }
        if (command.code == READ_BURST) {
            for (std::size_t i = 0; i < kBigSector / 4; ++i) {
                uint32_t word_now;
                std::memcpy(&word_now, sector + 4 * i, 4);
                board->controller.read_fifo.push_back(word_now);
            }
        }
    }

    CRomwright engine{Recorder::on_log, &recorder, clock};
    std::vector<uint8_t> flash;
    bool erases_work = true;
    std::set<uint32_t> locked;  // blocks that report themselves locked until unlocked
};

TEST_F(SectorSteps, EraseWriteVerifyReachTheFlashThroughTheDriver) {
    const std::vector<uint8_t> before = flash;
    engine.plan().erase_map = map_of(4, {1, 3});
    engine.plan().erase_count = 2;
    erase(Recorder::on_progress);
    write(Recorder::on_progress);
    verify(Recorder::on_progress);

    EXPECT_EQ(recorder.progress, (std::vector<float>{0.0f, 0.0f, 0.5f, 0.5f, 1.0f, 0.0f, 0.5f}));
    EXPECT_THAT(recorder.engine_lines(), ElementsAre(Recorder::Line{ROMWRIGHT_LOG_INFO, "Erasing 2 of 4 sectors.\n"},
                                            Recorder::Line{ROMWRIGHT_LOG_INFO, "Writing 2 of 4\n"},
                                            Recorder::Line{ROMWRIGHT_LOG_INFO, "Verifying 2 sectors\n"}));
    const std::vector<uint8_t> &image = engine.images()[0].data;
    for (uint32_t s = 0; s < 4; ++s) {
        const auto &expected = (s == 1 || s == 3) ? image : before;
        EXPECT_TRUE(std::equal(flash.begin() + s * kBigSector, flash.begin() + (s + 1) * kBigSector,
                               expected.begin() + s * kBigSector))
            << "sector " << s;
    }
}

TEST_F(SectorSteps, WriteAndVerifyWithNothingErasedAreSilent) {
    engine.plan().erase_map = map_of(4, {});
    engine.plan().erase_count = 0;
    write(Recorder::on_progress);
    verify(Recorder::on_progress);
    EXPECT_TRUE(recorder.engine_lines().empty());
    EXPECT_TRUE(recorder.progress.empty());
    EXPECT_TRUE(board->controller.commands.empty());
}

TEST_F(SectorSteps, VerifyWithAnEmptyMapIsAFailure) {
    engine.plan().erase_map.clear();
    engine.plan().erase_count = 1;
    EXPECT_EQ(error_of([&] { verify(nullptr); }), "Error: wrong number of verified sectors.");
}

TEST_F(SectorSteps, WriteCountDisagreeingWithTheMapIsAFailure) {
    engine.plan().erase_map = map_of(4, {1});
    engine.plan().erase_count = 2;
    EXPECT_EQ(error_of([&] { write(nullptr); }), "Error: not all sectors were written");
}

// A difference at word 21 of sector 2 names byte 0x00080054 and shows the
// 64-byte block from 0x00080040 in both dumps.
TEST_F(SectorSteps, VerifyDifferenceShowsTheBlockHoldingTheWord) {
    engine.plan().erase_map = map_of(4, {2});
    engine.plan().erase_count = 1;
    std::copy(engine.images()[0].data.begin(), engine.images()[0].data.end(), flash.begin());
    flash[2 * kBigSector + 21 * 4 + 2] ^= 0x01;
    EXPECT_EQ(error_of([&] { verify(Recorder::on_progress); }), "Verify sector failed.");
    EXPECT_TRUE(recorder.progress.empty());
    ASSERT_GE(recorder.engine_lines().size(), 3u);
    EXPECT_EQ(recorder.engine_lines()[1], (Recorder::Line{ROMWRIGHT_LOG_ERROR,
                                                 "Error: Verify sector 2 byte address 0x00080054 failed.\n"}));
    EXPECT_EQ(recorder.engine_lines()[2], (Recorder::Line{ROMWRIGHT_LOG_INFO, "Wrote:\n"}));
    const std::string log = recorder.joined();
    for (const char *address : {" 00080040 ", " 00080050 ", " 00080060 ", " 00080070 "}) {
        const auto first = log.find(address);
        ASSERT_NE(first, std::string::npos) << address;
        EXPECT_NE(log.find(address, first + 1), std::string::npos) << address;  // in both dumps
    }
    EXPECT_EQ(log.find(" 00080080 "), std::string::npos);
    EXPECT_EQ(log.find(" 00080030 "), std::string::npos);
}

// After a failed erase check the dump shows the 64-byte block holding the
// first word that is not erased, under that block's address.
TEST_F(SectorSteps, EraseCheckFailureDumpsTheBlockHoldingTheFirstUnerasedWord) {
    erases_work = false;
    engine.options().max_retries = 1;
    engine.plan().erase_map = map_of(4, {1});
    engine.plan().erase_count = 1;
    std::fill(flash.begin() + kBigSector, flash.begin() + 2 * kBigSector, 0xFF);
    flash[kBigSector + 0x1235] = 0x5A;  // word 0x48D, in the block at 0x1200
    EXPECT_EQ(error_of([&] { erase(Recorder::on_progress); }), "Error: erase retries depleted.");
    const std::vector<Recorder::Line> expected_head = {
        {ROMWRIGHT_LOG_INFO, "Erasing 1 of 4 sectors.\n"},
        {ROMWRIGHT_LOG_ERROR, "Error: erase sector 1 byte address 0x00041234 failed\n"},
        {ROMWRIGHT_LOG_INFO, "Read: \n"},
        {ROMWRIGHT_LOG_INFO, " 00041200 "},
    };
    ASSERT_GE(recorder.engine_lines().size(), expected_head.size());
    EXPECT_TRUE(std::equal(expected_head.begin(), expected_head.end(), recorder.engine_lines().begin()));
    const std::string log = recorder.joined();
    EXPECT_NE(log.find(" 00041230 FF FF FF FF FF 5A FF FF "), std::string::npos) << log;
    EXPECT_EQ(log.find(" 00041240 "), std::string::npos);
    // Two checks, two sets of lines, both erases issued.
    std::size_t failures = 0;
    for (const auto &line : recorder.engine_lines())
        if (line.text == "Error: erase sector 1 byte address 0x00041234 failed\n") ++failures;
    EXPECT_EQ(failures, 2u);
    std::size_t erases = 0;
    for (uint32_t code : board->controller.command_codes())
        if (code == ERASE_BLOCK) ++erases;
    EXPECT_EQ(erases, 2u);
}

// A register read that fails in the middle of the erase check's burst read
// leaves the controller inside a command, with words in its read FIFO. The
// second attempt starts with the block reset, the clear pulse and the FIFO
// reset, in that order, before its first command; the first attempt with none.
TEST_F(SectorSteps, TheRetryStartsFromAResetController) {
    engine.plan().erase_map = map_of(4, {1});
    engine.plan().erase_count = 1;
    uint32_t fifo_reads = 0;
    board->result_hook = [&fifo_reads](const fakezen::RegisterAccess &access) {
        const bool fifo_read =
            access.kind == fakezen::RegisterAccess::Kind::read && access.offset == fakezen::reg::kReadFifoData;
        return fifo_read && ++fifo_reads == 100 ? fakezen::kFailed : fakezen::kSuccess;
    };
    fakezen::library().clear_log();
    engine.EraseWriteVerifyWithRetries(nullptr, nullptr);

    ASSERT_GE(recorder.engine_lines().size(), 3u);
    EXPECT_EQ(recorder.engine_lines()[1],
              (Recorder::Line{ROMWRIGHT_LOG_ERROR, "Error in CFlashPC28F::BurstReadRegister: " +
                                                       std::string(KorvelErrorToText(fakezen::kFailed)) + "\n"}));
    EXPECT_EQ(recorder.engine_lines()[2],
              (Recorder::Line{ROMWRIGHT_LOG_INFO, "Flash controller reset for retry 1 of 15.\n"}));
    const auto &log = fakezen::library().register_log();
    const auto failed = std::find_if(log.begin(), log.end(), [](const fakezen::RegisterAccess &a) {
        return a.result != fakezen::kSuccess;
    });
    ASSERT_NE(failed, log.end());
    // The writes to the command and FIFO control registers, from `from` up to
    // the first command word (go bit set).
    const auto writes_until_go = [&log](std::vector<fakezen::RegisterAccess>::const_iterator from) {
        std::vector<std::pair<uint32_t, uint32_t>> writes;
        for (auto a = from; a != log.end(); ++a) {
            if (a->kind != fakezen::RegisterAccess::Kind::write) continue;
            if (a->offset == fakezen::reg::kCommand && (a->value & fakezen::reg::kGo)) break;
            if (a->offset == fakezen::reg::kCommand) writes.emplace_back(a->offset, a->value);
            if (a->offset == fakezen::reg::kFifoControl)
                writes.emplace_back(a->offset, a->value & fakezen::reg::kFifoRun);
        }
        return writes;
    };
    using Write = std::pair<uint32_t, uint32_t>;
    const Write block_reset{fakezen::reg::kCommand, 0x60000000}, idle{fakezen::reg::kCommand, 0x20000000},
        clear_pulse{fakezen::reg::kCommand, 0x30000000}, fifo_stop{fakezen::reg::kFifoControl, 0},
        fifo_run{fakezen::reg::kFifoControl, fakezen::reg::kFifoRun};
    // The first attempt starts with the output enable and the clear pulse of its first command only.
    EXPECT_EQ(writes_until_go(log.begin()),
              (std::vector<Write>{{fakezen::reg::kCommand, 0}, idle, idle, clear_pulse, idle}));
    EXPECT_EQ(writes_until_go(failed + 1), (std::vector<Write>{idle, block_reset, idle, idle, clear_pulse, idle,
                                                               fifo_stop, fifo_run, idle, clear_pulse, idle}));
    // The second attempt erased, wrote and verified the sector.
    EXPECT_TRUE(std::equal(flash.begin() + kBigSector, flash.begin() + 2 * kBigSector,
                           engine.images()[0].data.begin() + kBigSector));
}

// A reset that fails does not stop the retry; it is reported as a warning.
TEST_F(SectorSteps, AFailedResetLetsTheRetryRun) {
    engine.plan().erase_map = map_of(4, {2});
    engine.plan().erase_count = 1;
    engine.options().max_retries = 1;
    uint32_t status_reads = 0;
    board->result_hook = [&status_reads](const fakezen::RegisterAccess &access) {
        const bool block_reset = access.kind == fakezen::RegisterAccess::Kind::write &&
                                 access.offset == fakezen::reg::kCommand && access.value == 0x60000000u;
        const bool first_status =
            access.kind == fakezen::RegisterAccess::Kind::read && access.offset == fakezen::reg::kStatus &&
            ++status_reads == 1;
        return block_reset || first_status ? fakezen::kFailed : fakezen::kSuccess;
    };
    engine.EraseWriteVerifyWithRetries(nullptr, nullptr);
    const std::string text = recorder.joined();
    EXPECT_THAT(text, HasSubstr("Warning: Resetting the flash controller for retry 1 failed: Error in "
                                "CFlashPC28F::FlashBlockReset: "));
    EXPECT_THAT(text, ::testing::Not(HasSubstr("Flash controller reset for retry")));
    EXPECT_TRUE(std::equal(flash.begin() + 2 * kBigSector, flash.begin() + 3 * kBigSector,
                           engine.images()[0].data.begin() + 2 * kBigSector));
}

TEST_F(SectorSteps, ASectorWrittenWholeReadsBackAndMatches) {
    const std::vector<uint8_t> bytes = patterned(kBigSector, 6);
    engine.backend().EraseSector(2);
    engine.backend().WriteSector(2, bytes.data());
    std::vector<uint8_t> read(kBigSector);
    EXPECT_EQ(engine.backend().ReadSector(2, read.data()).bytes, kBigSector);
    EXPECT_EQ(read, bytes);
    EXPECT_TRUE(engine.backend().SectorMatches(2, bytes.data()));
    flash[2 * kBigSector + 0x3FFFF] ^= 0x80;
    EXPECT_FALSE(engine.backend().SectorMatches(2, bytes.data()));
    EXPECT_EQ(engine.backend().sector_size(), kBigSector);
    EXPECT_EQ(engine.backend().write_unit(), kBigSector);
}

// What a plan costs, worked out beforehand, is what its steps spend on a
// controller that answers at once and a flash whose blocks are locked, as it
// powers up: every register access, every command and every pause of the
// protocol, up to switching the flash output off.
TEST_F(SectorSteps, TheCostOfAPlanIsWhatItsStepsSpend) {
    locked = {0, 1, 2, 3};
    engine.plan().erase_map = map_of(4, {1, 3});
    engine.plan().erase_count = 2;
    const romwright::FlashCost cost = romwright::SectorFlash::Cost(engine.Work(), true);
    fakezen::library().clear_log();
    const uint64_t slept_before = clock.slept_ms();
    const std::size_t commands_before = board->controller.commands.size();
    erase(nullptr);
    write(nullptr);
    verify(nullptr);
    engine.flash().Detach();
    EXPECT_EQ(fakezen::library().register_log().size(), cost.library_calls);
    EXPECT_EQ(board->controller.commands.size() - commands_before, cost.controller_commands);
    EXPECT_EQ(cost.controller_commands, 2u * 9);
    EXPECT_EQ(clock.slept_ms() - slept_before, cost.pause_ms);
    EXPECT_EQ(cost.pause_ms, 20u + 2 * 9 * 30);
}

} // namespace
