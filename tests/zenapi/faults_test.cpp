// Faults injected from the machine description.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include <zenapi/Zenapi.h>

#include "tests/support/sim_machine.hpp"
#include "tests/zenapi/sim_test_util.hpp"

namespace {

using simtest::pattern;
using simtest::read_flash;
using testsupport::SimMachine;

void *activate(const SimMachine &machine) {
    machine.activate();
    return KorvelGetBoardBySystemID(1, 1);
}

SimMachine service_board_with(const std::string &faults) {
    return SimMachine(simtest::one_board("kind = 36\nfeatures = [2]\nflash_size = 0x80000\nsector_size = 0x10000\n" +
                                         faults));
}

TEST(CallFault, OnTheNthCallOnlyAndWithoutEffect) {
    SimMachine machine = service_board_with(
        "[[system.board.fault]]\ntype = \"call\"\ncall = \"KorvelFlashSectorWrite\"\ncode = 569\nnth = 2\nstatus = 2\n");
    void *board = activate(machine);
    uint32_t size = 0, status = 0;
    ASSERT_EQ(KorvelFlashOpen(board, 0, &size, &status), ZENAPI_SUCCESS);
    const auto data = pattern(0x10000, 31);
    EXPECT_EQ(KorvelFlashSectorWrite(board, 0, 1, data.data(), &status), ZENAPI_SUCCESS);
    status = 0;
    EXPECT_EQ(KorvelFlashSectorWrite(board, 1, 1, data.data(), &status), 569u);
    EXPECT_EQ(status, 2u);
    EXPECT_EQ(KorvelFlashSectorWrite(board, 2, 1, data.data(), &status), ZENAPI_SUCCESS);
    EXPECT_EQ(read_flash(1, 1, 0, 0x10000), data);
    EXPECT_TRUE(simtest::all_bytes(read_flash(1, 1, 0x10000, 0x10000), 0xFF)) << "the faulted call wrote nothing";
    EXPECT_EQ(read_flash(1, 1, 0x20000, 0x10000), data);
    EXPECT_EQ(ZenSimCallCount(1, 1, "KorvelFlashSectorWrite"), 3u);
}

TEST(CallFault, WithoutNthOnEveryCallOfThatNameOnThatBoardOnly) {
    SimMachine machine(R"(
[[system]]
[[system.board]]
kind = 13
[[system.board.fault]]
type = "call"
call = "KorvelGetBoardRevision"
code = 513
[[system.board]]
kind = 13
)");
    void *board = activate(machine);
    uint8_t major = 0, minor = 0;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(KorvelGetBoardRevision(board, &major, &minor), 513u);
    EXPECT_EQ(KorvelGetCPLDVersion(board, &major, &minor), ZENAPI_SUCCESS);
    EXPECT_EQ(KorvelGetBoardRevision(KorvelGetBoardBySystemID(1, 2), &major, &minor), ZENAPI_SUCCESS);
}

TEST(CallFault, OnTheBoardKindCallGivesTheCodeAsTheKind) {
    SimMachine machine(simtest::one_board(
        "kind = 13\n[[system.board.fault]]\ntype = \"call\"\ncall = \"KorvelGetBoardKind\"\ncode = 58\nnth = 1\n"));
    void *board = activate(machine);
    EXPECT_EQ(KorvelGetBoardKind(board), 58u);
    EXPECT_EQ(KorvelGetBoardKind(board), 13u);
}

TEST(CallFault, APageWriteThatFailsDoesNotProgram) {
    SimMachine machine(simtest::one_board(
        "kind = 11\nflash_size = 0x40000\n[[system.board.fault]]\ntype = \"call\"\ncall = \"ZEN5110PageWriteToFlash\"\n"
        "code = 513\n"));
    void *board = activate(machine);
    ASSERT_EQ(KorvelWriteRegister(board, 0x80000000u, 8, ZENAPI_REGISTER_ACCESS_CODE), ZENAPI_SUCCESS);
    std::array<uint16_t, 16> words{};
    EXPECT_EQ(ZEN5110PageWriteToFlash(board, 0, words.data()), 513u);
    EXPECT_TRUE(simtest::all_bytes(read_flash(1, 1, 0, 32), 0xFF));
}

TEST(FlashStatusFault, WriteFailsAtTheSectorWithTheStatus) {
    SimMachine machine = service_board_with("[[system.board.fault]]\ntype = \"flash_write_status\"\nsector = 3\nstatus = 4\n");
    void *board = activate(machine);
    uint32_t size = 0, status = 0;
    ASSERT_EQ(KorvelFlashOpen(board, 0, &size, &status), ZENAPI_SUCCESS);
    const auto data = pattern(0x10000, 32);
    for (uint32_t sector = 0; sector < 8; ++sector) {
        status = 99;
        const uint32_t result = KorvelFlashSectorWrite(board, sector, 1, data.data(), &status);
        if (sector == 3) {
            EXPECT_EQ(result, 513u);
            EXPECT_EQ(status, 4u);
        } else {
            EXPECT_EQ(result, ZENAPI_SUCCESS) << sector;
            EXPECT_EQ(status, 0u);
        }
    }
    EXPECT_TRUE(simtest::all_bytes(read_flash(1, 1, 0x30000, 0x10000), 0xFF));
    EXPECT_EQ(read_flash(1, 1, 0x40000, 0x10000), data);
}

TEST(FlashStatusFault, ReadFailsAtTheSectorWithTheStatusAndCode) {
    SimMachine machine =
        service_board_with("[[system.board.fault]]\ntype = \"flash_read_status\"\nsector = 1\nstatus = 2\ncode = 579\n");
    void *board = activate(machine);
    uint32_t size = 0, status = 0;
    ASSERT_EQ(KorvelFlashOpen(board, 0, &size, &status), ZENAPI_SUCCESS);
    std::vector<uint8_t> buffer(0x10000);
    EXPECT_EQ(KorvelFlashSectorRead(board, 0, 1, buffer.data(), &status), ZENAPI_SUCCESS);
    EXPECT_EQ(KorvelFlashSectorRead(board, 1, 1, buffer.data(), &status), 579u);
    EXPECT_EQ(status, 2u);
    EXPECT_EQ(KorvelFlashSectorRead(board, 2, 1, buffer.data(), &status), ZENAPI_SUCCESS);
}

TEST(ReadbackFault, OneByteReadsBackWrongWhileTheFlashIsRight) {
    SimMachine machine = service_board_with("[[system.board.fault]]\ntype = \"readback\"\naddress = 0x21234\n");
    void *board = activate(machine);
    uint32_t size = 0, status = 0;
    ASSERT_EQ(KorvelFlashOpen(board, 0, &size, &status), ZENAPI_SUCCESS);
    const auto data = pattern(0x10000, 33);
    ASSERT_EQ(KorvelFlashSectorWrite(board, 2, 1, data.data(), &status), ZENAPI_SUCCESS);
    std::vector<uint8_t> back(0x10000);
    ASSERT_EQ(KorvelFlashSectorRead(board, 2, 1, back.data(), &status), ZENAPI_SUCCESS);
    std::vector<std::size_t> differing;
    for (std::size_t i = 0; i < back.size(); ++i)
        if (back[i] != data[i]) differing.push_back(i);
    EXPECT_EQ(differing, std::vector<std::size_t>{0x1234});
    EXPECT_EQ(read_flash(1, 1, 0x20000, 0x10000), data);
    ASSERT_EQ(KorvelFlashSectorWrite(board, 1, 1, data.data(), &status), ZENAPI_SUCCESS);
    ASSERT_EQ(KorvelFlashSectorRead(board, 1, 1, back.data(), &status), ZENAPI_SUCCESS);
    EXPECT_EQ(back, data) << "other sectors read back right";
}

TEST(ZeroSectorSizeFault, OpenReportsZero) {
    SimMachine machine = service_board_with("[[system.board.fault]]\ntype = \"zero_sector_size\"\n");
    void *board = activate(machine);
    uint32_t size = 77, status = 9;
    EXPECT_EQ(KorvelFlashOpen(board, 0, &size, &status), ZENAPI_SUCCESS);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(status, 0u);
}

TEST(CapabilityFault, TheQueryFailsWithTheCode) {
    SimMachine machine(simtest::one_board(
        "kind = 25\n[[system.board.fault]]\ntype = \"capability\"\ncapability = 0x1000002C\ncode = 543\n"));
    void *board = activate(machine);
    uint32_t value = 0;
    EXPECT_EQ(KorvelQueryCapability(board, ZENAPI_CAP_KSOPC_SIGNATURE, 0, &value), 543u);
    EXPECT_EQ(KorvelQueryCapability(board, ZENAPI_CAP_SERIAL_NUMBER, 0, &value), ZENAPI_SUCCESS);
}

class PageFaults : public ::testing::Test {
protected:
    void *open(const std::string &faults) {
        machine = std::make_unique<SimMachine>(simtest::one_board("kind = 11\nflash_size = 0x80000\n" + faults));
        return activate(*machine);
    }
    static std::array<uint16_t, 16> read_page(void *board, uint32_t word_address) {
        std::array<uint16_t, 16> words{};
        KorvelWriteRegister(board, 0x80000000u, 8, ZENAPI_REGISTER_ACCESS_CODE);
        SetControlCommand(board, 3);
        ZEN5110FlashSectorPageRead(board, word_address, words.data());
        ZEN5110FlashSectorPageRead(board, word_address + 8, words.data() + 8);
        KorvelWriteRegister(board, 0x80000000u, 0, ZENAPI_REGISTER_ACCESS_CODE);
        return words;
    }
    static void write_page(void *board, uint32_t word_address, const std::array<uint16_t, 16> &words) {
        KorvelWriteRegister(board, 0x80000000u, 8, ZENAPI_REGISTER_ACCESS_CODE);
        ZEN5110PageWriteToFlash(board, word_address, words.data());
        KorvelWriteRegister(board, 0x80000000u, 0, ZENAPI_REGISTER_ACCESS_CODE);
    }
    std::unique_ptr<SimMachine> machine;
};

TEST_F(PageFaults, EraseResidueLeavesTheWordForTheFirstErasesOnly) {
    void *board = open("[[system.board.fault]]\ntype = \"page_erase_residue\"\nsector = 1\naddress = 0x20C80\n"
                       "value = 0xFFFE\ntimes = 2\n");
    // Page 100 of sector 1 holds byte address 0x20C80 (word address 0x10640).
    for (int erase = 1; erase <= 3; ++erase) {
        ASSERT_EQ(ZEN5110FlashSectorErase(board, 1), ZENAPI_SUCCESS);
        const auto words = read_page(board, 0x10640);
        EXPECT_EQ(words[0], erase <= 2 ? 0xFFFE : 0xFFFF) << "erase " << erase;
        for (std::size_t i = 1; i < words.size(); ++i) EXPECT_EQ(words[i], 0xFFFF);
    }
    ASSERT_EQ(ZEN5110FlashSectorErase(board, 0), ZENAPI_SUCCESS);
    EXPECT_TRUE(simtest::all_bytes(read_flash(1, 1, 0, 0x20000), 0xFF)) << "other sectors erase cleanly";
}

TEST_F(PageFaults, ProgramErrorKeepsABitSetForTheFirstAttemptsOnThePage) {
    void *board = open("[[system.board.fault]]\ntype = \"page_program_error\"\naddress = 0x45\ntimes = 1\n");
    std::array<uint16_t, 16> words{};
    for (std::size_t i = 0; i < words.size(); ++i) words[i] = static_cast<uint16_t>(0x0F00 + i);
    write_page(board, 0x20, words);   // page at byte 0x40 holds byte 0x45
    auto back = read_page(board, 0x20);
    EXPECT_NE(back, words);
    std::array<uint8_t, 32> expected{}, got{};
    std::memcpy(expected.data(), words.data(), 32);
    std::memcpy(got.data(), back.data(), 32);
    for (std::size_t i = 0; i < 32; ++i) {
        if (i == 5) {
            EXPECT_NE(got[i], expected[i]);
            EXPECT_EQ(got[i] & expected[i], expected[i]) << "only bits that should be 0 stay 1";
        } else {
            EXPECT_EQ(got[i], expected[i]) << i;
        }
    }
    ASSERT_EQ(ZEN5110FlashSectorErase(board, 0), ZENAPI_SUCCESS);
    write_page(board, 0x20, words);
    EXPECT_EQ(read_page(board, 0x20), words) << "the second attempt programs right";
    write_page(board, 0x30, words);
    EXPECT_EQ(read_page(board, 0x30), words) << "other pages program right";
}

} // namespace
