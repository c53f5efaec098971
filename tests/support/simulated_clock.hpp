// A clock for tests of the engine's pauses and time-outs: it stands still
// until slept on, so a 5 s time-out takes no time. sleep_ms advances it, and
// monotonic_ms and wall_seconds read it. Every sleep is recorded.
#pragma once

#include <cstdint>

#include "engine/core/clock.hpp"

namespace testsupport {

class SimulatedClock : public romwright::Clock {
public:
    uint64_t monotonic_ms() override { return now_ms_; }
    void sleep_ms(uint32_t ms) override {
        now_ms_ += ms;
        slept_ms_ += ms;
        ++sleeps_;
    }
    int64_t wall_seconds() override { return static_cast<int64_t>(now_ms_ / 1000); }

    void advance_ms(uint64_t ms) { now_ms_ += ms; }
    uint64_t slept_ms() const { return slept_ms_; }
    uint64_t sleeps() const { return sleeps_; }

private:
    uint64_t now_ms_ = 1'000'000;
    uint64_t slept_ms_ = 0;
    uint64_t sleeps_ = 0;
};

} // namespace testsupport
