// One device-library call from entry to return: takes the library lock,
// loads the machine on first use, finds the board behind the handle, counts
// the call and looks up an injected fault; on the way out writes the trace
// line and, after the lock is released, keeps the caller waiting for the
// call's busy time (so a second thread is not held up by a slow erase).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "zenapi/sim/calls.hpp"
#include "zenapi/sim/machine.hpp"

namespace zenapi_sim {

class CallScope {
public:
    CallScope(Call call, const void *handle);
    explicit CallScope(Call call) : CallScope(call, nullptr) {}
    ~CallScope();
    CallScope(const CallScope &) = delete;
    CallScope &operator=(const CallScope &) = delete;

    Machine *machine() const { return lib_.machine.get(); }
    Board *board() const { return board_; }
    // The injected fault that answers this call: the board's, or for a
    // call that takes no board the library's.
    const CallFault *fault() const { return fault_; }

    // Cheap test made before any trace text is built.
    bool tracing() const;
    // Writes "<call>(<arguments>) -> <result>"; the board, when there is
    // one, leads the arguments.
    void trace(std::string_view arguments, std::string_view result);
    void busy_for(uint32_t milliseconds) { busy_ms_ = milliseconds; }

private:
    Library &lib_;
    std::unique_lock<std::mutex> lock_;
    Call call_;
    const void *handle_;
    Board *board_ = nullptr;
    const CallFault *fault_ = nullptr;
    bool logged_on_entry_ = true;
    uint32_t busy_ms_ = 0;
};

} // namespace zenapi_sim
