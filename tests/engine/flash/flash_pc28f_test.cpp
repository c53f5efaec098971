// The flash controller driver, on two doubles of the device library.
// Against the simulated sector-mode controller of libZenapi.so: whole sectors
// unlocked, erased, written and read back through registers, and the flash
// compared as a whole before and after. Against the scripted stand-in: exact
// register traffic, status handling, locks, time-outs and the FIFO transfers,
// on a simulated clock so that long time-outs take no time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <numeric>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>

#include <zenapi/Zenapi.h>
#include <zenapi/zenapi_sim.h>

#include "engine/flash/flash_pc28f.hpp"
#include "engine/flash/flash_status.hpp"
#include "tests/engine/callback_recorder.hpp"
#include "tests/support/fake_zenapi.hpp"
#include "tests/support/sim_machine.hpp"
#include "tests/support/simulated_clock.hpp"

namespace {

constexpr uint32_t kSectorWords = 0x10000;
constexpr uint32_t kSectorBytes = 0x40000;
constexpr uint32_t kFlashBytes = 8 * kSectorBytes;

// One ZEN5142 (a sector-mode board) with a 2 MiB flash; controller settings
// and faults are appended by each test.
std::string machine_text(const std::string &controller = "") {
    return R"(
[[system]]
[[system.board]]
name = "sector-board"
kind = 30
flash_size = 0x200000
)" + controller;
}

std::vector<uint32_t> pattern(uint32_t words, uint32_t seed) {
    std::vector<uint32_t> data(words);
    for (uint32_t i = 0; i < words; ++i) data[i] = (i * 2654435761u) ^ seed;
    return data;
}

std::vector<uint8_t> bytes_of(const std::vector<uint32_t> &words) {
    std::vector<uint8_t> bytes(words.size() * 4);
    std::memcpy(bytes.data(), words.data(), bytes.size());
    return bytes;
}

using LogCapture = testsupport::CallbackRecorder;

// The real clock, counting the pauses the driver makes while the board's
// write FIFO is above its high-water mark.
class HighWaterClock : public romwright::Clock {
public:
    explicit HighWaterClock(void *board) : board_(board) {}
    uint64_t monotonic_ms() override { return romwright::system_clock().monotonic_ms(); }
    int64_t wall_seconds() override { return romwright::system_clock().wall_seconds(); }
    void sleep_ms(uint32_t ms) override {
        uint32_t level = 0;
        if (KorvelReadRegister(board_, flash_reg::kFifoLevel, &level, ZENAPI_REGISTER_ACCESS_CODE) == 512 &&
            (level >> 16) > 0xE000)
            ++high_water_pauses;
        romwright::system_clock().sleep_ms(ms);
    }
    uint64_t high_water_pauses = 0;

private:
    void *board_;
};

class FlashSim : public ::testing::Test {
protected:
    void start(const std::string &controller = "") {
        machine_ = std::make_unique<testsupport::SimMachine>(machine_text(controller));
        machine_->activate();
        board_ = KorvelGetBoardBySystemID(1, 1);
        ASSERT_NE(board_, nullptr);
        ASSERT_EQ(ZenSimFlashSize(1, 1), kFlashBytes);
        // Something other than erased flash everywhere, so that any stray
        // erase or program shows.
        const auto fill = bytes_of(pattern(kFlashBytes / 4, 0xC0FFEE00));
        ASSERT_EQ(ZenSimWriteFlashRaw(1, 1, 0, fill.data(), fill.size()), 0);
    }

    std::vector<uint8_t> whole_flash() const {
        std::vector<uint8_t> bytes(kFlashBytes);
        EXPECT_EQ(ZenSimReadFlash(1, 1, 0, bytes.data(), bytes.size()), 0);
        return bytes;
    }

    static std::vector<uint8_t> sector_of(const std::vector<uint8_t> &flash, uint32_t sector) {
        const auto begin = flash.begin() + static_cast<std::ptrdiff_t>(sector) * kSectorBytes;
        return std::vector<uint8_t>(begin, begin + kSectorBytes);
    }

    // Every sector but `changed` is as it was.
    static void expect_only_sector_changed(const std::vector<uint8_t> &before, const std::vector<uint8_t> &after,
                                           uint32_t changed) {
        for (uint32_t sector = 0; sector < kFlashBytes / kSectorBytes; ++sector) {
            if (sector == changed) continue;
            EXPECT_TRUE(sector_of(before, sector) == sector_of(after, sector)) << "sector " << sector;
        }
    }

    std::vector<uint32_t> read_sector(CFlashPC28F &flash, uint32_t sector) {
        std::vector<uint32_t> words(kSectorWords, 0x5EED5EED);
        flash.ReadSector(sector, words.data(), kSectorBytes);
        return words;
    }

    std::unique_ptr<testsupport::SimMachine> machine_;
    void *board_ = nullptr;
    testsupport::SimulatedClock clock_;
    LogCapture log_;
    CFlashPC28F flash_{&LogCapture::on_log, &log_, clock_};
};

TEST_F(FlashSim, UnlocksErasesWritesAndReadsBackAWholeSector) {
    start();
    const auto before = whole_flash();
    flash_.Attach(board_, false);

    // Blocks come up locked: the erase has to unlock first.
    flash_.EraseSector(3);
    EXPECT_EQ(read_sector(flash_, 3), std::vector<uint32_t>(kSectorWords, 0xFFFFFFFF));

    const auto data = pattern(kSectorWords, 0x00A5A500);
    flash_.WriteSector(3, data.data(), kSectorBytes);
    EXPECT_EQ(read_sector(flash_, 3), data);
    flash_.Detach();

    const auto after = whole_flash();
    EXPECT_TRUE(sector_of(after, 3) == bytes_of(data));
    expect_only_sector_changed(before, after, 3);
    EXPECT_EQ(log_.count("--- Wait timeout\n"), 0u);
}

TEST_F(FlashSim, AttachingTouchesNoRegister) {
    start();
    flash_.Attach(board_, true);
    flash_.Detach();
    EXPECT_EQ(ZenSimCallCount(1, 1, "KorvelReadRegister"), 0u);
    EXPECT_EQ(ZenSimCallCount(1, 1, "KorvelWriteRegister"), 0u);
}

TEST_F(FlashSim, DetachSwitchesTheFlashEnableOff) {
    start();
    flash_.Attach(board_, false);
    flash_.ExecCommand(READ_ARRAY, 0, 1, true);
    uint32_t value = 0;
    ASSERT_EQ(KorvelReadRegister(board_, flash_reg::kFlashEnable, &value, ZENAPI_REGISTER_ACCESS_CODE), 512u);
    EXPECT_EQ(value & flash_reg::kFlashEnableBit, flash_reg::kFlashEnableBit);
    flash_.Detach();
    ASSERT_EQ(KorvelReadRegister(board_, flash_reg::kFlashEnable, &value, ZENAPI_REGISTER_ACCESS_CODE), 512u);
    EXPECT_EQ(value & flash_reg::kFlashEnableBit, 0u);
}

TEST_F(FlashSim, ProgrammingTwiceWithoutEraseReadsBackTheAnd) {
    start();
    flash_.Attach(board_, false);
    flash_.EraseSector(1);
    const auto first = pattern(kSectorWords, 0x12345678);
    const auto second = pattern(kSectorWords, 0x0F0F0F0F);
    flash_.WriteSector(1, first.data(), kSectorBytes);
    flash_.WriteSector(1, second.data(), kSectorBytes);
    std::vector<uint32_t> expected(kSectorWords);
    std::transform(first.begin(), first.end(), second.begin(), expected.begin(), [](uint32_t a, uint32_t b) { return a & b; });
    EXPECT_EQ(read_sector(flash_, 1), expected);
}

TEST_F(FlashSim, EveryErasedSectorReadsErasedAndOnlyItChanges) {
    start();
    flash_.Attach(board_, false);
    for (uint32_t sector : {0u, 7u}) {
        const auto before = whole_flash();
        flash_.EraseSector(sector);
        const auto after = whole_flash();
        EXPECT_TRUE(sector_of(after, sector) == std::vector<uint8_t>(kSectorBytes, 0xFF)) << sector;
        expect_only_sector_changed(before, after, sector);
    }
}

