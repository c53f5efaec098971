// The flash steps one at a time against the scripted device library: what
// each step reads and writes, the progress it reports, its log lines, its
// erase check and the dumps it shows when something differs. The plan and
// image a step walks are set by hand; page-mode steps run on the page-mode
// backend directly, sector-mode steps on the backend of an identified engine.
#include "engine/romwright_engine.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <zenapi/Zenapi.h>

#include "engine/page_flash.hpp"
#include "engine/sector_flash.hpp"
#include "tests/engine/callback_recorder.hpp"
#include "tests/support/fake_zenapi.hpp"
#include "tests/support/simulated_clock.hpp"

namespace {

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
    EXPECT_EQ(backend->ReadSector(2, read.data()), kPageSector);
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
    const romwright::FlashCost cost = backend->Cost(work(), true);
    fakezen::library().clear_log();
    erase(nullptr);
    write(nullptr);
    verify(nullptr);
    EXPECT_EQ(fakezen::library().calls().size() + fakezen::library().register_log().size(), cost.library_calls);
    EXPECT_EQ(cost.controller_commands, 0u);
    EXPECT_EQ(cost.pause_ms, 0u);
    EXPECT_EQ(clock.slept_ms(), 0u);
    EXPECT_EQ(backend->Cost(work(), false).library_calls, cost.library_calls - 3 * 7);
}

struct GuardCase {
    const char *name;
    bool sector_mode;
    bool attached;
    std::function<void(romwright::FlashBackend &, const romwright::FlashWork &)> step;
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
    std::unique_ptr<romwright::FlashBackend> flash;
    if (c.sector_mode)
        flash = std::make_unique<romwright::SectorFlash>(board, driver, buffer.get(), log, clock);
    else
        flash = std::make_unique<romwright::PageFlash>(board, driver, log, clock);
    EXPECT_EQ(error_of([&] { c.step(*flash, romwright::FlashWork{image, plan}); }), c.message);
}

using Backend = romwright::FlashBackend;
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
    EXPECT_EQ(engine.backend().ReadSector(2, read.data()), kBigSector);
    EXPECT_EQ(read, bytes);
    EXPECT_TRUE(engine.backend().SectorMatches(2, bytes.data()));
    flash[2 * kBigSector + 0x3FFFF] ^= 0x80;
    EXPECT_FALSE(engine.backend().SectorMatches(2, bytes.data()));
    EXPECT_EQ(engine.backend().sector_size(), kBigSector);
    EXPECT_EQ(engine.backend().write_unit(), kBigSector);
}

// What a plan costs, worked out beforehand, is what its steps spend on a
// controller that answers at once: every register access, every command and
// every pause of the protocol, up to switching the flash output off.
TEST_F(SectorSteps, TheCostOfAPlanIsWhatItsStepsSpend) {
    engine.plan().erase_map = map_of(4, {1, 3});
    engine.plan().erase_count = 2;
    const romwright::FlashCost cost = engine.backend().Cost(engine.Work(), true);
    fakezen::library().clear_log();
    const uint64_t slept_before = clock.slept_ms();
    const std::size_t commands_before = board->controller.commands.size();
    erase(nullptr);
    write(nullptr);
    verify(nullptr);
    engine.flash().Detach();
    EXPECT_EQ(fakezen::library().register_log().size(), cost.library_calls);
    EXPECT_EQ(board->controller.commands.size() - commands_before, cost.controller_commands);
    EXPECT_EQ(cost.controller_commands, 2u * 7);
    EXPECT_EQ(clock.slept_ms() - slept_before, cost.pause_ms);
    EXPECT_EQ(cost.pause_ms, 20u + 2 * 7 * 30);
}

} // namespace
