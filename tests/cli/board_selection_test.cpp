// Which boards a system ID and board ID select, in which order, and what the
// console shows for them.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/cli/cli_fixture.hpp"

namespace {

using clitest::Cli;
using clitest::contains;
using clitest::upgrade_board;

// Two systems: a1, a2 in system 1; b1 in system 2; system 3 has no boards.
const std::string kTwoSystems = "[[system]]\n" + upgrade_board("a1") + upgrade_board("a2") + "[[system]]\n" +
                                upgrade_board("b1") + "[[system]]\n";

class Selection : public Cli {
protected:
    void SetUp() override {
        machine(kTwoSystems);
        path_ = make_image("fw-ZEN5190.rpd", "ZEN5190", 0x30000);
    }
    std::vector<std::string> boards_taken() const {
        std::vector<std::string> names;
        for (const std::string &line : trace_of("KorvelGetBoardBySystemID")) names.push_back(line.substr(line.rfind(' ') + 1));
        return names;
    }
    bool updated(const std::string &board) const {
        const std::vector<uint8_t> image = testsupport::read_file(path_);
        const std::vector<uint8_t> now = flash(board);
        return now.size() >= image.size() && std::equal(image.begin(), image.end(), now.begin());
    }
    std::string path_;
};

TEST_F(Selection, AllSystemsAllBoardsInOrder) {
    const auto result = run({"update", path_});
    EXPECT_EQ(result.exit_code, 0) << result.out;
    EXPECT_EQ(boards_taken(), (std::vector<std::string>{"a1", "a2", "b1"}));
    EXPECT_TRUE(updated("a1") && updated("a2") && updated("b1"));
    const auto lines = clitest::screen_lines(result.out);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Writing board 0 of 3 [==============================]  100%",
                         "Writing board 1 of 3 [==============================]  100%",
                         "Writing board 2 of 3 [==============================]  100%",
                         "Update of 3 boards successful",
                     }));
}

TEST_F(Selection, CountsAreAskedAgainBeforeEveryStep) {
    run({"update", path_});
    EXPECT_EQ(trace_of("KorvelNumOfSystems").size(), 4u);               // s = 1, 2, 3 and the end
    EXPECT_EQ(trace_of("KorvelBoardsInSystemBySystemID").size(), 3u + 2u + 1u);
}

TEST_F(Selection, OneSystemAllItsBoards) {
    const auto result = run({"update", "--system=1", path_});
    EXPECT_EQ(result.exit_code, 0) << result.out;
    EXPECT_EQ(boards_taken(), (std::vector<std::string>{"a1", "a2"}));
    EXPECT_FALSE(testsupport::file_exists(machine_->flash_path("b1")) && updated("b1"));
    EXPECT_TRUE(contains(result.out, "Update of 2 boards successful\n"));
    EXPECT_EQ(trace_of("KorvelNumOfSystems").size(), 0u);
}

TEST_F(Selection, OneBoardByBothIds) {
    const auto result = run({"update", "--system=1", "--board=2", path_});
    EXPECT_EQ(result.exit_code, 0) << result.out;
    EXPECT_EQ(trace_of("KorvelGetBoardBySystemID"),
              std::vector<std::string>{"KorvelGetBoardBySystemID(system=1, board=2) -> a2"});
    EXPECT_TRUE(updated("a2"));
    EXPECT_EQ(clitest::screen_lines(result.out).back(), "Update of 1 board successful");
    EXPECT_TRUE(trace_of("KorvelBoardsInSystemBySystemID").empty());
}

TEST_F(Selection, BoardIdWithSystemZeroAsksForSystemZero) {
    const auto result = run({"update", "--board=3", path_});
    EXPECT_EQ(trace_of("KorvelGetBoardBySystemID"),
              std::vector<std::string>{"KorvelGetBoardBySystemID(system=0, board=3) -> null"});
    // The library has no such board; the handle it gave is used as it is.
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "\nError: [from_c] Error: invalid board type 0 failed with error Invalid data\n");
}

TEST_F(Selection, NothingSelectedUpdatesNothingAndChecksNothing) {
    for (const std::string system : {"3", "9"}) {
        const auto result = run({"update", "--system=" + system, "not even a firmware name"});
        EXPECT_EQ(result.exit_code, 0) << system;
        EXPECT_EQ(result.out, "Update of 0 board successful\n") << system;
    }
    EXPECT_TRUE(trace_of("KorvelGetBoardKind").empty());
    EXPECT_FALSE(log_exists());
}

} // namespace