TEST_F(FlashSim, TransferOfMoreThanASectorStartsTheProgramEarly) {
    start();
    flash_.Attach(board_, true);
    flash_.EraseSector(2);
    flash_.EraseSector(3);
    const auto before = whole_flash();
    const auto data = pattern(kSectorWords + 1, 0xABCDEF01);
    flash_.BurstWriteRegister(2, 1, data.data(), (kSectorWords + 1) * 4);
    EXPECT_NE(log_.count("BurstWriteRegister 65537 values 0 s\n"), 0u);
    // The program of one block took its 65536 words; the block after it is untouched.
    const auto after = whole_flash();
    EXPECT_TRUE(sector_of(after, 2) == bytes_of(std::vector<uint32_t>(data.begin(), data.end() - 1)));
    expect_only_sector_changed(before, after, 2);
    EXPECT_EQ(read_sector(flash_, 2), std::vector<uint32_t>(data.begin(), data.end() - 1));
}

TEST_F(FlashSim, TwoSectorBurstFeedsTheFifoWhileTheProgramDrainsIt) {
    // Real time here: the controller drains the FIFO at its programming rate,
    // so the driver has to hold back at the FIFO's high-water mark.
    start("[system.board.controller]\nprogram_ms = 600\n");
    HighWaterClock clock(board_);
    CFlashPC28F flash(&LogCapture::on_log, &log_, clock);
    flash.Attach(board_, false);
    flash.EraseSector(4);
    flash.EraseSector(5);
    const auto data = pattern(2 * kSectorWords, 0x600DF00D);
    flash.BurstWriteRegister(4, 2, data.data(), 2 * kSectorBytes);
    std::vector<uint32_t> back(2 * kSectorWords, 0);
    flash.ReadSector(4, back.data(), kSectorBytes);
    flash.ReadSector(5, back.data() + kSectorWords, kSectorBytes);
    EXPECT_EQ(back, data);
    // About 9 µs a word: the driver is faster and must have waited on the FIFO.
    EXPECT_GT(clock.high_water_pauses, 0u);
}

TEST_F(FlashSim, SectorThatWillNotUnlockIsNotErased) {
    start("[[system.board.controller.fault]]\ntype = \"no_unlock\"\nsector = 5\n");
    const auto before = whole_flash();
    flash_.Attach(board_, false);
    try {
        flash_.EraseSector(5);
        FAIL() << "erase went through";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "Error: Sector 5 not unlocked. Status = 1, 1\n");
    }
    EXPECT_TRUE(whole_flash() == before);
}

TEST_F(FlashSim, WriteToALockedSectorChangesNothing) {
    start();
    const auto before = whole_flash();
    flash_.Attach(board_, false);
    const auto zeros = std::vector<uint32_t>(kSectorWords, 0);
    // The program is refused; the driver does not look at its result, the
    // engine's read-back does.
    flash_.WriteSector(6, zeros.data(), kSectorBytes);
    EXPECT_TRUE(whole_flash() == before);
}

TEST_F(FlashSim, StuckEraseTimesOut) {
    start("[[system.board.controller.fault]]\ntype = \"busy_stuck\"\ncommand = \"ERASE_BLOCK\"\n");
    flash_.Attach(board_, false);
    try {
        flash_.EraseSector(2);
        FAIL() << "no time-out";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "Wait timed out.");
    }
    EXPECT_NE(log_.count("Timeout was set to 5000 and diff was 5001 ms.\n"), 0u);
    EXPECT_NE(log_.count("--- Wait timeout\n"), 0u);
}

TEST_F(FlashSim, BadStatusWordStopsTheErase) {
    start("[[system.board.controller.fault]]\ntype = \"status\"\ncommand = \"BLOCK_LOCK_STATUS\"\nerror = 2\n");
    const auto before = whole_flash();
    flash_.Attach(board_, false);
    try {
        flash_.EraseSector(2);
        FAIL() << "erase went through";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "Transaction result = 2: Transaction error\nError result = 2: Timout on writing or reading\n");
    }
    EXPECT_TRUE(whole_flash() == before);
}

TEST_F(FlashSim, StalledReadFifoEndsTheReadWithAnErrorLine) {
    start("[[system.board.controller.fault]]\ntype = \"read_stall\"\nafter = 100\ntimes = 1\n");
    flash_.Attach(board_, false);
    std::vector<uint32_t> expected(kSectorWords);
    ASSERT_EQ(ZenSimReadFlash(1, 1, 0, expected.data(), kSectorBytes), 0);

    const auto words = read_sector(flash_, 0);
    EXPECT_NE(log_.count("Error: Fifo_rd_used = 0, read 100 of 65536 values.\n"), 0u);
    EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + 100, words.begin()));
    EXPECT_TRUE(std::all_of(words.begin() + 100, words.end(), [](uint32_t w) { return w == 0x5EED5EED; }));

    // The next read starts afresh: nothing of the shortened one reaches it.
    EXPECT_EQ(read_sector(flash_, 0), expected);
}

// A read burst abandoned half way (its reader failed) keeps the controller
// busy, so the next command is ignored and times out; the clear pulse before
// every command does not end it. The controller reset does, and empties the
// FIFOs, so the following commands and reads work again.
TEST_F(FlashSim, ResetControllerEndsAnAbandonedReadBurst) {
    start();
    flash_.Attach(board_, false);
    flash_.ExecCommand(READ_ARRAY, 2, 1, true);
    flash_.ClearFifo();
    flash_.ExecCommand(READ_BURST, 2, 1, false);
    std::vector<uint32_t> first_words(16);
    ASSERT_EQ(flash_.BurstReadRegister(first_words.data(), 64), 16u);
    try {
        flash_.ExecCommand(BLOCK_LOCK_STATUS, 3, 1, true);
        FAIL() << "the command ran beside the read burst";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "Wait timed out.");
    }

    flash_.ResetController();
    flash_.ExecCommand(BLOCK_LOCK_STATUS, 3, 1, true);
    uint32_t values[2] = {};
    flash_.ReadStatusRegisters(values, true);
    EXPECT_EQ(values[0] & 0xFFu, 1u);  // locked since power-up
    std::vector<uint32_t> expected(kSectorWords);
    ASSERT_EQ(ZenSimReadFlash(1, 1, kSectorBytes, expected.data(), kSectorBytes), 0);
    EXPECT_EQ(read_sector(flash_, 1), expected);
}

TEST_F(FlashSim, ReadOfASectorBeyondTheFlashReportsNoWords) {
    start();
    flash_.Attach(board_, false);
    std::vector<uint32_t> words(kSectorWords);
    EXPECT_EQ(flash_.ReadSector(kFlashBytes / kSectorBytes, words.data(), kSectorBytes), 0u);
    EXPECT_EQ(flash_.ReadSector(0, words.data(), kSectorBytes), kSectorWords);
}

TEST_F(FlashSim, SetRcrConfiguresTheFlashAndReadsItBack) {
    start();
    flash_.Attach(board_, false);
    EXPECT_NO_THROW(flash_.SetRCR());
    uint32_t values[2] = {};
    flash_.ExecCommand(READ_CFG_REG, 0, 0, true);
    flash_.ReadStatusRegisters(values, true);
    EXPECT_EQ(values[0] & 0xFFFFu, 0x784Fu);
    EXPECT_EQ(values[1] & 0xFFFFu, 0x784Fu);
}

TEST_F(FlashSim, CutFieldsReachTheControllerAsTenBits) {
    start();
    flash_.Attach(board_, false);
    // Start 0x401 and count 0x402 arrive as 1 and 2: the value 2 * 1024 + 1.
    flash_.ExecCommand(CONFIG_READ_CFG_REG, 0x401, 0x402, true);
    flash_.ExecCommand(READ_CFG_REG, 0, 0, true);
    uint32_t values[2] = {};
    flash_.ReadStatusRegisters(values, true);
    EXPECT_EQ(values[0] & 0xFFFFu, 0x0801u);
    EXPECT_EQ(values[1] & 0xFFFFu, 0x0801u);
}

// ---------------------------------------------------------------------------
// The same unit on the scripted stand-in.

using fakezen::RegisterAccess;
using Kind = RegisterAccess::Kind;

