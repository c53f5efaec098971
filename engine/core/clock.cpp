#include "engine/core/clock.hpp"

#include <chrono>
#include <thread>

namespace romwright {
namespace {

class SystemClock final : public Clock {
public:
    uint64_t monotonic_ms() override {
        using namespace std::chrono;
        return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
    void sleep_ms(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    int64_t wall_seconds() override {
        using namespace std::chrono;
        return static_cast<int64_t>(duration_cast<seconds>(system_clock::now().time_since_epoch()).count());
    }
};

} // namespace

Clock &system_clock() {
    static SystemClock clock;
    return clock;
}

} // namespace romwright
