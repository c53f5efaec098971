// The sector-mode flash controller driven through its registers, on a local
// flash array and a virtual clock, so busy times pass in no real time.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <toml++/toml.h>

#include "zenapi/sim/config_error.hpp"
#include "zenapi/sim/sector_controller.hpp"

namespace {

using zenapi_sim::ConfigError;
using zenapi_sim::NorFlash;
using zenapi_sim::SectorController;
using zenapi_sim::SectorControllerConfig;

constexpr uint32_t block_bytes = 0x40000;
constexpr uint32_t block_words = block_bytes / 4;

constexpr uint32_t FIFO_CONTROL = 1, READ_FIFO = 33, COMMAND = 34, STATUS = 35, WRITE_FIFO = 36, LEVELS = 40;
constexpr uint32_t GO = 1u << 31, BLOCK_RESET = 1u << 30, ENABLE = 1u << 29, CLEAR = 1u << 28;
constexpr uint32_t FIFO_RUN = 1u << 28;

enum Code : uint32_t {
    READ_ARRAY = 8, READ_STATUS_REG = 9, READ_MFG_ID = 10, READ_DEV_ID = 11, READ_CFG_REG = 12,
    READ_CLEAR_STATUS_REG = 13, READ_BURST = 14, BLOCK_LOCK_STATUS = 15, PROGRAM_WORD = 16,
    PROGRAM_BURST = 17, ERASE_BLOCK = 24, CONFIG_READ_CFG_REG = 32, BLOCK_LOCK = 33, BLOCK_UNLOCK = 34,
};

// Status words: transaction result in 27..26, error result in 29..28.
constexpr uint32_t SUCCESS = 1u << 26;
constexpr uint32_t TRANSACTION_ERROR = 2u << 26;
constexpr uint32_t refused_with(uint32_t error) { return TRANSACTION_ERROR | error << 28; }

constexpr uint32_t command_word(uint32_t code, uint32_t start, uint32_t count) {
    return GO | ENABLE | (code & 0x3F) << 20 | (count & 0x3FF) << 10 | (start & 0x3FF);
}

// The bytes a test writes into a sector: differ from word to word and from
// sector to sector, and clear bits in every byte position.
uint32_t pattern(uint32_t seed, uint32_t index) { return (index * 0x9E3779B1u) ^ (seed * 0x01000193u) ^ 0x5A5A0000u; }

SectorControllerConfig config_from(const std::string &text) {
    const toml::table board = toml::parse(std::string_view(text), std::string_view("machine.toml"));
    return zenapi_sim::parse_sector_controller_config(&board, "machine.toml");
}

// One board: its flash (4 blocks, filled with 0x3C so erases show), the
// controller on it and the virtual clock it reads.
class Board {
public:
    explicit Board(const SectorControllerConfig &config = {}, std::size_t bytes = 4 * block_bytes)
        : bytes_(bytes, 0x3C), flash_(bytes_.data(), bytes_.size()),
          controller_(flash_, config, [this] { return now_us_; }) {
        controller_.set_flash_enable(true);
    }

    uint32_t read(uint32_t offset) { return controller_.read_register(offset); }
    void write(uint32_t offset, uint32_t value) { controller_.write_register(offset, value); }
    void flash_enable(bool on) { controller_.set_flash_enable(on); }

    void advance_ms(uint64_t ms) { now_us_ += ms * 1000; }
    void advance_us(uint64_t us) { now_us_ += us; }

    // The driver's way: clear the controller, then write the command word.
    void command(uint32_t code, uint32_t start = 0, uint32_t count = 1) {
        write(COMMAND, ENABLE);
        write(COMMAND, ENABLE | CLEAR);
        write(COMMAND, ENABLE);
        write(COMMAND, command_word(code, start, count));
    }

    bool busy() { return (read(COMMAND) & GO) != 0; }

    std::array<uint32_t, 2> take_status() {
        std::array<uint32_t, 2> words{};
        for (uint32_t &word : words) {
            word = read(STATUS);
            write(STATUS, 0);
        }
        return words;
    }

    // Runs a command to its end (a minute of virtual time at most) and
    // returns its result words.
    std::array<uint32_t, 2> run(uint32_t code, uint32_t start = 0, uint32_t count = 1) {
        command(code, start, count);
        for (int ms = 0; ms < 60000 && busy(); ++ms) advance_ms(1);
        EXPECT_FALSE(busy()) << "command " << code;
        return take_status();
    }

    bool locked(uint32_t block) { return (run(BLOCK_LOCK_STATUS, block)[0] & 0xFF) != 0; }

    void unlock_and_erase(uint32_t block) {
        run(BLOCK_UNLOCK, block);
        run(ERASE_BLOCK, block);
    }

    void clear_fifos() {
        const uint32_t control = read(FIFO_CONTROL);
        write(FIFO_CONTROL, control & ~FIFO_RUN);
        write(FIFO_CONTROL, control | FIFO_RUN);
    }

    void program(uint32_t block, const std::vector<uint32_t> &words, uint32_t count = 1) {
        for (uint32_t word : words) write(WRITE_FIFO, word);
        command(PROGRAM_BURST, block, count);
    }

    // Takes what the read FIFO holds now, without letting time pass.
    std::vector<uint32_t> drain_available() {
        std::vector<uint32_t> words;
        while ((read(LEVELS) & 0xFFFF) != 0) {
            words.push_back(read(READ_FIFO));
            write(READ_FIFO, 0);
        }
        return words;
    }

    // Drains the read FIFO as a driver does: level, data, release. Stops
    // when the FIFO stays empty after the controller has finished.
    std::vector<uint32_t> drain(std::size_t limit) {
        std::vector<uint32_t> words;
        while (words.size() < limit) {
            if ((read(LEVELS) & 0xFFFF) == 0) {
                if (!busy() && (read(LEVELS) & 0xFFFF) == 0) break;
                advance_ms(1);
                continue;
            }
            words.push_back(read(READ_FIFO));
            write(READ_FIFO, 0);
        }
        return words;
    }

