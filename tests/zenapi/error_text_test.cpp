// KorvelErrorToText: the library's own text for each of its return codes.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include <zenapi/Zenapi.h>

#include "tests/support/sim_machine.hpp"

namespace {

// Every code the library can return.
constexpr uint32_t kCodes[] = {
    512, 513, 514, 515, 516, 517, 518, 519, 520, 521, 522, 531, 533, 534, 535, 536, 537, 538, 539, 543, 550, 551,
    552, 553, 556, 558, 559, 561, 562, 563, 565, 567, 569, 572, 573, 574, 575, 576, 577, 578, 579, 580, 581, 582,
    583, 584, 585, 586, 589, 590, 591, 592, 593, 594, 595, 596, 597, 598, 599, 600, 601, 602, 603, 604, 605, 606,
    607, 608, 609, 610, 611, 612, 613, 614, 615, 616, 617, 618, 619, 620, 621, 622, 623, 624, 625, 626,
};
static_assert(sizeof kCodes / sizeof kCodes[0] == 86, "86 codes");

class ErrorText : public ::testing::Test {
protected:
    void SetUp() override { machine.activate(); }
    testsupport::SimMachine machine{"[library]\n"};
};

TEST_F(ErrorText, EveryCodeHasItsOwnText) {
    std::set<std::string> texts;
    for (uint32_t code : kCodes) {
        const char *text = KorvelErrorToText(code);
        ASSERT_NE(text, nullptr) << code;
        EXPECT_GT(std::string(text).size(), 5u) << code;
        EXPECT_EQ(std::string(text).find(std::to_string(code)), std::string::npos)
            << code << ": a known code is described, not numbered";
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), 86u) << "two codes share a text";
}

TEST_F(ErrorText, UnknownCodesGetATextNamingTheNumber) {
    for (uint32_t code : {0u, 1u, 511u, 523u, 530u, 627u, 0xFFFFFFFFu}) {
        const char *text = KorvelErrorToText(code);
        ASSERT_NE(text, nullptr) << code;
        EXPECT_NE(std::string(text).find(std::to_string(code)), std::string::npos) << text;
    }
}

TEST(ErrorTextWithoutMachine, StillAnswersWhenTheDescriptionIsBad) {
    testsupport::SimMachine machine("nonsense = = =");
    EXPECT_THROW(machine.activate(), std::runtime_error);
    ASSERT_NE(KorvelErrorToText(556), nullptr);
    EXPECT_NE(std::string(KorvelErrorToText(556)), "");
}

} // namespace
