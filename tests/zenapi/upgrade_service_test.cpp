// The driver's firmware-upgrade service (feature 5): start, the status
// sequence while polling, the end status, and the image in the flash.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <fmt/format.h>

#include <zenapi/Zenapi.h>

#include "tests/support/sim_machine.hpp"
#include "tests/zenapi/sim_test_util.hpp"

namespace {

using simtest::pattern;
using simtest::read_flash;
using testsupport::SimMachine;

constexpr uint32_t kFlashSize = 0x100000;

struct Poll {
    uint32_t status;
    uint32_t percent;
};

SimMachine upgrade_machine(uint32_t polls, uint32_t end_status, uint32_t end_percent) {
    return SimMachine(simtest::one_board(fmt::format(
        "name = \"up\"\nkind = 35\nfeatures = [5]\nflash_size = 0x100000\n"
        "[system.board.upgrade]\npolls = {}\nend_status = {}\nend_percent = {}",
        polls, end_status, end_percent)));
}

// Polls until the status is no longer 1 (at most `limit` polls).
std::vector<Poll> poll_to_end(void *board, int limit = 10000) {
    std::vector<Poll> polls;
    for (int i = 0; i < limit; ++i) {
        Poll poll{99, 999};
        EXPECT_EQ(KorvelFirmwareUpgradeExecAndGetStatus(board, &poll.status, &poll.percent), ZENAPI_SUCCESS);
        polls.push_back(poll);
        if (poll.status != 1) break;
    }
    return polls;
}

struct EndCase {
    const char *name;
    uint32_t polls, end_status, end_percent;
};

class UpgradeEnd : public ::testing::TestWithParam<EndCase> {};

TEST_P(UpgradeEnd, ReportsRisingPercentThenTheConfiguredEnd) {
    const EndCase &c = GetParam();
    SimMachine machine = upgrade_machine(c.polls, c.end_status, c.end_percent);
    machine.activate();
    void *board = KorvelGetBoardBySystemID(1, 1);
    const auto image = pattern(0x30001, 7);
    ASSERT_EQ(KorvelFirmwareUpgradeStart(board, image.data(), static_cast<uint32_t>(image.size())), ZENAPI_SUCCESS);

    const std::vector<Poll> polls = poll_to_end(board);
    ASSERT_EQ(polls.size(), c.polls + 1);
    for (std::size_t i = 0; i + 1 < polls.size(); ++i) {
        EXPECT_EQ(polls[i].status, 1u) << "poll " << i;
        EXPECT_LE(polls[i].percent, c.end_percent);
        if (i) {
            EXPECT_GE(polls[i].percent, polls[i - 1].percent) << "poll " << i;
        }
    }
    if (c.polls >= 2 && c.end_percent > c.polls) {
        EXPECT_LT(polls.front().percent, polls[polls.size() - 2].percent);
    }
    EXPECT_EQ(polls.back().status, c.end_status);
    EXPECT_EQ(polls.back().percent, c.end_percent);

    // Asking again after the end repeats the end.
    Poll again{};
    ASSERT_EQ(KorvelFirmwareUpgradeExecAndGetStatus(board, &again.status, &again.percent), ZENAPI_SUCCESS);
    EXPECT_EQ(again.status, c.end_status);
    EXPECT_EQ(again.percent, c.end_percent);
}

INSTANTIATE_TEST_SUITE_P(Ends, UpgradeEnd,
                         ::testing::Values(EndCase{"success", 20, 2, 100}, EndCase{"status3_at_40", 10, 3, 40},
                                           EndCase{"status0_at_0", 5, 0, 0}, EndCase{"no_polls", 0, 2, 100},
                                           EndCase{"one_poll", 1, 3, 90}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Upgrade, SuccessLeavesTheImageFromAddress0AndErasesTheRestOfItsLastBlock) {
    SimMachine machine = upgrade_machine(8, 2, 100);
    machine.activate();
    const std::vector<uint8_t> old(kFlashSize, 0x00);
    ASSERT_EQ(ZenSimWriteFlashRaw(1, 1, 0, old.data(), old.size()), 0);
    void *board = KorvelGetBoardBySystemID(1, 1);
    const auto image = pattern(0x18000, 9);   // one and a half 64 KB blocks
    ASSERT_EQ(KorvelFirmwareUpgradeStart(board, image.data(), static_cast<uint32_t>(image.size())), ZENAPI_SUCCESS);
    ASSERT_EQ(poll_to_end(board).back().status, 2u);

    EXPECT_EQ(read_flash(1, 1, 0, image.size()), image);
    EXPECT_TRUE(simtest::all_bytes(read_flash(1, 1, 0x18000, 0x8000), 0xFF));   // rest of block 1 erased
    EXPECT_TRUE(simtest::all_bytes(read_flash(1, 1, 0x20000, kFlashSize - 0x20000), 0x00));   // untouched
}

TEST(Upgrade, TheImageReachesTheFlashAsThePercentRises) {
    SimMachine machine = upgrade_machine(4, 2, 100);
    machine.activate();
    void *board = KorvelGetBoardBySystemID(1, 1);
    const auto image = pattern(0x50000, 11);
    ASSERT_EQ(KorvelFirmwareUpgradeStart(board, image.data(), static_cast<uint32_t>(image.size())), ZENAPI_SUCCESS);
    uint32_t status = 0, percent = 0;
    ASSERT_EQ(KorvelFirmwareUpgradeExecAndGetStatus(board, &status, &percent), ZENAPI_SUCCESS);
    ASSERT_EQ(status, 1u);
    // After one poll of five steps, a fifth of the image is written.
    const std::size_t written = image.size() / 5;
    EXPECT_EQ(read_flash(1, 1, 0, written), std::vector<uint8_t>(image.begin(), image.begin() + written));
    EXPECT_NE(read_flash(1, 1, 0x40000, 0x10000), std::vector<uint8_t>(image.begin() + 0x40000, image.end()));
}

TEST(Upgrade, FailureAtAPercentLeavesAPartialImage) {
    SimMachine machine = upgrade_machine(3, 3, 50);
    machine.activate();
    void *board = KorvelGetBoardBySystemID(1, 1);
    const auto image = pattern(0x40000, 13);
    ASSERT_EQ(KorvelFirmwareUpgradeStart(board, image.data(), static_cast<uint32_t>(image.size())), ZENAPI_SUCCESS);
    ASSERT_EQ(poll_to_end(board).back().status, 3u);
    EXPECT_EQ(read_flash(1, 1, 0, 0x20000), std::vector<uint8_t>(image.begin(), image.begin() + 0x20000));
    EXPECT_TRUE(simtest::all_bytes(read_flash(1, 1, 0x20000, 0x20000), 0xFF));
}

TEST(Upgrade, StartIsRefusedForBadImagesAndWhileRunning) {
    SimMachine machine = upgrade_machine(3, 2, 100);
    machine.activate();
    void *board = KorvelGetBoardBySystemID(1, 1);
    const std::vector<uint8_t> too_big(kFlashSize + 1, 0x11);
    EXPECT_EQ(KorvelFirmwareUpgradeStart(board, nullptr, 16), 531u);
    EXPECT_NE(KorvelFirmwareUpgradeStart(board, too_big.data(), static_cast<uint32_t>(too_big.size())), ZENAPI_SUCCESS);
    EXPECT_NE(KorvelFirmwareUpgradeStart(board, too_big.data(), 0), ZENAPI_SUCCESS);
    EXPECT_TRUE(simtest::all_bytes(read_flash(1, 1, 0, kFlashSize), 0xFF));

    ASSERT_EQ(KorvelFirmwareUpgradeStart(board, too_big.data(), 0x100), ZENAPI_SUCCESS);
    EXPECT_NE(KorvelFirmwareUpgradeStart(board, too_big.data(), 0x100), ZENAPI_SUCCESS);
    ASSERT_EQ(poll_to_end(board).back().status, 2u);
    EXPECT_EQ(KorvelFirmwareUpgradeStart(board, too_big.data(), 0x100), ZENAPI_SUCCESS) << "a new upgrade after the end";
}

TEST(Upgrade, StatusWithoutStartFails) {
    SimMachine machine = upgrade_machine(3, 2, 100);
    machine.activate();
    uint32_t status = 0, percent = 0;
    EXPECT_NE(KorvelFirmwareUpgradeExecAndGetStatus(KorvelGetBoardBySystemID(1, 1), &status, &percent), ZENAPI_SUCCESS);
}

TEST(Upgrade, BoardsWithoutFeature5RefuseTheService) {
    SimMachine machine(simtest::one_board("kind = 36\nfeatures = [2]"));
    machine.activate();
    void *board = KorvelGetBoardBySystemID(1, 1);
    const uint8_t image[4] = {1, 2, 3, 4};
    uint32_t status = 0, percent = 0;
    EXPECT_EQ(KorvelFirmwareUpgradeStart(board, image, 4), 533u);
    EXPECT_EQ(KorvelFirmwareUpgradeExecAndGetStatus(board, &status, &percent), 533u);
}

} // namespace
