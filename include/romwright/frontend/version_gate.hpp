// The versions of the device library and the driver, and the oldest that
// can update a board safely: 7.1 (the revision does not count).
#pragma once

#include <cstdint>

namespace romwright::frontend {

struct LibraryVersion {
    uint8_t major = 0;
    uint8_t minor = 0;
    uint8_t revision = 0;
};

// KorvelGetSDKVersion; romwright::error (a device call) "Could not query SDK version" when it fails.
LibraryVersion library_version();
// KorvelGetDriverVersion; romwright::error "Could not query driver version" when it fails.
LibraryVersion driver_version();

// 7.1 or later.
bool recent_enough(const LibraryVersion &version);

// Asks for the library's version and, only when that is recent enough, for
// the driver's; true when both are.
bool library_and_driver_recent_enough();

} // namespace romwright::frontend
