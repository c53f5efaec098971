#include "gui/library_version.hpp"

#include <stdexcept>

#include "zenapi/Zenapi.h"

namespace romwright_gui {
namespace {

constexpr library_version kOldestAccepted{7, 1, 0};

using version_query = uint32_t (*)(uint8_t *, uint8_t *, uint8_t *);

library_version queryVersion(version_query query, const char *failure) {
    library_version version;
    if (query(&version.major, &version.minor, &version.revision) != ZENAPI_SUCCESS)
        throw std::runtime_error(failure);
    return version;
}

} // namespace

library_version querySdkVersion() {
    return queryVersion(KorvelGetSDKVersion, "Could not query SDK version");
}

library_version queryDriverVersion() {
    return queryVersion(KorvelGetDriverVersion, "Could not query driver version");
}

bool isTooOld(const library_version &version) {
    if (version.major != kOldestAccepted.major)
        return version.major < kOldestAccepted.major;
    return version.minor < kOldestAccepted.minor;
}

} // namespace romwright_gui
