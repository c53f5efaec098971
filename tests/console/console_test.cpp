// The console's progress display: which bar is shown when, driven by the
// operation and progress reports of the engine and by board changes; and
// what its log sink keeps.
#include <cstdio>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.hpp"

#include "console/console.hpp"

namespace {

using romwright::console::Console;
using romwright::console::ProgressBar;

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

struct PageRow {
    bool page0, page1;
    bool auto_select, write_page0, write_page1;
};

TEST(ForcePages, EachFlagForcesItsPageAndTurnsAutoSelectOff) {
    const PageRow rows[] = {
        {false, false, true, false, false},
        {true, false, false, true, false},
        {false, true, false, false, true},
        {true, true, false, true, true},
    };
    for (const PageRow &row : rows) {
        romwright::options options;
        romwright::console::force_pages(row.page0, row.page1, options);
        SCOPED_TRACE(::testing::Message() << row.page0 << row.page1);
        EXPECT_EQ(options.get_bool(ROMWRIGHT_OPTION_AUTO_SELECT_PAGES), row.auto_select);
        EXPECT_EQ(options.get_bool(ROMWRIGHT_OPTION_WRITE_PAGE0), row.write_page0);
        EXPECT_EQ(options.get_bool(ROMWRIGHT_OPTION_WRITE_PAGE1), row.write_page1);
        // Nothing else moves.
        EXPECT_TRUE(options.get_bool(ROMWRIGHT_OPTION_WRITE_OPTION_BITS));
        EXPECT_TRUE(options.get_bool(ROMWRIGHT_OPTION_VERIFY_PAGES));
        EXPECT_FALSE(options.get_bool(ROMWRIGHT_OPTION_DEBUG));
        EXPECT_EQ(options.get_int(ROMWRIGHT_OPTION_MAX_RETRIES), 15);
    }
}

// The console's log sink, writing to a log file in a folder of the test's own.
class ConsoleLog : public ::testing::Test {
protected:
    std::string log() const { return testsupport::read_text(path_); }
    void line(ROMWRIGHT_LOG_LEVEL level, const std::string &text) { romwright::console::log_line(file_, level, text); }

    testsupport::TempDir dir_{"cli-log"};
    std::string path_ = dir_.file(romwright::console::kLogFileName);
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> warnings_{std::tmpfile(), &std::fclose};
    romwright::frontend::LogFile file_{"romwright-cli", path_, "ab", warnings_.get()};
};

TEST_F(ConsoleLog, LinesAreAppendedAsReceivedButOnlyWhole) {
    testsupport::write_text(path_, "earlier run\n");
    line(ROMWRIGHT_LOG_INFO, "Update succeeded.\n");
    line(ROMWRIGHT_LOG_WARNING, "Disabling API logging failed");
    line(ROMWRIGHT_LOG_ERROR, "Board is null");
    // The two texts without a line break wait for the end of their line...
    EXPECT_EQ(log(), "earlier run\nUpdate succeeded.\n");
    // ...which the end of the board's entry gives them.
    file_.end_entry();
    EXPECT_EQ(log(), "earlier run\nUpdate succeeded.\nDisabling API logging failedBoard is null\n");
}

TEST_F(ConsoleLog, DebugLinesAreDropped) {
    line(ROMWRIGHT_LOG_DEBUG, "detail\n");
    EXPECT_FALSE(testsupport::file_exists(path_));
    line(ROMWRIGHT_LOG_INFO, "kept\n");
    EXPECT_EQ(log(), "kept\n");
}

TEST_F(ConsoleLog, UnwritableLogLosesTheLinesWithOneWarning) {
    ASSERT_EQ(::mkdir(path_.c_str(), 0755), 0);  // a folder where the file should be
    EXPECT_NO_THROW(line(ROMWRIGHT_LOG_ERROR, "lost\n"));
    EXPECT_NO_THROW(line(ROMWRIGHT_LOG_INFO, "lost too\n"));
    std::rewind(warnings_.get());
    char text[512] = {};
    const std::size_t length = std::fread(text, 1, sizeof text - 1, warnings_.get());
    EXPECT_EQ(std::string(text, length), "romwright-cli: cannot write the log file " + path_ + ": Is a directory\n");
}

} // namespace
