#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include <romwright/board_table.hpp>

#include "engine/devlib/zen.hpp"

namespace {

zen::board_kind kind(uint32_t value) { return static_cast<zen::board_kind>(value); }

// The names come from the board table (tests/engine/board_table_test.cpp
// compares it with the simulator's and the image maker's): every kind has
// one, of the form ZEN51xx, and it is the table row's.
TEST(BoardKindNames, EveryKindHasADesignationFromTheBoardTable) {
    for (uint32_t k = 1; k <= 57; ++k) {
        const char *name = zen::model_name(kind(k));
        ASSERT_NE(name, nullptr) << "kind " << k;
        EXPECT_EQ(std::string(name).rfind("ZEN51", 0), 0u) << name;
        EXPECT_EQ(std::string(name).size(), 7u) << name;
        EXPECT_STREQ(name, romwright::find_board_model(k)->designation) << "kind " << k;
    }
}

TEST(BoardKindNames, EngineProgrammedKindsKeepTheirModels) {
    struct Row {
        uint32_t kind;
        const char *model;
    };
    const Row rows[] = {{11, "ZEN5110"}, {13, "ZEN5120"}, {20, "ZEN5111"}, {25, "ZEN5160"}, {29, "ZEN5170"},
                        {30, "ZEN5142"}, {32, "ZEN5180"}, {33, "ZEN5171"}, {34, "ZEN5181"}};
    for (const Row &row : rows) EXPECT_STREQ(zen::model_name(kind(row.kind)), row.model) << row.kind;
}

TEST(BoardKindNames, DesignationsAreDistinctAndNoneContainsAnother) {
    // A file name holding one designation must never pass for another board.
    std::set<std::string> seen;
    for (uint32_t k = 1; k <= 57; ++k) {
        const std::string name = zen::model_name(kind(k));
        EXPECT_TRUE(seen.insert(name).second) << name;
        for (uint32_t other = 1; other <= 57; ++other) {
            if (other == k) continue;
            EXPECT_EQ(name.find(zen::model_name(kind(other))), std::string::npos) << name;
        }
    }
}

TEST(BoardKindNames, OutsideOneToFiftySevenThereIsNone) {
    for (uint32_t k : {0u, 58u, 100u, 0xFFFFFFFFu}) EXPECT_EQ(zen::model_name(kind(k)), nullptr) << k;
}

TEST(BoardKindStream, WritesTheDesignation) {
    std::ostringstream out;
    out << kind(29);
    EXPECT_EQ(out.str(), "ZEN5170");
    EXPECT_TRUE(out.good());
}

TEST(BoardKindStream, UnknownKindWritesNothingAndFailsTheStream) {
    for (uint32_t k : {0u, 58u}) {
        std::ostringstream out;
        out << kind(k);
        EXPECT_TRUE(out.fail()) << k;
        EXPECT_EQ(out.str(), "");
    }
}

} // namespace
