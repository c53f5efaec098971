// Page-mode flash through the ZEN5110 calls: 128 KB sector erase, 32-byte
// page programs and 16-byte reads at 16-bit word addresses, NOR rules and
// the flash enable bit.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include <zenapi/Zenapi.h>

#include "tests/support/sim_machine.hpp"
#include "tests/zenapi/sim_test_util.hpp"

namespace {

using simtest::read_flash;
using testsupport::SimMachine;

constexpr uint32_t kSector = 0x20000;
constexpr uint32_t kFlashSize = 0x100000;   // 8 page-mode sectors
constexpr uint32_t kEnableRegister = 0x80000000u;

using Page = std::array<uint16_t, 16>;
using Half = std::array<uint16_t, 8>;

class PageMode : public ::testing::Test {
protected:
    void SetUp() override {
        machine.activate();
        board = KorvelGetBoardBySystemID(1, 1);
        ASSERT_NE(board, nullptr);
    }

    void enable(bool on) {
        uint32_t value = 0;
        ASSERT_EQ(KorvelReadRegister(board, kEnableRegister, &value, ZENAPI_REGISTER_ACCESS_CODE), ZENAPI_SUCCESS);
        value = on ? (value | 8u) : (value & ~8u);
        ASSERT_EQ(KorvelWriteRegister(board, kEnableRegister, value, ZENAPI_REGISTER_ACCESS_CODE), ZENAPI_SUCCESS);
    }

    // The engine's way: enable, read-array command, two reads, disable.
    std::array<uint16_t, 16> page_read(uint32_t word_address) {
        std::array<uint16_t, 16> words{};
        enable(true);
        EXPECT_EQ(SetControlCommand(board, 3), ZENAPI_SUCCESS);
        EXPECT_EQ(ZEN5110FlashSectorPageRead(board, word_address, words.data()), ZENAPI_SUCCESS);
        EXPECT_EQ(ZEN5110FlashSectorPageRead(board, word_address + 8, words.data() + 8), ZENAPI_SUCCESS);
        enable(false);
        return words;
    }

    void page_write(uint32_t word_address, const Page &words) {
        enable(true);
        EXPECT_EQ(ZEN5110PageWriteToFlash(board, word_address, words.data()), ZENAPI_SUCCESS);
        enable(false);
    }

