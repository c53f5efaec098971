// Time as the engine sees it. Pauses and time-outs read a monotonic clock;
// elapsed-time log lines read the wall clock in whole seconds. Tests replace
// the system clock with a simulated one (tests/support/simulated_clock.hpp)
// so that long time-outs take no time.
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

} // namespace romwright
