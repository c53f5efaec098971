// Everything the engine and the programs need from the operating system that
// differs between Windows and POSIX: loaded modules. The allocation
// granularity and aligned blocks are in memory.hpp, files shared with other
// programs in files.hpp, firmware files opened without blocking in
// regular_file.hpp, console programs in console.hpp, stop requests in
// stop_requests.hpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace romwright::platform {

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