constexpr uint32_t kLocked = fakezen::status_word(1, 0, 1);
constexpr uint32_t kUnlocked = fakezen::kStatusGood;

using LogCapture = testsupport::CallbackRecorder;

struct Access {
    Kind kind;
    uint32_t offset;
    uint32_t value;
    bool operator==(const Access &other) const {
        return kind == other.kind && offset == other.offset && value == other.value;
    }
};

std::ostream &operator<<(std::ostream &out, const Access &access) {
    return out << (access.kind == Kind::read ? "R " : "W ") << std::hex << access.offset << '=' << access.value;
}

Access W(uint32_t offset, uint32_t value) { return {Kind::write, offset, value}; }
Access R(uint32_t offset, uint32_t value) { return {Kind::read, offset, value}; }

std::string library_text(uint32_t code) { return KorvelErrorToText(code); }

class FlashFake : public ::testing::Test {
protected:
    // First member, so that every call of a case, its members' construction
    // and destruction included, goes to the scripted stand-in.
    fakezen::ScriptedLibrary scripted_;

    void SetUp() override {
        fakezen::library().reset();
        board = &fakezen::library().add_board(1);
    }

    fakezen::Library &lib() { return fakezen::library(); }
    fakezen::ControllerDevice &device() { return board->controller; }

    // Attached with the output enable already on, and an empty record.
    void attach_enabled(bool verbose = false) {
        flash.Attach(board, verbose);
        flash.FlashOutputEnable(true);
        settle();
    }
    void settle() {
        slept_base_ = clock.slept_ms();
        sleeps_base_ = clock.sleeps();
        lib().clear_log();
        device().commands.clear();
        log.lines.clear();
    }

    std::vector<Access> accesses() const {
        std::vector<Access> out;
        for (const auto &access : fakezen::library().register_log())
            out.push_back({access.kind, access.offset, access.value});
        return out;
    }
    std::size_t index_of(const Access &wanted, std::size_t from = 0) const {
        const auto all = accesses();
        const auto found = std::find(all.begin() + static_cast<std::ptrdiff_t>(from), all.end(), wanted);
        return static_cast<std::size_t>(found - all.begin());
    }

    // Makes register accesses of one kind and offset fail with 513, from now on.
    void fail_access(Kind kind, uint32_t offset) {
        board->result_hook = [kind, offset](const RegisterAccess &access) {
            return access.kind == kind && access.offset == offset ? fakezen::kFailed : fakezen::kSuccess;
        };
    }

    // The read FIFO is loaded when READ_BURST starts, after the driver's FIFO reset.
    void serve_read_burst(std::vector<uint32_t> words) {
        device().on_command = [this, words](uint32_t word) {
            if (fakezen::decode_command(word).code == READ_BURST)
                device().read_fifo.assign(words.begin(), words.end());
        };
    }

    // Pauses since the last settle().
    uint64_t slept() const { return clock.slept_ms() - slept_base_; }
    uint64_t sleeps() const { return clock.sleeps() - sleeps_base_; }

    fakezen::Board *board = nullptr;
    uint64_t slept_base_ = 0;
    uint64_t sleeps_base_ = 0;
    testsupport::SimulatedClock clock;
    LogCapture log;
    CFlashPC28F flash{&LogCapture::on_log, &log, clock};
};

// --- Command words and the command sequence ---------------------------------

struct CommandWordCase {
    uint32_t command, start, count, word;
};

// "command_24_start_5_count_1": the test's name and its printed parameter.
std::string command_word_name(const CommandWordCase &c) {
    return fmt::format("command_{}_start_{}_count_{}", c.command, c.start, c.count);
}
void PrintTo(const CommandWordCase &c, std::ostream *out) { *out << command_word_name(c); }

class CommandWordTest : public FlashFake, public ::testing::WithParamInterface<CommandWordCase> {};

TEST_P(CommandWordTest, WritesTheCommandWordAfterTheClearSequence) {
    const auto c = GetParam();
    attach_enabled();
    flash.ExecCommand(c.command, c.start, c.count, true);
    EXPECT_EQ(lib().writes_to(flash_reg::kCommand),
              (std::vector<uint32_t>{0x20000000, 0x30000000, 0x20000000, c.word}));
    EXPECT_EQ(device().commands, std::vector<uint32_t>{c.word});
}

INSTANTIATE_TEST_SUITE_P(
    Words, CommandWordTest,
    ::testing::Values(CommandWordCase{24, 5, 1, 0xA1800405}, CommandWordCase{32, 79, 30, 0xA200784F},
                      CommandWordCase{17, 7, 1, 0xA1100407}, CommandWordCase{12, 0, 0, 0xA0C00000},
                      // Start and count are cut to 10 bits, the code to 6.
                      CommandWordCase{24, 0x405, 1, 0xA1800405}, CommandWordCase{24, 5, 0x401, 0xA1800405},
                      CommandWordCase{0x58, 5, 1, 0xA1800405},
                      CommandWordCase{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xA3FFFFFF}),
    [](const ::testing::TestParamInfo<CommandWordCase> &info) { return command_word_name(info.param); });

TEST_F(FlashFake, FirstCommandSwitchesTheOutputOnThenRunsTheCommand) {
    board->registers[flash_reg::kFlashEnable] = 0x12345670;
    flash.Attach(board, false);
    flash.ExecCommand(ERASE_BLOCK, 5, 1, true);
    const std::vector<Access> expected = {
        W(34, 0), R(0x80000000, 0x12345670), W(0x80000000, 0x12345678), W(34, 0x20000000),
        W(34, 0x20000000), W(34, 0x30000000), W(34, 0x20000000), W(34, 0xA1800405),
        R(34, 0x21800405), R(34, 0x21800405)};
    EXPECT_EQ(accesses(), expected);
    // 20 ms for the output enable, 30 ms for the clear sequence.
    EXPECT_EQ(slept(), 50u);
    EXPECT_TRUE(flash.output_enabled());
}

TEST_F(FlashFake, EveryAccessPassesTheAccessCode) {
    flash.Attach(board, true);
    serve_read_burst(pattern(kSectorWords, 1));
    std::vector<uint32_t> buffer(kSectorWords);
    flash.EraseSector(2);
    flash.WriteSector(2, buffer.data(), kSectorBytes);
    flash.ReadSector(2, buffer.data(), kSectorBytes);
    flash.Detach();
    ASSERT_FALSE(lib().register_log().empty());
    for (const auto &access : lib().register_log()) {
        ASSERT_EQ(access.access_code, ZENAPI_REGISTER_ACCESS_CODE);
        ASSERT_EQ(access.result, fakezen::kSuccess);
    }
}

TEST_F(FlashFake, LaterCommandsCostOnlyTheClearSequence) {
    attach_enabled();
    flash.ExecCommand(READ_ARRAY, 0, 1, true);
    flash.ExecCommand(READ_ARRAY, 1, 1, true);
    EXPECT_TRUE(lib().writes_to(flash_reg::kFlashEnable).empty());
    EXPECT_EQ(slept(), 60u);
}

TEST_F(FlashFake, VerboseTraceOfACommand) {
    attach_enabled(true);
    flash.ExecCommand(ERASE_BLOCK, 5, 1, true);
    EXPECT_EQ(log.all_texts(), (std::vector<std::string>{"--> ERASE_BLOCK start 5 count 1\n",
                                                     "FlashExecCommand Reg_34 = 0x21800405\n",
                                                     "--- Just about to wait\n", "ExecCommand completed in 0 ms\n"}));
    for (const auto &line : log.lines) EXPECT_EQ(line.level, ROMWRIGHT_LOG_INFO);
}

TEST_F(FlashFake, QuietTraceOfACommandKeepsOnlyTheWaitLine) {
    attach_enabled(false);
    flash.ExecCommand(ERASE_BLOCK, 5, 1, true);
    flash.ExecCommand(READ_BURST, 5, 1, false);
    EXPECT_EQ(log.all_texts(), (std::vector<std::string>{"--- Just about to wait\n", "--- Just about to wait\n"}));
}

