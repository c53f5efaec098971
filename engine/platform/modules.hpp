// Loaded modules. The log names the device library a program really loaded,
// since the loader, not the program, picks the file. modules_posix.cpp and
// modules_windows.cpp implement this.
#pragma once

#include <string>

namespace romwright::platform {

// Path (UTF-8) of the loaded shared library, DLL or program that holds
// `address` (a function of that module), or an empty text when it cannot be told.
std::string module_path(const void *address);

// The zero-terminated text that the module holding `address` exports as the
// data symbol `name`, or null when the module has no such symbol.
const char *module_text(const void *address, const char *name) noexcept;

} // namespace romwright::platform
