// Register access: the access code, the flash enable register, register 0,
// plain registers, and the flash controller of sector-mode boards.
#include <gtest/gtest.h>

#include <vector>

#include <zenapi/Zenapi.h>

#include "tests/support/sim_machine.hpp"
#include "tests/zenapi/sim_test_util.hpp"

namespace {

using testsupport::SimMachine;

constexpr uint32_t kCode = ZENAPI_REGISTER_ACCESS_CODE;

class Registers : public ::testing::Test {
protected:
    void SetUp() override {
        machine.activate();
        page_board = KorvelGetBoardBySystemID(1, 1);
        sector_board = KorvelGetBoardBySystemID(1, 2);
    }

    uint32_t read(void *board, uint32_t offset) {
        uint32_t value = 0xDEADBEEF;
        EXPECT_EQ(KorvelReadRegister(board, offset, &value, kCode), ZENAPI_SUCCESS) << "offset " << offset;
        return value;
    }
    void write(void *board, uint32_t offset, uint32_t value) {
        EXPECT_EQ(KorvelWriteRegister(board, offset, value, kCode), ZENAPI_SUCCESS) << "offset " << offset;
    }

    SimMachine machine{R"(
[[system]]
[[system.board]]
name = "page"
kind = 13
register0 = 0x00005120
flash_size = 0x40000
[[system.board]]
name = "sector"
kind = 25
flash_size = 0x100000
)"};
    void *page_board = nullptr;
    void *sector_board = nullptr;
};

TEST_F(Registers, AWrongAccessCodeIsRefusedWithNoEffect) {
    for (uint32_t wrong : {0u, kCode ^ 1u, 0xFFFFFFFFu}) {
        uint32_t value = 0x11111111;
        EXPECT_EQ(KorvelReadRegister(page_board, 0, &value, wrong), 514u);
        EXPECT_EQ(value, 0x11111111u) << "output left alone";
        EXPECT_EQ(KorvelWriteRegister(page_board, 0x80000000u, 8, wrong), 514u);
        EXPECT_EQ(KorvelWriteRegister(page_board, 0x44, 7, wrong), 514u);
    }
    EXPECT_EQ(read(page_board, 0x80000000u), 0u);
    EXPECT_EQ(read(page_board, 0x44), 0u);
}

TEST_F(Registers, Register0ReadsTheBoardsValueAndIgnoresWrites) {
    EXPECT_EQ(read(page_board, 0), 0x5120u);
    write(page_board, 0, 0x77);
    EXPECT_EQ(read(page_board, 0), 0x5120u);
}

TEST_F(Registers, OtherOffsetsKeepWhatIsWritten) {
    EXPECT_EQ(read(page_board, 0x10), 0u);
    write(page_board, 0x10, 0xCAFEF00D);
    write(page_board, 0x14, 1);
    EXPECT_EQ(read(page_board, 0x10), 0xCAFEF00Du);
    EXPECT_EQ(read(page_board, 0x14), 1u);
    EXPECT_EQ(read(sector_board, 0x10), 0u) << "each board has its own registers";
}

TEST_F(Registers, TheFlashEnableRegisterStartsOffAndKeepsEveryBit) {
    EXPECT_EQ(read(sector_board, 0x80000000u), 0u);
    write(sector_board, 0x80000000u, 0x0000F00F);
    EXPECT_EQ(read(sector_board, 0x80000000u), 0x0000F00Fu);
}

// Controller command word: go, controller enable, code, count, start.
uint32_t command(uint32_t code, uint32_t count, uint32_t start) {
    return (1u << 31) | (1u << 29) | (code << 20) | (count << 10) | start;
}

TEST_F(Registers, SectorModeControllerRegistersReachTheController) {
    constexpr uint32_t kReadManufacturerId = 10;
    constexpr uint32_t kStatus = 35;
    // Without the flash enable the controller refuses flash commands.
    write(sector_board, 34, command(kReadManufacturerId, 0, 0));
    EXPECT_EQ(read(sector_board, kStatus) & 0x3C000000u, 0x18000000u);   // transaction error, flash not ready
    write(sector_board, kStatus, 0);
    write(sector_board, kStatus, 0);
    EXPECT_EQ(read(sector_board, kStatus), 0u) << "acknowledged, not stored";

    write(sector_board, 0x80000000u, 8);
    write(sector_board, 34, command(kReadManufacturerId, 0, 0));
    EXPECT_EQ(read(sector_board, kStatus), 0x0400004Bu);
}

TEST_F(Registers, SectorModeControllerErasesThePersistentFlash) {
    constexpr uint32_t kUnlock = 34, kErase = 24, kStatus = 35;
    ASSERT_EQ(ZenSimWriteFlashRaw(1, 2, 0, std::vector<uint8_t>(0x100000, 0x00).data(), 0x100000), 0);
    write(sector_board, 0x80000000u, 8);
    for (uint32_t code : {kUnlock, kErase}) {
        write(sector_board, 34, command(code, 0, 2));
        EXPECT_EQ(read(sector_board, 34) >> 31, 0u) << "command " << code << " still busy";
        EXPECT_EQ(read(sector_board, kStatus), 0x04000000u) << "command " << code;
        write(sector_board, kStatus, 0);
        write(sector_board, kStatus, 0);
    }
    EXPECT_TRUE(simtest::all_bytes(simtest::read_flash(1, 2, 0x80000, 0x40000), 0xFF));
    EXPECT_TRUE(simtest::all_bytes(simtest::read_flash(1, 2, 0, 0x80000), 0x00));
    EXPECT_TRUE(simtest::all_bytes(simtest::read_flash(1, 2, 0xC0000, 0x40000), 0x00));
}

TEST_F(Registers, PageModeBoardsHaveNoController) {
    write(page_board, 35, 0x12345678);
    EXPECT_EQ(read(page_board, 35), 0x12345678u);
}

} // namespace
