// Where the programs keep what outlives a run (the update history), and the
// name of this machine: places_posix.cpp and places_windows.cpp implement
// this. Paths are UTF-8.
#pragma once

#include <optional>
#include <string>

namespace romwright::platform {

// The value of an environment variable, in UTF-8; nothing when it is unset
// or empty.
std::optional<std::string> environment_value(const char *name);

// This machine's name as the system tells it ("" when it does not).
std::string host_name();

// The programs' folder for this whole machine: /var/lib/romwright on POSIX,
// %ProgramData%\Korvelon\romwright on Windows; "" when the system does not
// say where that is.
std::string machine_state_folder();

// The programs' folder for this user: $XDG_STATE_HOME/romwright (else
// ~/.local/state/romwright) on POSIX, %LOCALAPPDATA%\Korvelon\romwright on
// Windows; "" when the environment does not say where that is.
std::string user_state_folder();

// The machine's folder of trusted bundle signing keys (minisign public key
// files): /etc/romwright/trusted-keys on POSIX,
// %ProgramData%\Korvelon\romwright\trusted-keys on Windows; "" when the
// system does not say where that is.
std::string trusted_keys_folder();

// A new folder that only this user may enter, in the system's folder for
// temporary files, its name beginning with prefix: the files a run makes
// for itself and removes again. Throws romwright::error (a file) when none
// can be made.
std::string make_private_folder(const std::string &prefix);

// Whether this program may create and write file: its folder is made when
// it is missing, and must then take new files (a database's journal is one),
// and the file, if it is there, must take writes.
bool may_write_file(const std::string &file);

} // namespace romwright::platform