TEST_F(FlashFake, VerboseTraceShowsTheRegisterWithTheBusyBitWhileRunning) {
    attach_enabled(true);
    device().busy_polls_by_code[ERASE_BLOCK] = 3;
    flash.ExecCommand(ERASE_BLOCK, 5, 1, true);
    EXPECT_EQ(log.count("FlashExecCommand Reg_34 = 0xA1800405\n"), 1u);
    EXPECT_EQ(log.count("ExecCommand completed in 2 ms\n"), 1u);
}

TEST_F(FlashFake, CommandWithoutWaitDoesNotPoll) {
    attach_enabled();
    device().busy_polls = fakezen::kForever;
    flash.ExecCommand(READ_BURST, 3, 1, false);
    EXPECT_EQ(lib().reads_of(flash_reg::kCommand).size(), 1u);
    EXPECT_EQ(slept(), 30u);
}

// --- Command names -----------------------------------------------------------

TEST(FlashCommandName, NamesEveryKnownCode) {
    const std::vector<std::pair<uint32_t, std::string>> names = {
        {8, "READ_ARRAY"},          {9, "READ_STATUS_REG"},      {10, "READ_MFG_ID"},
        {11, "READ_DEV_ID"},        {12, "READ_CFG_REG"},        {13, "READ_CLEAR_STATUS_REG"},
        {14, "READ_BURST"},         {15, "BLOCK_LOCK_STATUS"},   {16, "PROGRAM_WORD"},
        {17, "PROGRAM_BURST"},      {24, "ERASE_BLOCK"},         {32, "CONFIG_READ_CFG_REG"},
        {33, "BLOCK_LOCK"},         {34, "BLOCK_UNLOCK"},
    };
    for (const auto &[code, name] : names) EXPECT_EQ(CFlashPC28F::CommandName(code), name) << code;
}

TEST(FlashCommandName, OtherCodesShowTheirNumberInHex) {
    EXPECT_EQ(CFlashPC28F::CommandName(18), "Command 00000012");
    EXPECT_EQ(CFlashPC28F::CommandName(0), "Command 00000000");
    EXPECT_EQ(CFlashPC28F::CommandName(0xABCDEF01), "Command ABCDEF01");
    // The name is of the code as given, not of its low 6 bits.
    EXPECT_EQ(CFlashPC28F::CommandName(24 + 64), "Command 00000058");
}

// --- Waiting for completion ---------------------------------------------------

TEST_F(FlashFake, BusyBitThatNeverClearsTimesOutAfterFiveSeconds) {
    attach_enabled();
    device().busy_polls_by_code[ERASE_BLOCK] = fakezen::kForever;
    try {
        flash.ExecCommand(ERASE_BLOCK, 5, 1, true);
        FAIL() << "no time-out";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "Wait timed out.");
    }
    EXPECT_EQ(log.all_texts(), (std::vector<std::string>{"--- Just about to wait\n",
                                                     "Timeout was set to 5000 and diff was 5001 ms.\n",
                                                     "--- Wait timeout\n"}));
    // Trace lines, not errors: the failure itself travels in the exception.
    for (const auto &line : log.lines) EXPECT_EQ(line.level, ROMWRIGHT_LOG_INFO) << line.text;
    EXPECT_EQ(slept(), 30u + 5001u);
}

TEST_F(FlashFake, BusyBitThatNeverClearsTimesOutWithoutALogCallback) {
    CFlashPC28F quiet(nullptr, nullptr, clock);
    quiet.Attach(board, true);
    device().busy_polls = fakezen::kForever;
    device().command = 0xA1800405;
    device().busy_left = fakezen::kForever;
    EXPECT_FALSE(quiet.WaitCommandComplete(5000));
    EXPECT_EQ(slept(), 5001u);
    try {
        quiet.ExecCommand(ERASE_BLOCK, 5, 1, true);
        FAIL() << "no time-out";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "Wait timed out.");
    }
}

TEST_F(FlashFake, WaitPollsEveryMillisecondUntilTheBitClears) {
    attach_enabled(true);
    device().command = 0xA1800405;
    device().busy_left = 40;
    EXPECT_TRUE(flash.WaitCommandComplete(5000));
    EXPECT_EQ(lib().reads_of(flash_reg::kCommand).size(), 41u);
    EXPECT_EQ(sleeps(), 40u);
    EXPECT_EQ(log.all_texts(), std::vector<std::string>{"ExecCommand completed in 40 ms\n"});
}

TEST_F(FlashFake, CommandDoneWithinTheFirstMillisecondNeverTimesOut) {
    attach_enabled();
    device().command = 0xA1800405;
    device().busy_left = 1;
    EXPECT_TRUE(flash.WaitCommandComplete(0));
    device().busy_left = 2;
    EXPECT_FALSE(flash.WaitCommandComplete(0));
    EXPECT_EQ(log.all_texts(), std::vector<std::string>{"Timeout was set to 0 and diff was 1 ms.\n"});
}

TEST_F(FlashFake, WaitUsesTheMonotonicClock) {
    attach_enabled();
    device().command = 0xA1800405;
    device().busy_left = fakezen::kForever;
    const uint64_t before = clock.monotonic_ms();
    EXPECT_FALSE(flash.WaitCommandComplete(250));
    EXPECT_EQ(clock.monotonic_ms() - before, 251u);
}

// --- Status registers ---------------------------------------------------------

struct StatusCase {
    uint32_t word;
    const char *message;  // null: the word passes
};

// "word_24000000": the test's name and its printed parameter.
std::string status_name(const StatusCase &c) { return fmt::format("word_{:08X}", c.word); }
void PrintTo(const StatusCase &c, std::ostream *out) { *out << status_name(c); }

class StatusTextTest : public FlashFake, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusTextTest, ChecksBothWordsAndAcknowledgesOnlyGoodOnes) {
    const auto c = GetParam();
    attach_enabled();
    device().status_words = {fakezen::kStatusGood, c.word};
    uint32_t values[2] = {0, 0};
    if (!c.message) {
        flash.ReadStatusRegisters(values, true);
        EXPECT_EQ(values[1], c.word);
        EXPECT_EQ(lib().writes_to(flash_reg::kStatus), (std::vector<uint32_t>{0, 0}));
        return;
    }
    try {
        flash.ReadStatusRegisters(values, true);
        FAIL() << "accepted " << std::hex << c.word;
    } catch (const std::runtime_error &e) {
        EXPECT_EQ(std::string(e.what()), c.message);
    }
    // The first word was acknowledged, the failing one was not.
    EXPECT_EQ(lib().writes_to(flash_reg::kStatus), std::vector<uint32_t>{0});
    EXPECT_EQ(device().status_words.front(), c.word);
}

INSTANTIATE_TEST_SUITE_P(
    Words, StatusTextTest,
    ::testing::Values(
        StatusCase{0x04000000, nullptr}, StatusCase{0x0400FFFF, nullptr},
        StatusCase{0x08000000, "Transaction result = 2: Transaction error\nError result = 0: No error\n"},
        StatusCase{0x24000000,
                   "Transaction result = 1: Transaction success\nError result = 2: Timout on writing or reading\n"},
        StatusCase{0x00000000, "Transaction result = 0: Transaction in progress\nError result = 0: No error\n"},
        StatusCase{0x14000000,
                   "Transaction result = 1: Transaction success\nError result = 1: Flash not ready for write\n"},
        StatusCase{0x3C000000, "Transaction result = 3: Transaction reserved\n"
                               "Error result = 3: Not enough room in C2S flash-fifo for flash reading\n"},
        // Bits outside the two fields do not matter.
        StatusCase{0xC4001234, nullptr}),
    [](const ::testing::TestParamInfo<StatusCase> &info) { return status_name(info.param); });

