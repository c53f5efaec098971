// The progress window: what it shows for the worker's reports.
#include <cmath>
#include <limits>
#include <stdexcept>

#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <gtest/gtest.h>

#include "gui/update_progress_widget.hpp"
#include "tests/gui/gui_test_support.hpp"

namespace {

class ProgressWidgetTest : public ::testing::Test {
protected:
    QLabel *warningLabel() { return widget.findChildren<QLabel *>().at(0); }
    QLabel *textLabel() { return widget.findChildren<QLabel *>().at(1); }
    QProgressBar *bar() { return widget.findChild<QProgressBar *>(); }

    QWidget parent;
    UpdateProgressWidget widget{&parent};
};

TEST_F(ProgressWidgetTest, StartsWithTheWarningAnEmptyProgressLineAndAFixedSize) {
    ASSERT_EQ(widget.findChildren<QLabel *>().size(), 2);
    EXPECT_TRUE(warningLabel()->wordWrap());
    EXPECT_TRUE(warningLabel()->text().contains("font-weight:600; color:#ff0000;\">DO NOT</span>"));
    EXPECT_TRUE(warningLabel()->text().contains(
        "> reset, turn off, or remove power from the system during the update! Any interruption "
        "in the firmware update process may result in corruption of the firmware making the "
        "system non-functional.</span>"));
    EXPECT_EQ(textLabel()->text(), "Progress:");
    EXPECT_EQ(bar()->minimum(), 0);
    EXPECT_EQ(bar()->maximum(), 100);
    EXPECT_EQ(widget.size(), QSize(400, 150));
    EXPECT_TRUE(widget.windowTitle().isEmpty());
    EXPECT_FALSE(widget.isModal());
    EXPECT_EQ(widget.parentWidget(), &parent);
}

TEST_F(ProgressWidgetTest, IgnoresBoardAndProgressReportsUntilTheFirstOperation) {
    const int untouched = bar()->value();
    widget.onBoardChanged(2, 3);
    widget.onProgressChanged(0.5f);
    widget.onOperationChanged(ROMWRIGHT_OPERATION_NONE);
    EXPECT_EQ(textLabel()->text(), "Progress:");
    EXPECT_EQ(bar()->value(), untouched);

    // The stored board and fraction show with the first operation.
    widget.onOperationChanged(ROMWRIGHT_OPERATION_WRITING);
    EXPECT_EQ(textLabel()->text(), "Writing board 2 of 3");
    EXPECT_EQ(bar()->value(), 50);
}

TEST_F(ProgressWidgetTest, NamesEachOperationWithItsOwnWord) {
    const struct {
        ROMWRIGHT_OPERATION operation;
        const char *text;
    } cases[] = {
        {ROMWRIGHT_OPERATION_ERASING, "Erasing board 2 of 3"},
        {ROMWRIGHT_OPERATION_WRITING, "Writing board 2 of 3"},
        {ROMWRIGHT_OPERATION_VERIFYING, "Verifing board 2 of 3"},
    };
    widget.onBoardChanged(2, 3);
    for (const auto &c : cases) {
        widget.onOperationChanged(c.operation);
        EXPECT_EQ(textLabel()->text(), c.text);
    }
}

TEST_F(ProgressWidgetTest, ShowsTheFractionAsAPercentageTruncatedTowardZero) {
    const struct {
        float progress;
        int shown;
    } cases[] = {
        {1.0f, 100}, {0.5f, 50}, {0.999f, 99}, {0.0f, 0}, {0.015f, 1}, {0.5049f, 50},
    };
    widget.onOperationChanged(ROMWRIGHT_OPERATION_ERASING);
    for (const auto &c : cases) {
        widget.onProgressChanged(c.progress);
        EXPECT_EQ(bar()->value(), c.shown) << "fraction " << c.progress;
    }
}

TEST_F(ProgressWidgetTest, HoldsFractionsOutsideZeroToOneAtTheNearestEnd) {
    const struct {
        float progress;
        int shown;
    } cases[] = {
        {1.5f, 100},
        {-0.25f, 0},
        {std::numeric_limits<float>::quiet_NaN(), 0},
        {std::numeric_limits<float>::infinity(), 100},
        {3.0e9f, 100},
    };
    widget.onOperationChanged(ROMWRIGHT_OPERATION_WRITING);
    for (const auto &c : cases) {
        widget.onProgressChanged(0.42f);
        widget.onProgressChanged(c.progress);
        EXPECT_EQ(bar()->value(), c.shown) << "fraction " << c.progress;
    }
}

TEST_F(ProgressWidgetTest, KeepsTheOldOperationAndPercentageWhenANewBoardStarts) {
    widget.onBoardChanged(1, 2);
    widget.onOperationChanged(ROMWRIGHT_OPERATION_VERIFYING);
    widget.onProgressChanged(1.0f);
    widget.onBoardChanged(2, 2);
    EXPECT_EQ(textLabel()->text(), "Verifing board 2 of 2");
    EXPECT_EQ(bar()->value(), 100);
}

TEST_F(ProgressWidgetTest, RefusesAnOperationOutsideTheFourKnownOnes) {
    widget.onOperationChanged(ROMWRIGHT_OPERATION_WRITING);
    EXPECT_EQ(guitest::takeFatalErrorText(), "");
    // The error goes to the program's top-level handler, which ends it.
    widget.onOperationChanged(static_cast<ROMWRIGHT_OPERATION>(4));
    EXPECT_EQ(guitest::takeFatalErrorText(), "Invalid operation.");
    widget.onOperationChanged(ROMWRIGHT_OPERATION_FORCE_32BIT);
    EXPECT_EQ(guitest::takeFatalErrorText(), "Invalid operation.");
}

TEST_F(ProgressWidgetTest, StaysOpenWhenAskedToClose) {
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    EXPECT_FALSE(widget.close());
    EXPECT_TRUE(widget.isVisible());
    QTest::keyClick(&widget, Qt::Key_Escape);
    EXPECT_TRUE(widget.isVisible());
    // The owner hides it when the request ends.
    widget.hide();
    EXPECT_FALSE(widget.isVisible());
}

} // namespace
