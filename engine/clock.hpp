// Time as the engine sees it. Pauses and time-outs read a monotonic clock;
// elapsed-time log lines read the wall clock in whole seconds. Tests replace
// the system clock with a simulated one so that long time-outs take no time.
#pragma once

#include <cstdint>

namespace romwright {

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic milliseconds since an arbitrary origin.
    virtual uint64_t monotonic_ms() = 0;
    // Blocks (or, for a simulated clock, advances time) for at least ms milliseconds.
    virtual void sleep_ms(uint32_t ms) = 0;
    // Wall-clock time in whole seconds since the epoch.
    virtual int64_t wall_seconds() = 0;
};

// The process-wide real clock.
Clock &system_clock();

// A clock that stands still until slept on: sleep_ms advances it, and
// monotonic_ms and wall_seconds read it. Every sleep is recorded.
class SimulatedClock : public Clock {
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

} // namespace romwright