    SimMachine machine{simtest::one_board("name = \"pm\"\nkind = 13\nflash_size = 0x100000")};
    void *board = nullptr;
};

Page page_of(uint16_t first) {
    Page words{};
    for (std::size_t i = 0; i < words.size(); ++i) words[i] = static_cast<uint16_t>(first + 0x1111 * i);
    return words;
}

std::vector<uint8_t> bytes_of(const Page &words) {
    std::vector<uint8_t> bytes(sizeof words);
    std::memcpy(bytes.data(), words.data(), sizeof words);
    return bytes;
}

TEST_F(PageMode, EraseSetsOneSectorTo0xFFWithoutFlashEnable) {
    ASSERT_EQ(ZenSimWriteFlashRaw(1, 1, 0, std::vector<uint8_t>(kFlashSize, 0x00).data(), kFlashSize), 0);
    ASSERT_EQ(ZEN5110FlashSectorErase(board, 2), ZENAPI_SUCCESS);
    EXPECT_TRUE(simtest::all_bytes(read_flash(1, 1, 2 * kSector, kSector), 0xFF));
    EXPECT_TRUE(simtest::all_bytes(read_flash(1, 1, 0, 2 * kSector), 0x00));
    EXPECT_TRUE(simtest::all_bytes(read_flash(1, 1, 3 * kSector, kFlashSize - 3 * kSector), 0x00));
}

TEST_F(PageMode, PageWriteProgramsThirtyTwoBytesAtTwiceTheWordAddress) {
    const Page words = page_of(0x0102);
    page_write(0x10010, words);   // byte address 0x20020
    EXPECT_EQ(read_flash(1, 1, 0x20020, 32), bytes_of(words));
    EXPECT_TRUE(simtest::all_bytes(read_flash(1, 1, 0x20000, 0x20), 0xFF));
    EXPECT_TRUE(simtest::all_bytes(read_flash(1, 1, 0x20040, 0x20), 0xFF));
    EXPECT_EQ(page_read(0x10010), words);
}

TEST_F(PageMode, ProgrammingWithoutEraseGivesTheAnd) {
    const Page first = page_of(0xF0F0), second = page_of(0x3C3C);
    page_write(0x40, first);
    page_write(0x40, second);
    Page both{};
    for (std::size_t i = 0; i < both.size(); ++i) both[i] = static_cast<uint16_t>(first[i] & second[i]);
    EXPECT_EQ(page_read(0x40), both);
    ASSERT_EQ(ZEN5110FlashSectorErase(board, 0), ZENAPI_SUCCESS);
    page_write(0x40, second);
    EXPECT_EQ(page_read(0x40), second);
}

TEST_F(PageMode, WritesWithoutFlashEnableDoNotReachTheFlash) {
    const Page words = page_of(0x0000);
    EXPECT_EQ(ZEN5110PageWriteToFlash(board, 0x100, words.data()), ZENAPI_SUCCESS);
    EXPECT_TRUE(simtest::all_bytes(read_flash(1, 1, 0x200, 32), 0xFF));
}

TEST_F(PageMode, ReadsWithoutFlashEnableDoNotSeeTheFlash) {
    ASSERT_EQ(ZenSimWriteFlashRaw(1, 1, 0x400, bytes_of(page_of(0x1234)).data(), 32), 0);
    ASSERT_EQ(SetControlCommand(board, 3), ZENAPI_SUCCESS);
    Half words{};
    words.fill(0x5555);
    ASSERT_EQ(ZEN5110FlashSectorPageRead(board, 0x200, words.data()), ZENAPI_SUCCESS);
    for (uint16_t word : words) EXPECT_EQ(word, 0x0000);
}

TEST_F(PageMode, AfterProgrammingReadsGiveTheStatusUntilReadArrayCommand) {
    const Page words = page_of(0x2222);
    page_write(0x80, words);
    enable(true);
    Half half{};
    ASSERT_EQ(ZEN5110FlashSectorPageRead(board, 0x80, half.data()), ZENAPI_SUCCESS);
    for (uint16_t word : half) EXPECT_EQ(word, 0x0080) << "status word, not data";
    ASSERT_EQ(SetControlCommand(board, 3), ZENAPI_SUCCESS);
    ASSERT_EQ(ZEN5110FlashSectorPageRead(board, 0x80, half.data()), ZENAPI_SUCCESS);
    for (std::size_t i = 0; i < half.size(); ++i) EXPECT_EQ(half[i], words[i]);
    enable(false);
}

TEST_F(PageMode, TheEnableRegisterKeepsItsOtherBits) {
    ASSERT_EQ(KorvelWriteRegister(board, kEnableRegister, 0xA5A50001, ZENAPI_REGISTER_ACCESS_CODE), ZENAPI_SUCCESS);
    enable(true);
    uint32_t value = 0;
    ASSERT_EQ(KorvelReadRegister(board, kEnableRegister, &value, ZENAPI_REGISTER_ACCESS_CODE), ZENAPI_SUCCESS);
    EXPECT_EQ(value, 0xA5A50009u);
    enable(false);
    ASSERT_EQ(KorvelReadRegister(board, kEnableRegister, &value, ZENAPI_REGISTER_ACCESS_CODE), ZENAPI_SUCCESS);
    EXPECT_EQ(value, 0xA5A50001u);
}

TEST_F(PageMode, AddressesOutsideTheFlashAreRefusedAndTouchNothing) {
    const Page words = page_of(0);
    Half half{};
    enable(true);
    EXPECT_EQ(ZEN5110FlashSectorErase(board, 8), 537u);
    EXPECT_EQ(ZEN5110FlashSectorErase(board, 0xFFFFFFFF), 537u);
    EXPECT_EQ(ZEN5110PageWriteToFlash(board, kFlashSize / 2, words.data()), 537u);
    EXPECT_EQ(ZEN5110PageWriteToFlash(board, 0xFFFFFFF0, words.data()), 537u);
    EXPECT_EQ(ZEN5110FlashSectorPageRead(board, kFlashSize / 2 - 4, half.data()), 537u);
    EXPECT_EQ(ZEN5110FlashSectorPageRead(board, kFlashSize / 2 - 8, half.data()), ZENAPI_SUCCESS);
    EXPECT_EQ(ZEN5110PageWriteToFlash(board, kFlashSize / 2 - 16, words.data()), ZENAPI_SUCCESS);
    EXPECT_TRUE(simtest::all_bytes(read_flash(1, 1, 0, kFlashSize - 32), 0xFF));
}

TEST_F(PageMode, AWriteMustStartOnAPage) {
    const Page words = page_of(0);
    enable(true);
    EXPECT_EQ(ZEN5110PageWriteToFlash(board, 8, words.data()), 537u);
    EXPECT_TRUE(simtest::all_bytes(read_flash(1, 1, 0, 64), 0xFF));
}

TEST_F(PageMode, UnknownControlCommandsAreRefused) {
    EXPECT_NE(SetControlCommand(board, 0), ZENAPI_SUCCESS);
    EXPECT_NE(SetControlCommand(board, 4), ZENAPI_SUCCESS);
    EXPECT_EQ(SetControlCommand(board, 3), ZENAPI_SUCCESS);
}

TEST_F(PageMode, NullBuffersAreRefused) {
    EXPECT_EQ(ZEN5110PageWriteToFlash(board, 0, nullptr), 531u);
    EXPECT_EQ(ZEN5110FlashSectorPageRead(board, 0, nullptr), 531u);
}

TEST(PageModeKinds, SectorModeAndServiceBoardsRefuseThePageCalls) {
    SimMachine machine("[[system]]\n[[system.board]]\nkind = 25\n[[system.board]]\nkind = 35\nfeatures = [5]\n");
    machine.activate();
    for (uint32_t id : {1u, 2u}) {
        void *board = KorvelGetBoardBySystemID(1, id);
        Page words{};
        EXPECT_EQ(ZEN5110FlashSectorErase(board, 0), 533u);
        EXPECT_EQ(ZEN5110PageWriteToFlash(board, 0, words.data()), 533u);
        EXPECT_EQ(ZEN5110FlashSectorPageRead(board, 0x10000, words.data()), 533u);
        EXPECT_EQ(SetControlCommand(board, 3), 533u);
    }
}

TEST(PageModeKinds, EveryPageModeKindTakesThePageCalls) {
    for (uint32_t kind : {11u, 12u, 13u, 14u, 15u, 16u, 17u, 18u, 19u, 20u, 21u, 22u, 23u, 24u, 32u, 34u}) {
        SimMachine machine(simtest::one_board("kind = " + std::to_string(kind) + "\nflash_size = 0x40000"));
        machine.activate();
        EXPECT_EQ(ZEN5110FlashSectorErase(KorvelGetBoardBySystemID(1, 1), 1), ZENAPI_SUCCESS) << "kind " << kind;
    }
}

TEST(PageModeTiming, EraseKeepsTheCallerForItsBusyTime) {
    SimMachine machine(simtest::one_board("kind = 11\nflash_size = 0x40000\n[system.board.timing]\npage_erase_ms = 60"));
    machine.activate();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(ZEN5110FlashSectorErase(KorvelGetBoardBySystemID(1, 1), 0), ZENAPI_SUCCESS);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
}

// The busy time is spent outside the library's lock: a second thread (the
// GUI's) is not held up by a slow erase on the worker thread.
TEST(PageModeTiming, OtherCallsGoOnDuringABusyErase) {
    SimMachine machine(simtest::one_board("kind = 11\nflash_size = 0x40000\n[system.board.timing]\npage_erase_ms = 600"));
    machine.activate();
    std::atomic<bool> erase_done{false};
    std::thread worker([&] {
        ZEN5110FlashSectorErase(KorvelGetBoardBySystemID(1, 1), 0);
        erase_done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(KorvelNumOfSystems(), 1u);
    // The flag alone could race with the worker; the call's own time cannot.
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(300)) << "the call waited for the erase";
    EXPECT_FALSE(erase_done.load()) << "the call waited for the erase";
    worker.join();
}

TEST(Concurrency, CallsFromTwoThreadsAreAllCounted) {
    SimMachine machine(simtest::one_board("kind = 11\nflash_size = 0x40000"));
    machine.activate();
    void *board = KorvelGetBoardBySystemID(1, 1);
    auto hammer = [board] {
        uint32_t value = 0;
        for (int i = 0; i < 20000; ++i) {
            KorvelGetBoardKind(board);
            KorvelWriteRegister(board, 0x20, static_cast<uint32_t>(i), ZENAPI_REGISTER_ACCESS_CODE);
            KorvelReadRegister(board, 0x20, &value, ZENAPI_REGISTER_ACCESS_CODE);
        }
    };
    std::thread first(hammer), second(hammer);
    first.join();
    second.join();
    EXPECT_EQ(ZenSimCallCount(1, 1, "KorvelGetBoardKind"), 40000u);
    EXPECT_EQ(ZenSimCallCount(1, 1, "KorvelReadRegister"), 40000u);
}

} // namespace
