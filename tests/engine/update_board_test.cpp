// Whole board updates by the engine object against the simulated machine:
// files from the image maker, flash pre-filled with a pattern so that
// "unchanged" means something, faults injected through the machine
// description, and every callback recorded.
#include "engine/romwright_engine.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>

#include <zenapi/Zenapi.h>
#include <zenapi/zenapi_sim.h>

#include "tests/engine/callback_recorder.hpp"
#include "tests/support/bytes.hpp"
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

} // namespace
