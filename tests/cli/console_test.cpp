// The console's progress display: which bar is shown when, driven by the
// operation and progress reports of the engine and by board changes.
#include <sstream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

// Compiled into this test directly, as the bar is (see progress_bar_test.cpp).
#include "cli/console.cpp"

namespace {

using romwright::cli::Console;
using romwright::cli::ProgressBar;

std::string drawn(const std::string &label, float progress) { return ProgressBar::picture(60, progress, label); }

class ConsoleDisplay : public ::testing::Test {
protected:
    std::ostringstream out_;
    Console console_{false, out_};
};

TEST_F(ConsoleDisplay, ProgressWithoutABarShowsNothing) {
    console_.set_board_count(2);
    console_.on_progress(0.5f);
    console_.on_progress(1.0f);
    EXPECT_EQ(out_.str(), "");
}

TEST_F(ConsoleDisplay, OperationChangeStartsALabelledBar) {
    console_.set_board_count(2);
    console_.on_operation(ROMWRIGHT_OPERATION_WRITING);
    EXPECT_EQ(out_.str(), drawn("Writing board 0 of 2", 0.0f));
    EXPECT_TRUE(console_.has_bar());
}

TEST_F(ConsoleDisplay, SameOperationAgainChangesNothing) {
    console_.set_board_count(1);
    console_.on_operation(ROMWRIGHT_OPERATION_ERASING);
    console_.on_progress(0.3f);
    const std::string before = out_.str();
    console_.on_operation(ROMWRIGHT_OPERATION_ERASING);
    EXPECT_EQ(out_.str(), before);
}

TEST_F(ConsoleDisplay, FullProgressFinishesAndDropsTheBar) {
    console_.set_board_count(1);
    console_.on_operation(ROMWRIGHT_OPERATION_VERIFYING);
    console_.on_progress(0.5f);
    console_.on_progress(1.0f);
    const std::string label = "Verifying board 0 of 1";
    EXPECT_EQ(out_.str(), drawn(label, 0.0f) + drawn(label, 0.5f) + drawn(label, 1.0f) + "\n");
    EXPECT_FALSE(console_.has_bar());
    console_.on_progress(0.7f);  // no bar any more
    EXPECT_EQ(out_.str(), drawn(label, 0.0f) + drawn(label, 0.5f) + drawn(label, 1.0f) + "\n");
}

TEST_F(ConsoleDisplay, NewOperationFinishesTheOldBarFirst) {
    console_.set_board_count(1);
    console_.on_operation(ROMWRIGHT_OPERATION_ERASING);
    console_.on_progress(0.25f);
    console_.on_operation(ROMWRIGHT_OPERATION_WRITING);
    const std::string erasing = "Erasing board 0 of 1";
    EXPECT_EQ(out_.str(), drawn(erasing, 0.0f) + drawn(erasing, 0.25f) + drawn(erasing, 1.0f) + "\n" +
                              drawn("Writing board 0 of 1", 0.0f));
}

TEST_F(ConsoleDisplay, NextBoardShowsTheCurrentOperationAgain) {
    console_.set_board_count(3);
    console_.begin_board(0);  // the index starts at 0: nothing to do
    EXPECT_EQ(out_.str(), "");
    console_.on_operation(ROMWRIGHT_OPERATION_WRITING);
    console_.on_progress(1.0f);
    const std::string before = out_.str();
    console_.begin_board(1);
    EXPECT_EQ(out_.str(), before + drawn("Writing board 1 of 3", 0.0f));
    console_.on_operation(ROMWRIGHT_OPERATION_WRITING);  // the engine reports it again: no new bar
    EXPECT_EQ(out_.str(), before + drawn("Writing board 1 of 3", 0.0f));
}

TEST_F(ConsoleDisplay, BoardChangeBeforeAnyOperationShowsNothing) {
    console_.set_board_count(2);
    console_.begin_board(1);
    EXPECT_EQ(out_.str(), "");
}

TEST_F(ConsoleDisplay, OperationNoneEndsNothingAndDrawsNothing) {
    console_.set_board_count(1);
    console_.on_operation(ROMWRIGHT_OPERATION_NONE);
    EXPECT_EQ(out_.str(), "");
}

TEST_F(ConsoleDisplay, UnknownOperationIsAnError) {
    console_.set_board_count(1);
    try {
        console_.on_operation(static_cast<ROMWRIGHT_OPERATION>(4));
        ADD_FAILURE() << "accepted operation 4";
    } catch (const std::runtime_error &error) {
        EXPECT_STREQ(error.what(), "Invalid operation.");
    }
    EXPECT_EQ(out_.str(), "");
}

TEST_F(ConsoleDisplay, DropBarFinishesWhatIsShown) {
    console_.set_board_count(1);
    console_.on_operation(ROMWRIGHT_OPERATION_WRITING);
    console_.drop_bar();
    console_.drop_bar();
    const std::string label = "Writing board 0 of 1";
    EXPECT_EQ(out_.str(), drawn(label, 0.0f) + drawn(label, 1.0f) + "\n");
}

TEST(ConsoleQuiet, ShowsNothingAtAll) {
    std::ostringstream out;
    Console console(true, out);
    console.set_board_count(2);
    console.on_operation(ROMWRIGHT_OPERATION_ERASING);
    console.on_progress(0.5f);
    console.on_operation(static_cast<ROMWRIGHT_OPERATION>(9));
    console.begin_board(1);
    console.on_progress(1.0f);
    console.drop_bar();
    EXPECT_EQ(out.str(), "");
    EXPECT_FALSE(console.has_bar());
}

} // namespace
