// Decides which of the engine's progress reports are worth sending to the GUI
// thread. A page-mode update reports progress once per flash page, hundreds
// of thousands of times; the progress window shows only the operation and a
// whole percentage, so a report that would not change what it shows is
// dropped before it becomes a queued event.
#pragma once

#include <romwright/romwright.h>

namespace romwright_gui {

// The whole percentage the progress window shows for a fraction: truncated
// toward zero, with fractions outside 0..1 (or not a number) held to the
// nearest end so the conversion to int is always defined.
int shownPercent(float progress);

class progress_throttle {
public:
    // Every operation report is forwarded; the next progress report after it
    // is forwarded whatever its value.
    void operationReported();

    // True when this report must reach the GUI thread: the first one, the
    // first after an operation report, one that changes the shown percentage,
    // and every report of completion (1.0 or more).
    bool shouldForward(float progress);

private:
    bool fresh_ = true;
    int last_percent_ = -1;
};

} // namespace romwright_gui