// A bad word is raised with both fields decoded; an error result that says
// time-out makes a time-out, anything else a failed device call.
TEST_F(FlashFake, BadStatusWordCarriesItsDecodedFields) {
    using romwright::ErrorResult;
    using romwright::TransactionResult;
    struct Row {
        uint32_t word;
        TransactionResult transaction;
        ErrorResult error;
        romwright::error_kind kind;
    };
    const Row rows[] = {
        {0x08000000, TransactionResult::error, ErrorResult::none, romwright::error_kind::device_call},
        {0x24000000, TransactionResult::success, ErrorResult::timeout, romwright::error_kind::timeout},
        {0x28000000, TransactionResult::error, ErrorResult::timeout, romwright::error_kind::timeout},
        {0x00000000, TransactionResult::in_progress, ErrorResult::none, romwright::error_kind::device_call},
        {0x14000000, TransactionResult::success, ErrorResult::not_ready_for_write, romwright::error_kind::device_call},
        {0x3C000000, TransactionResult::reserved, ErrorResult::read_fifo_full, romwright::error_kind::device_call},
    };
    attach_enabled();
    for (const Row &row : rows) {
        device().status_words = {row.word};
        uint32_t values[2] = {};
        try {
            flash.ReadStatusRegisters(values, true);
            ADD_FAILURE() << "accepted " << std::hex << row.word;
        } catch (const romwright::flash_status_error &e) {
            EXPECT_EQ(e.status().word, row.word);
            EXPECT_EQ(e.status().transaction, row.transaction) << std::hex << row.word;
            EXPECT_EQ(e.status().error, row.error) << std::hex << row.word;
            EXPECT_EQ(e.kind(), row.kind) << std::hex << row.word;
        }
    }
}

TEST_F(FlashFake, StatusWithoutCheckAcceptsAnyWord) {
    attach_enabled();
    device().status_words = {0x3C000000, 0x08000007};
    uint32_t values[2] = {0, 0};
    flash.ReadStatusRegisters(values, false);
    EXPECT_EQ(values[0], 0x3C000000u);
    EXPECT_EQ(values[1], 0x08000007u);
    EXPECT_EQ(accesses(), (std::vector<Access>{R(35, 0x3C000000), W(35, 0), R(35, 0x08000007), W(35, 0)}));
}

// --- Block reset, output enable, RCR ----------------------------------------------

TEST_F(FlashFake, BlockResetPulsesBit30) {
    attach_enabled(true);
    flash.FlashBlockReset();
    EXPECT_EQ(accesses(), (std::vector<Access>{W(34, 0x20000000), W(34, 0x60000000), W(34, 0x20000000)}));
    EXPECT_EQ(slept(), 30u);
    EXPECT_EQ(log.all_texts(), std::vector<std::string>{"--> FlashBlockReset\n"});
}

TEST_F(FlashFake, OutputEnableTwiceTouchesTheBoardOnce) {
    flash.Attach(board, true);
    flash.FlashOutputEnable(true);
    flash.FlashOutputEnable(true);
    EXPECT_EQ(lib().writes_to(flash_reg::kFlashEnable), std::vector<uint32_t>{8});
    EXPECT_EQ(log.all_texts(), std::vector<std::string>{"--> FlashOutputEnable = true\n"});
}

TEST_F(FlashFake, OutputDisableClearsOnlyBit3) {
    board->registers[flash_reg::kFlashEnable] = 0xF0F0F0F0;
    attach_enabled(true);
    flash.FlashOutputEnable(false);
    EXPECT_EQ(accesses(), (std::vector<Access>{R(0x80000000, 0xF0F0F0F8), W(0x80000000, 0xF0F0F0F0)}));
    EXPECT_EQ(slept(), 0u);
    EXPECT_FALSE(flash.output_enabled());
    EXPECT_EQ(log.all_texts(), std::vector<std::string>{"--> FlashOutputEnable = false\n"});
}

TEST_F(FlashFake, OutputDisableWhenOffDoesNothing) {
    flash.Attach(board, true);
    flash.FlashOutputEnable(false);
    EXPECT_TRUE(lib().register_log().empty());
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(FlashFake, FailedOutputEnableLeavesTheFlagAndIsTriedAgain) {
    flash.Attach(board, false);
    fail_access(Kind::write, flash_reg::kFlashEnable);
    EXPECT_THROW(flash.FlashOutputEnable(true), std::runtime_error);
    EXPECT_FALSE(flash.output_enabled());
    board->result_hook = nullptr;
    flash.FlashOutputEnable(true);
    EXPECT_TRUE(flash.output_enabled());
    EXPECT_EQ(board->registers[flash_reg::kFlashEnable], 8u);
}

TEST_F(FlashFake, SetRcrProgramsAndReadsBackTheConfiguration) {
    attach_enabled();
    device().status_words = {fakezen::status_word(1, 0, 0x784F), fakezen::status_word(1, 0, 0x784F)};
    flash.SetRCR();
    EXPECT_EQ(device().commands, (std::vector<uint32_t>{0xA200784F, 0xA0C00000}));
    // The block reset comes first, then a 100 ms pause before the commands.
    const auto writes = lib().writes_to(flash_reg::kCommand);
    ASSERT_GE(writes.size(), 3u);
    EXPECT_EQ(std::vector<uint32_t>(writes.begin(), writes.begin() + 3),
              (std::vector<uint32_t>{0x20000000, 0x60000000, 0x20000000}));
    EXPECT_EQ(slept(), 30u + 100u + 30u + 30u);
    EXPECT_TRUE(device().status_words.empty());
}

TEST_F(FlashFake, SetRcrMismatchNamesWhatItHas) {
    attach_enabled();
    device().status_words = {fakezen::status_word(1, 0, 0x12AB), fakezen::status_word(1, 0, 0x784F)};
    try {
        flash.SetRCR();
        FAIL() << "mismatch accepted";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "Error: Unable to set RCR -- want 784F have 12AB, 784F\n");
    }
}

TEST_F(FlashFake, SetRcrStopsAtABadStatusWord) {
    attach_enabled();
    device().status_words = {0x24000000};
    EXPECT_THROW(flash.SetRCR(), std::runtime_error);
}

// --- Erase with lock query -----------------------------------------------------

struct EraseCase {
    const char *name;
    std::vector<uint32_t> status_words;
    std::vector<uint32_t> codes;
    const char *message;  // null: erased
};

void PrintTo(const EraseCase &c, std::ostream *out) { *out << c.name; }

class EraseSectorTest : public FlashFake, public ::testing::WithParamInterface<EraseCase> {};

