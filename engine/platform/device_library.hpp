// The device library itself, loaded before the first call to it. On POSIX
// the programs link libZenapi.so and the system's loader loads it before
// they start (or refuses to start them, saying which library is missing).
// On Windows the programs link Zenapi.dll delay-loaded and load it here,
// when a command first needs it: a missing DLL is then a message of the
// program's own instead of the loader's box and status 0xC0000135 before the
// program could say a word, and the program's help and version work without
// it. device_library_posix.cpp and device_library_windows.cpp implement this.
#pragma once

#include <string>

namespace romwright::platform {

struct DeviceLibrary {
    bool loaded = false;
    // The file looked for: the library's own name, searched for where the
    // system searches for libraries, or the path the environment names.
    std::string file;
    // The environment variable that named the file, or "" when it was
    // searched for by name.
    std::string named_by;
    // Why it could not be loaded, in the system's words.
    std::string reason;
};

// Loads the device library once per process; later calls give the first
// call's answer. On Windows ROMWRIGHT_ZENAPI_DLL, when set, names the file to
// load instead of the Zenapi.dll that Windows would find (romwright-sim.cmd
// names the simulated library there); its file name must be Zenapi.dll, the
// name the programs' calls are bound to. A test program that links the
// library is given loaded at once.
const DeviceLibrary &load_device_library();

} // namespace romwright::platform
