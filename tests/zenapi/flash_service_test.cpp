// The driver's flash-sector service (feature 2): open, sector writes and
// reads, close, and the flash statuses they report.
#include <gtest/gtest.h>

#include <vector>

#include <zenapi/Zenapi.h>

#include "tests/support/sim_machine.hpp"
#include "tests/zenapi/sim_test_util.hpp"

namespace {

using simtest::pattern;
using simtest::read_flash;
using testsupport::SimMachine;

constexpr uint32_t kSector = 0x10000;
constexpr uint32_t kFlashSize = 0x100000;   // 16 sectors

class FlashService : public ::testing::Test {
protected:
    void SetUp() override {
        machine.activate();
        board = KorvelGetBoardBySystemID(1, 1);
        ASSERT_NE(board, nullptr);
    }

    uint32_t open() {
        uint32_t size = 0, status = 99;
        const uint32_t result = KorvelFlashOpen(board, 0, &size, &status);
        if (result == ZENAPI_SUCCESS) {
            EXPECT_EQ(size, kSector);
            EXPECT_EQ(status, 0u);
        }
        return result;
    }

    SimMachine machine{simtest::one_board("name = \"fs\"\nkind = 36\nfeatures = [2]\nflash_size = 0x100000\n"
                                          "sector_size = 0x10000")};
    void *board = nullptr;
};

TEST_F(FlashService, WriteThenReadGivesTheDataAndOnlyThatSectorChanges) {
    ASSERT_EQ(open(), ZENAPI_SUCCESS);
    const auto data = pattern(kSector, 3);
    uint32_t status = 99;
    ASSERT_EQ(KorvelFlashSectorWrite(board, 5, 1, data.data(), &status), ZENAPI_SUCCESS);
    EXPECT_EQ(status, 0u);
    std::vector<uint8_t> back(kSector);
    ASSERT_EQ(KorvelFlashSectorRead(board, 5, 1, back.data(), &status), ZENAPI_SUCCESS);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(back, data);
    EXPECT_EQ(read_flash(1, 1, 5 * kSector, kSector), data);
    EXPECT_TRUE(simtest::all_bytes(read_flash(1, 1, 0, 5 * kSector), 0xFF));
    EXPECT_TRUE(simtest::all_bytes(read_flash(1, 1, 6 * kSector, kFlashSize - 6 * kSector), 0xFF));
    EXPECT_EQ(KorvelFlashClose(board), ZENAPI_SUCCESS);
}

TEST_F(FlashService, AWriteErasesTheSectorFirst) {
    // Old contents with bits that the new data sets: a program alone could
    // not bring them back to 1.
    ASSERT_EQ(ZenSimWriteFlashRaw(1, 1, 2 * kSector, std::vector<uint8_t>(kSector, 0x00).data(), kSector), 0);
    ASSERT_EQ(open(), ZENAPI_SUCCESS);
    const auto data = pattern(kSector, 4);
    uint32_t status = 0;
    ASSERT_EQ(KorvelFlashSectorWrite(board, 2, 1, data.data(), &status), ZENAPI_SUCCESS);
    EXPECT_EQ(read_flash(1, 1, 2 * kSector, kSector), data);
}

TEST_F(FlashService, CallsWhileClosedFailWithInvalidParameter) {
    std::vector<uint8_t> buffer(kSector, 0);
    uint32_t status = 0;
    EXPECT_NE(KorvelFlashSectorWrite(board, 0, 1, buffer.data(), &status), ZENAPI_SUCCESS);
    EXPECT_EQ(status, 6u);
    status = 0;
    EXPECT_NE(KorvelFlashSectorRead(board, 0, 1, buffer.data(), &status), ZENAPI_SUCCESS);
    EXPECT_EQ(status, 6u);
    EXPECT_NE(KorvelFlashClose(board), ZENAPI_SUCCESS);
    EXPECT_TRUE(simtest::all_bytes(read_flash(1, 1, 0, kSector), 0xFF));

    ASSERT_EQ(open(), ZENAPI_SUCCESS);
    ASSERT_EQ(KorvelFlashClose(board), ZENAPI_SUCCESS);
    status = 0;
    EXPECT_NE(KorvelFlashSectorRead(board, 0, 1, buffer.data(), &status), ZENAPI_SUCCESS);
    EXPECT_EQ(status, 6u);
}

struct BadTransfer {
    const char *what;
    uint32_t sector;
    uint32_t count;
};

class FlashServiceBadTransfer : public FlashService, public ::testing::WithParamInterface<BadTransfer> {};

TEST_P(FlashServiceBadTransfer, IsRefusedWithInvalidParameterAndTouchesNothing) {
    ASSERT_EQ(open(), ZENAPI_SUCCESS);
    std::vector<uint8_t> buffer(2 * kSector, 0x00);
    uint32_t status = 0;
    EXPECT_NE(KorvelFlashSectorWrite(board, GetParam().sector, GetParam().count, buffer.data(), &status), ZENAPI_SUCCESS);
    EXPECT_EQ(status, 6u);
    status = 0;
    EXPECT_NE(KorvelFlashSectorRead(board, GetParam().sector, GetParam().count, buffer.data(), &status), ZENAPI_SUCCESS);
    EXPECT_EQ(status, 6u);
    EXPECT_TRUE(simtest::all_bytes(read_flash(1, 1, 0, kFlashSize), 0xFF));
}

INSTANTIATE_TEST_SUITE_P(Cases, FlashServiceBadTransfer,
                         ::testing::Values(BadTransfer{"count0", 0, 0}, BadTransfer{"count2", 0, 2},
                                           BadTransfer{"beyond", 16, 1}, BadTransfer{"far", 0xFFFFFFFF, 1}),
                         [](const auto &info) { return std::string(info.param.what); });

TEST_F(FlashService, NonZeroOpenFlagsAreAnInvalidParameter) {
    uint32_t size = 0, status = 0;
    EXPECT_NE(KorvelFlashOpen(board, 1, &size, &status), ZENAPI_SUCCESS);
    EXPECT_EQ(status, 6u);
}

TEST_F(FlashService, NullPointersAreRefused) {
    uint32_t size = 0, status = 0;
    EXPECT_EQ(KorvelFlashOpen(board, 0, nullptr, &status), 531u);
    EXPECT_EQ(KorvelFlashOpen(board, 0, &size, nullptr), 531u);
    ASSERT_EQ(open(), ZENAPI_SUCCESS);
    EXPECT_EQ(KorvelFlashSectorWrite(board, 0, 1, nullptr, &status), 531u);
    EXPECT_EQ(KorvelFlashSectorRead(board, 0, 1, nullptr, &status), 531u);
}

TEST(FlashServiceMissing, BoardsWithoutFeature2RefuseEveryCall) {
    SimMachine machine(simtest::one_board("kind = 35\nfeatures = [5]"));
    machine.activate();
    void *board = KorvelGetBoardBySystemID(1, 1);
    uint32_t size = 0, status = 0;
    std::vector<uint8_t> buffer(0x10000);
    EXPECT_EQ(KorvelFlashOpen(board, 0, &size, &status), 533u);
    EXPECT_EQ(status, 7u);
    EXPECT_EQ(KorvelFlashSectorWrite(board, 0, 1, buffer.data(), &status), 533u);
    EXPECT_EQ(KorvelFlashSectorRead(board, 0, 1, buffer.data(), &status), 533u);
    EXPECT_EQ(KorvelFlashClose(board), 533u);
}

} // namespace