TEST_P(EraseSectorTest, QueriesTheLockAndUnlocksWhenNeeded) {
    const auto &c = GetParam();
    attach_enabled();
    device().status_words.assign(c.status_words.begin(), c.status_words.end());
    if (c.message) {
        try {
            flash.EraseSector(9);
            FAIL() << "erase went through";
        } catch (const std::runtime_error &e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    } else {
        flash.EraseSector(9);
    }
    EXPECT_EQ(device().command_codes(), c.codes);
    for (uint32_t word : device().commands) {
        EXPECT_EQ(fakezen::decode_command(word).start, 9u);
        EXPECT_EQ(fakezen::decode_command(word).count, 1u);
    }
    EXPECT_TRUE(device().status_words.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Locks, EraseSectorTest,
    ::testing::Values(
        EraseCase{"Unlocked", {kUnlocked, kUnlocked}, {15, 24}, nullptr},
        EraseCase{"LockedUnlocks", {kLocked, kLocked, kUnlocked, kUnlocked}, {15, 34, 15, 24}, nullptr},
        EraseCase{"SecondWordLocked", {kUnlocked, kLocked, kUnlocked, kUnlocked}, {15, 34, 15, 24}, nullptr},
        // Only the low byte is the lock status.
        EraseCase{"HighDataBitsIgnored", {fakezen::status_word(1, 0, 0xFF00), kUnlocked}, {15, 24}, nullptr},
        EraseCase{"StaysLocked",
                  {kLocked, kLocked, fakezen::status_word(1, 0, 1), fakezen::status_word(1, 0, 3)},
                  {15, 34, 15},
                  "Error: Sector 9 not unlocked. Status = 1, 3\n"},
        EraseCase{"StaysLockedInSecondWord",
                  {kLocked, kLocked, kUnlocked, fakezen::status_word(1, 0, 0x80)},
                  {15, 34, 15},
                  "Error: Sector 9 not unlocked. Status = 0, 128\n"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(FlashFake, EraseLeavesTheReadConfigurationAlone) {
    flash.Attach(board, false);
    EXPECT_TRUE(flash.defer_rcr());
    EXPECT_FALSE(flash.rcr_configured());
    flash.EraseSector(0);
    EXPECT_EQ(device().command_codes(), (std::vector<uint32_t>{15, 24}));
    // No block reset either.
    const auto writes = lib().writes_to(flash_reg::kCommand);
    EXPECT_EQ(std::find(writes.begin(), writes.end(), 0x60000000u), writes.end());
}

TEST_F(FlashFake, EraseFailsOnABadLockStatusWord) {
    attach_enabled();
    device().status_words = {0x08000000};
    try {
        flash.EraseSector(4);
        FAIL() << "erase went through";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "Transaction result = 2: Transaction error\nError result = 0: No error\n");
    }
    EXPECT_EQ(device().command_codes(), std::vector<uint32_t>{15});
}

TEST_F(FlashFake, EraseThatNeverCompletesTimesOut) {
    attach_enabled();
    device().busy_polls_by_code[ERASE_BLOCK] = fakezen::kForever;
    EXPECT_THROW(flash.EraseSector(4), std::runtime_error);
    EXPECT_EQ(log.count("--- Wait timeout\n"), 1u);
}

// --- Attach and detach --------------------------------------------------------------

TEST_F(FlashFake, AttachTouchesNothing) {
    flash.Attach(board, true);
    EXPECT_EQ(flash.handle(), board);
    EXPECT_TRUE(flash.verbose());
    EXPECT_FALSE(flash.rcr_configured());
    EXPECT_TRUE(lib().register_log().empty());
    EXPECT_EQ(slept(), 0u);
}

TEST_F(FlashFake, AttachWithNullHandleFailsAndLeavesNoHandle) {
    flash.Attach(board, false);
    try {
        flash.Attach(nullptr, true);
        FAIL() << "null handle accepted";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "Error: Board handle is NULL");
    }
    EXPECT_EQ(flash.handle(), nullptr);
    EXPECT_TRUE(lib().register_log().empty());
}

TEST_F(FlashFake, DetachWithOutputOffWritesNothing) {
    flash.Attach(board, true);
    flash.Detach();
    EXPECT_EQ(flash.handle(), nullptr);
    EXPECT_TRUE(lib().register_log().empty());
}

TEST_F(FlashFake, DetachSwitchesTheOutputOff) {
    flash.Attach(board, false);
    flash.ExecCommand(READ_ARRAY, 0, 1, true);
    settle();
    flash.Detach();
    EXPECT_EQ(accesses(), (std::vector<Access>{R(0x80000000, 8), W(0x80000000, 0)}));
    EXPECT_FALSE(flash.output_enabled());
    EXPECT_EQ(flash.handle(), nullptr);
}

TEST_F(FlashFake, DetachLetsGoEvenWhenTheOutputCannotBeSwitchedOff) {
    attach_enabled();
    fail_access(Kind::write, flash_reg::kFlashEnable);
    EXPECT_THROW(flash.Detach(), std::runtime_error);
    EXPECT_EQ(flash.handle(), nullptr);
    // A new attachment switches the output on again before its first command.
    board->result_hook = nullptr;
    board->registers[flash_reg::kFlashEnable] = 0;
    flash.Attach(board, false);
    settle();
    flash.ExecCommand(READ_ARRAY, 0, 1, true);
    EXPECT_EQ(lib().writes_to(flash_reg::kFlashEnable), std::vector<uint32_t>{8});
}

// The engine's release after a failed detach: the driver knows it has no
// board any more and makes no call on the handle it dropped.
TEST_F(FlashFake, DetachAfterAFailedDetachTouchesNothing) {
    attach_enabled();
    fail_access(Kind::write, flash_reg::kFlashEnable);
    EXPECT_THROW(flash.Detach(), romwright::error);
    lib().clear_log();
    EXPECT_NO_THROW(flash.Detach());
    EXPECT_TRUE(lib().register_log().empty());
    EXPECT_EQ(flash.handle(), nullptr);
}

TEST_F(FlashFake, ReattachKeepsTheOutputOffUntilTheFirstCommand) {
    flash.Attach(board, false);
    flash.ExecCommand(READ_ARRAY, 0, 1, true);
    flash.Detach();
    settle();
    flash.Attach(board, false);
    EXPECT_TRUE(lib().register_log().empty());
    flash.ExecCommand(READ_ARRAY, 0, 1, true);
    EXPECT_EQ(lib().writes_to(flash_reg::kFlashEnable), std::vector<uint32_t>{8});
}

// --- Device-library failures -------------------------------------------------------

struct FailureCase {
    const char *name;
    Kind kind;
    uint32_t offset;
    std::function<void(CFlashPC28F &)> operation;
    const char *where;
};

void PrintTo(const FailureCase &c, std::ostream *out) { *out << c.name; }

class RegisterFailureTest : public FlashFake, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(RegisterFailureTest, NamesTheOperationAndTheLibraryText) {
    const auto &c = GetParam();
    attach_enabled();
    std::vector<uint32_t> buffer(16, 0);
    device().read_fifo.assign(16, 1);
    fail_access(c.kind, c.offset);
    try {
        c.operation(flash);
        FAIL() << "no failure";
    } catch (const std::runtime_error &e) {
        EXPECT_EQ(std::string(e.what()), std::string("Error in ") + c.where + ": " + library_text(fakezen::kFailed));
    }
    // Nothing happens after the failed access.
    ASSERT_FALSE(lib().register_log().empty());
    EXPECT_EQ(lib().register_log().back().result, fakezen::kFailed);
}

uint32_t g_words[16];

INSTANTIATE_TEST_SUITE_P(
    Operations, RegisterFailureTest,
    ::testing::Values(
        FailureCase{"ExecCommandWrite", Kind::write, 34, [](CFlashPC28F &f) { f.ExecCommand(8, 0, 1, true); },
                    "CFlashPC28F::ExecCommand"},
        FailureCase{"WaitRead", Kind::read, 34, [](CFlashPC28F &f) { f.WaitCommandComplete(5000); },
                    "CFlashPC28F::WaitCommandComplete"},
        FailureCase{"StatusRead", Kind::read, 35,
                    [](CFlashPC28F &f) {
                        uint32_t v[2];
                        f.ReadStatusRegisters(v, true);
                    },
                    "CFlashPC28F::ReadStatusRegisters"},
        FailureCase{"StatusAcknowledge", Kind::write, 35,
                    [](CFlashPC28F &f) {
                        uint32_t v[2];
                        f.ReadStatusRegisters(v, false);
                    },
                    "CFlashPC28F::ReadStatusRegisters"},
        FailureCase{"BlockReset", Kind::write, 34, [](CFlashPC28F &f) { f.FlashBlockReset(); },
                    "CFlashPC28F::FlashBlockReset"},
        FailureCase{"OutputEnable", Kind::read, 0x80000000u, [](CFlashPC28F &f) { f.FlashOutputEnable(false); },
                    "CFlashPC28F::FlashOutputEnable"},
        FailureCase{"ClearFifo", Kind::write, 1, [](CFlashPC28F &f) { f.ClearFifo(); }, "CFlashPC28F::ClearFifo"},
        FailureCase{"BurstReadLevel", Kind::read, 40, [](CFlashPC28F &f) { f.BurstReadRegister(g_words, 64); },
                    "CFlashPC28F::BurstReadRegister"},
        FailureCase{"BurstReadData", Kind::read, 33, [](CFlashPC28F &f) { f.BurstReadRegister(g_words, 64); },
                    "CFlashPC28F::BurstReadRegister"},
        FailureCase{"BurstReadRelease", Kind::write, 33, [](CFlashPC28F &f) { f.BurstReadRegister(g_words, 64); },
                    "CFlashPC28F::BurstReadRegister"},
        FailureCase{"BurstWriteLevel", Kind::read, 40,
                    [](CFlashPC28F &f) { f.BurstWriteRegister(3, 1, g_words, 64); }, "CFlashPC28F::GetFifoUsed"},
        FailureCase{"BurstWriteData", Kind::write, 36,
                    [](CFlashPC28F &f) { f.BurstWriteRegister(3, 1, g_words, 64); },
                    "CFlashPC28F::BurstWriteRegister"},
        FailureCase{"EraseCommand", Kind::write, 34, [](CFlashPC28F &f) { f.EraseSector(1); },
                    "CFlashPC28F::ExecCommand"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(FlashFake, UnattachedDriverReportsTheLibrarysRefusal) {
    try {
        flash.ExecCommand(READ_ARRAY, 0, 1, true);
        FAIL() << "no failure";
    } catch (const std::runtime_error &e) {
        EXPECT_EQ(std::string(e.what()),
                  "Error in CFlashPC28F::FlashOutputEnable: " + library_text(fakezen::kInvalidHandle));
    }
}

// --- Burst read ----------------------------------------------------------------------

TEST_F(FlashFake, ReadSectorResetsTheFifoAndTakesEveryWord) {
    attach_enabled();
    device().fifo_control = 0x00000005;
    const auto data = pattern(kSectorWords, 0x5A5A0000);
    serve_read_burst(data);
    std::vector<uint32_t> buffer(kSectorWords, 0);
    flash.ReadSector(3, buffer.data(), kSectorBytes);
    EXPECT_EQ(buffer, data);
    EXPECT_EQ(device().commands, (std::vector<uint32_t>{0xA0800403, 0xA0E00403}));
    // READ_ARRAY, then the FIFO reset, then READ_BURST.
    const std::size_t array = index_of(W(34, 0xA0800403));
    const std::size_t reset_off = index_of(W(1, 0x00000005));
    const std::size_t reset_on = index_of(W(1, 0x10000005));
    const std::size_t burst = index_of(W(34, 0xA0E00403));
    EXPECT_LT(array, reset_off);
    EXPECT_LT(reset_off, reset_on);
    EXPECT_LT(reset_on, burst);
    // Level, data and release for every word.
    EXPECT_EQ(lib().reads_of(flash_reg::kFifoLevel).size(), kSectorWords);
    EXPECT_EQ(lib().reads_of(flash_reg::kReadFifoData).size(), kSectorWords);
    const auto releases = lib().writes_to(flash_reg::kReadFifoData);
    EXPECT_EQ(releases.size(), kSectorWords);
    EXPECT_TRUE(std::all_of(releases.begin(), releases.end(), [](uint32_t v) { return v == 0; }));
}

TEST_F(FlashFake, ReadCountsWholeWordsOnly) {
    attach_enabled();
    const auto data = pattern(kSectorWords + 1, 7);
    device().read_fifo.assign(data.begin(), data.end());
    std::vector<uint32_t> buffer(kSectorWords + 1, 0xDEADBEEF);
    flash.BurstReadRegister(buffer.data(), 0x40003);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + kSectorWords, data.begin()));
    EXPECT_EQ(buffer.back(), 0xDEADBEEFu);
    EXPECT_EQ(device().read_fifo.size(), 1u);
}

TEST_F(FlashFake, ReadOfLessThanAWordReadsNothing) {
    for (uint32_t bytes : {0u, 1u, 3u}) {
        attach_enabled(true);
        uint32_t word = 0xDEADBEEF;
        flash.BurstReadRegister(&word, bytes);
        EXPECT_TRUE(lib().register_log().empty()) << bytes;
        EXPECT_EQ(word, 0xDEADBEEFu);
        EXPECT_EQ(log.all_texts(), std::vector<std::string>{"BurstReadRegister 0 values 0 s\n"}) << bytes;
    }
}

TEST_F(FlashFake, EmptyReadFifoGivesUpAfterFiveRetries) {
    attach_enabled(true);
    std::vector<uint32_t> buffer(16, 0xDEADBEEF);
    flash.BurstReadRegister(buffer.data(), 64);
    std::vector<std::string> expected;
    for (int retry = 0; retry <= 5; ++retry) expected.push_back("Warning: Fifo_rd_used = 0, retry " + std::to_string(retry) + "\n");
    expected.push_back("Error: Fifo_rd_used = 0, read 0 of 16 values.\n");
    expected.push_back("BurstReadRegister 16 values 0 s\n");
    EXPECT_EQ(log.all_texts(), expected);
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(log.lines[i].level, ROMWRIGHT_LOG_WARNING);
    EXPECT_EQ(log.lines[6].level, ROMWRIGHT_LOG_ERROR);
    EXPECT_EQ(slept(), 500u);
    EXPECT_EQ(sleeps(), 5u);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint32_t v) { return v == 0xDEADBEEF; }));
}

TEST_F(FlashFake, EmptyReadFifoWhenQuietLogsOnlyTheError) {
    attach_enabled(false);
    std::vector<uint32_t> buffer(16, 0);
    flash.BurstReadRegister(buffer.data(), 64);
    EXPECT_EQ(log.all_texts(), std::vector<std::string>{"Error: Fifo_rd_used = 0, read 0 of 16 values.\n"});
    EXPECT_EQ(log.lines[0].level, ROMWRIGHT_LOG_ERROR);
}

TEST_F(FlashFake, ReadFifoThatRunsDryReportsWhatCame) {
    attach_enabled(false);
    const auto data = pattern(100, 3);
    const uint32_t words = 1000;
    serve_read_burst(data);
    std::vector<uint32_t> buffer(words, 0xDEADBEEF);
    flash.ReadSector(12, buffer.data(), words * 4);
    EXPECT_EQ(log.count("Error: Fifo_rd_used = 0, read 100 of 1000 values.\n"), 1u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin()));
    EXPECT_TRUE(std::all_of(buffer.begin() + 100, buffer.end(), [](uint32_t v) { return v == 0xDEADBEEF; }));
}

