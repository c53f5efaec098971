// Stop requests. A board half erased is a board that no longer starts, so
// the ways a user or the system asks a program to end (Ctrl+C, a closed
// terminal, a polite kill) are recorded here instead of ending it; the front
// end looks at the record between boards. Only SIGKILL or power loss can cut
// a board short.
//
// stop_requests.cpp keeps the record; stop_requests_posix.cpp and
// stop_requests_windows.cpp catch the requests (see stop_record.hpp).
#pragma once

namespace romwright::platform {

// Records SIGINT, SIGTERM and SIGHUP (POSIX) or Ctrl+C, Ctrl+Break and the
// closing of the console (Windows) instead of ending the program, and
// ignores SIGPIPE, so writing to a closed pipe fails with EPIPE instead of
// killing the program. Later requests are recorded too (the first one is
// kept). notice, when not null, is one fixed line the handler writes to
// standard error each time a request arrives; it must stay valid for the
// life of the program.
void defer_stop_requests(const char *notice) noexcept;

// The name of the first stop request ("SIGTERM", "Ctrl+C", ...), or null
// when none has arrived. Safe to call from any thread.
const char *stop_request() noexcept;

// Forgets a recorded request (for a program, or a test, that has dealt with it).
void forget_stop_request() noexcept;

} // namespace romwright::platform
