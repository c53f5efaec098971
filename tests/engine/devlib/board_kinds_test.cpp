#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "engine/devlib/zen.hpp"

namespace {

// The designations the simulated machine and the file-name checks share.
const char *const kDesignations[57] = {
    "ZEN5100", "ZEN5101", "ZEN5102", "ZEN5103", "ZEN5105", "ZEN5106", "ZEN5107", "ZEN5108", "ZEN5109", "ZEN5112",
    "ZEN5110", "ZEN5104", "ZEN5120", "ZEN5130", "ZEN5131", "ZEN5140", "ZEN5141", "ZEN5132", "ZEN5133", "ZEN5111",
    "ZEN5121", "ZEN5150", "ZEN5152", "ZEN5151", "ZEN5160", "ZEN5161", "ZEN5162", "ZEN5123", "ZEN5170", "ZEN5142",
    "ZEN5172", "ZEN5180", "ZEN5171", "ZEN5181", "ZEN5190", "ZEN5191", "ZEN5192", "ZEN5193", "ZEN5173", "ZEN5174",
    "ZEN5182", "ZEN5183", "ZEN5143", "ZEN5144", "ZEN5153", "ZEN5154", "ZEN5163", "ZEN5164", "ZEN5165", "ZEN5175",
    "ZEN5184", "ZEN5185", "ZEN5194", "ZEN5195", "ZEN5196", "ZEN5197", "ZEN5198",
};

zen::board_kind kind(uint32_t value) { return static_cast<zen::board_kind>(value); }

TEST(BoardKindNames, EveryKindHasItsDesignation) {
    for (uint32_t k = 1; k <= 57; ++k) EXPECT_STREQ(zen::model_name(kind(k)), kDesignations[k - 1]) << "kind " << k;
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
