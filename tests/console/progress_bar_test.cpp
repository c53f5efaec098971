// The console progress bar, drawn into a string stream.
#include <cmath>
#include <limits>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "console/progress_bar.hpp"

namespace {

using romwright::console::ProgressBar;

std::string label_of(std::size_t length) {
    std::string label;
    for (std::size_t i = 0; i < length; ++i) label += static_cast<char>('a' + i % 26);
    return label;
}

std::string bar(int filled, bool half, int width) {
    return "[" + std::string(filled, '=') + (half ? "-" : "") + std::string(width - filled - (half ? 1 : 0), ' ') + "] ";
}

struct PictureRow {
    float progress;
    std::string expected;
};

TEST(ProgressBarPicture, ThirtyCellBarForATwentyCharacterLabel) {
    const std::string label = "Writing board 0 of 2";  // 20 characters: 60 - 10 - 20 = 30 cells
    const PictureRow rows[] = {
        {0.0f, "\r" + label + " " + bar(0, false, 30) + "   0%"},
        {0.5f, "\r" + label + " " + bar(15, false, 30) + "  50%"},
        {0.52f, "\r" + label + " " + bar(15, true, 30) + "  52%"},
        {1.0f / 60, "\r" + label + " " + bar(0, true, 30) + "   1%"},
        {0.99f, "\r" + label + " " + bar(29, true, 30) + "  99%"},
        {1.0f, "\r" + label + " " + bar(30, false, 30) + " 100%"},
    };
    for (const PictureRow &row : rows) EXPECT_EQ(ProgressBar::picture(60, row.progress, label), row.expected) << row.progress;
}

TEST(ProgressBarPicture, BarWidthFollowsTheLabel) {
    for (std::size_t length : {0u, 10u, 22u, 47u}) {
        const std::string label = label_of(length);
        const int cells = 50 - static_cast<int>(length);
        EXPECT_EQ(ProgressBar::picture(60, 0.0f, label), "\r" + label + " " + bar(0, false, cells) + "   0%") << length;
    }
}

TEST(ProgressBarPicture, NoBarBelowThreeCells) {
    for (std::size_t length : {48u, 50u, 53u}) {
        const std::string label = label_of(length);
        EXPECT_EQ(ProgressBar::picture(60, 0.25f, label), "\r" + label + "   25%") << length;
    }
}

TEST(ProgressBarPicture, LabelOfMoreThanFiftyThreeIsCut) {
    for (std::size_t length : {54u, 80u}) {
        const std::string label = label_of(length);
        EXPECT_EQ(ProgressBar::picture(60, 1.0f, label), "\r" + label.substr(0, 50) + "...  100%") << length;
    }
}

TEST(ProgressBarPicture, FractionsOutsideZeroToOneAreHeldAtTheEnds) {
    const std::string label = "Verifying board 1 of 3";
    EXPECT_EQ(ProgressBar::picture(60, 1.7f, label), ProgressBar::picture(60, 1.0f, label));
    EXPECT_EQ(ProgressBar::picture(60, -0.3f, label), ProgressBar::picture(60, 0.0f, label));
    EXPECT_EQ(ProgressBar::picture(60, std::numeric_limits<float>::quiet_NaN(), label),
              ProgressBar::picture(60, 0.0f, label));
}

TEST(ProgressBar, DrawsItselfOnceAtZero) {
    std::ostringstream out;
    ProgressBar bar("Erasing board 0 of 1", out);
    EXPECT_EQ(out.str(), ProgressBar::picture(60, 0.0f, "Erasing board 0 of 1"));
    EXPECT_EQ(bar.progress(), 0.0f);
}

TEST(ProgressBar, RedrawsOnlyWhenThePictureChanges) {
    std::ostringstream out;
    const std::string label = "Writing board 0 of 1";
    ProgressBar bar(label, out);
    const std::string at_zero = out.str();
    bar.set_progress(0.001f);  // same cells, same percent
    bar.draw();
    EXPECT_EQ(out.str(), at_zero);
    bar.set_progress(0.5f);
    bar.draw();
    bar.draw();
    bar.set_progress(0.501f);
    bar.draw();
    EXPECT_EQ(out.str(), at_zero + ProgressBar::picture(60, 0.5f, label));
}

TEST(ProgressBar, FinishShowsAWholeBarAndEndsTheLine) {
    std::ostringstream out;
    const std::string label = "Verifying board 0 of 1";
    ProgressBar bar(label, out);
    bar.set_progress(0.4f);
    bar.draw();
    bar.finish();
    EXPECT_EQ(out.str(), ProgressBar::picture(60, 0.0f, label) + ProgressBar::picture(60, 0.4f, label) +
                             ProgressBar::picture(60, 1.0f, label) + "\n");
    EXPECT_EQ(bar.progress(), 1.0f);
}

TEST(ProgressBar, FinishAfterFullProgressOnlyEndsTheLine) {
    std::ostringstream out;
    ProgressBar bar("Writing board 0 of 1", out);
    bar.set_progress(1.0f);
    bar.draw();
    const std::string drawn = out.str();
    bar.finish();
    EXPECT_EQ(out.str(), drawn + "\n");
}

} // namespace
