// The flash controller driver against the simulated sector-mode controller
// of libZenapi.so: whole sectors unlocked, erased, written and read back
// through registers, and the flash compared as a whole before and after.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <zenapi/Zenapi.h>
#include <zenapi/zenapi_sim.h>

#include "engine/flash_pc28f.hpp"
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

struct LogCapture {
    std::vector<std::string> lines;
    static void callback(ROMWRIGHT_LOG_LEVEL, const char *text, void *user_data) {
        static_cast<LogCapture *>(user_data)->lines.push_back(text);
    }
    bool has(const std::string &text) const { return std::find(lines.begin(), lines.end(), text) != lines.end(); }
};

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
    CFlashPC28F flash_{&LogCapture::callback, &log_, clock_};
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
    EXPECT_FALSE(log_.has("--- Wait timeout\n"));
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
    EXPECT_TRUE(log_.has("BurstWriteRegister 65537 values 0 s\n"));
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
    CFlashPC28F flash(&LogCapture::callback, &log_, clock);
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
    EXPECT_TRUE(log_.has("Timeout was set to 5000 and diff was 5001 ms.\n"));
    EXPECT_TRUE(log_.has("--- Wait timeout\n"));
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
    EXPECT_TRUE(log_.has("Error: Fifo_rd_used = 0, read 100 of 65536 values.\n"));
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

} // namespace
