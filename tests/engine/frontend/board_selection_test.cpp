// Board selection against a library that claims what no machine holds: the
// enumeration must end at once, with an error naming the call, instead of
// asking for billions of handles (or, with a 32-bit counter, forever).
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include <romwright/frontend/board_selection.hpp>

#include "tests/support/fake_zenapi.hpp"

namespace {

using romwright::frontend::BoardList;

// Runs the selection on a thread of its own; one that does not end within
// the time limit ends the test program, which then fails.
BoardList select_within_time_limit(const std::function<BoardList()> &select) {
    auto running = std::async(std::launch::async, select);
    if (running.wait_for(std::chrono::seconds(20)) == std::future_status::timeout) {
        std::fprintf(stderr, "the board enumeration did not end\n");
        std::_Exit(1);
    }
    return running.get();
}

struct Claim {
    const char *name;
    const char *counting_call;  // the call that answers `count`
    uint32_t count;
    uint32_t boards_in_system_1;  // boards the fake really has
    std::function<BoardList()> select;
    const char *error;
};

void PrintTo(const Claim &c, std::ostream *out) { *out << c.name; }

class ImpossibleCount : public ::testing::TestWithParam<Claim> {
protected:
    void SetUp() override {
        fakezen::library().reset();
        fakezen::library().recording = false;  // a runaway enumeration must not fill the memory
    }
};

TEST_P(ImpossibleCount, EndsTheEnumerationAtOnceNamingTheCall) {
    const Claim &c = GetParam();
    for (uint32_t i = 0; i < c.boards_in_system_1; ++i) fakezen::library().add_board(1);
    fakezen::library().fail_call(c.counting_call, c.count);  // every call answers `count`
    try {
        select_within_time_limit(c.select);
        ADD_FAILURE() << "the count was taken";
    } catch (const std::runtime_error &error) {
        EXPECT_STREQ(error.what(), c.error);
    }
    EXPECT_EQ(fakezen::library().call_count("KorvelGetBoardBySystemID"), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Claims, ImpossibleCount,
    ::testing::Values(
        Claim{"one_system_of_0xFFFFFFFF_boards", "KorvelBoardsInSystemBySystemID", 0xFFFFFFFFu, 1,
              [] { return romwright::frontend::boards_of_system(1); },
              "KorvelBoardsInSystemBySystemID(1) reports 4294967295 boards; no machine holds more than 65536"},
        Claim{"console_rule_0_0_with_0xFFFFFFFF_boards", "KorvelBoardsInSystemBySystemID", 0xFFFFFFFFu, 1,
              [] { return romwright::frontend::select_by_ids(0, 0); },
              "KorvelBoardsInSystemBySystemID(1) reports 4294967295 boards; no machine holds more than 65536"},
        Claim{"console_rule_system_7_with_65537_boards", "KorvelBoardsInSystemBySystemID", 65537u, 0,
              [] { return romwright::frontend::select_by_ids(7, 0); },
              "KorvelBoardsInSystemBySystemID(7) reports 65537 boards; no machine holds more than 65536"},
        Claim{"0xFFFFFFFF_systems", "KorvelNumOfSystems", 0xFFFFFFFFu, 0,
              [] { return romwright::frontend::boards_of_all_systems(); },
              "KorvelNumOfSystems() reports 4294967295 systems; no machine holds more than 65536"}),
    [](const ::testing::TestParamInfo<Claim> &info) { return std::string(info.param.name); });

class BoardSelection : public ::testing::Test {
protected:
    void SetUp() override {
        fakezen::library().reset();
        fakezen::library().recording = false;
    }
};

// The most a machine may hold is still taken, board by board.
TEST_F(BoardSelection, TheLargestPossibleSystemIsTakenWhole) {
    fakezen::library().add_board(1);
    fakezen::library().fail_call("KorvelBoardsInSystemBySystemID", 65536);
    const BoardList boards = select_within_time_limit([] { return romwright::frontend::boards_of_system(1); });
    ASSERT_EQ(boards.size(), 65536u);
    EXPECT_NE(boards[0].handle, nullptr);   // the fake's one real board
    EXPECT_EQ(boards[1].handle, nullptr);   // the rest, as the library answered
    EXPECT_EQ(fakezen::library().call_count("KorvelGetBoardBySystemID"), 65536u);
}

// Counts that each could be real but add up beyond any machine.
TEST_F(BoardSelection, ABoardListBeyondAnyMachineIsRefused) {
    fakezen::library().add_board(1);
    fakezen::library().add_board(2);
    fakezen::library().fail_call("KorvelBoardsInSystemBySystemID", 40000);
    try {
        select_within_time_limit([] { return romwright::frontend::boards_of_all_systems(); });
        ADD_FAILURE() << "took more than 65536 boards";
    } catch (const std::runtime_error &error) {
        EXPECT_STREQ(error.what(), "The library reports more than 65536 boards in all; no machine holds that many");
    }
    EXPECT_EQ(fakezen::library().call_count("KorvelGetBoardBySystemID"), 65536u);
}

} // namespace
