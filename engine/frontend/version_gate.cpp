#include <romwright/frontend/version_gate.hpp>

#include <stdexcept>

#include <romwright/error.hpp>
#include <zenapi/Zenapi.h>

namespace romwright::frontend {
namespace {

constexpr LibraryVersion kOldestSafe{7, 1, 0};

using VersionQuery = uint32_t (*)(uint8_t *, uint8_t *, uint8_t *);

LibraryVersion query(VersionQuery call, const char *failure) {
    LibraryVersion version;
    if (call(&version.major, &version.minor, &version.revision) != ZENAPI_SUCCESS)
        throw romwright::error(error_kind::device_call, failure);
    return version;
}

} // namespace

LibraryVersion library_version() { return query(KorvelGetSDKVersion, "Could not query SDK version"); }

LibraryVersion driver_version() { return query(KorvelGetDriverVersion, "Could not query driver version"); }

bool recent_enough(const LibraryVersion &version) {
    if (version.major != kOldestSafe.major) return version.major > kOldestSafe.major;
    return version.minor >= kOldestSafe.minor;
}

bool library_and_driver_recent_enough() {
    return recent_enough(library_version()) && recent_enough(driver_version());
}

} // namespace romwright::frontend
