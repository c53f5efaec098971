#include "progress_throttle.hpp"

#include <cmath>

namespace romwright_gui {

int shownPercent(float progress) {
    if (std::isnan(progress) || progress <= 0.0f)
        return 0;
    if (progress >= 1.0f)
        return 100;
    return static_cast<int>(progress * 100.0);
}

void progress_throttle::operationReported() {
    fresh_ = true;
}

bool progress_throttle::shouldForward(float progress) {
    const int percent = shownPercent(progress);
    const bool forward = fresh_ || percent != last_percent_ || progress >= 1.0f;
    if (forward) {
        fresh_ = false;
        last_percent_ = percent;
    }
    return forward;
}

} // namespace romwright_gui
