#include "zenapi/sim/call_scope.hpp"

#include <chrono>
#include <thread>

#include <fmt/format.h>

namespace zenapi_sim {

CallScope::CallScope(Call call, const void *handle)
    : lib_(library()), lock_(lib_.mutex), call_(call), handle_(handle) {
    ensure_loaded(lib_);
    if (!lib_.machine) return;
    if (!call_info(call).on_board) {
        fault_ = lib_.machine->count_call(call);
        return;
    }
    board_ = lib_.machine->find(handle);
    if (!board_) return;
    logged_on_entry_ = board_->logging();
    fault_ = board_->count_call(call);
}

CallScope::~CallScope() {
    lock_.unlock();
    if (busy_ms_) std::this_thread::sleep_for(std::chrono::milliseconds(busy_ms_));
}

// A call that switches the board's logging off is still logged; one that
// switches it on is logged too.
bool CallScope::tracing() const {
    if (!lib_.trace.enabled()) return false;
    return !board_ || logged_on_entry_ || board_->logging();
}

void CallScope::trace(std::string_view arguments, std::string_view result) {
    std::string line;
    if (!call_info(call_).on_board) {
        line = fmt::format("{}({}) -> {}", call_name(call_), arguments, result);
    } else {
        const std::string board = board_ ? board_->name() : fmt::format("<unknown {}>", handle_);
        line = fmt::format("{}(board={}{}{}) -> {}", call_name(call_), board, arguments.empty() ? "" : ", ", arguments,
                           result);
    }
    lib_.trace.write(line);
}

} // namespace zenapi_sim
