// romwright update --json: one document on standard output with each board's
// IDs, path, result, error and sectors, written after a failed board too.
#include <algorithm>

#include <gtest/gtest.h>

#include "tests/romwright/tool_fixture.hpp"
#include "tests/support/json_expression.hpp"

namespace tooltest {
namespace {

// What a program reads of each board: IDs, model, path, result, sectors and error.
const char *const kBoardFields =
    "[[b['system_id'], b['board_id'], b['model'], b['path'], b['result'], b['sectors_erased'], "
    "b['sectors_written'], b['sectors_skipped'], b['error']] for b in d['boards']]";

TEST_F(Tool, UpdateJsonOfARerunWritesNoSector) {
    const std::string file = make_image("fw-ZEN5110.rpd", "ZEN5110", {"--size", "0x80000"});
    const auto first = run({"update", "--system=1", "--board=1", "--json", file});
    ASSERT_EQ(first.exit_code, 0) << first.err;
    EXPECT_EQ(json_value(first.out, "[d['schema_version'], d['command'], d['file'], d['boards_selected'], d['succeeded']]"),
              "[1, \"update\", " + testsupport::json_dumps_text(file) + ", 1, true]");
    EXPECT_EQ(json_value(first.out, kBoardFields), R"([[1, 1, "ZEN5110", "page mode", "succeeded", 3, 3, 0, null]])");

    const auto again = run({"update", "--system=1", "--board=1", "--json", file});
    ASSERT_EQ(again.exit_code, 0) << again.err;
    EXPECT_EQ(json_value(again.out, kBoardFields), R"([[1, 1, "ZEN5110", "page mode", "succeeded", 0, 0, 3, null]])");
    EXPECT_EQ(json_value(again.out, "d['succeeded']"), "true");
}

// Three systems, the second without boards; the third's second board fails
// every page write, so the run ends there and its third board is not reached.
const char *const kFailingMachine = R"(
[[system]]
[[system.board]]
name = "a"
kind = 11
[[system]]
[[system]]
[[system.board]]
name = "b"
kind = 11
[[system.board]]
name = "c"
kind = 11
[[system.board.fault]]
type = "call"
call = "ZEN5110PageWriteToFlash"
code = 513
[[system.board]]
name = "d"
kind = 11
)";

TEST_F(Tool, UpdateJsonOfAFailedRunNamesTheFailedBoardAndWhy) {
    use_machine(kFailingMachine);
    const std::string file = make_image("fw-ZEN5110.rpd", "ZEN5110", {"--size", "0x80000"});
    const auto result = run({"update", "--json", file});
    EXPECT_EQ(result.exit_code, 1) << result.err;
    EXPECT_NE(result.err.find("romwright: update of board 3/4 failed: Max retries reached."), std::string::npos)
        << result.err;
    EXPECT_EQ(json_value(result.out, "[d['boards_selected'], d['succeeded']]"), "[4, false]");
    EXPECT_EQ(json_value(result.out, kBoardFields),
              R"([[1, 1, "ZEN5110", "page mode", "succeeded", 3, 3, 0, null], )"
              R"([3, 1, "ZEN5110", "page mode", "succeeded", 3, 3, 0, null], )"
              R"([3, 2, "ZEN5110", "page mode", "failed", null, null, null, "Max retries reached."]])");
    const std::vector<uint8_t> untouched = flash("d");
    EXPECT_TRUE(std::all_of(untouched.begin(), untouched.end(), [](uint8_t b) { return b == 0xFF; }));
}

// Without --quiet: no progress bar, no closing line, only the document, also
// for a board whose file is refused before it is touched.
TEST_F(Tool, UpdateJsonLeavesOnlyTheDocumentOnStandardOutput) {
    const std::string file = make_image("fw-ZEN5110.rpd", "ZEN5110", {"--size", "0x80000"});
    const auto updated = run({"update", "--system=1", "--board=1", "--json", file});
    ASSERT_EQ(updated.exit_code, 0) << updated.err;
    EXPECT_EQ(updated.out.find('\n'), updated.out.size() - 1) << updated.out;
    EXPECT_EQ(updated.out.front(), '{');
    EXPECT_FALSE(parsed_json(updated.out).empty());
    EXPECT_EQ(updated.err, "");

    const std::string misnamed = make_image("fw.rpd", "ZEN5110", {"--size", "0x80000"});
    const auto refused = run({"update", "--system=1", "--board=1", "--json", misnamed});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_EQ(refused.out.find('\n'), refused.out.size() - 1) << refused.out;
    EXPECT_EQ(json_value(refused.out, "[d['succeeded'], [b['result'] for b in d['boards']]]"), R"([false, ["refused"]])");
    EXPECT_EQ(json_value(refused.out, "d['boards'][0]['error']"), "\"Invalid firmware board type\"");
}

} // namespace
} // namespace tooltest
