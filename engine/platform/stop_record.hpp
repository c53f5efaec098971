// Between the record of stop requests, which is the same on every system
// (stop_requests.cpp), and the handlers that catch the requests, which are
// not (stop_requests_posix.cpp, stop_requests_windows.cpp). Nothing outside
// engine/platform/ includes this; the rest of the engine and the programs
// use stop_requests.hpp.
#pragma once

#include <cstddef>

namespace romwright::platform::stop_record {

// In stop_requests.cpp. The handlers use these, in signal context on POSIX
// and on a thread of the system's on Windows: a lock-free store, and reads
// of a text set before the handlers are installed.

// Keeps `code` as the first request's unless one is kept already. The code
// is the signal number on POSIX, the console control event plus one on
// Windows; never 0, which stands for no request.
void record(int code) noexcept;

// The line a handler writes to standard error each time a request arrives
// (null for none), and its length.
extern const char *notice;
extern std::size_t notice_length;

// In the system's file.

// Installs the handlers that record the requests instead of ending the
// program (and, on POSIX, ignores SIGPIPE).
void install_handlers() noexcept;

// The name of a request's code ("SIGTERM", "Ctrl+C", ...), or null for 0.
const char *name(int code) noexcept;

} // namespace romwright::platform::stop_record