    std::vector<uint32_t> read_sector(uint32_t block) {
        run(READ_ARRAY, block);
        clear_fifos();
        command(READ_BURST, block, 1);
        return drain(block_words);
    }

    std::vector<uint8_t> &bytes() { return bytes_; }
    std::vector<uint8_t> block_bytes_of(uint32_t block) const {
        return {bytes_.begin() + block * block_bytes, bytes_.begin() + (block + 1) * block_bytes};
    }

private:
    std::vector<uint8_t> bytes_;
    NorFlash flash_;
    uint64_t now_us_ = 0;
    SectorController controller_;
};

std::vector<uint32_t> sector_pattern(uint32_t seed, uint32_t words = block_words) {
    std::vector<uint32_t> data(words);
    for (uint32_t i = 0; i < words; ++i) data[i] = pattern(seed, i);
    return data;
}

std::vector<uint8_t> as_bytes(const std::vector<uint32_t> &words) {
    std::vector<uint8_t> bytes;
    for (uint32_t word : words)
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(uint8_t(word >> shift));
    return bytes;
}

// ---------------------------------------------------------------------------
// Registers and command protocol

TEST(SectorControllerRegisters, DecodesExactlyTheControllerOffsets) {
    for (uint32_t offset : {1u, 33u, 34u, 35u, 36u, 40u}) EXPECT_TRUE(SectorController::decodes(offset)) << offset;
    for (uint32_t offset : {0u, 2u, 32u, 37u, 39u, 41u, 0x80000000u}) EXPECT_FALSE(SectorController::decodes(offset)) << offset;
}

TEST(SectorControllerRegisters, PowerUpState) {
    Board board;
    EXPECT_EQ(board.read(COMMAND), 0u);
    EXPECT_EQ(board.read(STATUS), 0u);
    EXPECT_EQ(board.read(LEVELS), 0u);
    EXPECT_EQ(board.read(READ_FIFO), 0u);
    EXPECT_EQ(board.read(FIFO_CONTROL), FIFO_RUN);
}

TEST(SectorControllerRegisters, CommandRegisterReadsBackLastWordWithBusyBit) {
    SectorControllerConfig config;
    config.erase_ms = 800;
    Board board(config);
    board.run(BLOCK_UNLOCK, 1);
    board.write(COMMAND, command_word(ERASE_BLOCK, 1, 1));
    EXPECT_EQ(board.read(COMMAND), 0xA1800401u);
    board.advance_ms(800);
    EXPECT_EQ(board.read(COMMAND), 0x21800401u);
}

struct BusyCase {
    const char *name;
    uint32_t code;
    uint32_t count;
    uint64_t busy_ms;
    uint16_t data = 0; // in the result words
};

void PrintTo(const BusyCase &c, std::ostream *out) { *out << c.name; }

SectorControllerConfig timed_config() {
    SectorControllerConfig config;
    config.erase_ms = 800;
    config.program_ms = 40;
    config.read_burst_ms = 20;
    config.command_ms = 3;
    config.write_fifo_depth = 0x20000; // two sectors queued before the program starts
    return config;
}

class SectorControllerBusy : public ::testing::TestWithParam<BusyCase> {};

TEST_P(SectorControllerBusy, GoBitStaysSetForTheCommandsBusyTime) {
    const BusyCase &c = GetParam();
    Board board(timed_config());
    board.run(BLOCK_UNLOCK, 0);
    board.run(BLOCK_UNLOCK, 1);
    if (c.code == PROGRAM_BURST)
        for (uint32_t i = 0; i < block_words * c.count; ++i) board.write(WRITE_FIFO, 0);

    board.command(c.code, 0, c.count);
    EXPECT_TRUE(board.busy());
    EXPECT_EQ(board.read(STATUS), 0u) << "no result while running";
    board.advance_us(c.busy_ms * 1000 - 1);
    std::size_t words_read = board.drain_available().size();
    EXPECT_TRUE(board.busy()) << "one microsecond early";
    board.advance_us(1);
    words_read += board.drain_available().size();
    EXPECT_FALSE(board.busy());
    EXPECT_EQ(words_read, c.code == READ_BURST ? block_words * c.count : 0);
    EXPECT_EQ(board.take_status(), (std::array<uint32_t, 2>{SUCCESS | c.data, SUCCESS | c.data}));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SectorControllerBusy,
    ::testing::Values(BusyCase{"erase", ERASE_BLOCK, 1, 800}, BusyCase{"erase_ignores_count", ERASE_BLOCK, 3, 800},
                      BusyCase{"program_one_sector", PROGRAM_BURST, 1, 40},
                      BusyCase{"program_two_sectors", PROGRAM_BURST, 2, 80},
                      BusyCase{"read_burst_one_sector", READ_BURST, 1, 20},
                      BusyCase{"read_burst_two_sectors", READ_BURST, 2, 40},
                      BusyCase{"read_array", READ_ARRAY, 1, 3}, BusyCase{"lock_status", BLOCK_LOCK_STATUS, 1, 3},
                      BusyCase{"rcr", READ_CFG_REG, 0, 3, 0xBFCF}),
    [](const ::testing::TestParamInfo<BusyCase> &info) { return std::string(info.param.name); });

TEST(SectorControllerRegisters, WithoutBusyTimeCommandsCompleteAtOnce) {
    Board board;
    board.command(READ_ARRAY);
    EXPECT_FALSE(board.busy());
    EXPECT_EQ(board.take_status(), (std::array<uint32_t, 2>{SUCCESS, SUCCESS}));
}

TEST(SectorControllerRegisters, GoWithoutControllerEnableStartsNothing) {
    Board board;
    board.write(COMMAND, GO | ERASE_BLOCK << 20 | 1 << 10);
    EXPECT_EQ(board.read(STATUS), 0u);
    EXPECT_TRUE(board.locked(0));
}

TEST(SectorControllerRegisters, GoWhileBusyIsIgnored) {
    SectorControllerConfig config;
    config.command_ms = 10;
    Board board(config);
    board.command(BLOCK_UNLOCK, 0);
    board.write(COMMAND, command_word(BLOCK_UNLOCK, 1, 1));
    board.advance_ms(10);
    EXPECT_FALSE(board.busy());
    board.take_status();
    EXPECT_EQ(board.read(STATUS), 0u) << "only one command ran";
    board.command(BLOCK_LOCK_STATUS, 1);
    board.advance_ms(10);
    EXPECT_EQ(board.take_status()[0] & 0xFF, 1u) << "block 1 is still locked";
}

TEST(SectorControllerRegisters, ClearPulseDropsPendingWordsButNotTheRunningCommand) {
    SectorControllerConfig config;
    config.command_ms = 10;
    Board board(config);
    board.command(BLOCK_LOCK_STATUS, 0);
    board.advance_ms(10);
    ASSERT_NE(board.read(STATUS), 0u);
    board.write(COMMAND, ENABLE | CLEAR);
    EXPECT_EQ(board.read(STATUS), 0u);

    board.command(BLOCK_UNLOCK, 2);
    board.write(COMMAND, ENABLE | CLEAR);
    EXPECT_TRUE(board.busy());
    board.advance_ms(10);
    EXPECT_FALSE(board.busy());
    EXPECT_EQ(board.read(STATUS), SUCCESS);
    EXPECT_FALSE(board.locked(2));
}

TEST(SectorControllerRegisters, BlockResetAbortsAnEraseAndLeavesTheDataAlone) {
    SectorControllerConfig config;
    config.erase_ms = 800;
    Board board(config);
    board.run(BLOCK_UNLOCK, 1);
    board.command(ERASE_BLOCK, 1);
    board.advance_ms(400);
    board.write(COMMAND, ENABLE | BLOCK_RESET);
    board.write(COMMAND, ENABLE);
    EXPECT_FALSE(board.busy());
    EXPECT_EQ(board.read(STATUS), 0u) << "an aborted command leaves no result";
    board.advance_ms(800);
    EXPECT_EQ(board.block_bytes_of(1), std::vector<uint8_t>(block_bytes, 0x3C));
}

TEST(SectorControllerRegisters, BlockResetReturnsTheFlashToReadArray) {
    Board board;
    board.unlock_and_erase(0);
    board.clear_fifos();
    board.command(READ_BURST, 0, 1);
    EXPECT_EQ(board.drain(4), std::vector<uint32_t>(4, 0x00800080u)) << "status mode after an erase";

    board.write(COMMAND, ENABLE | BLOCK_RESET);
    board.clear_fifos();
    board.command(READ_BURST, 0, 1);
    EXPECT_EQ(board.drain(4), std::vector<uint32_t>(4, 0xFFFFFFFFu));
}

// ---------------------------------------------------------------------------
// Status words

TEST(SectorControllerStatus, TwoWordsPerCommandAcknowledgedOneByOne) {
    Board board;
    board.command(BLOCK_LOCK_STATUS, 3);
    EXPECT_EQ(board.read(STATUS), SUCCESS | 1);
    EXPECT_EQ(board.read(STATUS), SUCCESS | 1) << "reading does not acknowledge";
    board.write(STATUS, 5);
    EXPECT_EQ(board.read(STATUS), SUCCESS | 1) << "only a write of 0 acknowledges";
    board.write(STATUS, 0);
    EXPECT_EQ(board.read(STATUS), SUCCESS | 1);
    board.write(STATUS, 0);
    EXPECT_EQ(board.read(STATUS), 0u);
    board.write(STATUS, 0);
    EXPECT_EQ(board.read(STATUS), 0u);
}

TEST(SectorControllerStatus, FlashIdentifiersAndStatusRegister) {
    Board board;
    EXPECT_EQ(board.run(READ_MFG_ID)[1], SUCCESS | 0x004B);
    EXPECT_EQ(board.run(READ_DEV_ID)[0], SUCCESS | 0x8C28);
    EXPECT_EQ(board.run(READ_STATUS_REG)[0], SUCCESS | 0x80);
    EXPECT_EQ(board.run(ERASE_BLOCK, 2)[0], refused_with(1));
    EXPECT_EQ(board.run(READ_CLEAR_STATUS_REG)[0], SUCCESS | 0xA2) << "erase error, block locked";
    EXPECT_EQ(board.run(READ_STATUS_REG)[0], SUCCESS | 0x80);
}

TEST(SectorControllerStatus, ReadConfigurationRegister) {
    SectorControllerConfig config;
    config.rcr = 0x1234;
    Board board(config);
    EXPECT_EQ(board.run(READ_CFG_REG, 0, 0), (std::array<uint32_t, 2>{SUCCESS | 0x1234, SUCCESS | 0x1234}));
    EXPECT_EQ(board.run(CONFIG_READ_CFG_REG, 79, 30)[0], SUCCESS);
    EXPECT_EQ(board.run(READ_CFG_REG, 0, 0), (std::array<uint32_t, 2>{SUCCESS | 0x784F, SUCCESS | 0x784F}));
}

struct RefusedCase {
    const char *name;
    uint32_t code;
    uint32_t start;
    uint32_t count;
    uint32_t expected;
};

void PrintTo(const RefusedCase &c, std::ostream *out) { *out << c.name; }

class SectorControllerRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(SectorControllerRefused, LeavesAnErrorResultAndChangesNothing) {
    const RefusedCase &c = GetParam();
    Board board;
    const std::vector<uint8_t> before = board.bytes();
    for (uint32_t i = 0; i < block_words; ++i) board.write(WRITE_FIFO, 0);
    board.command(c.code, c.start, c.count);
    EXPECT_FALSE(board.busy());
    EXPECT_EQ(board.take_status(), (std::array<uint32_t, 2>{c.expected, c.expected}));
    EXPECT_EQ(board.bytes(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, SectorControllerRefused,
    ::testing::Values(RefusedCase{"unknown_18", 18, 0, 1, refused_with(0)},
                      RefusedCase{"unknown_63", 63, 0, 1, refused_with(0)},
                      RefusedCase{"unknown_0", 0, 0, 1, refused_with(0)},
                      RefusedCase{"program_word", PROGRAM_WORD, 0, 1, refused_with(0)},
                      RefusedCase{"erase_locked", ERASE_BLOCK, 1, 1, refused_with(1)},
                      RefusedCase{"erase_beyond_flash", ERASE_BLOCK, 4, 1, refused_with(1)},
                      RefusedCase{"unlock_beyond_flash", BLOCK_UNLOCK, 1023, 1, refused_with(1)},
                      RefusedCase{"program_beyond_flash", PROGRAM_BURST, 3, 2, refused_with(1)},
                      RefusedCase{"read_beyond_flash", READ_BURST, 4, 1, refused_with(1)}),
    [](const ::testing::TestParamInfo<RefusedCase> &info) { return std::string(info.param.name); });

TEST(SectorControllerStatus, ProgramIntoALockedBlockConsumesItsDataButWritesNothing) {
    Board board;
    const std::vector<uint8_t> before = board.bytes();
    board.program(2, sector_pattern(1));
    EXPECT_EQ(board.take_status(), (std::array<uint32_t, 2>{refused_with(1), refused_with(1)}));
    EXPECT_EQ(board.read(LEVELS), 0u);
    EXPECT_EQ(board.bytes(), before);
}

TEST(SectorControllerStatus, PendingWordsAreBounded) {
    Board board;
    for (int i = 0; i < 100; ++i) board.write(COMMAND, command_word(READ_ARRAY, 0, 1));
    int words = 0;
    while (board.read(STATUS) != 0 && words < 1000) {
        board.write(STATUS, 0);
        ++words;
    }
    EXPECT_EQ(words, 64);
}

// ---------------------------------------------------------------------------
// Flash enable

TEST(SectorControllerFlashEnable, OffRefusesEveryFlashCommand) {
    Board board;
    board.unlock_and_erase(1);
    board.flash_enable(false);
    for (uint32_t code : {READ_ARRAY, BLOCK_LOCK_STATUS, BLOCK_UNLOCK, ERASE_BLOCK, READ_CFG_REG}) {
        board.command(code, 0, 1);
        EXPECT_FALSE(board.busy());
        EXPECT_EQ(board.take_status()[0], refused_with(1)) << code;
    }
    board.program(1, sector_pattern(2));
    EXPECT_EQ(board.take_status()[0], refused_with(1));
    EXPECT_EQ(board.block_bytes_of(0), std::vector<uint8_t>(block_bytes, 0x3C));
    EXPECT_EQ(board.block_bytes_of(1), std::vector<uint8_t>(block_bytes, 0xFF));
    board.flash_enable(true);
    EXPECT_TRUE(board.locked(0));
}

TEST(SectorControllerFlashEnable, SwitchingOffAbortsTheRunningCommand) {
    SectorControllerConfig config;
    config.erase_ms = 800;
    Board board(config);
    board.run(BLOCK_UNLOCK, 0);
    board.command(ERASE_BLOCK, 0);
    board.advance_ms(100);
    board.flash_enable(false);
    EXPECT_FALSE(board.busy());
    EXPECT_EQ(board.take_status()[0], refused_with(1));
    board.advance_ms(1000);
    EXPECT_EQ(board.block_bytes_of(0), std::vector<uint8_t>(block_bytes, 0x3C));
}

// ---------------------------------------------------------------------------
// Locks and NOR semantics

TEST(SectorControllerFlash, EveryBlockIsLockedAtPowerUp) {
    Board board;
    for (uint32_t block = 0; block < 4; ++block) EXPECT_TRUE(board.locked(block)) << block;
}

TEST(SectorControllerFlash, UnlockAndLockOneBlock) {
    Board board;
    EXPECT_EQ(board.run(BLOCK_UNLOCK, 2)[0], SUCCESS);
    EXPECT_FALSE(board.locked(2));
    EXPECT_TRUE(board.locked(1));
    EXPECT_TRUE(board.locked(3));
    EXPECT_EQ(board.run(BLOCK_LOCK, 2)[0], SUCCESS);
    EXPECT_TRUE(board.locked(2));
}

TEST(SectorControllerFlash, LocksDoNotSurviveAPowerCycleButDataDoes) {
    std::vector<uint8_t> bytes(4 * block_bytes, 0x3C);
    NorFlash flash(bytes.data(), bytes.size());
    uint64_t now = 0;
    {
        SectorController first(flash, {}, [&] { return now; });
        first.set_flash_enable(true);
        first.write_register(COMMAND, command_word(BLOCK_UNLOCK, 1, 1));
        first.write_register(COMMAND, command_word(ERASE_BLOCK, 1, 1));
    }
    SectorController second(flash, {}, [&] { return now; });
    second.set_flash_enable(true);
    second.write_register(COMMAND, ENABLE | CLEAR);
    second.write_register(COMMAND, command_word(BLOCK_LOCK_STATUS, 1, 1));
    EXPECT_EQ(second.read_register(STATUS), SUCCESS | 1);
    EXPECT_EQ(bytes[block_bytes], 0xFF);
}

TEST(SectorControllerFlash, EraseProgramReadBackAWholeSector) {
    Board board;
    board.unlock_and_erase(2);
    EXPECT_EQ(board.block_bytes_of(2), std::vector<uint8_t>(block_bytes, 0xFF));
    const std::vector<uint32_t> data = sector_pattern(7);
    board.program(2, data);
    EXPECT_EQ(board.take_status()[0], SUCCESS);
    EXPECT_EQ(board.read(LEVELS), 0u);

    EXPECT_EQ(board.read_sector(2), data);
    EXPECT_EQ(board.block_bytes_of(2), as_bytes(data)) << "words are stored little-endian, unswapped";
    for (uint32_t other : {0u, 1u, 3u}) EXPECT_EQ(board.block_bytes_of(other), std::vector<uint8_t>(block_bytes, 0x3C)) << other;
}

TEST(SectorControllerFlash, ProgrammingTwiceWithoutEraseGivesTheAnd) {
    Board board;
    board.unlock_and_erase(1);
    const std::vector<uint32_t> first = sector_pattern(1), second = sector_pattern(2);
    board.program(1, first);
    board.program(1, second);
    std::vector<uint32_t> expected(block_words);
    for (uint32_t i = 0; i < block_words; ++i) expected[i] = first[i] & second[i];
    EXPECT_EQ(board.read_sector(1), expected);
}

TEST(SectorControllerFlash, ProgramWithoutEraseClearsBitsOnly) {
    Board board;
    board.run(BLOCK_UNLOCK, 0);
    board.program(0, std::vector<uint32_t>(block_words, 0xF0F0F0F0u));
    EXPECT_EQ(board.block_bytes_of(0), std::vector<uint8_t>(block_bytes, 0x30));
}

TEST(SectorControllerFlash, ReadBurstWithoutReadArrayAfterAProgramReadsTheStatus) {
    Board board;
    board.unlock_and_erase(0);
    board.program(0, sector_pattern(3));
    board.clear_fifos();
    board.command(READ_BURST, 0, 1);
    EXPECT_EQ(board.drain(2), std::vector<uint32_t>(2, 0x00800080u));
}

// ---------------------------------------------------------------------------
// FIFOs

TEST(SectorControllerFifo, ReadFifoIsBoundedAndRefillsAsItIsDrained) {
    Board board;
    board.run(READ_ARRAY);
    board.command(READ_BURST, 1, 1);
    EXPECT_EQ(board.read(LEVELS), 512u);
    EXPECT_TRUE(board.busy()) << "the burst waits for room";
    const uint32_t first = board.read(READ_FIFO);
    EXPECT_EQ(board.read(READ_FIFO), first) << "reading does not release";
    board.write(READ_FIFO, 1);
    EXPECT_EQ(board.read(LEVELS), 512u) << "only a write of 0 releases";
    board.write(READ_FIFO, 0);
    EXPECT_EQ(board.read(LEVELS), 512u) << "refilled";

    const std::vector<uint32_t> rest = board.drain(2 * block_words);
    EXPECT_EQ(rest.size(), block_words - 1);
    EXPECT_FALSE(board.busy());
    EXPECT_EQ(board.read(LEVELS), 0u);
    EXPECT_EQ(board.read(READ_FIFO), 0u) << "an empty FIFO reads 0";
}

TEST(SectorControllerFifo, ReadFifoDepthIsConfigurable) {
    SectorControllerConfig config;
    config.read_fifo_depth = 16;
    Board board(config);
    board.command(READ_BURST, 0, 2);
    EXPECT_EQ(board.read(LEVELS), 16u);
    EXPECT_EQ(board.drain(3 * block_words).size(), 2 * block_words);
}

TEST(SectorControllerFifo, ReadBurstFillsAtTheConfiguredRate) {
    SectorControllerConfig config;
    config.read_burst_ms = 64; // 1024 words per millisecond
    config.read_fifo_depth = 0xFFFF;
    Board board(config);
    board.command(READ_BURST, 0, 1);
    EXPECT_EQ(board.read(LEVELS), 0u);
    board.advance_ms(1);
    EXPECT_EQ(board.read(LEVELS), 1024u);
    board.advance_ms(10);
    EXPECT_EQ(board.read(LEVELS), 11u * 1024);
}

TEST(SectorControllerFifo, FifoResetEmptiesBothAndKeepsOtherControlBits) {
    Board board;
    for (int i = 0; i < 10; ++i) board.write(WRITE_FIFO, i);
    board.command(READ_BURST, 0, 1);
    EXPECT_EQ(board.read(LEVELS), 10u << 16 | 512u);
    board.write(FIFO_CONTROL, 0x00000005);
    EXPECT_EQ(board.read(FIFO_CONTROL), 0x00000005u);
    EXPECT_EQ(board.read(LEVELS), 0u);
    board.write(WRITE_FIFO, 1);
    EXPECT_EQ(board.read(LEVELS), 0u) << "a stopped write FIFO drops words";
    board.write(FIFO_CONTROL, 0x00000005 | FIFO_RUN);
    EXPECT_EQ(board.read(FIFO_CONTROL), 0x10000005u);
    EXPECT_EQ(board.read(LEVELS), 512u) << "the running burst refills";
}

TEST(SectorControllerFifo, ReadBurstWithTheFifosStoppedHasNoRoom) {
    Board board;
    board.write(FIFO_CONTROL, 0);
    board.command(READ_BURST, 0, 1);
    EXPECT_FALSE(board.busy());
    EXPECT_EQ(board.take_status()[0], refused_with(3));
}

TEST(SectorControllerFifo, WriteFifoTakesASectorAndMoreAndShowsItsLevel) {
    Board board;
    for (uint32_t i = 0; i < 1000; ++i) board.write(WRITE_FIFO, i);
    EXPECT_EQ(board.read(LEVELS), 1000u << 16);
    for (uint32_t i = 1000; i < 0xFFFF; ++i) board.write(WRITE_FIFO, i);
    EXPECT_EQ(board.read(LEVELS), 0xFFFFu << 16);
    for (uint32_t i = 0xFFFF; i < 0x12000; ++i) board.write(WRITE_FIFO, i);
    EXPECT_EQ(board.read(LEVELS), 0xFFFFu << 16) << "the level saturates";

    // All 0x12000 words are kept: two programs consume them in order.
    board.unlock_and_erase(0);
    board.unlock_and_erase(1);
    board.command(PROGRAM_BURST, 0, 1);
    EXPECT_EQ(board.take_status()[0], SUCCESS);
    EXPECT_EQ(board.read(LEVELS), (0x12000u - block_words) << 16);
    std::vector<uint32_t> expected(block_words);
    for (uint32_t i = 0; i < block_words; ++i) expected[i] = i;
    EXPECT_EQ(board.read_sector(0), expected);
}

TEST(SectorControllerFifo, WriteFifoOverflowDropsWordsAndFailsTheProgram) {
    Board board;
    board.unlock_and_erase(0);
    for (uint32_t i = 0; i < 0x12000 + 3; ++i) board.write(WRITE_FIFO, 0);
    EXPECT_EQ(board.read(LEVELS), 0xFFFFu << 16);
    board.write(COMMAND, command_word(PROGRAM_BURST, 0, 1)); // no clear pulse: the overflow is still latched
    EXPECT_FALSE(board.busy());
    EXPECT_EQ(board.take_status()[0], refused_with(1));
    EXPECT_EQ(board.read(LEVELS), 0x2000u << 16) << "the three extra words were dropped";

    board.command(PROGRAM_BURST, 0, 0);
    EXPECT_EQ(board.take_status()[0], SUCCESS) << "the clear pulse drops the overflow";
}

TEST(SectorControllerFifo, WriteFifoDepthIsConfigurable) {
    SectorControllerConfig config;
    config.write_fifo_depth = 0x10000;
    Board board(config);
    board.unlock_and_erase(0);
    board.write(COMMAND, ENABLE | CLEAR);
    for (uint32_t i = 0; i < block_words + 1; ++i) board.write(WRITE_FIFO, 0);
    EXPECT_EQ(board.read(LEVELS), 0xFFFFu << 16);
    board.write(COMMAND, command_word(PROGRAM_BURST, 0, 1));
    EXPECT_EQ(board.take_status()[0], refused_with(1));
    EXPECT_EQ(board.read(LEVELS), 0u);
}

// ---------------------------------------------------------------------------
// Program bursts

TEST(SectorControllerProgram, EarlyStartKeepsConsumingAsWordsArrive) {
    SectorControllerConfig config;
    config.program_ms = 64; // 1024 words per millisecond per sector
    Board board(config);
    board.unlock_and_erase(1);
    board.unlock_and_erase(2);
    const std::vector<uint32_t> first = sector_pattern(11), second = sector_pattern(12);
    std::vector<uint32_t> data = first;
    data.insert(data.end(), second.begin(), second.end());

    std::size_t i = 0;
    for (; i < block_words; ++i) board.write(WRITE_FIFO, data[i]);
    board.command(PROGRAM_BURST, 1, 2);
    uint32_t highest_level = 0;
    while (i < data.size()) {
        const uint32_t level = board.read(LEVELS) >> 16;
        highest_level = std::max(highest_level, level);
        if (level > 0xE000) {
            board.advance_us(100);
            continue;
        }
        board.write(WRITE_FIFO, data[i++]);
    }
    EXPECT_GT(highest_level, 0xE000u) << "the program drains slower than the feed";
    EXPECT_TRUE(board.busy());
    board.advance_ms(128);
    EXPECT_FALSE(board.busy());
    EXPECT_EQ(board.take_status()[0], SUCCESS);
    EXPECT_EQ(board.read_sector(1), first);
    EXPECT_EQ(board.read_sector(2), second);
    EXPECT_EQ(board.block_bytes_of(0), std::vector<uint8_t>(block_bytes, 0x3C));
    EXPECT_EQ(board.block_bytes_of(3), std::vector<uint8_t>(block_bytes, 0x3C));
}

TEST(SectorControllerProgram, TooFewWordsEndsWithATimeOutAfterTheLastWord) {
    SectorControllerConfig config;
    config.program_data_timeout_ms = 1000;
    Board board(config);
    board.unlock_and_erase(0);
    board.program(0, std::vector<uint32_t>(100, 0));
    EXPECT_TRUE(board.busy());
    board.advance_ms(999);
    EXPECT_TRUE(board.busy());
    board.write(WRITE_FIFO, 0); // a late word restarts the wait
    board.advance_ms(999);
    EXPECT_TRUE(board.busy());
    board.advance_ms(1);
    EXPECT_FALSE(board.busy());
    EXPECT_EQ(board.take_status()[0], refused_with(2));
    const std::vector<uint8_t> sector = board.block_bytes_of(0);
    EXPECT_EQ(std::vector<uint8_t>(sector.begin(), sector.begin() + 404), std::vector<uint8_t>(404, 0));
    EXPECT_EQ(std::vector<uint8_t>(sector.begin() + 404, sector.end()), std::vector<uint8_t>(block_bytes - 404, 0xFF));
}

TEST(SectorControllerProgram, ProgramOfZeroSectorsCompletesAtOnce) {
    Board board;
    board.write(WRITE_FIFO, 7);
    EXPECT_EQ(board.run(PROGRAM_BURST, 0, 0)[0], SUCCESS);
    EXPECT_EQ(board.read(LEVELS), 1u << 16) << "nothing consumed";
}

// ---------------------------------------------------------------------------
// Injected faults

TEST(SectorControllerFaults, BusyStuckUntilBlockReset) {
    Board board(config_from(R"(
[[controller.fault]]
type = "busy_stuck"
command = "BLOCK_LOCK_STATUS"
times = 1
)"));
    board.command(BLOCK_LOCK_STATUS, 0);
    board.advance_ms(100000);
    EXPECT_TRUE(board.busy());
    EXPECT_EQ(board.read(STATUS), 0u);
    board.command(READ_ARRAY);
    EXPECT_TRUE(board.busy()) << "the clear sequence does not free it";
    board.write(COMMAND, ENABLE | BLOCK_RESET);
    EXPECT_FALSE(board.busy());
    EXPECT_TRUE(board.locked(0)) << "only the first query sticks";
}

TEST(SectorControllerFaults, BusyStuckEveryTimeByCode) {
    Board board(config_from("[[controller.fault]]\ntype = \"busy_stuck\"\ncommand = 24\n"));
    for (int attempt = 0; attempt < 3; ++attempt) {
        board.run(BLOCK_UNLOCK, 0);
        board.command(ERASE_BLOCK, 0);
        board.advance_ms(10000);
        EXPECT_TRUE(board.busy()) << attempt;
        board.write(COMMAND, ENABLE | BLOCK_RESET);
    }
    EXPECT_EQ(board.block_bytes_of(0), std::vector<uint8_t>(block_bytes, 0x3C));
}

TEST(SectorControllerFaults, BlockThatWillNotUnlock) {
    Board board(config_from("[[controller.fault]]\ntype = \"no_unlock\"\nsector = 1\n"));
    EXPECT_EQ(board.run(BLOCK_UNLOCK, 1)[0], SUCCESS) << "the unlock itself reports success";
    EXPECT_TRUE(board.locked(1));
    EXPECT_EQ(board.run(ERASE_BLOCK, 1)[0], refused_with(1));
    EXPECT_EQ(board.run(BLOCK_UNLOCK, 2)[0], SUCCESS);
    EXPECT_FALSE(board.locked(2));
}

TEST(SectorControllerFaults, StatusWordWithAnErrorResultForTheFirstTimes) {
    Board board(config_from(R"(
[[controller.fault]]
type = "status"
command = "BLOCK_LOCK_STATUS"
error = 2
times = 2
)"));
    EXPECT_EQ(board.run(BLOCK_LOCK_STATUS, 0), (std::array<uint32_t, 2>{refused_with(2) | 1, refused_with(2) | 1}));
    EXPECT_EQ(board.run(BLOCK_LOCK_STATUS, 0)[1], refused_with(2) | 1);
    EXPECT_EQ(board.run(BLOCK_LOCK_STATUS, 0)[0], SUCCESS | 1);
    EXPECT_EQ(board.run(READ_ARRAY)[0], SUCCESS);
}

TEST(SectorControllerFaults, StatusFaultOnOneWordWithItsOwnTransactionResult) {
    Board board(config_from(R"(
[[controller.fault]]
type = "status"
command = 12
error = 0
transaction = 3
word = 2
)"));
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(board.run(READ_CFG_REG), (std::array<uint32_t, 2>{SUCCESS | 0xBFCF, 3u << 26 | 0xBFCF}));
}

TEST(SectorControllerFaults, StatusFaultKeepsTheCommandsEffect) {
    Board board(config_from("[[controller.fault]]\ntype = \"status\"\ncommand = \"ERASE_BLOCK\"\nerror = 1\n"));
    board.run(BLOCK_UNLOCK, 3);
    EXPECT_EQ(board.run(ERASE_BLOCK, 3)[0], refused_with(1));
    EXPECT_EQ(board.block_bytes_of(3), std::vector<uint8_t>(block_bytes, 0xFF));
}

TEST(SectorControllerFaults, ReadFifoStallsAfterSomeWords) {
    Board board(config_from(R"(
[[controller.fault]]
type = "read_stall"
after = 100
sector = 2
times = 1
)"));
    board.run(BLOCK_UNLOCK, 2);
    EXPECT_EQ(board.read_sector(2).size(), 100u);
    EXPECT_EQ(board.read(LEVELS) & 0xFFFF, 0u);
    EXPECT_EQ(board.take_status()[0], refused_with(2));
    EXPECT_EQ(board.read_sector(1).size(), block_words) << "other sectors are not affected";
    EXPECT_EQ(board.read_sector(2).size(), block_words) << "only the first read stalls";
}

TEST(SectorControllerFaults, ReadFifoStallingFromTheStartForAnySector) {
    Board board(config_from("[[controller.fault]]\ntype = \"read_stall\"\nafter = 0\n"));
    for (uint32_t block : {0u, 3u}) {
        board.clear_fifos();
        board.command(READ_BURST, block, 1);
        EXPECT_EQ(board.read(LEVELS), 0u);
        EXPECT_TRUE(board.drain(10).empty());
    }
}

struct BitFaultCase {
    const char *type;
    bool erase;
};

void PrintTo(const BitFaultCase &c, std::ostream *out) { *out << c.type; }

class SectorControllerBitFaults : public ::testing::TestWithParam<BitFaultCase> {};

TEST_P(SectorControllerBitFaults, LeaveMaskedBitsWrongForTheFirstAttemptsAtOneSector) {
    const BitFaultCase &c = GetParam();
    Board board(config_from(std::string("[[controller.fault]]\ntype = \"") + c.type +
                            "\"\nsector = 1\noffset = 0x1235\nmask = 0x81\ntimes = 2\n"));
    const std::vector<uint32_t> data = sector_pattern(5);
    const std::vector<uint8_t> good_program = as_bytes(data);
    for (int attempt = 1; attempt <= 3; ++attempt) {
        for (uint32_t block : {1u, 2u}) {
            board.unlock_and_erase(block);
            if (!c.erase) board.program(block, data);
        }
        std::vector<uint8_t> expected = c.erase ? std::vector<uint8_t>(block_bytes, 0xFF) : good_program;
        if (attempt <= 2) expected[0x1235] ^= 0x81;
        EXPECT_EQ(board.block_bytes_of(1), expected) << "attempt " << attempt;
        EXPECT_EQ(board.block_bytes_of(2), c.erase ? std::vector<uint8_t>(block_bytes, 0xFF) : good_program);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, SectorControllerBitFaults,
                         ::testing::Values(BitFaultCase{"erase_bits", true}, BitFaultCase{"program_bits", false}),
                         [](const ::testing::TestParamInfo<BitFaultCase> &info) { return std::string(info.param.type); });

// ---------------------------------------------------------------------------
// Configuration

TEST(SectorControllerConfigParse, DefaultsWithoutATable) {
    const SectorControllerConfig none = zenapi_sim::parse_sector_controller_config(nullptr, "machine.toml");
    const SectorControllerConfig empty = config_from("kind = 25\n");
    for (const SectorControllerConfig &config : {none, empty}) {
        EXPECT_EQ(config.erase_ms, 0u);
        EXPECT_EQ(config.program_ms, 0u);
        EXPECT_EQ(config.read_burst_ms, 0u);
        EXPECT_EQ(config.command_ms, 0u);
        EXPECT_EQ(config.program_data_timeout_ms, 1000u);
        EXPECT_EQ(config.read_fifo_depth, 512u);
        EXPECT_EQ(config.write_fifo_depth, 0x12000u);
        EXPECT_EQ(config.rcr, 0xBFCF);
        EXPECT_TRUE(config.faults.empty());
    }
}

TEST(SectorControllerConfigParse, EveryKey) {
    const SectorControllerConfig config = config_from(R"(
[controller]
erase_ms = 800
program_ms = 120
read_burst_ms = 15
command_ms = 1
program_data_timeout_ms = 250
read_fifo_depth = 1024
write_fifo_depth = 0x20000
rcr = 0x784F

[[controller.fault]]
type = "program_bits"
sector = 3
offset = 0x3FFFF
mask = 0xFF

[[controller.fault]]
type = "read_stall"
after = 7
)");
    EXPECT_EQ(config.erase_ms, 800u);
    EXPECT_EQ(config.program_ms, 120u);
    EXPECT_EQ(config.read_burst_ms, 15u);
    EXPECT_EQ(config.command_ms, 1u);
    EXPECT_EQ(config.program_data_timeout_ms, 250u);
    EXPECT_EQ(config.read_fifo_depth, 1024u);
    EXPECT_EQ(config.write_fifo_depth, 0x20000u);
    EXPECT_EQ(config.rcr, 0x784F);
    ASSERT_EQ(config.faults.size(), 2u);
    EXPECT_EQ(config.faults[0].type, zenapi_sim::ControllerFaultType::program_bits);
    EXPECT_EQ(config.faults[0].sector, 3);
    EXPECT_EQ(config.faults[0].offset, 0x3FFFFu);
    EXPECT_EQ(config.faults[0].mask, 0xFF);
    EXPECT_EQ(config.faults[0].times, 0u);
    EXPECT_EQ(config.faults[1].type, zenapi_sim::ControllerFaultType::read_stall);
    EXPECT_EQ(config.faults[1].after_words, 7u);
    EXPECT_EQ(config.faults[1].sector, -1);
}

struct BadConfigCase {
    const char *name;
    const char *text;
    const char *message;
};

void PrintTo(const BadConfigCase &c, std::ostream *out) { *out << c.name; }

class SectorControllerBadConfig : public ::testing::TestWithParam<BadConfigCase> {};

TEST_P(SectorControllerBadConfig, NamesFileLineAndKey) {
    const BadConfigCase &c = GetParam();
    try {
        config_from(c.text);
        FAIL() << "accepted";
    } catch (const ConfigError &error) {
        EXPECT_EQ(std::string(error.what()), c.message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SectorControllerBadConfig,
    ::testing::Values(
        BadConfigCase{"unknown_key", "[controller]\nerase_ms = 1\nerase_time = 2\n",
                      "machine.toml:3: system.board.controller.erase_time: unknown key"},
        BadConfigCase{"not_a_table", "controller = 5\n",
                      "machine.toml:1: system.board.controller: must be a table ([system.board.controller])"},
        BadConfigCase{"negative", "[controller]\nprogram_ms = -1\n",
                      "machine.toml:2: system.board.controller.program_ms: must be an integer 0..3600000"},
        BadConfigCase{"float", "[controller]\n\ncommand_ms = 1.5\n",
                      "machine.toml:3: system.board.controller.command_ms: must be an integer 0..3600000"},
        BadConfigCase{"string", "[controller]\nerase_ms = \"800\"\n",
                      "machine.toml:2: system.board.controller.erase_ms: must be an integer 0..3600000"},
        BadConfigCase{"read_fifo_zero", "[controller]\nread_fifo_depth = 0\n",
                      "machine.toml:2: system.board.controller.read_fifo_depth: must be an integer 1..65535"},
        BadConfigCase{"rcr_too_big", "[controller]\nrcr = 0x10000\n",
                      "machine.toml:2: system.board.controller.rcr: must be an integer 0..65535"},
        BadConfigCase{"fault_not_array", "[controller]\nfault = 3\n",
                      "machine.toml:2: system.board.controller.fault: must be an array of tables "
                      "([[system.board.controller.fault]])"},
        BadConfigCase{"fault_without_type", "[[controller.fault]]\nsector = 1\n",
                      "machine.toml:1: system.board.controller.fault.type: missing"},
        BadConfigCase{"fault_unknown_type", "[[controller.fault]]\ntype = \"flaky\"\n",
                      "machine.toml:2: system.board.controller.fault.type: must be one of busy_stuck, no_unlock, "
                      "status, read_stall, erase_bits, program_bits"},
        BadConfigCase{"fault_missing_key", "[[controller.fault]]\ntype = \"erase_bits\"\nsector = 1\nmask = 1\n",
                      "machine.toml:1: system.board.controller.fault.offset: missing for a \"erase_bits\" fault"},
        BadConfigCase{"fault_foreign_key", "[[controller.fault]]\ntype = \"no_unlock\"\nsector = 1\nmask = 1\n",
                      "machine.toml:4: system.board.controller.fault.mask: not a key of a \"no_unlock\" fault"},
        BadConfigCase{"fault_unknown_command",
                      "[[controller.fault]]\ntype = \"busy_stuck\"\ncommand = \"ERASE\"\n",
                      "machine.toml:3: system.board.controller.fault.command: unknown command \"ERASE\""},
        BadConfigCase{"fault_command_code", "[[controller.fault]]\ntype = \"busy_stuck\"\ncommand = 64\n",
                      "machine.toml:3: system.board.controller.fault.command: must be an integer 0..63"},
        BadConfigCase{"fault_sector", "[[controller.fault]]\ntype = \"no_unlock\"\nsector = 1024\n",
                      "machine.toml:3: system.board.controller.fault.sector: must be an integer 0..1023"},
        BadConfigCase{"fault_error", "[[controller.fault]]\ntype = \"status\"\ncommand = 8\nerror = 4\n",
                      "machine.toml:4: system.board.controller.fault.error: must be an integer 0..3"},
        BadConfigCase{"fault_times_zero", "[[controller.fault]]\ntype = \"no_unlock\"\nsector = 1\ntimes = 0\n",
                      "machine.toml:4: system.board.controller.fault.times: must be an integer 1..2147483647"},
        BadConfigCase{"fault_mask_zero",
                      "[[controller.fault]]\ntype = \"program_bits\"\nsector = 1\noffset = 0\nmask = 0\n",
                      "machine.toml:5: system.board.controller.fault.mask: must be an integer 1..255"},
        BadConfigCase{"fault_offset", "[[controller.fault]]\ntype = \"erase_bits\"\nsector = 1\noffset = 0x40000\nmask = 1\n",
                      "machine.toml:4: system.board.controller.fault.offset: must be an integer 0..262143"}),
    [](const ::testing::TestParamInfo<BadConfigCase> &info) { return std::string(info.param.name); });

} // namespace