TEST_F(FlashFake, RetryCountRestartsWithEveryWord) {
    attach_enabled(false);
    const auto data = pattern(20, 9);
    device().read_fifo.assign(data.begin(), data.end());
    // The level shows empty four times before each word.
    int polls = 0;
    board->read_hook = [&](uint32_t offset) -> std::optional<uint32_t> {
        if (offset != flash_reg::kFifoLevel) return std::nullopt;
        return (polls++ % 5 == 4) ? static_cast<uint32_t>(device().read_fifo.size()) : 0u;
    };
    std::vector<uint32_t> buffer(20, 0);
    flash.BurstReadRegister(buffer.data(), 80);
    EXPECT_EQ(buffer, data);
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(slept(), 20u * 4u * 100u);
}

TEST_F(FlashFake, ReadTimingLineShowsWholeSeconds) {
    attach_enabled(true);
    // Two and a half seconds of waiting on words that come one by one.
    int polls = 0;
    device().read_fifo.assign(5, 0x11111111);
    board->read_hook = [&](uint32_t offset) -> std::optional<uint32_t> {
        if (offset != flash_reg::kFifoLevel) return std::nullopt;
        return (polls++ % 6 == 5) ? 1u : 0u;
    };
    uint32_t buffer[5] = {};
    flash.BurstReadRegister(buffer, sizeof buffer);
    EXPECT_EQ(log.lines.back().text, "BurstReadRegister 5 values 2 s\n");
}

TEST_F(FlashFake, ReadIntoAnUnalignedBuffer) {
    attach_enabled();
    const auto data = pattern(8, 1);
    device().read_fifo.assign(data.begin(), data.end());
    std::vector<unsigned char> bytes(8 * 4 + 1, 0);
    flash.BurstReadRegister(bytes.data() + 1, 32);
    EXPECT_EQ(std::memcmp(bytes.data() + 1, data.data(), 32), 0);
    EXPECT_EQ(bytes[0], 0);
}

// --- Burst write -----------------------------------------------------------------------

TEST_F(FlashFake, WriteOfOneSectorQueuesEverythingThenProgramsAndWaits) {
    attach_enabled();
    device().busy_polls_by_code[PROGRAM_BURST] = 3;
    const auto data = pattern(kSectorWords, 0x1234);
    flash.WriteSector(7, data.data(), kSectorBytes);
    EXPECT_EQ(device().written, data);
    EXPECT_EQ(device().commands, std::vector<uint32_t>{0xA1100407});
    // The program command comes after the last word, then the wait polls.
    const auto log_entries = accesses();
    const std::size_t go = index_of(W(34, 0xA1100407));
    const std::size_t last_word = index_of(W(36, data.back()), kSectorWords);
    EXPECT_LT(last_word, go);
    EXPECT_EQ(std::count_if(log_entries.begin() + static_cast<std::ptrdiff_t>(go), log_entries.end(),
                            [](const Access &a) { return a.kind == Kind::read && a.offset == 34; }),
              4);
    EXPECT_EQ(lib().reads_of(flash_reg::kFifoLevel).size(), kSectorWords);
    EXPECT_EQ(log.count("--- Just about to wait\n"), 1u);
    EXPECT_TRUE(log.count("Timeout was set to 5000 and diff was 5001 ms.\n") == 0);
}

