// Versions of the installed device library and driver, and the oldest one an
// update is allowed to run on.
#pragma once

#include <cstdint>

namespace romwright_gui {

struct library_version {
    uint8_t major = 0;
    uint8_t minor = 0;
    uint8_t revision = 0;
};

// KorvelGetSDKVersion; std::runtime_error "Could not query SDK version" on failure.
library_version querySdkVersion();
// KorvelGetDriverVersion; std::runtime_error "Could not query driver version" on failure.
library_version queryDriverVersion();

// Older than 7.1 (the revision does not count): such a library or driver
// cannot update a board safely.
bool isTooOld(const library_version &version);

} // namespace romwright_gui
