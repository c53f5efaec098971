// Stopping between boards. A program defers the requests to end it (see
// platform::defer_stop_requests); its board loop asks before each board
// whether one has arrived, and if so stops there: the board before has been
// finished whole, the next is not touched.
#pragma once

#include <cstddef>
#include <string>

#include <romwright/error.hpp>

namespace romwright::frontend {

// Defers stop requests for the rest of the run; the handler's notice on
// standard error names the program.
void defer_stop_requests(const std::string &program);

// The name of the first stop request ("SIGTERM", ...) or null.
const char *stop_requested() noexcept;

// Raised before a board when a stop was requested. what() names the request
// and where the run stopped, e.g. "Stopped by SIGTERM before board 2 of 3;
// the boards before it were updated."
class stop_requested_error : public error {
public:
    explicit stop_requested_error(const std::string &message) : error(error_kind::stopped, message) {}
};

// Called before board next_board (counted from 0) of board_count: raises
// stop_requested_error when a stop was requested.
void stop_if_requested(std::size_t next_board, std::size_t board_count);

} // namespace romwright::frontend
