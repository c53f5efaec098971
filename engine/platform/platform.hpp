// Everything the engine and the programs need from the operating system that
// differs between Windows and POSIX: stop requests and loaded modules. The
// allocation granularity and aligned blocks are in memory.hpp, files shared
// with other programs in files.hpp, firmware files opened without blocking in
// regular_file.hpp, console programs in console.hpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace romwright::platform {

// ---------------------------------------------------------------------------
// Stop requests. A board half erased is a board that no longer starts, so
// the ways a user or the system asks a program to end (Ctrl+C, a closed
// terminal, a polite kill) are recorded here instead of ending it; the front
// end looks at the record between boards. Only SIGKILL or power loss can cut
// a board short.

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

// ---------------------------------------------------------------------------
// Loaded modules. The log names the device library a program really loaded,
// since the loader, not the program, picks the file.

// Path (UTF-8) of the loaded shared library, DLL or program that holds
// `address` (a function of that module), or an empty text when it cannot be told.
std::string module_path(const void *address);

// The zero-terminated text that the module holding `address` exports as the
// data symbol `name`, or null when the module has no such symbol.
const char *module_text(const void *address, const char *name) noexcept;

} // namespace romwright::platform
