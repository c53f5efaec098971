// What the simulator needs from the operating system apart from its flash
// files (flash_file_*.cpp): environment variables, opening its text files,
// and the default state folder. Paths are UTF-8 on every system;
// host_posix.cpp and host_windows.cpp implement this.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace zenapi_sim::host {

// The value of an environment variable (UTF-8), or nothing when it is unset
// or empty.
std::optional<std::string> environment(const char *name);

// std::fopen for a UTF-8 path.
std::FILE *open_file(const std::string &path, const char *mode);

// The folder for the flash files when ZENAPI_SIM_STATE_DIR is not set, by
// the system's convention for per-user application state: POSIX
// $XDG_STATE_HOME/zenapi-sim, else $HOME/.local/state/zenapi-sim; Windows
// %LOCALAPPDATA%\zenapi-sim. Throws ConfigError when the variables are unset.
std::string default_state_dir();

#if defined(_WIN32)
// UTF-8 to UTF-16 and back, for the system's wide-character calls.
std::wstring widen(const std::string &utf8);
std::string narrow(const std::wstring &wide);
#endif

} // namespace zenapi_sim::host
