#include <romwright/frontend/stop_request.hpp>

#include <fmt/format.h>

#include "engine/platform/stop_requests.hpp"

namespace romwright::frontend {

void defer_stop_requests(const std::string &program) {
    // The handler keeps the pointer for the life of the program, so the
    // text is made once (by the first call).
    static const std::string notice =
        fmt::format("{}: stop requested; a board being written is finished first\n", program);
    platform::defer_stop_requests(notice.c_str());
}

const char *stop_requested() noexcept { return platform::stop_request(); }

void stop_if_requested(std::size_t next_board, std::size_t board_count) {
    const char *request = stop_requested();
    if (!request) return;
    const char *done = next_board == 0 ? "no board was touched" : "the boards before it were updated";
    throw stop_requested_error(
        fmt::format("Stopped by {} before board {} of {}; {}.", request, next_board + 1, board_count, done));
}

} // namespace romwright::frontend
