// The console's progress bar: one line, redrawn in place with a carriage
// return. It writes only when the picture changes, so a caller may report
// progress as often as it likes without flooding the console.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

namespace romwright::console {

class ProgressBar {
public:
    // Draws itself once at 0.
    ProgressBar(std::string label, std::ostream &out);
    ProgressBar(const ProgressBar &) = delete;
    ProgressBar &operator=(const ProgressBar &) = delete;

    // Takes a fraction from 0 to 1; values outside are held at the nearer end.
    void set_progress(float progress);
    void draw();
    // Shows 100 % and ends the line.
    void finish();

    float progress() const { return progress_; }
    const std::string &label() const { return label_; }

    // The characters one draw writes: carriage return, label, bar, percent.
    static std::string picture(int32_t width, float progress, const std::string &label);

private:
    int32_t width_ = 60;
    float progress_ = 0.0f;
    std::ostream &out_;
    std::string label_;
    std::string shown_;  // the picture on screen, empty before the first draw
};

} // namespace romwright::console
