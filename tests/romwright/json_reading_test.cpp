// The tool tests read the programs' JSON through Python expressions: python3
// evaluates them on POSIX, json_expression under Wine. Each case here is held
// against its expected text by both readers the build has, so on POSIX python3
// and json_expression are shown to agree.
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/json_expression.hpp"
#include "tests/support/reference.hpp"

namespace {

using testsupport::json_dumps_text;
using testsupport::json_expression;

const char *const kDocument = R"({"schema_version": 1, "command": "list", "file": "C:\\fw\\a b.rpd",
  "boards": [{"system_id": 1, "board_id": 2, "serial": 511001, "revision": "2.0", "flash_size": null, "ok": true},
             {"system_id": 1, "board_id": 3, "serial": 516001, "revision": "1.5", "flash_size": 4194304, "ok": false}],
  "rewritten": 3, "matched": 5, "sectors": 8, "ratio": 0.5, "name": "Прошивка 😀"})";

struct ExpressionCase {
    const char *expression;
    const char *expected;
};

class JsonReading : public ::testing::TestWithParam<ExpressionCase> {};

TEST_P(JsonReading, BothReadersGiveWhatJsonDumpsWrites) {
    EXPECT_EQ(json_expression(kDocument, GetParam().expression), GetParam().expected);
    EXPECT_EQ(testsupport::reference::json_value(kDocument, GetParam().expression), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Expressions, JsonReading,
    ::testing::Values(
        ExpressionCase{"d['schema_version']", "1"}, ExpressionCase{"d['file']", R"("C:\\fw\\a b.rpd")"},
        ExpressionCase{"d['boards'][1]['revision']", R"("1.5")"}, ExpressionCase{"d['boards'][-1]['serial']", "516001"},
        ExpressionCase{"[d['boards'][0][k] for k in ('serial', 'revision', 'flash_size')]", R"([511001, "2.0", null])"},
        ExpressionCase{"[(b['system_id'], b['board_id']) for b in d['boards']]", "[[1, 2], [1, 3]]"},
        ExpressionCase{"[b['ok'] for b in d['boards']]", "[true, false]"},
        ExpressionCase{"[d['rewritten'] > 0, d['matched'] < 0, d['rewritten'] + d['matched'] == d['sectors']]",
                       "[true, false, true]"},
        ExpressionCase{"d['boards'][0]",
                       R"({"system_id": 1, "board_id": 2, "serial": 511001, "revision": "2.0", "flash_size": null, "ok": true})"},
        ExpressionCase{"d['name']", R"("\u041f\u0440\u043e\u0448\u0438\u0432\u043a\u0430 \ud83d\ude00")"},
        ExpressionCase{"d['ratio']", "0.5"}, ExpressionCase{"[]", "[]"},
        ExpressionCase{"d['sectors'] - d['matched'] - 1", "2"}, ExpressionCase{"1 < d['rewritten'] < 3", "false"},
        ExpressionCase{"d['command'] + '-x'", R"("list-x")"}, ExpressionCase{"[True, False, None, -2]", "[true, false, null, -2]"},
        ExpressionCase{"d['boards'][0]['revision'] != \"2.0\"", "false"}));

TEST(JsonReading, WhatItDoesNotUnderstandIsAnErrorNamingWhere) {
    for (const char *expression : {"d['nothing']", "d[", "d.keys()", "x", "d['boards'][2]", "d['command'] > 1"}) {
        try {
            json_expression(kDocument, expression);
            ADD_FAILURE() << expression << " was evaluated";
        } catch (const std::invalid_argument &error) {
            EXPECT_NE(std::string(error.what()).find(expression), std::string::npos) << error.what();
        }
    }
    EXPECT_THROW(json_expression("{\"a\": ", "d"), std::invalid_argument);
}

TEST(JsonReading, TextsAreWrittenAsJsonDumpsWritesThem) {
    EXPECT_EQ(json_dumps_text("plain"), "\"plain\"");
    EXPECT_EQ(json_dumps_text("a \"b\" \\ c\n\t"), R"("a \"b\" \\ c\n\t")");
    EXPECT_EQ(json_dumps_text(std::string("\x01\x7f", 2)), R"("\u0001\u007f")");
    EXPECT_EQ(json_dumps_text("é"), R"("\u00e9")");
}

} // namespace
