#include "progress_bar.hpp"

#include <cmath>
#include <ostream>
#include <utility>

#include <fmt/format.h>

namespace romwright::console {
namespace {

// Room the label, blanks and percent take beside the bar itself.
constexpr int32_t kReserved = 10;
constexpr int32_t kNarrowestBar = 3;
constexpr std::size_t kLongestLabel = 53;
constexpr std::size_t kCutLabel = 50;

float clamp_fraction(float progress) {
    if (std::isnan(progress) || progress < 0.0f) return 0.0f;
    return progress > 1.0f ? 1.0f : progress;
}

std::string bar_cells(int32_t bar_width, float progress) {
    const float cells = static_cast<float>(bar_width) * progress;
    const int32_t filled = static_cast<int32_t>(cells);
    const int32_t half = static_cast<int32_t>(2.0f * cells) % 2;
    std::string text = "[";
    text.append(static_cast<std::size_t>(filled), '=');
    if (half) text += '-';
    text.append(static_cast<std::size_t>(bar_width - filled - half), ' ');
    text += "] ";
    return text;
}

} // namespace

ProgressBar::ProgressBar(std::string label, std::ostream &out) : out_(out), label_(std::move(label)) { draw(); }

void ProgressBar::set_progress(float progress) { progress_ = clamp_fraction(progress); }

void ProgressBar::draw() {
    std::string now = picture(width_, progress_, label_);
    if (now == shown_) return;
    out_ << now;
    out_.flush();
    shown_ = std::move(now);
}

void ProgressBar::finish() {
    set_progress(1.0f);
    draw();
    out_ << '\n';
    out_.flush();
}

std::string ProgressBar::picture(int32_t width, float progress, const std::string &label) {
    progress = clamp_fraction(progress);
    const int32_t bar_width = width - kReserved - static_cast<int32_t>(label.size());
    const bool has_bar = bar_width >= kNarrowestBar;
    std::string text = "\r";
    if (!has_bar && label.size() > kLongestLabel)
        text += label.substr(0, kCutLabel) + "...";
    else
        text += label;
    text += ' ';
    if (has_bar) text += bar_cells(bar_width, progress);
    text += fmt::format("{:>4}%", static_cast<int32_t>(progress * 100.0f));
    return text;
}

} // namespace romwright::console