TEST_F(FlashFake, WriteCountsWholeWordsOnly) {
    attach_enabled();
    const auto data = pattern(kSectorWords + 1, 0x77);
    flash.WriteSector(2, data.data(), 0x40003);
    EXPECT_EQ(device().written, std::vector<uint32_t>(data.begin(), data.begin() + kSectorWords));
    EXPECT_EQ(index_of(W(34, 0xA1100402)) > index_of(W(36, data[kSectorWords - 1]), kSectorWords - 1), true);
}

TEST_F(FlashFake, WriteOfLessThanAWordStillPrograms) {
    for (uint32_t bytes : {0u, 3u}) {
        attach_enabled();
        const uint32_t word = 0xFFFFFFFF;
        flash.WriteSector(4, &word, bytes);
        EXPECT_TRUE(lib().writes_to(flash_reg::kWriteFifoData).empty()) << bytes;
        EXPECT_EQ(device().commands, std::vector<uint32_t>{0xA1100404}) << bytes;
        EXPECT_EQ(lib().reads_of(flash_reg::kCommand).size(), 2u) << bytes;
    }
}

TEST_F(FlashFake, WriteOfMoreThanASectorStartsTheProgramEarly) {
    attach_enabled(true);
    device().busy_polls_by_code[PROGRAM_BURST] = 2000;
    const auto data = pattern(kSectorWords + 1, 0xBEEF);
    flash.BurstWriteRegister(5, 1, data.data(), (kSectorWords + 1) * 4);
    EXPECT_EQ(device().written, data);
    EXPECT_EQ(device().commands, std::vector<uint32_t>{0xA1100405});
    const std::size_t go = index_of(W(34, 0xA1100405));
    EXPECT_LT(index_of(W(36, data[kSectorWords - 1]), kSectorWords - 1), go);
    EXPECT_GT(index_of(W(36, data[kSectorWords]), kSectorWords), go);
    // Issued without waiting; the wait comes after the last word.
    EXPECT_EQ(log.count("--- Wait timeout\n"), 0u);
    EXPECT_EQ(log.count("ExecCommand completed in 1999 ms\n"), 1u);
    EXPECT_EQ(log.lines.back().text, "BurstWriteRegister 65537 values 2 s\n");
}

TEST_F(FlashFake, EarlyProgramThatNeverFinishesTimesOut) {
    attach_enabled();
    device().busy_polls_by_code[PROGRAM_BURST] = fakezen::kForever;
    const auto data = pattern(kSectorWords + 1, 1);
    try {
        flash.WriteSector(6, data.data(), (kSectorWords + 1) * 4);
        FAIL() << "no time-out";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "BurstWriteRegister timeout.");
    }
    EXPECT_EQ(device().written.size(), kSectorWords + 1);
    EXPECT_EQ(log.count("Timeout was set to 5000 and diff was 5001 ms.\n"), 1u);
    EXPECT_EQ(log.count("--- Wait timeout\n"), 0u);
}

TEST_F(FlashFake, SectorProgramThatNeverFinishesTimesOutInTheCommand) {
    attach_enabled();
    device().busy_polls_by_code[PROGRAM_BURST] = fakezen::kForever;
    const auto data = pattern(kSectorWords, 1);
    try {
        flash.WriteSector(6, data.data(), kSectorBytes);
        FAIL() << "no time-out";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "Wait timed out.");
    }
    EXPECT_EQ(log.count("--- Wait timeout\n"), 1u);
}

TEST_F(FlashFake, FullWriteFifoPausesAndReadsTheLevelAgain) {
    attach_enabled();
    const uint32_t words = kSectorWords + 4;
    const auto data = pattern(words, 0xF00D);
    // Once the program runs, the level shows a full FIFO three times.
    std::vector<uint32_t> levels = {0xE001, 0xFFFF, 0xE001, 0xE000};
    std::size_t next = 0;
    board->read_hook = [&](uint32_t offset) -> std::optional<uint32_t> {
        if (offset != flash_reg::kFifoLevel || !device().program_running) return std::nullopt;
        const uint32_t level = next < levels.size() ? levels[next++] : 0;
        return level << 16;
    };
    flash.WriteSector(1, data.data(), words * 4);
    EXPECT_EQ(device().written, data);
    EXPECT_EQ(lib().reads_of(flash_reg::kFifoLevel).size(), words + 3);
    // 30 ms for the program command, then three 1 ms pauses.
    EXPECT_EQ(slept(), 30u + 3u);
}

TEST_F(FlashFake, WriteFifoThatNeverDrainsEndsTheTransfer) {
    attach_enabled();
    const uint32_t words = kSectorWords + 2;
    const auto data = pattern(words, 0xF00D);
    board->read_hook = [&](uint32_t offset) -> std::optional<uint32_t> {
        if (offset != flash_reg::kFifoLevel || !device().program_running) return std::nullopt;
        return 0xFFFFu << 16;
    };
    try {
        flash.WriteSector(1, data.data(), words * 4);
        FAIL() << "transfer went on";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "BurstWriteRegister timeout.");
    }
    EXPECT_EQ(device().written.size(), kSectorWords + 1);
    EXPECT_EQ(slept(), 30u + 5001u);
}

TEST_F(FlashFake, WriteFromAnUnalignedBufferKeepsBufferOrder) {
    attach_enabled();
    const auto data = pattern(8, 5);
    std::vector<unsigned char> bytes(8 * 4 + 1, 0);
    std::memcpy(bytes.data() + 1, data.data(), 32);
    flash.WriteSector(0, bytes.data() + 1, 32);
    EXPECT_EQ(device().written, data);
}

TEST_F(FlashFake, QuietWriteLogsOnlyTheWaitLine) {
    attach_enabled(false);
    const auto data = pattern(64, 5);
    flash.WriteSector(0, data.data(), 256);
    EXPECT_EQ(log.all_texts(), std::vector<std::string>{"--- Just about to wait\n"});
}

TEST_F(FlashFake, VerboseTransferTrace) {
    attach_enabled(true);
    const auto data = pattern(4, 5);
    serve_read_burst(data);
    std::vector<uint32_t> buffer(4);
    flash.ReadSector(1, buffer.data(), 16);
    EXPECT_EQ(log.all_texts(),
              (std::vector<std::string>{"--> READ_ARRAY start 1 count 1\n", "FlashExecCommand Reg_34 = 0x20800401\n",
                                        "--- Just about to wait\n", "ExecCommand completed in 0 ms\n",
                                        "--> ClearFifo\n", "--> READ_BURST start 1 count 1\n",
                                        "FlashExecCommand Reg_34 = 0x20E00401\n", "--- Just about to wait\n",
                                        "BurstReadRegister 4 values 0 s\n"}));
    for (const auto &line : log.lines) EXPECT_EQ(line.level, ROMWRIGHT_LOG_INFO) << line.text;
}

// Every verbose trace line is information; only the empty read FIFO warns
// or reports an error.
TEST_F(FlashFake, VerboseTraceLinesAreInformation) {
    flash.Attach(board, true);
    device().status_words = {kLocked, kLocked, kUnlocked, kUnlocked};
    flash.EraseSector(2);
    const auto data = pattern(kSectorWords + 1, 3);
    flash.BurstWriteRegister(2, 1, data.data(), (kSectorWords + 1) * 4);
    flash.FlashBlockReset();
    flash.Detach();
    for (const char *text : {"--> FlashOutputEnable = true\n", "--> BLOCK_UNLOCK start 2 count 1\n",
                             "--> PROGRAM_BURST start 2 count 1\n", "BurstWriteRegister 65537 values 0 s\n",
                             "--> FlashBlockReset\n", "--> FlashOutputEnable = false\n"})
        EXPECT_EQ(log.count(text), 1u) << text;
    for (const auto &line : log.lines) EXPECT_EQ(line.level, ROMWRIGHT_LOG_INFO) << line.text;
}

} // namespace
